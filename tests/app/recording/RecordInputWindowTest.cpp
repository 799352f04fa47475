// The Record Input window with its real recording view under Xvfb: the
// control states step by step, the menu's enabled states, the sheets, the
// indicators and the capture guard.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QMenu>

#include "RecordingTestSupport.h"
#include "shared/RecordedEvents.h"

using namespace lumivane;

namespace {

// On/off of go to beginning, record, play, pause, done, clear, record mode.
using ControlStates = std::array<bool, 7>;

ControlStates controlStates(const ShownRecordInput& input) {
    return {input.enabled("goToBeginningButton"), input.enabled("recordButton"),
            input.enabled("playButton"),          input.enabled("pauseButton"),
            input.enabled("doneButton"),          input.enabled("clearButton"),
            input.enabled("recordModeButton")};
}

// The menu item of each control, and the control it mirrors.
void expectMenuMirrorsControls(const ShownRecordInput& input) {
    const std::pair<const char*, const char*> pairs[] = {
        {"goToBeginningMenuItem", "goToBeginningButton"},
        {"recordMenuItem", "recordButton"},
        {"playMenuItem", "playButton"},
        {"pauseMenuItem", "pauseButton"},
        {"clearMenuItem", "clearButton"},
        {"recordModeAddMenuItem", "recordModeButton"},
        {"recordModeReplaceMenuItem", "recordModeButton"},
    };
    for (const auto& [item, control] : pairs) {
        QAction* action = input.find<QAction>(item);
        EXPECT_EQ(input.window.validateMenuItem(action), input.enabled(control)) << item;
    }
    // Any other item is always enabled.
    EXPECT_TRUE(input.window.validateMenuItem(input.window.menuItem()));
}

void waitFor(double seconds) {
    QTest::qWait(int(seconds * 1000));
}

}  // namespace

