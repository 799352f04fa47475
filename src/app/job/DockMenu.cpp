#include "app/job/DockMenu.h"

#include <QAction>
#include <QFileInfo>

DockMenu::DockMenu(QWidget* parent) : QMenu(QStringLiteral("DockMenu"), parent) {
    setObjectName(QStringLiteral("DockMenu"));
}

void DockMenu::rebuild(bool isRendering, const QString& compositionFile) {
    clear();
    if (!isRendering) return;
    QAction* nowRendering = addAction(tr("Now Rendering"));
    // An item with no action shows disabled.
    nowRendering->setEnabled(false);
    addAction(QStringLiteral("   ") + QFileInfo(compositionFile).fileName());
    addSeparator();
    QAction* cancel = addAction(tr("Cancel"));
    connect(cancel, &QAction::triggered, this, &DockMenu::cancelRequested);
}
