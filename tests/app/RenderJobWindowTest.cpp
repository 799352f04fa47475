// Render jobs through the real window and the real renderer: a movie that
// shows the window's settings and the drawer's values, the overwrite
// question, cancel, a renderer killed from outside, quitting during a job,
// an unstartable renderer and the output save panel. Runs under Xvfb.
#include <signal.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <functional>
#include <memory>

#include "LaunchedWindow.h"
#include "MovieProbe.h"
#include "app/controller/AppController.h"
#include "app/job/DelayedReports.h"
#include "app/job/DockIcon.h"
#include "app/job/DockMenu.h"
#include "app/job/RenderJob.h"
#include "app/job/RenderJobController.h"
#include "app/view/CompositionDropView.h"

namespace {

using lumivane::test::decodedFrames;
using lumivane::test::isFinishedMovie;

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Gone, or a zombie that nobody has collected yet.
bool processGone(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && line.mid(close + 2, 1) == "Z";
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) return {};
    return process.readAllStandardOutput();
}

// ffprobe's codec, pixel format and size of the first video stream.
QString streamSummary(const QString& movie) {
    return QString::fromUtf8(
               run(QStringLiteral("/usr/bin/ffprobe"),
                   {"-v", "error", "-select_streams", "v:0", "-show_entries",
                    "stream=codec_name,pix_fmt,width,height", "-of", "csv=p=0", movie}))
        .trimmed();
}