TEST(RecordInputWindow, ControlStatesStepByStep) {
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    ShownRecordInput input(paint.path);
    ASSERT_TRUE(input.exposed);
    EXPECT_EQ(input.window.window()->objectName(), QStringLiteral("RecordInputWindow"));

    // reset, with no recording: play off, clear off.
    EXPECT_EQ(controlStates(input), (ControlStates{false, true, false, false, true, false, true}));
    EXPECT_EQ(input.text("timeStatusField"), QStringLiteral("Ready"));
    EXPECT_EQ(input.text("timeField"), QStringLiteral("00:00.00"));
    EXPECT_TRUE(input.find<QWidget>("keyboardEventField")->isHidden());
    // The first frame's pointer position flashes the mouse indicator.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return input.find<QWidget>("mouseEventField")->isHidden(); }, 5000));
    expectMenuMirrorsControls(input);
    // Replace is the mode of every new window.
    EXPECT_TRUE(input.view()->overwrite());
    EXPECT_TRUE(input.find<QAction>("recordModeReplaceMenuItem")->isChecked());
    EXPECT_FALSE(input.find<QAction>("recordModeAddMenuItem")->isChecked());

    input.click("recordButton");
    EXPECT_EQ(controlStates(input),
              (ControlStates{false, false, false, true, false, false, false}));
    EXPECT_EQ(input.text("timeStatusField"), QStringLiteral("Recording"));
    EXPECT_TRUE(input.window.isRecording());
    expectMenuMirrorsControls(input);
    waitFor(0.3);
    QTest::keyClick(input.view(), Qt::Key_A);

    input.click("pauseButton");
    // The playhead ended the recording: nothing left to play.
    EXPECT_GT(input.window.totalSec(), 0.0);
    EXPECT_EQ(input.window.totalSec(), input.window.playheadSec());
    EXPECT_EQ(controlStates(input), (ControlStates{true, true, false, false, true, true, true}));
    EXPECT_EQ(input.text("timeStatusField"), QStringLiteral("Ready"));
    EXPECT_EQ(input.text("timeField"), timeDisplayText(input.window.totalSec()));
    EXPECT_FALSE(input.window.isRecording());
    expectMenuMirrorsControls(input);

    input.click("goToBeginningButton");
    EXPECT_EQ(controlStates(input), (ControlStates{false, true, true, false, true, true, true}));
    EXPECT_EQ(input.text("timeField"), QStringLiteral("00:00.00"));
    EXPECT_EQ(input.window.playheadSec(), 0.0);

    input.click("playButton");
    EXPECT_EQ(controlStates(input),
              (ControlStates{false, false, false, true, false, false, false}));
    EXPECT_EQ(input.text("timeStatusField"), QStringLiteral("Playing"));
    // Playback stops by itself exactly at the end of the recording.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !input.enabled("pauseButton"); }, 20000));
    EXPECT_EQ(input.window.playheadSec(), input.window.totalSec());
    EXPECT_EQ(input.text("timeField"), timeDisplayText(input.window.totalSec()));
    EXPECT_EQ(controlStates(input), (ControlStates{true, true, false, false, true, true, true}));

    // Record mode: the pop-up and the menu items follow each other.
    input.find<QAction>("recordModeAddMenuItem")->trigger();
    EXPECT_FALSE(input.view()->overwrite());
    EXPECT_EQ(input.find<QComboBox>("recordModeButton")->currentIndex(),
              RecordInputWindow::kRecordModeAddButton);
    EXPECT_FALSE(input.find<QAction>("recordModeReplaceMenuItem")->isChecked());
    // Clear answered "Don't Clear" changes nothing.
    const size_t recorded = input.view()->events().size();
    const QString shown = input.text("timeField");
    input.click("clearButton");
    QMessageBox* sheet = openSheet(input.window, "clearSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->text(), QStringLiteral("Clear"));
    EXPECT_EQ(sheet->informativeText(),
              QStringLiteral("Are you sure you want to clear all recorded input?"));
    EXPECT_EQ(sheet->buttons().size(), 2);
    sheetButton(sheet, QStringLiteral("Don't Clear"))->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(input.view()->events().size(), recorded);
    EXPECT_EQ(input.text("timeField"), shown);
    EXPECT_GT(input.window.totalSec(), 0.0);

    // "Clear" empties the recording and rewinds.
    input.click("clearButton");
    sheet = openSheet(input.window, "clearSheet");
    ASSERT_NE(sheet, nullptr);
    sheetButton(sheet, QStringLiteral("Clear"))->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(input.window.totalSec(), 0.0);
    EXPECT_EQ(input.text("timeField"), QStringLiteral("00:00.00"));
    EXPECT_EQ(controlStates(input), (ControlStates{false, true, false, false, true, false, true}));
    // Only the first frame's pointer position remains, at 0.
    for (const auto& entry : input.view()->events()) {
        EXPECT_EQ(*entry.eventTime, 0.0);
        EXPECT_EQ(entry.event->type(), NSMouseMoved);
    }
    // After Clear, Done closes without writing.
    input.click("doneButton");
    EXPECT_FALSE(input.window.window()->isVisible());
    EXPECT_FALSE(QFile::exists(paint.recordingPath()));
}

TEST(RecordInputWindow, CaptureGuardAndIndicators) {
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    ShownRecordInput input(paint.path);
    ASSERT_TRUE(input.exposed);
    RecordInputView* view = input.view();
    const size_t firstFrame = view->events().size();
    EXPECT_EQ(firstFrame, 1u);
    auto* keyboard = input.find<QWidget>("keyboardEventField");
    auto* mouse = input.find<QWidget>("mouseEventField");
    ASSERT_TRUE(QTest::qWaitFor([&] { return mouse->isHidden(); }, 5000));

    // Idle: input reaches neither the recording nor the indicators.
    QTest::keyPress(view, Qt::Key_K);
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(20, 20));
    QTest::keyRelease(view, Qt::Key_K);
    EXPECT_EQ(view->events().size(), firstFrame);
    EXPECT_TRUE(keyboard->isHidden());
    EXPECT_TRUE(mouse->isHidden());

    // Recording: a held key and a held button light their indicators until
    // released.
    input.click("recordButton");
    // The clip's opening pointer position flashes the mouse indicator.
    EXPECT_FALSE(mouse->isHidden());
    ASSERT_TRUE(QTest::qWaitFor([&] { return mouse->isHidden(); }, 5000));
    QTest::keyPress(view, Qt::Key_K);
    EXPECT_FALSE(keyboard->isHidden());
    QTest::keyRelease(view, Qt::Key_K);
    // A release waits a moment for the press that would make it a repeat.
    EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard->isHidden(); }, 1000));
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_FALSE(mouse->isHidden());
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(mouse->isHidden());
    // A modifier key flashes its indicator; a second within the flash does
    // not extend it, and the flash ends by itself.
    QTest::keyPress(view, Qt::Key_Shift);
    EXPECT_FALSE(keyboard->isHidden());
    QTest::keyRelease(view, Qt::Key_Shift);
    EXPECT_FALSE(keyboard->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return keyboard->isHidden(); }, 5000));

    // The clip opened with the pointer's position and holds the input in
    // order (the window system may add moves of its own), each key entry at
    // the last mouse location.
    const RecordedEntries& clip = view->eventsInClip();
    ASSERT_FALSE(clip.empty());
    std::vector<const RecordedEventEntry*> kept = {&clip[0]};
    for (const auto& entry : clip)
        if (entry.event->type() != NSMouseMoved) kept.push_back(&entry);
    std::vector<int> types;
    for (const auto* entry : kept) types.push_back(entry->event->type());
    const std::vector<int> expected = {NSMouseMoved,    NSKeyDown,     NSKeyUp,
                                       NSLeftMouseDown, NSLeftMouseUp, NSFlagsChanged,
                                       NSFlagsChanged};
    ASSERT_EQ(types, expected);
    EXPECT_EQ(*kept[0]->eventTime, *clip[0].eventTime);
    const Point clicked = view->normalizedLocationOf(kept[3]->event->locationInWindow());
    EXPECT_EQ(*kept[3]->mouseLocation, clicked);
    EXPECT_NEAR(clicked.x, 30.0 / view->width(), 1e-6);
    EXPECT_NEAR(clicked.y, (view->height() - 30.0 - 1.0) / view->height(), 1e-6);
    EXPECT_EQ(*kept[5]->mouseLocation, clicked);
    for (size_t i = 1; i < clip.size(); ++i) EXPECT_GE(*clip[i].eventTime, *clip[i - 1].eventTime);
    // Not in the recording until the pause closes the clip.
    EXPECT_EQ(view->events().size(), firstFrame);
    const size_t captured = clip.size();
    input.click("pauseButton");
    EXPECT_EQ(view->events().size(), captured);
    EXPECT_TRUE(keyboard->isHidden());
    EXPECT_TRUE(mouse->isHidden());
}

