#include "app/job/RenderJob.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <cerrno>

#include "app/job/LinkServerNotifier.h"
#include "base/MonotonicClock.h"
#include "platform/link/LinkServer.h"
#include "platform/link/RenderServiceName.h"
#include "shared/RenderSettings.h"
#include "shared/RenderSettingsVendor.h"

using lumivane::Error;
using lumivane::Result;

RenderJob::RenderJob(std::shared_ptr<lumivane::RenderSettings> settings,
                     const QString& rendererPath, QObject* parent)
    : QObject(parent), m_settings(std::move(settings)), m_rendererPath(rendererPath) {}

RenderJob::~RenderJob() {
    if (m_process && m_process->state() != QProcess::NotRunning) {
        // Nobody listens to a job that is going away.
        m_process->disconnect(this);
        // QProcess would kill it outright and lose the end of the movie.
        stopForQuit();
    }
}

Result<void> RenderJob::start() {
    const std::string path = m_rendererPath.toStdString();
    if (m_started) return lumivane::errorAt(path, "this render job has been started before");
    if (m_rendererPath.isEmpty()) return Error{"no renderer was given to start"};
    const QFileInfo renderer(m_rendererPath);
    if (!renderer.exists()) return lumivane::errorAt(path, "the renderer is missing");
    if (!renderer.isFile() || !renderer.isExecutable())
        return lumivane::errorAt(path, "the renderer is not an executable file");

    const std::string name = lumivane::makeRenderServiceName();
    auto created = lumivane::LinkServer::create(
        name, std::make_shared<lumivane::RenderSettingsVendor>(m_settings));
    if (!created) return Error{"cannot register the render link: " + created.error()};
    m_server = std::move(created.value());
    m_notifier = std::make_unique<LinkServerNotifier>(m_server.get());

    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_rendererPath);
    m_process->setArguments({QStringLiteral("QCServerConnection"), QString::fromStdString(name)});
    // The renderer inherits the application's environment, directory and
    // standard output; its standard error passes through us, so that the
    // reason for a failure can be shown, not only logged.
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_process->setInputChannelMode(QProcess::ForwardedInputChannel);
    const pid_t application = getpid();
    m_process->setChildProcessModifier([application] {
        // Runs in the child before exec; async-signal-safe calls only. If the
        // application dies, even by SIGKILL, the renderer gets SIGTERM and
        // finishes its movie instead of rendering on for nobody.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != application) _exit(1);  // it died before prctl took effect
    });
    connect(m_process.get(), &QProcess::readyReadStandardError, this,
            &RenderJob::readStandardError);
    connect(m_process.get(), &QProcess::finished, this, [this](int code, QProcess::ExitStatus how) {
        readStandardError();
        emit finished(code, how);
    });
    m_process->start();
    if (!m_process->waitForStarted()) {
        Error error = lumivane::errorAt(
            path, "cannot start the renderer: " + m_process->errorString().toStdString());
        m_process.reset();
        tearDownLink();
        return error;
    }
    m_startTime = lumivane::monotonicSeconds();
    m_serviceName = QString::fromStdString(name);
    m_started = true;
    return {};
}

void RenderJob::readStandardError() {
    if (!m_process) return;
    const QByteArray data = m_process->readAllStandardError();
    if (data.isEmpty()) return;
    for (qsizetype written = 0; written < data.size();) {
        const ssize_t n = ::write(STDERR_FILENO, data.constData() + written,
                                  static_cast<size_t>(data.size() - written));
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) written += n;
    }
    if (!m_firstErrorLine.isEmpty()) return;
    m_partialErrorLine += data;
    qsizetype end;
    while (m_firstErrorLine.isEmpty() && (end = m_partialErrorLine.indexOf('\n')) >= 0) {
        m_firstErrorLine = rendererLogText(QString::fromUtf8(m_partialErrorLine.left(end)));
        m_partialErrorLine.remove(0, end + 1);
    }
    if (!m_firstErrorLine.isEmpty()) m_partialErrorLine.clear();
}

QString RenderJob::firstErrorLine() {
    if (m_firstErrorLine.isEmpty() && m_process && m_process->state() != QProcess::NotRunning) {
        // Data already in the pipe arrives at once; none means no line.
        m_process->setReadChannel(QProcess::StandardError);
        if (m_process->bytesAvailable() == 0) m_process->waitForReadyRead(20);
        readStandardError();
    }
    return m_firstErrorLine;
}

QString RenderJob::rendererLogText(const QString& line) {
    // "<date> <time> LumivaneCLI[<pid>] LumivaneCLI: <text>"; lines of
    // other programs (a GL driver's warnings) are not the renderer's reason.
    static const QRegularExpression logLine(
        QStringLiteral("LumivaneCLI\\[\\d+\\] (?:LumivaneCLI: )?(.+)$"));
    const QRegularExpressionMatch match = logLine.match(line.trimmed());
    return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

void RenderJob::tearDownLink() {
    m_notifier.reset();
    m_server.reset();
}

bool RenderJob::hasExited() const {
    const qint64 pid = m_process->processId();
    if (pid <= 0) return true;
    // WNOWAIT leaves the exit status for QProcess to collect.
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;  // already collected
    return info.si_pid != 0;
}

bool RenderJob::isRunning() const {
    if (!m_process || m_process->state() == QProcess::NotRunning) return false;
    return !hasExited();
}

pid_t RenderJob::rendererPid() const {
    if (!m_process || m_process->state() == QProcess::NotRunning) return 0;
    return static_cast<pid_t>(m_process->processId());
}

void RenderJob::cancel() {
    if (!isRunning() || m_stopRequested) return;
    m_stopRequested = true;
    m_process->terminate();
}

void RenderJob::stopForQuit() {
    if (!m_process || m_process->state() == QProcess::NotRunning) return;
    // One signal only: a second one, even after a cancel, cuts the renderer's
    // flush short, and the movie would lose its end.
    if (!m_stopRequested) ::kill(static_cast<pid_t>(m_process->processId()), SIGINT);
    m_stopRequested = true;
    // The application blocks here, so a call the renderer waits on would get
    // no reply: it fails now, as when the application goes. The signal went
    // first, so the renderer takes this as the same request to stop.
    if (m_server) {
        m_server->closeConnections();
        m_notifier->refresh();
    }
    // Returns as soon as the renderer has ended, rather than sleeping whole
    // seconds. A handler of finished() may delete this job meanwhile.
    QPointer<RenderJob> alive(this);
    for (int wait = 0; wait < 5 && m_process->state() != QProcess::NotRunning; ++wait) {
        m_process->waitForFinished(1000);
        if (!alive) return;
    }
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}