// Every frame decoded by ffmpeg as RGB bytes.
QByteArray decodedRGB(const QString& movie) {
    return run(QStringLiteral("/usr/bin/ffmpeg"),
               {"-v", "error", "-i", movie, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
}

struct RGB {
    int r, g, b;
};

RGB pixelAt(const QByteArray& frames, int frame, int width, int height, int x, int y) {
    const qsizetype offset = ((qsizetype(frame) * height + y) * width + x) * 3;
    if (offset + 2 >= frames.size()) return {-1, -1, -1};
    return {static_cast<uint8_t>(frames[offset]), static_cast<uint8_t>(frames[offset + 1]),
            static_cast<uint8_t>(frames[offset + 2])};
}

// The window with the settings composition open and the real renderer.
class RenderWindow : public LaunchedWindow {
public:
    RenderWindow() : LaunchedWindow(QStringLiteral(LUMIVANE_BINARY_DIR "/bin/LumivaneCLI")) {
        opened = controller->openFile(
            QStringLiteral(LUMIVANE_SOURCE_DIR "/tests/app/data/settings.qtz"));
    }

    using LaunchedWindow::choose;
    void choose(const char* menu, const QString& outputTypeOrEmpty, int index = -1) const {
        QComboBox* combo = find<QComboBox>(menu);
        // The first entry of the type: QuickTime's, before the other containers'.
        for (int i = 0; i < combo->count() && !outputTypeOrEmpty.isEmpty() && index < 0; ++i)
            if (combo->itemData(i, Qt::ToolTipRole).toString() == outputTypeOrEmpty) index = i;
        ASSERT_GE(index, 0) << menu << " " << outputTypeOrEmpty.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void setOutput(const QString& path) const { find<QLineEdit>("moviePath")->setText(path); }

    QString status() const { return find<QLabel>("statusText")->text(); }
    QString elapsed() const { return find<QLabel>("timeElapsed")->text(); }
    QPushButton* recordButton() const { return find<QPushButton>("startRecording"); }
    bool idle() const {
        return recordButton()->text() == "Record" && find<QWidget>("codec")->isEnabled() &&
               find<QWidget>("moviePath")->isEnabled() && !controller->renderJob() &&
               find<QProgressBar>("encodeProgress")->isHidden();
    }
    bool running() const {
        return recordButton()->text() == "Cancel" && !find<QWidget>("codec")->isEnabled() &&
               !find<QWidget>("moviePath")->isEnabled() && controller->renderJob() &&
               find<QProgressBar>("encodeProgress")->isVisible() &&
               find<QProgressBar>("progress")->isVisible();
    }
    pid_t rendererPid() const {
        return controller->renderJob() ? controller->renderJob()->rendererPid() : 0;
    }
    // A job too long to end by itself, once the renderer has reported a frame.
    pid_t startLongJob(const QString& movie) const {
        type("framerate", "30");
        type("movieDuration", "3600");
        setOutput(movie);
        recordButton()->click();
        EXPECT_TRUE(running());
        const pid_t pid = rendererPid();
        EXPECT_TRUE(waitUntil([&] { return status().startsWith("Rendering frame"); }, 60000))
            << status().toStdString();
        return pid;
    }
    // The shown sheet of that name; an earlier one may wait for deletion.
    template <typename T>
    T* shownSheet(const char* name) const {
        for (T* sheet : controller->window()->findChildren<T*>(QString::fromLatin1(name)))
            if (sheet->isVisible()) return sheet;
        return nullptr;
    }
    // The window-modal question of that name, once it shows.
    QMessageBox* sheet(const char* name) const {
        QMessageBox* box = nullptr;
        waitUntil(
            [&] {
                box = shownSheet<QMessageBox>(name);
                return box != nullptr;
            },
            5000);
        EXPECT_TRUE(box && box->isVisible()) << name;
        if (box) {
            EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        }
        return box;
    }
    static void press(QMessageBox* box, const QString& title) {
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == title) return button->click();
        FAIL() << "no button " << title.toStdString();
    }

    bool opened = false;
};

class AppControllerJob : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings settings;
        settings.clear();
        settings.setValue("disableQualityWarning", true);
        settings.sync();
        ASSERT_TRUE(m_dir.isValid());
    }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

TEST_F(AppControllerJob, RecordRendersTheWindowsSettingsAndAsksBeforeReplacing) {
    RenderWindow app;
    ASSERT_TRUE(app.exposed);
    ASSERT_TRUE(app.opened);
    app.choose("codec", "avc1");
    app.choose("quality", {}, 5);  // lossless: the colours come back exactly
    app.type("width", "64");
    app.type("height", "48");
    app.type("framerate", "10");
    app.type("movieDuration", "0.5");
    app.type("startTime", "2");
    app.type("timeScale", "2");
    app.find<QSlider>("antialias")->setValue(4);   // factor 2
    app.find<QSlider>("motionBlur")->setValue(1);  // 2 samples a frame
    auto* level = app.find<QDoubleSpinBox>("level.field");
    level->selectAll();
    QTest::keyClicks(level, "0.25");
    for (int step = 0; step < 3; ++step)
        QTest::keyClick(app.find<QComboBox>("mode.menu"), Qt::Key_Down);
    QTest::keyClick(app.find<QCheckBox>("flag.check"), Qt::Key_Space);
    const QString movie = file("out.mov");
    app.setOutput(movie);
    ASSERT_TRUE(app.idle());

    auto* drawer = app.find<QDockWidget>("parameterDrawer");
    auto* inputsButton = app.find<QAbstractButton>("toggleDrawer");
    CompositionDropView* preview = app.controller->dropView();
    ASSERT_TRUE(drawer->isVisible());
    ASSERT_TRUE(inputsButton->isChecked());
    ASSERT_FALSE(preview->isPausedRendering());
    app.click("startRecording");
    ASSERT_TRUE(app.running());
    EXPECT_TRUE(app.controller->dockIcon()->isWorking());
    // The drawer closes with its button; the preview pauses.
    EXPECT_FALSE(drawer->isVisible());
    EXPECT_FALSE(inputsButton->isChecked());
    EXPECT_FALSE(inputsButton->isEnabled());
    EXPECT_TRUE(preview->isPausedRendering());
    EXPECT_EQ(app.elapsed(), "00:00:00 elapsed ");
    ASSERT_TRUE(waitUntil([&] { return app.idle(); }, 60000)) << app.status().toStdString();
    EXPECT_EQ(app.status(), "");
    EXPECT_EQ(app.elapsed(), "");
    // All as it was, the drawer and its button in step.
    EXPECT_TRUE(drawer->isVisible());
    EXPECT_TRUE(inputsButton->isChecked());
    EXPECT_FALSE(preview->isPausedRendering());
    app.click("toggleDrawer");
    EXPECT_FALSE(drawer->isVisible());
    EXPECT_FALSE(inputsButton->isChecked());
    app.click("toggleDrawer");
    EXPECT_TRUE(drawer->isVisible());
    // The renderer's last call after a success restores the icon.
    EXPECT_TRUE(waitUntil([&] { return !app.controller->dockIcon()->isWorking(); }, 10000));

    // 64 x 48 lossless H.264 in RGB, 0.5 s at 10 frames a second.
    EXPECT_EQ(streamSummary(movie), "h264,64,48,gbrp");
    EXPECT_EQ(decodedFrames(movie.toStdString()), 5);
    auto expectFrames = [&](int levelByte) {
        const QByteArray frames = decodedRGB(movie);
        ASSERT_EQ(frames.size(), 5 * 64 * 48 * 3);
        for (int frame = 0; frame < 5; ++frame) {
            SCOPED_TRACE(frame);
            const RGB drawer = pixelAt(frames, frame, 64, 48, 8, 24);
            EXPECT_NEAR(drawer.r, levelByte, 1);
            EXPECT_NEAR(drawer.g, 191, 1);  // mode 3 of 4
            EXPECT_EQ(drawer.b, 255);       // flag on
            const RGB fixed = pixelAt(frames, frame, 64, 48, 32, 24);
            EXPECT_NEAR(fixed.r, 128, 1);  // 1 / AA
            EXPECT_NEAR(fixed.g, 32, 1);   // one extra sample, over 8
            EXPECT_EQ(fixed.b, 255);
            // Samples at 2 + 0.2 i and 0.05 later (start 2, scale 2), averaged.
            const double time = 2.0 + 0.2 * frame + 0.05;
            EXPECT_NEAR(pixelAt(frames, frame, 64, 48, 56, 24).r, time / 8.0 * 255.0, 1.5);
        }
    };
    expectFrames(64);

    // An existing movie is replaced only when the user says so.
    const QDateTime written = QFileInfo(movie).lastModified();
    level->selectAll();
    QTest::keyClicks(level, "0.75");
    app.recordButton()->click();
    QMessageBox* question = app.sheet("replaceAlert");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), "\u201cout.mov\u201d already exists. Do you want to replace it?");
    EXPECT_EQ(question->informativeText(), "Replacing it overwrites its current contents.");
    EXPECT_EQ(question->defaultButton()->text(), "Replace");
    RenderWindow::press(question, "Cancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app.shownSheet<QMessageBox>("replaceAlert"); }));
    EXPECT_TRUE(app.idle());
    EXPECT_EQ(QFileInfo(movie).lastModified(), written);

    app.recordButton()->click();
    RenderWindow::press(app.sheet("replaceAlert"), "Replace");
    EXPECT_TRUE(app.running());
    ASSERT_TRUE(waitUntil([&] { return app.idle(); }, 60000)) << app.status().toStdString();
    expectFrames(191);
}

