#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include "ViewTestSupport.h"
#include "platform/events/Event.h"

namespace {

// TIME as the clock composition draws it, in seconds (hundredths resolution).
double drawnTime(const QImage& frame) {
    const QRgb pixel = frame.pixel(frame.width() / 2, frame.height() / 2);
    return (qRed(pixel) + 256.0 * qGreen(pixel)) / 100.0;
}

// A drag of one file entering the view and dropped on it, as Qt delivers
// one: the drop goes to the widget that accepted the drag. True when the
// drop was taken.
bool drop(CompositionDropView& view, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &dropped);
    return dropped.isAccepted();
}

double seconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e9;
}

TEST(CompositionDropView, IdleCompositionInvitesADropAndShows) {
    ShownView shown;
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    EXPECT_EQ(view.maxRenderingFrameRate(), 60.0);
    EXPECT_FALSE(view.isRendering());
    EXPECT_TRUE(view.compositionPath().isEmpty());
    const auto text = view.valueForInputKey("dropInText");
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->stringValue(), "Drop in a composition");

    view.startRendering();
    const QImage idle = view.grabRenderedFrame();
    const qreal ratio = view.devicePixelRatioF();
    EXPECT_EQ(idle.size(), QSize(qRound(view.width() * ratio), qRound(view.height() * ratio)));
    // A gradient, a glow and the text: many colours, bright ones among them.
    EXPECT_GT(distinctColours(idle), 50);
    int bright = 0;
    for (int y = 0; y < idle.height(); ++y) {
        for (int x = 0; x < idle.width(); ++x) bright += qGray(idle.pixel(x, y)) > 160;
    }
    EXPECT_GT(bright, 20) << "the invitation text is not drawn";

    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    EXPECT_EQ(view.compositionPath(), testData("inputs.qtz"));
    const QImage loaded = view.grabRenderedFrame();
    EXPECT_FALSE(sameImage(idle, loaded));
    // Defaults: tint (1, .5, .25) x level .5 x (1 - .05 x 3) in a corner.
    const QRgb corner = loaded.pixel(loaded.width() / 8, loaded.height() / 2);
    EXPECT_NEAR(qRed(corner), 0.425 * 255, 2);
    EXPECT_NEAR(qGreen(corner), 0.2125 * 255, 2);
}

// The whole framebuffer is drawn, at device pixels (run also at 200 %).
TEST(CompositionDropView, DrawsEveryDevicePixel) {
    ShownView shown(QSize(200, 150));
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    ASSERT_TRUE(view.setValue(lumivane::PlistArray{-5.0, -5.0}, "center"));  // no spot
    ASSERT_TRUE(view.setValue("", "caption"));
    view.startRendering();
    const QImage frame = view.grabRenderedFrame();
    const qreal ratio = view.devicePixelRatioF();
    ASSERT_EQ(frame.size(), QSize(qRound(200 * ratio), qRound(150 * ratio)));
    const QRgb expected = frame.pixel(frame.width() / 2, frame.height() / 2);
    EXPECT_NE(expected & 0xFFFFFF, 0u);
    for (QPoint corner : {QPoint(0, 0), QPoint(frame.width() - 1, 0), QPoint(0, frame.height() - 1),
                          QPoint(frame.width() - 1, frame.height() - 1)}) {
        EXPECT_EQ(frame.pixel(corner), expected) << corner.x() << "," << corner.y();
    }
}

TEST(CompositionDropView, AGlslErrorNamesFileAndLineAndLeavesTheViewErased) {
    ShownView shown;
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    view.startRendering();
    ASSERT_FALSE(allBlack(view.grabRenderedFrame()));

    QSignalSpy failures(&view, &CompositionDropView::compositionLoadFailed);
    EXPECT_FALSE(drop(view, testData("broken.qtz")));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures.front().at(0).toString(), testData("broken.qtz"));
    const QString reason = failures.front().at(1).toString();
    EXPECT_TRUE(reason.contains(QStringLiteral("\"") + testData("broken.qtz") + "\""))
        << reason.toStdString();
    EXPECT_TRUE(reason.contains("line 6")) << reason.toStdString();
    EXPECT_EQ(shown.delegate.canRecord, QList<bool>{false});
    EXPECT_EQ(shown.delegate.defaultPaths, QStringList{QString()});
    EXPECT_TRUE(shown.delegate.compositionFiles.isEmpty());
    EXPECT_EQ(shown.window.windowTitle(), "Lumivane");
    EXPECT_FALSE(view.isRendering());
    EXPECT_TRUE(view.inputKeys().empty());
    EXPECT_TRUE(view.compositionPath().isEmpty());
    EXPECT_FALSE(view.setValue(1.0, "level"));
    EXPECT_TRUE(allBlack(view.grabRenderedFrame()));
    // The next good drop works as if nothing had happened.
    view.startRendering();
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    EXPECT_FALSE(allBlack(view.grabRenderedFrame()));
}

