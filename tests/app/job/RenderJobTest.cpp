// Render jobs with the real renderer over real sockets: the callbacks of a
// whole render in order, a renderer killed from outside, cancel, stop at
// quit, a renderer that cannot start, and an application that is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "JobTestSupport.h"
#include "LinkTestSupport.h"
#include "MovieProbe.h"
#include "ProcessRunner.h"
#include "app/job/AppControllerAdapter.h"
#include "app/job/RenderJob.h"
#include "base/MonotonicClock.h"

namespace lumivane {
namespace {

using test::decodedFrames;
using test::isFinishedMovie;
using test::JobRequest;
using test::TempDir;

// Runs the event loop until the condition holds; false at the timeout.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The controller's side in the tests: every callback as one line, in order.
class CallbackLog {
public:
    CallbackLog() : m_adapter(std::make_shared<AppControllerAdapter>()) {
        auto* a = m_adapter.get();
        QObject::connect(a, &AppControllerAdapter::statusIndicated,
                         [this](const QString& key) { add("status " + key.toStdString()); });
        QObject::connect(a, &AppControllerAdapter::frameIndicated, [this](int index, int count) {
            add("frame " + std::to_string(index) + " of " + std::to_string(count));
            ++m_frames;
        });
        QObject::connect(a, &AppControllerAdapter::errorIndicated,
                         [this](const QString& key) { add("error " + key.toStdString()); });
        QObject::connect(a, &AppControllerAdapter::enableControlsRequested,
                         [this] { add("enableControls"); });
        QObject::connect(a, &AppControllerAdapter::renderingFinished,
                         [this] { add("finishedRendering"); });
    }
    std::shared_ptr<AppControllerAdapter> adapter() const { return m_adapter; }
    const std::vector<std::string>& lines() const { return m_lines; }
    int frames() const { return m_frames; }

private:
    void add(std::string line) {
        // The main thread serves the link: each call arrives on it.
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        m_lines.push_back(std::move(line));
    }

    std::shared_ptr<AppControllerAdapter> m_adapter;
    std::vector<std::string> m_lines;
    int m_frames = 0;
};

class RenderJobTest : public test::RegistryTest {
protected:
    QString renderer() const { return QString::fromStdString(test::rendererPath()); }

    // A job rendering an hour of movie, once its first frame is reported.
    std::unique_ptr<RenderJob> startLongJob(CallbackLog& log, const std::string& movie) {
        JobRequest request;
        request.moviePath = movie;
        request.duration = 3600;
        request.framerate = 30;
        auto job =
            std::make_unique<RenderJob>(test::makeSettings(request, log.adapter()), renderer());
        Result<void> started = job->start();
        EXPECT_TRUE(started.ok()) << started.error();
        EXPECT_TRUE(waitUntil([&] { return log.frames() > 0; }, 60000))
            << "no frame reported; callbacks: " << log.lines().size();
        return job;
    }

    std::vector<std::string> registryEntries() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(registryPath(), error))
            names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(RenderJobTest, WholeRenderReportsInOrderAndWritesEveryFrame) {
    TempDir dir;
    JobRequest request;
    request.codec = "public.png";
    request.moviePath = dir.file("frames");
    request.duration = 1;
    request.framerate = 10;
    CallbackLog log;
    RenderJob job(test::makeSettings(request, log.adapter()), renderer());
    QSignalSpy finished(&job, &RenderJob::finished);

    const double before = monotonicSeconds();
    Result<void> started = job.start();
    ASSERT_TRUE(started.ok()) << started.error();
    EXPECT_TRUE(job.isRunning());
    EXPECT_GT(job.rendererPid(), 0);
    EXPECT_GE(job.startTime(), before);
    EXPECT_LE(job.startTime(), monotonicSeconds());
    char prefix[64];
    snprintf(prefix, sizeof prefix, "net.orbek.Lumivane.%x.", static_cast<unsigned>(getpid()));
    EXPECT_TRUE(job.serviceName().startsWith(prefix)) << job.serviceName().toStdString();
    // Registered for this job under its own name.
    EXPECT_EQ(registryEntries(), std::vector<std::string>{job.serviceName().toStdString()});

    ASSERT_TRUE(waitUntil([&] { return finished.count() > 0; }, 120000));
    EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
    EXPECT_EQ(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::NormalExit);
    EXPECT_FALSE(job.isRunning());
    EXPECT_EQ(job.rendererPid(), 0);

    const std::vector<std::string>& lines = log.lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "status preparing to encode");
    std::vector<std::string> ending(lines.end() - 4, lines.end());
    EXPECT_EQ(ending, (std::vector<std::string>{"frame 9 of 10", "status Complete",
                                                "enableControls", "finishedRendering"}));
    int lastIndex = -1;
    for (size_t i = 1; i + 3 < lines.size(); ++i) {
        int index = -1, count = -1;
        ASSERT_EQ(sscanf(lines[i].c_str(), "frame %d of %d", &index, &count), 2) << lines[i];
        EXPECT_EQ(count, 10);
        EXPECT_GE(index, lastIndex);
        lastIndex = index;
    }

