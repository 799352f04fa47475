// From the user's hand to the movie: synthetic mouse and key input recorded
// in the Record Input window, saved by Done, read back by the recording
// store and replayed by LumivaneCLI -e into frames that show the strokes and
// the key at the right times; and the sheet's hand-over in the application.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSettings>

#include <cmath>

#include "RecordingTestSupport.h"
#include "app/controller/AppController.h"
#include "app/view/CompositionDropView.h"
#include "shared/RecordedEvents.h"

using namespace lumivane;

namespace {

constexpr int kFps = 30;
constexpr int kWidth = 320;
constexpr int kHeight = 200;

// A left-button stroke across the view at a height (fraction from the top).
void stroke(RecordInputView* view, double fromTop) {
    const int y = int(view->height() * fromTop);
    const auto at = [&](double x) { return QPoint(int(view->width() * x), y); };
    QTest::mousePress(view, Qt::LeftButton, {}, at(0.2));
    for (double x = 0.3; x <= 0.81; x += 0.1) {
        QTest::qWait(40);
        QTest::mouseMove(view, at(x));
    }
    QTest::mouseRelease(view, Qt::LeftButton, {}, at(0.8));
}

const RecordedEventEntry* nth(const RecordedEntries& entries, int type, int n) {
    for (const auto& entry : entries)
        if (entry.event && entry.event->type() == type && n-- == 0) return &entry;
    return nullptr;
}

// The frame's pixel under a normalized location (origin bottom-left).
QRgb pixelAt(const QImage& frame, Point location) {
    const int x = std::clamp(int(location.x * frame.width()), 0, frame.width() - 1);
    const int y = std::clamp(int((1.0f - location.y) * frame.height()), 0, frame.height() - 1);
    return frame.pixel(x, y);
}

bool isPaper(QRgb pixel) {
    return qRed(pixel) < 60 && qGreen(pixel) < 60 && qBlue(pixel) < 60;
}
bool isWarmWhiteInk(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) > 180 && qBlue(pixel) > 150;
}
bool isRedInk(QRgb pixel) {
    return qRed(pixel) > 200 && qGreen(pixel) < 90 && qBlue(pixel) < 90;
}

}  // namespace

TEST(RecordInputEndToEnd, RecordedStrokesAndKeysReplayInTheRenderer) {
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    {
        ShownRecordInput input(paint.path);
        ASSERT_TRUE(input.exposed);
        RecordInputView* view = input.view();
        input.click("recordButton");
        QTest::qWait(300);
        stroke(view, 0.3);  // warm white ink, high in the picture
        QTest::qWait(250);
        QTest::keyClick(view, Qt::Key_R);  // toggles the red channel
        QTest::qWait(250);
        stroke(view, 0.7);  // red ink, low in the picture
        QTest::qWait(250);
        input.click("pauseButton");
        input.click("doneButton");
        EXPECT_FALSE(input.window.window()->isVisible());
    }

    double totalSec = 0;
    const RecordedEntries recording = RecordedEvents::recordedEventsArrayForComposition(
        QFile::encodeName(paint.path).toStdString(), &totalSec);
    ASSERT_GT(totalSec, 1.0);
    const RecordedEventEntry* down1 = nth(recording, NSLeftMouseDown, 0);
    const RecordedEventEntry* up1 = nth(recording, NSLeftMouseUp, 0);
    const RecordedEventEntry* keyR = nth(recording, NSKeyDown, 0);
    const RecordedEventEntry* down2 = nth(recording, NSLeftMouseDown, 1);
    const RecordedEventEntry* up2 = nth(recording, NSLeftMouseUp, 1);
    ASSERT_TRUE(down1 && up1 && keyR && down2 && up2);
    EXPECT_EQ(keyR->event->characters(), std::optional<std::string>("r"));
    ASSERT_LT(*up1->eventTime + 0.15, *keyR->eventTime);
    ASSERT_LT(*keyR->eventTime + 0.15, *down2->eventTime);
    // The middle of each stroke, where the recording says it went.
    const Point middle1{0.5f, down1->mouseLocation->y};
    const Point middle2{0.5f, down2->mouseLocation->y};
    EXPECT_NEAR(middle1.y, 0.7, 0.02);
    EXPECT_NEAR(middle2.y, 0.3, 0.02);

    const QString frames = paint.folder.filePath(QStringLiteral("frames"));
    QProcess renderer;
    renderer.setProcessChannelMode(QProcess::MergedChannels);
    renderer.start(QStringLiteral(LUMIVANE_BINARY_DIR "/bin/LumivaneCLI"),
                   {QStringLiteral("-o"), frames + '/', QStringLiteral("-c"),
                    QStringLiteral("public.png"), QStringLiteral("-w"), QString::number(kWidth),
                    QStringLiteral("-h"), QString::number(kHeight), QStringLiteral("-f"),
                    QString::number(kFps), QStringLiteral("-e"), paint.path, paint.path});
    ASSERT_TRUE(renderer.waitForFinished(300000));
    ASSERT_EQ(renderer.exitCode(), 0) << renderer.readAll().toStdString();
    const QStringList files =
        QDir(frames).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    // The duration comes from the recording.
    ASSERT_EQ(files.size(), int(std::trunc(totalSec * kFps)));
    const auto frameAt = [&](double seconds) {
        const int index = std::clamp(int(std::floor(seconds * kFps)), 0, int(files.size()) - 1);
        return QImage(QDir(frames).filePath(files[index]));
    };

    // Before the first press: paper only.
    const QImage before = frameAt(*down1->eventTime - 2.0 / kFps);
    EXPECT_TRUE(isPaper(pixelAt(before, middle1)));
    // Between the first stroke and the key: white ink above, paper below.
    const QImage between = frameAt(*keyR->eventTime - 1.0 / kFps);
    EXPECT_TRUE(isWarmWhiteInk(pixelAt(between, middle1)));
    EXPECT_TRUE(isPaper(pixelAt(between, middle2)));
    // After the key and before the second press: still no red.
    const QImage toggled = frameAt(*down2->eventTime - 1.0 / kFps);
    EXPECT_TRUE(isPaper(pixelAt(toggled, middle2)));
    // The last frame: both strokes, the second one red.
    const QImage last = QImage(QDir(frames).filePath(files.last()));
    EXPECT_TRUE(isWarmWhiteInk(pixelAt(last, middle1)));
    EXPECT_TRUE(isRedInk(pixelAt(last, middle2)));
    EXPECT_TRUE(isPaper(pixelAt(last, Point{0.5f, 0.5f})));
}