TEST(CompositionDropView, PauseFreezesTimeResumeGoesOnAndStopResets) {
    ShownView shown;
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("clock.qtz")));

    QElapsedTimer sinceStart;
    sinceStart.start();
    view.startRendering();
    const double first = drawnTime(view.grabRenderedFrame());
    EXPECT_LE(first, seconds(sinceStart));
    QTest::qWait(60);
    const double running = drawnTime(view.grabRenderedFrame());
    EXPECT_GT(running, first);

    view.pauseRendering();
    EXPECT_TRUE(view.isRendering());
    EXPECT_TRUE(view.isPausedRendering());
    const QImage pausedA = view.grabRenderedFrame();
    QTest::qWait(300);
    const QImage pausedB = view.grabRenderedFrame();
    EXPECT_TRUE(sameImage(pausedA, pausedB));
    const double pausedAt = drawnTime(pausedA);
    EXPECT_GE(pausedAt, running);

    // The 300 ms spent paused do not count.
    QElapsedTimer sinceResume;
    sinceResume.start();
    view.resumeRendering();
    EXPECT_FALSE(view.isPausedRendering());
    const double resumed = drawnTime(view.grabRenderedFrame());
    EXPECT_GE(resumed, pausedAt);
    EXPECT_LE(resumed - pausedAt, seconds(sinceResume) + 0.011);

    view.stopRendering();
    EXPECT_FALSE(view.isRendering());
    EXPECT_FALSE(view.isPausedRendering());
    sinceStart.restart();
    view.startRendering();
    const double restarted = drawnTime(view.grabRenderedFrame());
    EXPECT_LE(restarted, seconds(sinceStart));
    EXPECT_LT(restarted, resumed);
}

TEST(CompositionDropView, ForwardsMouseInputOnlyWhenTheMaskSaysSo) {
    ShownView shown(QSize(200, 200));
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("mouse.qtz")));
    view.startRendering();
    const QPoint quarter(50, 50);  // from the top left: (0.25, 0.75) normalized

    view.setEventForwardingMask(0);
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, quarter);
    QRgb pixel = view.grabRenderedFrame().pixel(0, 0);
    EXPECT_EQ(pixel & 0xFFFFFF, 0u) << "input reached the composition through a zero mask";
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, quarter);

    const unsigned mouse = (1u << lumivane::NSLeftMouseDown) | (1u << lumivane::NSLeftMouseUp) |
                           (1u << lumivane::NSLeftMouseDragged);
    view.setEventForwardingMask(mouse);
    EXPECT_EQ(view.eventForwardingMask(), mouse);
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, quarter);
    pixel = view.grabRenderedFrame().pixel(0, 0);
    EXPECT_NEAR(qRed(pixel), 0.25 * 255, 2);
    EXPECT_NEAR(qGreen(pixel), 0.75 * 255, 2);
    EXPECT_NEAR(qBlue(pixel), 255 / 7.0, 2);  // left button held
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, quarter);
    pixel = view.grabRenderedFrame().pixel(0, 0);
    EXPECT_EQ(qBlue(pixel), 0);
}

TEST(CompositionDropView, ForwardsKeysAsTheirJavaScriptCodes) {
    ShownView shown(QSize(64, 64));
    ASSERT_TRUE(shown.exposed);
    CompositionDropView& view = *shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("keys.qtz")));
    view.startRendering();
    const auto held = [&] { return view.grabRenderedFrame().pixel(1, 1) & 0xFFFFFF; };

    QTest::keyPress(&view, Qt::Key_A);
    EXPECT_EQ(held(), 0u) << "keys reached the composition through a zero mask";
    QTest::keyRelease(&view, Qt::Key_A);

    view.setEventForwardingMask((1u << lumivane::NSKeyDown) | (1u << lumivane::NSKeyUp) |
                                (1u << lumivane::NSFlagsChanged));
    struct Step {
        bool press;
        Qt::Key key;
        QRgb expected;
    };
    const Step steps[] = {
        {true, Qt::Key_A, 0xFF0000},      {true, Qt::Key_Left, 0xFFFF00},
        {true, Qt::Key_Shift, 0xFFFFFF},  {false, Qt::Key_A, 0x00FFFF},
        {false, Qt::Key_Shift, 0x00FF00}, {false, Qt::Key_Left, 0x000000},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.key) + (step.press ? " down" : " up"));
        if (step.press) {
            QTest::keyPress(&view, step.key);
        } else {
            QTest::keyRelease(&view, step.key);
        }
        EXPECT_EQ(held(), step.expected);
    }
}

