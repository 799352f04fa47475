// Editors for the published inputs of the composition a drop view shows;
// every edit goes to the view at once, so the preview follows it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "base/PlistValue.h"

class CompositionDropView;
class QFormLayout;
class QLabel;
class QScrollArea;

class ParameterView : public QWidget {
    Q_OBJECT

public:
    explicit ParameterView(QWidget* parent = nullptr);

    // Rebuilds one row per published input of the view's composition, and
    // again whenever the view shows another composition. nullptr empties it.
    void setCompositionRenderer(CompositionDropView* view);
    CompositionDropView* compositionRenderer() const;
    bool hasParameters() const;

private:
    struct Row {
        std::string key;
        std::function<void(const lumivane::PlistValue&)> show;  // editor <- value
        QLabel* problem = nullptr;                              // why the last edit was refused
        QWidget* dropTarget = nullptr;                          // an image editor takes files
        std::function<void(const QString&)> takeFile;
    };

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void refreshValues();
    void addRow(const std::string& key, const lumivane::PlistDict& attributes);
    QWidget* numberEditor(const std::string& key, const lumivane::PlistDict& attributes, Row& row);
    QWidget* indexEditor(const std::string& key, const lumivane::PlistDict& attributes, Row& row);
    QWidget* booleanEditor(const std::string& key, const lumivane::PlistDict& attributes, Row& row);
    QWidget* textEditor(const std::string& key, Row& row);
    QWidget* colorEditor(const std::string& key, const QString& label, Row& row);
    QWidget* pointEditor(const std::string& key, Row& row);
    QWidget* imageEditor(const std::string& key, const QString& label, Row& row);
    bool apply(const lumivane::PlistValue& value, const std::string& key, QString* error = nullptr);

    QPointer<CompositionDropView> m_view;
    QScrollArea* m_scrollArea;
    QWidget* m_form = nullptr;
    QFormLayout* m_formLayout = nullptr;
    std::vector<Row> m_rows;
    bool m_applying = false;
};
