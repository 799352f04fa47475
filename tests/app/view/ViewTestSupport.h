// What the view tests share: a delegate that records what it is told, the
// test compositions, and a shown window holding a drop view.
#pragma once

#include <QCheckBox>
#include <QImage>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

#include "app/view/CompositionDropView.h"

inline QString testData(const QString& name) {
    return QStringLiteral(LUMIVANE_APP_TEST_DATA "/") + name;
}

class RecordingDelegate : public CompositionDropViewDelegate {
public:
    RecordingDelegate() { m_preview.setChecked(true); }
    QAbstractButton* previewEnabled() const override { return &m_preview; }
    void setCompositionFile(const QString& path) override { compositionFiles << path; }
    void setCanRecord(bool flag) override { canRecord << flag; }
    void setDefaultPath(const QString& path) override { defaultPaths << path; }

    mutable QCheckBox m_preview;
    QStringList compositionFiles;
    QList<bool> canRecord;
    QStringList defaultPaths;
};

// A top-level window with the view filling it, shown and exposed.
struct ShownView {
    explicit ShownView(QSize size = QSize(320, 240)) : view(new CompositionDropView) {
        window.setWindowTitle(QStringLiteral("test"));
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        // As the main window has it: nothing runs until started.
        view->setAutostartsRendering(false);
        view->setDelegate(&delegate);
        window.resize(size);
        window.show();
        exposed = QTest::qWaitForWindowExposed(&window);
    }
    ~ShownView() { view->setDelegate(nullptr); }

    RecordingDelegate delegate;
    QWidget window;
    CompositionDropView* view;
    bool exposed = false;
};

inline int distinctColours(const QImage& image) {
    QSet<QRgb> colours;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) colours.insert(argb.pixel(x, y));
    }
    return int(colours.size());
}

inline bool allBlack(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            if ((argb.pixel(x, y) & 0x00FFFFFF) != 0) return false;
        }
    }
    return true;
}

inline bool sameImage(const QImage& a, const QImage& b) {
    return a.convertToFormat(QImage::Format_ARGB32) == b.convertToFormat(QImage::Format_ARGB32);
}
