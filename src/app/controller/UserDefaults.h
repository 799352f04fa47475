// The application's user defaults, kept in QSettings, with two-way bindings
// to the main window's controls: writing a key shows the value in its control,
// and a user edit of the control is stored under the key.
#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <optional>

class QComboBox;
class QLineEdit;
class OBNumberFormatter;

class UserDefaults : public QObject {
    Q_OBJECT

public:
    // Settings of the application's organization and name (QCoreApplication's).
    explicit UserDefaults(QObject* parent = nullptr);

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    // A stored number, or nothing when the key is absent or holds no number.
    std::optional<double> doubleValue(const QString& key) const;
    std::optional<int> intValue(const QString& key) const;
    bool boolValue(const QString& key) const;

    // Stores the value and shows it in the key's control.
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // The field shows the key's number through the formatter (which also
    // checks typing). A committed edit stores the clamped number, or removes
    // the key when the text holds no number (the field then shows the
    // formatter's default with two decimals).
    void bindNumberField(const QString& key, QLineEdit* field, OBNumberFormatter* formatter);
    // The menu selects the stored index when the menu has such a selectable
    // entry and keeps its selection otherwise; a user's choice is stored.
    void bindSelectedIndex(const QString& key, QComboBox* menu);

    // Commits a pending edit of a bound field, as leaving the field would.
    void commitEditing(QLineEdit* field);

signals:
    // A user edit of a bound control has been stored under its key.
    void controlEdited(QWidget* control);

private:
    struct Binding {
        QPointer<QLineEdit> field;
        OBNumberFormatter* formatter = nullptr;
        QPointer<QComboBox> menu;
    };

    void show(const QString& key);
    QString keyForField(const QLineEdit* field) const;

    QSettings m_settings;
    QHash<QString, Binding> m_bindings;
};