// A sound file dropped on the Soundtrack field is kept in the defaults and
// goes with the render; clearing the field forgets it.
TEST_F(AppControllerJob, DroppedSoundtrackIsKeptAndGoesWithTheRender) {
    const QString song = file("song.wav");
    run(QStringLiteral("/usr/bin/ffmpeg"),
        {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:r=44100:d=3", song});
    ASSERT_TRUE(QFileInfo::exists(song));
    const QString movie = file("sound.mov");
    {
        RenderWindow app;
        ASSERT_TRUE(app.exposed);
        ASSERT_TRUE(app.opened);
        app.choose("codec", "png ");
        app.type("width", "64");
        app.type("height", "48");
        app.type("framerate", "10");
        app.type("movieDuration", "0.5");
        auto* field = app.find<QLineEdit>("soundtrack");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(song)});
        const QPoint inside = field->rect().center();
        QDragEnterEvent enter(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(inside, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(field, &drop);
        EXPECT_EQ(field->text(), song);
        app.setOutput(movie);
        app.click("startRecording");
        ASSERT_TRUE(app.running());
        EXPECT_FALSE(field->isEnabled());
        ASSERT_TRUE(waitUntil([&] { return app.idle(); }, 60000)) << app.status().toStdString();
        EXPECT_EQ(app.status(), "");
    }
    EXPECT_EQ(
        QString::fromUtf8(run(QStringLiteral("/usr/bin/ffprobe"),
                              {"-v", "error", "-select_streams", "a:0", "-show_entries",
                               "stream=codec_name,sample_rate,duration", "-of", "csv=p=0", movie}))
            .trimmed(),
        "pcm_s16le,44100,0.500000");
    RenderWindow again;
    auto* field = again.find<QLineEdit>("soundtrack");
    EXPECT_EQ(field->text(), song);
    field->clear();
    EXPECT_FALSE(QSettings().contains("soundtrack"));
}

TEST_F(AppControllerJob, RunningJobShowsProgressAndCancelFromTheDockMenuKeepsTheMovie) {
    RenderWindow app;
    ASSERT_TRUE(app.opened);
    app.choose("codec", "avc1");
    app.type("width", "64");
    app.type("height", "48");
    // Something to see in the paused preview.
    auto* level = app.find<QDoubleSpinBox>("level.field");
    level->selectAll();
    QTest::keyClicks(level, "0.8");
    QTest::keyClick(app.find<QCheckBox>("flag.check"), Qt::Key_Space);
    const QString movie = file("long.mov");
    const pid_t pid = app.startLongJob(movie);
    ASSERT_GT(pid, 0);

    const QRegularExpression frameStatus(
        QStringLiteral("^Rendering frame (\\d+) of 108000 \\((\\d+\\.\\d)%\\)$"));
    const QRegularExpressionMatch match = frameStatus.match(app.status());
    ASSERT_TRUE(match.hasMatch()) << app.status().toStdString();
    const int frame = match.captured(1).toInt();
    // The percentage is worked out in single precision, as the window does:
    // at a frame like 162 that rounds 0.15 up where double precision would not.
    const float percentage = static_cast<float>(frame) * 100.0f / 108000.0f;
    EXPECT_EQ(match.captured(2), QString::number(static_cast<double>(percentage), 'f', 1));
    // The bar stands at the middle of the frame being rendered, in steps of 1/10000
    // (0 for the first few frames of so long a job).
    EXPECT_EQ(app.find<QProgressBar>("encodeProgress")->value(),
              std::lround((frame - 1 + 0.5) / 108000 * 10000));
    // The remaining time shows once five seconds have passed.
    const QRegularExpression elapsedLine(
        QStringLiteral("^00:00:\\d\\d elapsed \u2014 about (\\d+h )?(\\d+m )?(\\d+s )?remaining$"));
    ASSERT_TRUE(waitUntil([&] { return app.elapsed().contains("remaining"); }, 30000))
        << app.elapsed().toStdString();
    EXPECT_TRUE(elapsedLine.match(app.elapsed()).hasMatch()) << app.elapsed().toStdString();
    EXPECT_TRUE(app.running());
    QTest::qWait(100);  // the labels' new sizes laid out, as between two checkups
    app.screenshot(app.controller->window(), QStringLiteral("render-job-running"));

    // A burst of reports, as a renderer pipelining them sends, costs the
    // window one update per display frame, not one per report.
    QSignalSpy shown(app.controller->jobs(), &RenderJobController::statusChanged);
    for (int frame = 0; frame < 3000; ++frame) app.controller->indicateFrame(frame, 108000);
    EXPECT_EQ(shown.count(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, 1000));
    EXPECT_LE(shown.count(), 2);

    DockMenu* menu = app.controller->dockIcon()->menu();
    emit menu->aboutToShow();
    const QList<QAction*> items = menu->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[1]->text(), "   settings.qtz");
    EXPECT_EQ(items[3]->text(), "Cancel");
    items[3]->trigger();

    EXPECT_TRUE(app.idle());
    EXPECT_EQ(app.status(), "");
    EXPECT_TRUE(waitUntil([&] { return app.status() == "Cancelled"; }, 2400));
    EXPECT_FALSE(app.controller->dockIcon()->isWorking());
    EXPECT_TRUE(waitUntil([&] { return app.status().isEmpty(); }, 5000));
    ASSERT_TRUE(waitUntil([&] { return processGone(pid); }, 15000));
    EXPECT_TRUE(isFinishedMovie(movie.toStdString()));
    EXPECT_GT(decodedFrames(movie.toStdString()), 0);
}

TEST_F(AppControllerJob, KilledRendererIsNoticedAndACancelDoesNotEndTheNextJob) {
    RenderWindow app;
    ASSERT_TRUE(app.opened);
    app.type("width", "64");
    app.type("height", "48");
    const pid_t killed = app.startLongJob(file("killed.mov"));
    ASSERT_GT(killed, 0);
    ASSERT_EQ(kill(killed, SIGKILL), 0);
    EXPECT_TRUE(waitUntil([&] { return app.idle(); }, 3000));
    EXPECT_EQ(app.status(), "Failed to create offscreen renderer");
    EXPECT_TRUE(app.elapsed().startsWith("00:00:")) << "the last elapsed time stays";
    EXPECT_FALSE(app.controller->dockIcon()->isWorking());

    // A new job at once after a cancel, while the cancelled renderer may
    // still be finishing: the cancel's late reports do not touch it.
    const pid_t cancelled = app.startLongJob(file("cancelled.mov"));
    app.recordButton()->click();
    EXPECT_TRUE(app.idle());
    app.setOutput(file("next.mov"));
    app.recordButton()->click();
    ASSERT_TRUE(app.running());
    // The cancel's "Cancelled" and blanking reports were dropped at the start.
    auto* reports = app.controller->jobs()->findChild<DelayedReports*>();
    ASSERT_NE(reports, nullptr);
    EXPECT_FALSE(reports->hasPending());
    EXPECT_TRUE(waitUntil([&] { return processGone(cancelled); }, 15000));
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.controller->renderJob()->isRunning());
    EXPECT_NE(app.status(), "Cancelled");
    EXPECT_TRUE(isFinishedMovie(file("cancelled.mov").toStdString()));

    const pid_t next = app.rendererPid();
    app.recordButton()->click();
    EXPECT_TRUE(waitUntil([&] { return processGone(next); }, 15000));
}

