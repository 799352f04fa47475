// The Dock icon's stand-in: the application's window icon, switched between
// the normal and the working image, and a system-tray icon carrying the Dock
// menu where the desktop has a tray.
#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class DockMenu;
class QSystemTrayIcon;

class DockIcon : public QObject {
    Q_OBJECT

public:
    // The images "Lumivane" and "LumivaneWorking".
    DockIcon(const QIcon& normalIcon, const QIcon& workingIcon, QObject* parent = nullptr);
    ~DockIcon() override;

    // Shows the working image while true, the normal one otherwise.
    void setWorking(bool working);
    bool isWorking() const { return m_working; }
    // What the menu shows when it is next opened; the menu is built anew on
    // every opening.
    void setRendering(bool isRendering, const QString& compositionFile);

    DockMenu* menu() const { return m_menu.get(); }
    // False where the desktop has no system tray: only the window icon shows.
    bool hasTrayIcon() const { return m_tray != nullptr; }

signals:
    // The menu's "Cancel" was chosen.
    void cancelRequested();

private:
    QIcon m_normalIcon;
    QIcon m_workingIcon;
    std::unique_ptr<DockMenu> m_menu;
    QSystemTrayIcon* m_tray = nullptr;
    bool m_working = false;
    bool m_rendering = false;
    QString m_compositionFile;
};