// Values set before the view has its own GL context (never shown yet) and
// across a move to another window (which remakes the context) are kept and
// checked exactly as later ones.
TEST(CompositionDropView, InputsSurviveUntilAndAcrossTheWidgetsContext) {
    auto* view = new CompositionDropView;
    view->setAutostartsRendering(false);
    ASSERT_TRUE(view->loadCompositionFromFile(testData("inputs.qtz")));
    EXPECT_TRUE(view->setValue(0.0, "level"));
    EXPECT_TRUE(view->setValue(lumivane::PlistArray{-5.0, -5.0}, "center"));
    EXPECT_TRUE(view->setValue("", "caption"));
    EXPECT_FALSE(view->setValue("not a number list", "tint"));
    EXPECT_FALSE(view->setValue(1.0, "nothing"));
    QString why;
    EXPECT_FALSE(view->setValue(testData("missing.png").toStdString(), "picture", &why));
    EXPECT_TRUE(why.contains("missing.png")) << why.toStdString();

    QWidget first;
    auto* layout = new QVBoxLayout(&first);
    layout->addWidget(view);
    first.resize(160, 120);
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    view->startRendering();
    // Level 0: black everywhere but nothing else drawn either.
    EXPECT_TRUE(allBlack(view->grabRenderedFrame()));
    EXPECT_EQ(view->valueForInputKey("level")->doubleValue(), 0.0);

    QWidget second;
    second.setLayout(new QVBoxLayout);
    second.layout()->addWidget(view);
    second.resize(160, 120);
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    EXPECT_EQ(view->valueForInputKey("level")->doubleValue(), 0.0);
    EXPECT_TRUE(allBlack(view->grabRenderedFrame()));
    ASSERT_TRUE(view->setValue(1.0, "level"));
    EXPECT_FALSE(allBlack(view->grabRenderedFrame()));
}

struct DragCase {
    const char* name;
    QList<QUrl> urls;
    Qt::DropActions actions;
    bool previewEnabled;
    bool accepted;
};

TEST(DropViewDrag, RefusesEverythingButOneLocalQtzWhileNoJobRuns) {
    ShownView shown;
    ASSERT_TRUE(shown.exposed);
    const QUrl one = QUrl::fromLocalFile(testData("inputs.qtz"));
    const DragCase cases[] = {
        {"one composition", {one}, Qt::CopyAction | Qt::MoveAction, true, true},
        {"two compositions",
         {one, QUrl::fromLocalFile(testData("clock.qtz"))},
         Qt::CopyAction,
         true,
         false},
        {"capital extension", {QUrl::fromLocalFile("/tmp/x.QTZ")}, Qt::CopyAction, true, false},
        {"ISF fragment shader", {QUrl::fromLocalFile("/tmp/x.fs")}, Qt::CopyAction, true, false},
        {"no extension", {QUrl::fromLocalFile("/tmp/qtz")}, Qt::CopyAction, true, false},
        {"remote file", {QUrl("https://example.com/x.qtz")}, Qt::CopyAction, true, false},
        {"no copy offered", {one}, Qt::MoveAction | Qt::LinkAction, true, false},
        {"render job running", {one}, Qt::CopyAction, false, false},
        {"no files", {}, Qt::CopyAction, true, false},
    };
    for (const DragCase& c : cases) {
        SCOPED_TRACE(c.name);
        shown.delegate.m_preview.setEnabled(c.previewEnabled);
        QMimeData mime;
        if (!c.urls.isEmpty()) mime.setUrls(c.urls);
        QDragEnterEvent enter(QPoint(10, 10), c.actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(shown.view, &enter);
        EXPECT_EQ(enter.isAccepted(), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
        }
    }
}

TEST(DropViewDrag, ADroppedCompositionIsShownAndReportedToTheDelegate) {
    QTemporaryDir folder;
    const QString path = folder.filePath("clip.v2.qtz");
    ASSERT_TRUE(QFile::copy(testData("inputs.qtz"), path));
    for (bool previewOn : {true, false}) {
        SCOPED_TRACE(previewOn ? "Preview on" : "Preview off");
        ShownView shown;
        ASSERT_TRUE(shown.exposed);
        CompositionDropView& view = *shown.view;
        view.startRendering();
        const QImage idle = view.grabRenderedFrame();
        shown.delegate.m_preview.setChecked(previewOn);

        EXPECT_TRUE(drop(view, path));
        EXPECT_EQ(view.compositionPath(), path);
        EXPECT_EQ(view.maxRenderingFrameRate(), 12.0);
        EXPECT_EQ(shown.delegate.compositionFiles, QStringList{path});
        EXPECT_EQ(shown.delegate.canRecord, QList<bool>{true});
        EXPECT_EQ(shown.delegate.defaultPaths, QStringList{folder.filePath("clip.v2.mov")});
        EXPECT_EQ(shown.window.windowTitle(), "Lumivane - clip.v2.qtz");
        EXPECT_EQ(view.isRendering(), previewOn);
        const QImage after = view.grabRenderedFrame();
        if (previewOn) {
            EXPECT_FALSE(sameImage(idle, after));
            EXPECT_FALSE(allBlack(after));
        } else {
            EXPECT_TRUE(allBlack(after)) << "a stopped view shows the erased frame";
        }
    }
}

}  // namespace