TEST_F(AppControllerJob, QuittingAsksDuringAJobAndQuitStopsTheRenderer) {
    RenderWindow app;
    ASSERT_TRUE(app.opened);
    QSignalSpy quit(app.controller.get(), &AppController::quitApproved);
    // Idle: closing the window quits at once.
    app.controller->window()->close();
    EXPECT_EQ(quit.count(), 1);
    EXPECT_TRUE(app.controller->window()->isVisible());

    app.type("width", "64");
    app.type("height", "48");
    const QString movie = file("quit.mov");
    const pid_t pid = app.startLongJob(movie);
    ASSERT_GT(pid, 0);

    // A signal to the application asks; "Cancel" keeps the job going.
    ASSERT_EQ(raise(SIGTERM), 0);
    QMessageBox* question = app.sheet("quitAlert");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), "Currently Rendering");
    EXPECT_EQ(question->informativeText(),
              "A movie is being rendered. Quitting stops the render; the frames written so far "
              "are kept.");
    EXPECT_EQ(question->defaultButton()->text(), "Cancel");
    app.screenshot(question, QStringLiteral("quit-question"));
    // A second request ends the open question and asks anew.
    ASSERT_EQ(raise(SIGTERM), 0);
    ASSERT_TRUE(waitUntil(
        [&] {
            auto* shown = app.shownSheet<QMessageBox>("quitAlert");
            return shown && shown != question;
        },
        5000));
    question = app.sheet("quitAlert");
    RenderWindow::press(question, "Cancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app.shownSheet<QMessageBox>("quitAlert"); }));
    EXPECT_TRUE(app.running());
    EXPECT_FALSE(processGone(pid));
    EXPECT_EQ(quit.count(), 1);

    // Closing the window asks too; "Quit" stops the renderer, which finishes
    // its movie, and lets the application go.
    app.controller->window()->close();
    question = app.sheet("quitAlert");
    RenderWindow::press(question, "Quit");
    EXPECT_EQ(quit.count(), 2);
    EXPECT_TRUE(processGone(pid));
    EXPECT_TRUE(isFinishedMovie(movie.toStdString()));
    EXPECT_GT(decodedFrames(movie.toStdString()), 0);
}

