// A key held in the Record Input window, with the keyboard's auto-repeat as
// X11 delivers it, records as held and replays as held in the renderer; two
// quick taps stay two taps.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QProcess>

#include <cmath>

#include "RecordingTestSupport.h"
#include "shared/RecordedEvents.h"

using namespace lumivane;

namespace {

constexpr int kFps = 30;

// A key event as the window system hands it to the view, with the X server's
// time stamp and its repeat flag.
void sendKey(QWidget* view, QEvent::Type type, bool autoRepeat, quint64 timestamp) {
    QKeyEvent event(type, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"), autoRepeat);
    event.setTimestamp(timestamp);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(view, &event);
}

struct Delivery {
    const char* name;
    bool flagged;       // the toolkit marks both halves of a pair as repeats
    bool pairs;         // repeats come as release + press with one time stamp
    int repeats;        // pairs (or, without pairs, releases and presses apart)
    bool heldAsOneKey;  // what the recording should hold
};

std::vector<const RecordedEventEntry*> keyEntries(const RecordedEntries& entries) {
    std::vector<const RecordedEventEntry*> keys;
    for (const auto& entry : entries)
        if (entry.event && (entry.event->type() == NSKeyDown || entry.event->type() == NSKeyUp))
            keys.push_back(&entry);
    return keys;
}

}  // namespace

TEST(RecordInputHeldKey, AutoRepeatRecordsAndReplaysAsHeld) {
    const Delivery deliveries[] = {
        {"flagged repeat pairs", true, true, 24, true},
        {"unflagged repeat pairs (same time stamp)", false, true, 24, true},
        {"two quick taps", false, false, 1, false},
    };
    for (const Delivery& delivery : deliveries) {
        SCOPED_TRACE(delivery.name);
        // The test's keys.qtz: the whole picture red while "a" is held.
        CompositionCopy keys(QStringLiteral("keys.qtz"));
        ASSERT_TRUE(QFile::remove(keys.path));
        ASSERT_TRUE(
            QFile::copy(QStringLiteral(LUMIVANE_SOURCE_DIR "/tests/app/data/keys.qtz"), keys.path));
        {
            ShownRecordInput input(keys.path);
            ASSERT_TRUE(input.exposed);
            RecordInputView* view = input.view();
            input.click("recordButton");
            QTest::qWait(300);
            quint64 now = 100000;
            sendKey(view, QEvent::KeyPress, false, now);
            for (int i = 0; i < delivery.repeats; ++i) {
                QTest::qWait(40);
                now += 40;
                sendKey(view, QEvent::KeyRelease, delivery.flagged, now);
                // A person's second tap comes a good while after the release.
                if (!delivery.pairs) QTest::qWait(120);
                sendKey(view, QEvent::KeyPress, delivery.flagged, delivery.pairs ? now : now + 120);
            }
            QTest::qWait(300);
            sendKey(view, QEvent::KeyRelease, false, now + 300);
            QTest::qWait(400);
            input.click("pauseButton");
            input.click("doneButton");
        }

        double totalSec = 0;
        const RecordedEntries recording = RecordedEvents::recordedEventsArrayForComposition(
            QFile::encodeName(keys.path).toStdString(), &totalSec);
        const auto entries = keyEntries(recording);
        ASSERT_GE(entries.size(), 2u);
        int downs = 0, ups = 0, repeats = 0;
        for (const RecordedEventEntry* entry : entries) {
            const bool down = entry->event->type() == NSKeyDown;
            downs += down;
            ups += !down;
            repeats += down && entry->event->isARepeat();
        }
        if (delivery.heldAsOneKey) {
            // One key-down, the repeats as repeated key-downs, one key-up last.
            EXPECT_EQ(downs, delivery.repeats + 1);
            EXPECT_EQ(repeats, delivery.repeats);
            EXPECT_EQ(ups, 1);
            EXPECT_FALSE(entries.front()->event->isARepeat());
            EXPECT_EQ(entries.back()->event->type(), NSKeyUp);
        } else {
            EXPECT_EQ(downs, 2);
            EXPECT_EQ(ups, 2);
            EXPECT_EQ(repeats, 0);
        }
        if (!delivery.heldAsOneKey) continue;

        // Replayed by the renderer, "a" stays lit from its press to its
        // release and is dark after.
        const QString frames = keys.folder.filePath(QStringLiteral("frames"));
        QProcess renderer;
        renderer.setProcessChannelMode(QProcess::MergedChannels);
        renderer.start(QStringLiteral(LUMIVANE_BINARY_DIR "/bin/LumivaneCLI"),
                       {"-o", frames + '/', "-c", "public.png", "-w", "32", "-h", "24", "-f",
                        QString::number(kFps), "-e", keys.path, keys.path});
        ASSERT_TRUE(renderer.waitForFinished(300000));
        ASSERT_EQ(renderer.exitCode(), 0) << renderer.readAll().toStdString();
        const QStringList files =
            QDir(frames).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
        ASSERT_FALSE(files.isEmpty());
        const double downAt = *entries.front()->eventTime;
        const double upAt = *entries.back()->eventTime;
        int lit = 0, darkAfter = 0;
        for (int index = 0; index < files.size(); ++index) {
            const double time = double(index) / kFps;
            const int red = qRed(QImage(QDir(frames).filePath(files[index])).pixel(16, 12));
            if (time > downAt + 2.0 / kFps && time < upAt - 2.0 / kFps) {
                EXPECT_GT(red, 200) << "frame " << index << " during the hold";
                ++lit;
            } else if (time > upAt + 2.0 / kFps) {
                EXPECT_LT(red, 50) << "frame " << index << " after the release";
                ++darkAfter;
            }
        }
        EXPECT_GT(lit, 20);
        EXPECT_GT(darkAfter, 3);
    }
}
