// One render job, from launch to exit: vends a filled settings record under a
// fresh render service name, starts the renderer with "QCServerConnection"
// and that name, serves the render link on the event loop, and stops the
// renderer by signals only. The name stays registered for as long as the
// object lives.
#pragma once

#include <sys/types.h>

#include <QObject>
#include <QProcess>
#include <QString>
#include <memory>

#include "base/Result.h"

namespace lumivane {
class LinkServer;
class RenderSettings;
}  // namespace lumivane
class LinkServerNotifier;

class RenderJob : public QObject {
    Q_OBJECT

public:
    // The controller fills the record (its appController included) before
    // start(); the job only vends it.
    RenderJob(std::shared_ptr<lumivane::RenderSettings> settings, const QString& rendererPath,
              QObject* parent = nullptr);
    // A renderer still running is stopped as stopForQuit() does, never killed
    // outright, so that it can finish its movie.
    ~RenderJob() override;

    // Registers the link and launches the renderer. On failure nothing is
    // left running or registered, and the reason names the renderer's path.
    // A job starts once.
    lumivane::Result<void> start();

    // True from a successful start() until the renderer has exited. Looks at
    // the process itself, so a renderer that died a moment ago reads as ended
    // even before the event loop has delivered finished().
    bool isRunning() const;
    // Asks the renderer to stop (SIGTERM); it flushes its movie and exits.
    // Only the first request sends a signal.
    void cancel();
    // For quitting while the renderer runs: closes the link (a call the
    // renderer waits on fails, as when the application goes), sends SIGINT,
    // unless cancel() did already, waits up to five times one second for the
    // exit, then sends SIGKILL.
    // Blocks for at most about five seconds; finished() may be emitted
    // before it returns.
    void stopForQuit();

    // Monotonic seconds at launch (0 before start()).
    double startTime() const { return m_startTime; }
    // The renderer's process id while it runs, else 0.
    pid_t rendererPid() const;
    QString serviceName() const { return m_serviceName; }
    // The renderer's first error line on its standard error, without the log
    // prefix; empty when it has written none. Reads what is waiting in the
    // pipe first: the renderer logs before it reports over the link, so the
    // line of a reported error is there already.
    QString firstErrorLine();
    // The text of one of the renderer's log lines; empty for other lines.
    static QString rendererLogText(const QString& line);
    QString rendererPath() const { return m_rendererPath; }
    const std::shared_ptr<lumivane::RenderSettings>& settings() const { return m_settings; }

signals:
    // The renderer has exited, whatever the cause.
    void finished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    bool hasExited() const;
    void tearDownLink();
    // Passes the renderer's standard error on to ours and keeps its first
    // log line.
    void readStandardError();

    std::shared_ptr<lumivane::RenderSettings> m_settings;
    QString m_rendererPath;
    QString m_serviceName;
    std::unique_ptr<lumivane::LinkServer> m_server;
    std::unique_ptr<LinkServerNotifier> m_notifier;  // destroyed before the server
    std::unique_ptr<QProcess> m_process;
    double m_startTime = 0;
    bool m_started = false;
    bool m_stopRequested = false;  // a stop signal has been sent
    QByteArray m_partialErrorLine;
    QString m_firstErrorLine;
};