TEST_F(AppControllerJob, ExistingSequenceAsksAndFailedStartsLeaveTheWindowUsable) {
    RenderWindow app;
    ASSERT_TRUE(app.opened);
    app.controller->setRendererPath(file("missing/LumivaneCLI"));
    app.choose("codec", "public.png");
    ASSERT_TRUE(QDir().mkpath(file("frames")));
    app.setOutput(file("frames") + "/");

    app.recordButton()->click();
    QMessageBox* question = app.sheet("replaceAlert");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(),
              "\u201c"
              "frames\u201d already exists. Do you want to replace it?");
    RenderWindow::press(question, "Cancel");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !app.shownSheet<QMessageBox>("replaceAlert"); }));
    EXPECT_TRUE(app.idle());
    EXPECT_EQ(app.status(), "");

    app.recordButton()->click();
    RenderWindow::press(app.sheet("replaceAlert"), "Replace");
    EXPECT_TRUE(app.idle());
    EXPECT_TRUE(app.status().startsWith("The renderer cannot be started: "))
        << app.status().toStdString();
    EXPECT_TRUE(app.status().contains(file("missing/LumivaneCLI")));
    EXPECT_TRUE(app.find<QWidget>("startRecordingInput")->isEnabled());
    EXPECT_FALSE(app.controller->dockIcon()->isWorking());

    QFile notExecutable(file("LumivaneCLI"));
    ASSERT_TRUE(notExecutable.open(QIODevice::WriteOnly));
    notExecutable.close();
    app.controller->setRendererPath(notExecutable.fileName());
    app.recordButton()->click();
    RenderWindow::press(app.sheet("replaceAlert"), "Replace");
    EXPECT_TRUE(app.idle());
    EXPECT_TRUE(app.status().contains("not an executable")) << app.status().toStdString();

    // No path: nothing starts; a path gone by the start says so.
    app.setOutput("");
    app.recordButton()->click();
    EXPECT_TRUE(app.idle());
    EXPECT_FALSE(app.shownSheet<QMessageBox>("replaceAlert"));
    app.controller->saveSheet(1);
    EXPECT_TRUE(app.idle());
    EXPECT_EQ(app.status(), "invalid path");
}

