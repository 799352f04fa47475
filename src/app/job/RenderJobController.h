// The state machine of render jobs, apart from the window that shows them:
// one job at a time from launch to its end (completed, failed, died,
// cancelled or stopped for a quit), the half-second checkup, the renderer's
// callbacks, the reports that follow a cancel and the Dock icon. What to
// show goes out as signals; whether a job runs is decided from the state
// held here, never from a widget's text.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include "base/Result.h"

namespace lumivane {
class RenderSettings;
}
class AppControllerAdapter;
class DelayedReports;
class DockIcon;
class RenderJob;

class RenderJobController : public QObject {
    Q_OBJECT

public:
    enum class State { Idle, Running };

    // The icon is not owned; it shows the working image while a job runs.
    RenderJobController(DockIcon* dockIcon, const QString& rendererPath, QObject* parent = nullptr);
    ~RenderJobController() override;

    State state() const { return m_state; }
    bool isRunning() const { return m_state == State::Running; }
    // A renderer process is alive: the running job's, or none.
    bool rendererIsRunning() const;
    const RenderJob* job() const { return m_job; }
    QString rendererPath() const { return m_rendererPath; }
    void setRendererPath(const QString& path) { m_rendererPath = path; }

    // Launches the renderer with the filled settings (the link's end is set
    // here). On failure nothing runs and the reason says why.
    lumivane::Result<void> start(std::shared_ptr<lumivane::RenderSettings> settings,
                                 const QString& compositionFile);
    // SIGTERM to the renderer; "Cancelled" follows after 0.1 s and an empty
    // line after 2.5 s.
    void cancel();
    // For quitting: stops the renderer within about five seconds.
    void stopForQuit();
    // Lets go of the job (the renderer finishes on its own); no further
    // report of it reaches the window except finishedRendering.
    void release();

    // The renderer's callbacks and the checkup, as the link and the timer
    // call them.
    void indicateFrame(int frame, int total);
    void indicateStatus(const QString& statusKey);
    void indicateError(const QString& errorKey);
    void finishedRendering();
    void encoderCheckup();

    // The window's text for a status or error key.
    static QString localizedKey(const QString& key);

signals:
    // The job has ended (or the renderer asked for the controls): the window
    // goes back to idle, then shows `status` (may be empty) with `details`
    // (the renderer's reason, may be empty).
    void jobEnded(const QString& status, const QString& details);
    // The status line while a job runs; at most one per display frame.
    void statusChanged(const QString& status);
    // The bar, 0.0 to 1.0; at most one per display frame.
    void progressChanged(double value);
    void elapsedChanged(const QString& line);
    // A delayed report after a cancel: "Cancelled", then the empty text.
    void reportAfterCancel(const QString& status);
    // The renderer is done: the user's attention is asked for.
    void attentionRequested();

private:
    void connectAdapter();
    void disownCallbacks();
    void applyPending();
    void end(const QString& statusKey, const QString& details);
    QString rendererReason() const;

    DockIcon* m_dockIcon;
    QString m_rendererPath;
    State m_state = State::Idle;
    RenderJob* m_job = nullptr;
    std::shared_ptr<AppControllerAdapter> m_adapter;
    DelayedReports* m_delayedReports;
    QTimer m_updateTimer;
    double m_renderStartTime = 0;
    double m_progress = 0;
    // Reports kept for the next display frame: a renderer may call back far
    // faster than the window can draw.
    QTimer m_applyTimer;
    bool m_progressPending = false;
    QString m_pendingStatus;
    bool m_statusPending = false;
};
