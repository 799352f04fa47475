#include "app/controller/QuitQuestion.h"

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QSessionManager>
#include <QTimer>

#include "app/job/QuitSignalNotifier.h"
#include "app/job/RenderJobController.h"
#include "app/view/Sheets.h"
#include "base/Log.h"

namespace {

// Return codes of the question's first and second buttons.
constexpr int kFirstButtonReturn = 1000;
constexpr int kSecondButtonReturn = 1001;

// The string table files these texts under the controller.
QString text(const char* key) {
    return QCoreApplication::translate("AppController", key);
}

}  // namespace

QuitQuestion::QuitQuestion(QMainWindow* window, RenderJobController* jobs, QObject* parent)
    : QObject(parent), m_window(window), m_jobs(jobs), m_quitSignals(new QuitSignalNotifier(this)) {
    if (m_quitSignals->installed().ok())
        connect(m_quitSignals, &QuitSignalNotifier::quitRequested, this, &QuitQuestion::handleQuit);
    else
        lumivane::logLine(m_quitSignals->installed().error());
    // The session's quit, like a signal, is taken on the event loop.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& session) {
        // Keeps the session waiting for the answer while a job runs.
        if (m_jobs->rendererIsRunning() && session.allowsInteraction()) session.cancel();
        QTimer::singleShot(0, this, &QuitQuestion::handleQuit);
    });
    // A quit that did not come through the question still stops the renderer
    // so that it finishes its movie.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { m_jobs->stopForQuit(); });
}

bool QuitQuestion::applicationShouldTerminate() {
    if (!m_jobs->rendererIsRunning()) return true;
    if (m_quitAlert) return false;  // the question is already up
    m_quitAlert = showSheet(
        m_window, QStringLiteral("quitAlert"),
        {QMessageBox::Warning, text("Currently Rendering"),
         text("Stop Rendering Informative Text")},
        {{text("Cancel"), QMessageBox::RejectRole}, {text("Quit"), QMessageBox::DestructiveRole}},
        0, 0, [this](int button) {
            // A quit asked while this one ends (a second signal) asks anew.
            m_quitAlert = nullptr;
            shouldStopRendering(button == 1 ? kSecondButtonReturn : kFirstButtonReturn);
        });
    return false;
}

void QuitQuestion::shouldStopRendering(int returnCode) {
    if (returnCode != kSecondButtonReturn) return;  // the job goes on
    // One SIGINT, the link closed, up to five one-second waits, then SIGKILL:
    // a second signal would cut the renderer's flush short.
    m_jobs->stopForQuit();
    emit quitApproved();
}

void QuitQuestion::terminate() {
    if (applicationShouldTerminate()) emit quitApproved();
}

void QuitQuestion::handleQuit() {
    for (QDialog* sheet : m_window->findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        if (sheet->isVisible() && sheet->windowModality() == Qt::WindowModal) sheet->reject();
    terminate();
}