TEST_F(AppControllerJob, SavePanelChoosesTheOutputByType) {
    RenderWindow app;
    ASSERT_TRUE(app.opened);
    app.choose("codec", "avc1");
    app.setOutput(file("clip.mov"));
    auto openPanel = [&] {
        app.find<QPushButton>("browseButton")->click();
        auto* panel = app.shownSheet<QFileDialog>("savePanel");
        EXPECT_TRUE(panel && panel->isVisible());
        if (panel) {
            EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
        }
        return panel;
    };
    QFileDialog* panel = openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(panel->defaultSuffix(), "mov");
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), "Choose");
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(m_dir.path()).canonicalPath());
    panel->reject();
    QCoreApplication::processEvents();
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), file("clip.mov"));

    panel = openPanel();
    panel->selectFile(file("take.avi"));
    static_cast<QDialog*>(panel)->accept();
    QCoreApplication::processEvents();
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), file("take.avi.mov"));

    // Another container's entry gives the panel its suffix.
    app.choose("codec", {}, app.find<QComboBox>("codec")->findText("GIF Animation"));
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), file("take.avi.gif"));
    panel = openPanel();
    EXPECT_EQ(panel->defaultSuffix(), "gif");
    panel->selectFile(file("loop"));
    static_cast<QDialog*>(panel)->accept();
    QCoreApplication::processEvents();
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), file("loop.gif"));

    // A sequence is a directory: no extension is added.
    app.choose("codec", "public.png");
    panel = openPanel();
    EXPECT_EQ(panel->defaultSuffix(), "");
    panel->selectFile(file("frames"));
    static_cast<QDialog*>(panel)->accept();
    QCoreApplication::processEvents();
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), file("frames"));
}

}  // namespace
