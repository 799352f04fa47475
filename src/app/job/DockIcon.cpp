#include "app/job/DockIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include "app/job/DockMenu.h"

DockIcon::DockIcon(const QIcon& normalIcon, const QIcon& workingIcon, QObject* parent)
    : QObject(parent),
      m_normalIcon(normalIcon),
      m_workingIcon(workingIcon),
      m_menu(std::make_unique<DockMenu>()) {
    connect(m_menu.get(), &DockMenu::cancelRequested, this, &DockIcon::cancelRequested);
    connect(m_menu.get(), &QMenu::aboutToShow, this,
            [this] { m_menu->rebuild(m_rendering, m_compositionFile); });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new QSystemTrayIcon(m_normalIcon, this);
        m_tray->setContextMenu(m_menu.get());
        m_tray->show();
    }
}

// The tray icon goes first (a child), the menu it shows after it.
DockIcon::~DockIcon() {
    delete m_tray;
    m_tray = nullptr;
}

void DockIcon::setWorking(bool working) {
    m_working = working;
    const QIcon& icon = working ? m_workingIcon : m_normalIcon;
    QApplication::setWindowIcon(icon);
    if (m_tray) m_tray->setIcon(icon);
}

void DockIcon::setRendering(bool isRendering, const QString& compositionFile) {
    m_rendering = isRendering;
    m_compositionFile = compositionFile;
    m_menu->rebuild(m_rendering, m_compositionFile);
}