TEST(RecordInputWindow, DoneSavesTheRecordingOrSaysWhyNot) {
    CompositionCopy paint(QStringLiteral("paint.qtz"));
    ASSERT_TRUE(paint.copied);
    ShownRecordInput input(paint.path);
    ASSERT_TRUE(input.exposed);
    input.click("recordButton");
    QTest::qWait(100);
    QTest::keyClick(input.view(), Qt::Key_R);
    input.click("pauseButton");
    const RecordedEntries recorded = input.view()->events();
    const double total = input.window.totalSec();

    // A folder where the file should go: the save fails, the sheet says
    // where, and Close still closes the window.
    ASSERT_TRUE(QDir().mkpath(paint.recordingPath()));
    input.click("doneButton");
    QMessageBox* sheet = openSheet(input.window, "autosaveFailedSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->text(), QStringLiteral("Failed to autosave"));
    // The store's reason, not a guess at it.
    EXPECT_EQ(sheet->informativeText(),
              QStringLiteral("Failed to autosave recorded inputs to file '%1'.\n\n\"%1\": "
                             "cannot replace the recording file: Is a directory")
                  .arg(paint.recordingPath()));
    EXPECT_EQ(sheet->icon(), QMessageBox::Warning);
    ASSERT_EQ(sheet->buttons().size(), 1);
    EXPECT_TRUE(input.window.window()->isVisible());
    sheetButton(sheet, QStringLiteral("Close"))->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !input.window.window()->isVisible(); }));
    // The recording stays in memory.
    EXPECT_EQ(input.view()->events().size(), recorded.size());

    // With the way clear, Done writes what the store reads back.
    ASSERT_TRUE(QDir(paint.recordingPath()).removeRecursively());
    input.window.window()->show();
    input.click("doneButton");
    EXPECT_FALSE(input.window.window()->isVisible());
    double loadedTotal = 0;
    const RecordedEntries loaded = RecordedEvents::recordedEventsArrayForComposition(
        QFile::encodeName(paint.path).toStdString(), &loadedTotal);
    EXPECT_EQ(loadedTotal, total);
    ASSERT_EQ(loaded.size(), recorded.size());
    for (size_t i = 0; i < loaded.size(); ++i) {
        EXPECT_EQ(loaded[i].event->type(), recorded[i].event->type()) << i;
        EXPECT_EQ(loaded[i].event->keyCode(), recorded[i].event->keyCode()) << i;
        EXPECT_EQ(*loaded[i].mouseLocation, *recorded[i].mouseLocation) << i;
        EXPECT_DOUBLE_EQ(*loaded[i].eventTime, *recorded[i].eventTime) << i;
    }
}
