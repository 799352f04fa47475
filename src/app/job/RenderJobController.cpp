#include "app/job/RenderJobController.h"

#include <QCoreApplication>
#include <QLocale>

#include "app/job/AppControllerAdapter.h"
#include "app/job/DelayedReports.h"
#include "app/job/DockIcon.h"
#include "app/job/RenderJob.h"
#include "app/job/RenderProgressText.h"
#include "base/MonotonicClock.h"
#include "shared/RenderSettings.h"

namespace {

constexpr int kCheckupIntervalMs = 500;
// One display frame: reports that come faster are shown at this pace.
constexpr int kDisplayFrameMs = 16;

// The keys the renderer sends, for the string table.
[[maybe_unused]] constexpr const char* kRendererKeys[] = {
    QT_TRANSLATE_NOOP("AppController", "preparing to encode"),
    QT_TRANSLATE_NOOP("AppController", "Complete"),
    QT_TRANSLATE_NOOP("AppController", "Failed to load the Composition"),
    QT_TRANSLATE_NOOP("AppController", "Failed to create offscreen renderer"),
    QT_TRANSLATE_NOOP("AppController", "failed to create movie"),
    QT_TRANSLATE_NOOP("AppController", "Cancelled"),
};

}  // namespace

RenderJobController::RenderJobController(DockIcon* dockIcon, const QString& rendererPath,
                                         QObject* parent)
    : QObject(parent),
      m_dockIcon(dockIcon),
      m_rendererPath(rendererPath),
      m_delayedReports(new DelayedReports(this)) {
    m_updateTimer.setInterval(kCheckupIntervalMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &RenderJobController::encoderCheckup);
    m_applyTimer.setSingleShot(true);
    m_applyTimer.setInterval(kDisplayFrameMs);
    connect(&m_applyTimer, &QTimer::timeout, this, &RenderJobController::applyPending);
    connect(m_delayedReports, &DelayedReports::errorReportDue, this,
            &RenderJobController::indicateError);
}

RenderJobController::~RenderJobController() {
    disownCallbacks();
}

bool RenderJobController::rendererIsRunning() const {
    return m_job && m_job->isRunning();
}

QString RenderJobController::localizedKey(const QString& key) {
    if (key.isEmpty()) return QString();
    return QCoreApplication::translate("AppController", key.toUtf8().constData());
}

lumivane::Result<void> RenderJobController::start(
    std::shared_ptr<lumivane::RenderSettings> settings, const QString& compositionFile) {
    release();
    // The callbacks of an earlier job's renderer, still finishing after a
    // cancel, do not reach this job; nor does a late report of that cancel.
    disownCallbacks();
    m_delayedReports->dropPending();
    m_adapter = std::make_shared<AppControllerAdapter>();
    connectAdapter();
    settings->setAppController(m_adapter);

    auto* job = new RenderJob(std::move(settings), m_rendererPath, this);
    lumivane::Result<void> started = job->start();
    if (!started.ok()) {
        delete job;
        disownCallbacks();
        return started;
    }
    m_job = job;
    m_state = State::Running;
    m_renderStartTime = job->startTime();
    m_progress = 0;
    m_dockIcon->setWorking(true);
    m_dockIcon->setRendering(true, compositionFile);
    m_updateTimer.start();
    encoderCheckup();
    return {};
}

void RenderJobController::connectAdapter() {
    AppControllerAdapter* adapter = m_adapter.get();
    connect(adapter, &AppControllerAdapter::statusIndicated, this,
            &RenderJobController::indicateStatus);
    connect(adapter, &AppControllerAdapter::frameIndicated, this,
            &RenderJobController::indicateFrame);
    connect(adapter, &AppControllerAdapter::errorIndicated, this,
            &RenderJobController::indicateError);
    connect(adapter, &AppControllerAdapter::enableControlsRequested, this,
            [this] { end(QString(), QString()); });
    connect(adapter, &AppControllerAdapter::renderingFinished, this,
            &RenderJobController::finishedRendering);
}

void RenderJobController::disownCallbacks() {
    if (m_adapter) m_adapter->disconnect(this);
}

void RenderJobController::release() {
    m_updateTimer.stop();
    m_applyTimer.stop();
    m_progressPending = m_statusPending = false;
    m_state = State::Idle;
    m_dockIcon->setRendering(false, QString());
    RenderJob* job = std::exchange(m_job, nullptr);
    if (!job) return;
    // Deleting a job stops its renderer; one still finishing its movie (after
    // a cancel, or right after its last callback) goes once it has ended.
    if (job->isRunning())
        connect(job, &RenderJob::finished, job, &QObject::deleteLater);
    else
        job->deleteLater();
}

void RenderJobController::end(const QString& statusKey, const QString& details) {
    applyPending();
    release();
    emit jobEnded(localizedKey(statusKey), details);
}

QString RenderJobController::rendererReason() const {
    return m_job ? m_job->firstErrorLine() : QString();
}

void RenderJobController::encoderCheckup() {
    if (!isRunning()) return;
    const double elapsed = lumivane::monotonicSeconds() - m_renderStartTime;
    if (!m_job->isRunning()) {
        // Ended without a report: killed, crashed or unable to connect. The
        // last elapsed time stays.
        const QString reason = rendererReason();
        end(QStringLiteral("Failed to create offscreen renderer"), reason);
        m_dockIcon->setWorking(false);
    }
    emit elapsedChanged(RenderProgressText::elapsedLine(elapsed, m_progress));
}

void RenderJobController::indicateFrame(int frame, int total) {
    if (!isRunning()) return;
    const RenderProgressText::FrameStatusArguments arguments =
        RenderProgressText::frameStatusArguments(frame, total);
    m_progress = arguments.barValue;
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    m_pendingStatus =
        QCoreApplication::translate("AppController", "frame status")
            .arg(locale.toString(arguments.frameNumber), locale.toString(arguments.frameCount),
                 locale.toString(arguments.percentage, 'f', 1));
    m_progressPending = m_statusPending = true;
    if (!m_applyTimer.isActive()) m_applyTimer.start();
}

void RenderJobController::indicateStatus(const QString& statusKey) {
    if (!isRunning()) return;
    m_pendingStatus = localizedKey(statusKey);
    m_statusPending = true;
    if (!m_applyTimer.isActive()) m_applyTimer.start();
}

void RenderJobController::applyPending() {
    m_applyTimer.stop();
    if (m_progressPending) emit progressChanged(m_progress);
    if (m_statusPending) emit statusChanged(m_pendingStatus);
    m_progressPending = m_statusPending = false;
}

void RenderJobController::indicateError(const QString& errorKey) {
    // The renderer logs its reason before it reports, so it is at hand now.
    const QString reason = errorKey.isEmpty() ? QString() : rendererReason();
    end(errorKey, reason);
    m_dockIcon->setWorking(false);
}

void RenderJobController::finishedRendering() {
    emit attentionRequested();
    m_dockIcon->setWorking(false);
}

void RenderJobController::cancel() {
    // A report the renderer sent before it took the signal changes nothing.
    disownCallbacks();
    if (m_job) m_job->cancel();
    end(QString(), QString());
    m_delayedReports->scheduleCancelReports();
}

void RenderJobController::stopForQuit() {
    if (m_job) m_job->stopForQuit();
}