TEST(RecordInputSheet, OpensOverThePausedPreviewAndHandsOverTheRecording) {
    QSettings().clear();
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    // An earlier recording of 2.5 s sets the duration when the composition
    // opens.
    ASSERT_TRUE(RecordedEvents::saveRecordedEventsArray(
        {}, 2.5, QFile::encodeName(paint.path).toStdString()));
    AppController controller;
    controller.applicationWillFinishLaunching();
    controller.window()->resize(1040, 780);
    controller.window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.window()));
    ASSERT_TRUE(controller.openFile(paint.path));
    EXPECT_EQ(QSettings().value(AppController::kDurationKey).toDouble(), 2.5);
    RecordInputWindow* input = controller.recordInputWindow();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->totalSec(), 2.5);
    CompositionDropView* preview = controller.dropView();
    ASSERT_TRUE(preview->setValue(PlistValue(0.1), "brushSize"));
    ASSERT_TRUE(preview->isRendering());
    ASSERT_FALSE(preview->isPausedRendering());
    QWidget* drawer = controller.window()->findChild<QWidget*>(QStringLiteral("parameterDrawer"));
    ASSERT_NE(drawer, nullptr);
    EXPECT_TRUE(drawer->isVisible());

    auto* openButton =
        controller.window()->findChild<QAbstractButton*>(QStringLiteral("startRecordingInput"));
    ASSERT_NE(openButton, nullptr);
    openButton->click();
    QDialog* sheet = input->window();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), controller.window());
    EXPECT_TRUE(preview->isPausedRendering());
    EXPECT_FALSE(drawer->isVisible());
    // The sheet carries its menu: the main window's bar is out of reach.
    EXPECT_FALSE(controller.window()->menuBar()->actions().contains(input->menuItem()));
    auto* sheetMenuBar = sheet->findChild<QMenuBar*>(QStringLiteral("recordInputMenuBar"));
    ASSERT_NE(sheetMenuBar, nullptr);
    EXPECT_TRUE(sheetMenuBar->isVisible());
    EXPECT_TRUE(sheetMenuBar->actions().contains(input->menuItem()));
    EXPECT_EQ(input->inputView()->valueForInputKey("brushSize"), PlistValue(0.1));

    auto* record = sheet->findChild<QPushButton*>(QStringLiteral("recordButton"));
    auto* pause = sheet->findChild<QPushButton*>(QStringLiteral("pauseButton"));
    auto* done = sheet->findChild<QPushButton*>(QStringLiteral("doneButton"));
    ASSERT_TRUE(record && pause && done);
    // Add mode keeps the old 2.5 s; recording past it makes it longer.
    input->recordModeAdd(nullptr);
    record->click();
    QTest::qWait(100);
    QTest::keyClick(input->inputView(), Qt::Key_G);
    input->inputView()->setFocus();
    pause->click();
    const double afterFirst = input->totalSec();
    EXPECT_EQ(afterFirst, 2.5);
    sheet->findChild<QPushButton*>(QStringLiteral("playButton"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !pause->isEnabled(); }, 20000));
    record->click();
    QTest::qWait(100);
    stroke(input->inputView(), 0.3);
    pause->click();
    const double total = input->totalSec();
    EXPECT_GT(total, 2.5);

    // The render job gets the recording as it is now.
    const auto handed = controller.recordedEvents();
    ASSERT_NE(handed, nullptr);
    EXPECT_EQ(handed->size(), input->inputView()->events().size());
    EXPECT_NE(nth(*handed, NSKeyDown, 0), nullptr);

    done->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(controller.window()->menuBar()->actions().contains(input->menuItem()));
    EXPECT_EQ(QSettings().value(AppController::kDurationKey).toDouble(), total);
    EXPECT_FALSE(preview->isPausedRendering());
    EXPECT_TRUE(drawer->isVisible());
    EXPECT_TRUE(QFile::exists(paint.recordingPath()));

    // Shown again, the sheet starts from the composition's first frame: no
    // ink left from the last showing, the recording kept.
    // Only time 0 changes: its one entry is the pointer position of now.
    const auto laterEntries = [&] {
        const RecordedEntries& events = input->inputView()->events();
        return std::count_if(events.begin(), events.end(),
                             [](const RecordedEventEntry& e) { return *e.eventTime > 0; });
    };
    const auto kept = laterEntries();
    openButton->click();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
    const Point inked{0.5f,
                      nth(input->inputView()->events(), NSLeftMouseDown, 0)->mouseLocation->y};
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return isPaper(pixelAt(input->inputView()->grabRenderedFrame(), inked)); }, 5000));
    EXPECT_EQ(laterEntries(), kept);
    EXPECT_EQ(input->inputView()->events().size(), size_t(kept) + 1);
    EXPECT_EQ(input->playheadSec(), 0.0);

    // Quitting while recording ends the sheet as Done would: the stretch is
    // kept and saved, the menu goes.
    ASSERT_TRUE(QFile::remove(paint.recordingPath()));
    record->click();
    QTest::qWait(100);
    QTest::keyClick(input->inputView(), Qt::Key_Q);
    controller.handleQuit();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(controller.window()->menuBar()->actions().contains(input->menuItem()));
    EXPECT_FALSE(input->isRecording());
    const RecordedEntries saved = RecordedEvents::recordedEventsArrayForComposition(
        QFile::encodeName(paint.path).toStdString(), nullptr);
    EXPECT_TRUE(std::any_of(saved.begin(), saved.end(), [](const RecordedEventEntry& entry) {
        return entry.event && entry.event->type() == NSKeyDown &&
               entry.event->characters() == std::optional<std::string>("q");
    }));
}

