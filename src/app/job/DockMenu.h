// The Dock menu's stand-in: a menu titled "DockMenu" that, while a job runs,
// names the composition being rendered and offers "Cancel"; empty when idle.
#pragma once

#include <QMenu>
#include <QString>

class DockMenu : public QMenu {
    Q_OBJECT

public:
    explicit DockMenu(QWidget* parent = nullptr);

    // Replaces every item: while rendering, "Now Rendering" (disabled),
    // "   <file name>", a separator and "Cancel"; nothing when idle.
    void rebuild(bool isRendering, const QString& compositionFile);

signals:
    // "Cancel" was chosen; the sender is its action, titled "Cancel".
    void cancelRequested();
};
