// Quitting as the application decides it: at once while no renderer runs,
// otherwise after asking on the main window, whose "Quit" stops the renderer
// first. Quit signals and the desktop session's quit come here too.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

class QMainWindow;
class QuitSignalNotifier;
class RenderJobController;

class QuitQuestion : public QObject {
    Q_OBJECT

public:
    QuitQuestion(QMainWindow* window, RenderJobController* jobs, QObject* parent = nullptr);

    // True when the application may quit now; false after putting up the
    // question whose answer decides.
    bool applicationShouldTerminate();
    // The question's answer: the second button ("Quit") stops the renderer
    // and approves the quit.
    void shouldStopRendering(int returnCode);
    // Quits now, or asks first.
    void terminate();
    // Ends the window's sheets without their default action, then asks.
    void handleQuit();

signals:
    void quitApproved();

private:
    QMainWindow* m_window;
    RenderJobController* m_jobs;
    QuitSignalNotifier* m_quitSignals;
    QPointer<QMessageBox> m_quitAlert;
};