// The sheet's own menu, used with the mouse while the sheet is up: each item
// acts as its button does, and the items follow the buttons' states.
TEST(RecordInputSheet, ItsMenuWorksWhileTheSheetIsShown) {
    QSettings().clear();
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    AppController controller;
    controller.applicationWillFinishLaunching();
    controller.window()->resize(1040, 780);
    controller.window()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller.window()));
    ASSERT_TRUE(controller.openFile(paint.path));
    controller.window()
        ->findChild<QAbstractButton*>(QStringLiteral("startRecordingInput"))
        ->click();
    RecordInputWindow* input = controller.recordInputWindow();
    QDialog* sheet = input->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    auto* bar = sheet->findChild<QMenuBar*>(QStringLiteral("recordInputMenuBar"));
    ASSERT_NE(bar, nullptr);
    QMenu* menu = input->menuItem()->menu();
    const auto button = [&](const char* name) {
        return sheet->findChild<QPushButton*>(QString::fromLatin1(name));
    };
    const auto item = [&](const char* name) {
        return sheet->findChild<QAction*>(QString::fromLatin1(name));
    };
    // Opens the menu from the bar and chooses the item, both by mouse.
    const auto choose = [&](const char* name) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(input->menuItem()).center());
        if (!QTest::qWaitFor([&] { return menu->isVisible(); }, 3000)) return false;
        // The items show the buttons' states when the menu opens.
        for (const char* pair :
             {"recordMenuItem:recordButton", "playMenuItem:playButton", "pauseMenuItem:pauseButton",
              "goToBeginningMenuItem:goToBeginningButton"}) {
            const QStringList names = QString::fromLatin1(pair).split(':');
            EXPECT_EQ(item(names[0].toLatin1())->isEnabled(),
                      button(names[1].toLatin1())->isEnabled())
                << pair;
        }
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item(name)).center());
        return QTest::qWaitFor([&] { return !menu->isVisible(); }, 3000);
    };

    struct Step {
        const char* item;
        bool recording, playing;  // what the transport does after it
    };
    const Step steps[] = {
        {"recordMenuItem", true, false},         {"pauseMenuItem", false, false},
        {"goToBeginningMenuItem", false, false}, {"playMenuItem", false, true},
        {"pauseMenuItem", false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.item);
        ASSERT_TRUE(choose(step.item));
        if (step.recording || step.playing) QTest::qWait(300);
        EXPECT_EQ(input->isRecording(), step.recording);
        const bool running = step.recording || step.playing;
        EXPECT_EQ(button("pauseButton")->isEnabled(), running);
        EXPECT_EQ(button("recordButton")->isEnabled(), !running);
        EXPECT_TRUE(sheet->isVisible());
    }
    EXPECT_GT(input->totalSec(), 0.2);
    button("doneButton")->click();
    EXPECT_FALSE(sheet->isVisible());
}