    int pngFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(request.moviePath)) {
        if (entry.path().extension() == ".png") ++pngFiles;
        auto probe = test::runProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                       "stream=width,height", "-of", "csv=p=0", entry.path()});
        EXPECT_EQ(probe.out, "64,48\n") << entry.path();
    }
    EXPECT_EQ(pngFiles, 10);
}

TEST_F(RenderJobTest, RendererKilledFromOutsideIsNoticedAtTheNextCheckup) {
    TempDir dir;
    CallbackLog log;
    std::unique_ptr<RenderJob> job = startLongJob(log, dir.file("killed.mov"));
    ASSERT_TRUE(job->isRunning());
    QSignalSpy finished(job.get(), &RenderJob::finished);

    // The checkup asks isRunning() from a timer; whether the event loop has
    // delivered the child's end before that timer must not matter, so no
    // event is processed until the death has been seen.
    const double killedAt = monotonicSeconds();
    ASSERT_EQ(kill(job->rendererPid(), SIGKILL), 0);
    while (job->isRunning() && monotonicSeconds() - killedAt < 5) usleep(5000);
    EXPECT_LE(monotonicSeconds() - killedAt, 0.5);
    EXPECT_FALSE(job->isRunning());
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(waitUntil([&] { return finished.count() > 0; }, 5000));
    EXPECT_EQ(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::CrashExit);
    // No report came: the job's end is the checkup's to notice.
    for (const std::string& line : log.lines())
        EXPECT_EQ(line.rfind("error", 0), std::string::npos);
}

TEST_F(RenderJobTest, CancelLeavesAFinishedPlayableMovie) {
    TempDir dir;
    const std::string movie = dir.file("cancelled.mov");
    CallbackLog log;
    std::unique_ptr<RenderJob> job = startLongJob(log, movie);
    QSignalSpy finished(job.get(), &RenderJob::finished);
    job->cancel();
    ASSERT_TRUE(waitUntil([&] { return finished.count() > 0; }, 10000));
    // The renderer's termination path: movie flushed, status 0, no report.
    EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
    EXPECT_EQ(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::NormalExit);
    EXPECT_FALSE(job->isRunning());
    EXPECT_GT(decodedFrames(movie), 0);
    EXPECT_TRUE(isFinishedMovie(movie));
    // Cancelling an ended job does nothing.
    job->cancel();
}

TEST_F(RenderJobTest, StopForQuitEndsTheRendererWithinFiveSeconds) {
    struct Case {
        const char* name;
        bool blockedOnAReport;  // the renderer waits for a reply the application cannot send
        bool cancelledFirst;
    };
    const Case cases[] = {
        {"rendering", false, false},
        {"waiting for the application", true, false},
        {"flushing after a cancel", false, true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string movie = dir.file("quit.mov");
        CallbackLog log;
        std::unique_ptr<RenderJob> job = startLongJob(log, movie);
        const pid_t pid = job->rendererPid();
        ASSERT_GT(pid, 0);
        QSignalSpy finished(job.get(), &RenderJob::finished);
        // Reports are due every quarter second; with the event loop held
        // still, the renderer soon blocks on one.
        if (c.blockedOnAReport) usleep(800000);
        if (c.cancelledFirst) job->cancel();
        job->stopForQuit();
        EXPECT_FALSE(job->isRunning());
        // Gone and collected: no process, not even a zombie, has the pid.
        EXPECT_EQ(kill(pid, 0), -1) << c.name;
        EXPECT_EQ(errno, ESRCH);
        ASSERT_EQ(finished.count(), 1) << c.name;
        EXPECT_EQ(finished.at(0).at(0).toInt(), 0) << c.name;
        // A normal exit: it ended by itself, not by the kill five seconds on.
        EXPECT_EQ(finished.at(0).at(1).value<QProcess::ExitStatus>(), QProcess::NormalExit);
        EXPECT_GT(decodedFrames(movie), 0) << c.name;
        EXPECT_TRUE(isFinishedMovie(movie)) << c.name;
    }
}

TEST_F(RenderJobTest, AHandlerMayDestroyTheJobWhileTheRendererWaits) {
    TempDir dir;
    const std::string movie = dir.file("dropped-in-handler.mov");
    JobRequest request;
    request.moviePath = movie;
    request.duration = 3600;
    request.framerate = 30;
    CallbackLog log;
    auto job = std::make_unique<RenderJob>(test::makeSettings(request, log.adapter()), renderer());
    pid_t pid = 0;
    std::string socket;
    // Inside the link's service of the frame report the renderer waits on.
    QObject::connect(log.adapter().get(), &AppControllerAdapter::frameIndicated, [&] {
        if (!job) return;
        pid = job->rendererPid();
        socket = registryPath() + "/" + job->serviceName().toStdString();
        EXPECT_TRUE(std::filesystem::exists(socket));
        job.reset();
    });
    ASSERT_TRUE(job->start().ok());
    ASSERT_TRUE(waitUntil([&] { return !job; }, 60000));
    // Nothing is left to serve, and the event loop goes on unharmed.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(log.frames(), 1);
    // A job that goes while its renderer runs stops it as quitting does,
    // never by QProcess's outright kill: the movie is finished.
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_TRUE(isFinishedMovie(movie));
    // The name goes with the job.
    EXPECT_FALSE(std::filesystem::exists(socket));
}

TEST_F(RenderJobTest, RendererThatCannotStartIsReportedAndLeavesNothing) {
    TempDir dir;
    test::writeFile(dir.file("not-a-program"), "plain text\n");
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {dir.file("LumivaneCLI"), "the renderer is missing"},
        {dir.path(), "the renderer is not an executable file"},
        {dir.file("not-a-program"), "the renderer is not an executable file"},
        {"", "no renderer was given to start"},
    };
    for (const Case& c : cases) {
        CallbackLog log;
        JobRequest request;
        request.moviePath = dir.file("never.mov");
        RenderJob job(test::makeSettings(request, log.adapter()), QString::fromStdString(c.path));
        Result<void> started = job.start();
        ASSERT_FALSE(started.ok()) << c.path;
        EXPECT_NE(started.error().find(c.reason), std::string::npos) << started.error();
        if (!c.path.empty()) {
            EXPECT_EQ(started.error().rfind("\"" + c.path + "\"", 0), 0u) << started.error();
        }
        EXPECT_FALSE(job.isRunning());
        EXPECT_EQ(job.rendererPid(), 0);
        EXPECT_TRUE(job.serviceName().isEmpty());
        EXPECT_TRUE(registryEntries().empty());
        EXPECT_FALSE(std::filesystem::exists(request.moviePath));
    }
}

TEST_F(RenderJobTest, RendererEndsWhenTheApplicationIsKilled) {
    // The orphaned renderer comes to this process, so its end can be seen.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    TempDir dir;
    // A pre-roll of hours: the renderer says nothing over the link meanwhile,
    // so only the parent-death signal can tell it that the application died.
    test::ChildProcess application(
        {std::string(LUMIVANE_BINARY_DIR) + "/tests/render_job_orphan_helper",
         dir.file("orphan.mov"), "100000"});
    ASSERT_TRUE(application.waitForLine("renderer ", 60)) << application.out();
    const std::string& out = application.out();
    const pid_t renderer = std::stoi(out.substr(out.find("renderer ") + 9));
    ASSERT_GT(renderer, 0);
    usleep(1000000);  // well into the pre-roll

    application.signal(SIGKILL);
    int status = -1;
    QElapsedTimer clock;
    clock.start();
    pid_t reaped = 0;
    // Until the application's exit is complete the renderer is not yet this
    // process's child (ECHILD).
    while ((reaped = waitpid(renderer, &status, WNOHANG)) != renderer && clock.elapsed() < 5000)
        usleep(20000);
    if (reaped != renderer) {
        kill(renderer, SIGKILL);
        waitpid(renderer, nullptr, 0);
    }
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    application.wait(30);
    ASSERT_EQ(reaped, renderer) << "the renderer outlived the application by 5 s";
    // Through its termination path, as on any SIGTERM.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace lumivane
