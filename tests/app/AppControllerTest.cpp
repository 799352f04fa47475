// The controller through its real window: launch and user defaults, size
// presets, output paths, slider labels, control states, slowdown warnings and
// opening compositions. The window holds the GL preview, so this runs under
// Xvfb.
#include "LaunchedWindow.h"
#include "app/controller/AppController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "app/recording/RecordInputWindow.h"
#include "app/view/CompositionDropView.h"
#include "app/view/ParameterView.h"
#include "shared/RecordedEvents.h"

namespace {

QString composition(const char* name) {
    return QStringLiteral(LUMIVANE_SOURCE_DIR "/resources/compositions/") + name;
}
QString testComposition(const char* name) {
    return QStringLiteral(LUMIVANE_SOURCE_DIR "/tests/app/data/") + name;
}

// Answers each application-modal alert that opens while it lives: notes its
// informative text, ticks "do not show again" when asked, presses OK.
class AlertAnswerer : public QObject {
public:
    explicit AlertAnswerer(bool tick) : tickSuppression(tick) {
        connect(&m_timer, &QTimer::timeout, this, &AlertAnswerer::answer);
        m_timer.start(20);
    }
    QStringList informativeTexts;
    bool tickSuppression;

private:
    void answer() {
        auto* alert = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!alert || !alert->isVisible()) return;
        informativeTexts << alert->informativeText();
        if (tickSuppression && alert->checkBox()) alert->checkBox()->setChecked(true);
        alert->button(QMessageBox::Ok)->click();
    }
    QTimer m_timer;
};

using Launch = LaunchedWindow;

class AppControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        QSettings settings;
        settings.clear();
        settings.sync();
    }
};

TEST_F(AppControllerTest, FirstLaunchSeedsDefaultsAndASecondKeepsEdits) {
    struct Seed {
        const char* key;
        double value;
        const char* field;
        const char* shown;
    };
    const Seed seeds[] = {
        {"duration", 10.0, "movieDuration", "10.00"}, {"frameRate", 30.0, "framerate", "30.00"},
        {"movieWidth", 640.0, "width", "640"},        {"movieHeight", 480.0, "height", "480"},
        {"timeOffset", 0.0, "startTime", "0.00"},     {"timeScale", 1.0, "timeScale", "1.00"}};
    {
        Launch first;
        ASSERT_TRUE(first.exposed);
        EXPECT_EQ(first.controller->window()->windowTitle(), "Lumivane v" LUMIVANE_VERSION);
        QSettings settings;
        for (const Seed& seed : seeds) {
            SCOPED_TRACE(seed.key);
            EXPECT_DOUBLE_EQ(settings.value(seed.key).toDouble(), seed.value);
            EXPECT_EQ(first.find<QLineEdit>(seed.field)->text(), seed.shown);
        }
        for (const char* unseeded : {"selectedPreset", "selectedQuality", "selectedCodec",
                                     "disableQualityWarning", "disableAAWarning"})
            EXPECT_FALSE(settings.contains(unseeded)) << unseeded;
        first.type("framerate", "24");
        first.type("movieDuration", "");  // no number: the key goes, the default shows
        EXPECT_EQ(first.find<QLineEdit>("movieDuration")->text(), "10.00");
        EXPECT_FALSE(QSettings().contains("duration"));
    }
    Launch second;
    QSettings settings;
    EXPECT_DOUBLE_EQ(settings.value("frameRate").toDouble(), 24.0);
    EXPECT_EQ(second.find<QLineEdit>("framerate")->text(), "24.00");
    EXPECT_DOUBLE_EQ(settings.value("duration").toDouble(), 10.0);
    EXPECT_DOUBLE_EQ(settings.value("movieWidth").toDouble(), 640.0);
}

TEST_F(AppControllerTest, PresetsSetTheSizeAndTypingASizeSelectsCustom) {
    Launch app;
    QComboBox* preset = app.find<QComboBox>("renderPreset");
    ASSERT_EQ(preset->count(), 10);
    app.choose("renderPreset", 7);
    EXPECT_EQ(app.find<QLineEdit>("width")->text(), "1280");
    EXPECT_EQ(app.find<QLineEdit>("height")->text(), "720");
    EXPECT_EQ(QSettings().value("movieWidth").toInt(), 1280);

    app.type("width", "1000");
    EXPECT_EQ(preset->currentIndex(), 9);
    EXPECT_EQ(QSettings().value("selectedPreset").toInt(), 9);
    EXPECT_EQ(QSettings().value("movieWidth").toInt(), 1000);

    app.choose("renderPreset", 9);
    EXPECT_EQ(app.find<QLineEdit>("width")->text(), "1000");
    EXPECT_EQ(app.find<QLineEdit>("height")->text(), "720");

    // Clamped on commit, like every formatted field.
    app.type("height", "9");
    EXPECT_EQ(app.find<QLineEdit>("height")->text(), "16");
}

TEST(AppControllerPaths, OutputPathFollowsTheOutputType) {
    struct Case {
        const char* path;
        const char* type;
        const char* expected;
        const char* extension = "mov";
    };
    const Case cases[] = {
        {"/tmp/a.mov", "public.jpeg", "/tmp/a/"},
        {"/tmp/a/", "avc1", "/tmp/a.mov"},
        {"clip/", "mp4v", "clip.mov"},
        {"/tmp/a.mov", "avc1", "/tmp/a.mov"},
        {"/tmp/a", "public.png", "/tmp/a"},
        {"/tmp/a.mov/", "public.tiff", "/tmp/a/"},
        {"/tmp/a.png", "avc1", "/tmp/a.png.mov"},
        {"/tmp/take.v2/clip", "avc1", "/tmp/take.v2/clip.mov"},
        {"/tmp/a.mov", "public.jpeg-2000", "/tmp/a/"},
        {"/tmp/a.mov", "com.ilm.openexr-image", "/tmp/a/"},
        {"", "public.jpeg", ""},
        {"", "avc1", ""},
        {"/tmp/a.mov", "avc1", "/tmp/a.mp4", "mp4"},
        {"/tmp/a.WEBM", "gif ", "/tmp/a.gif", "gif"},
        {"/tmp/a.gif", "public.png", "/tmp/a/"},
        {"/tmp/a.png", "webp", "/tmp/a.png.webp", "webp"},
        {"/tmp/a/", "vp09", "/tmp/a.webm", "webm"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AppController::pathForOutputType(c.path, c.type, c.extension), c.expected)
            << c.path << " " << c.type;
}

TEST_F(AppControllerTest, ChoosingACodecAdjustsThePath) {
    Launch app;
    QLineEdit* path = app.find<QLineEdit>("moviePath");
    const int jpeg = app.codecEntry("public.jpeg");
    const int h264 = app.codecEntry("avc1");
    ASSERT_GE(jpeg, 0);
    ASSERT_GE(h264, 0);
    path->setText("/tmp/a.mov");
    app.choose("codec", jpeg);
    EXPECT_EQ(path->text(), "/tmp/a/");
    app.choose("codec", h264);
    EXPECT_EQ(path->text(), "/tmp/a.mov");
    EXPECT_EQ(QSettings().value("selectedCodec").toInt(), h264);
    // The containers' entries give the file their extension.
    const int gif = app.find<QComboBox>("codec")->findText("GIF Animation");
    ASSERT_GE(gif, 0);
    app.choose("codec", gif);
    EXPECT_EQ(path->text(), "/tmp/a.gif");
    EXPECT_EQ(QSettings().value("selectedCodec").toInt(), gif);
    EXPECT_EQ(app.controller->selectedOutputType(), "gif ");
    app.choose("codec", h264);
    EXPECT_EQ(path->text(), "/tmp/a.mov");
    path->clear();
    app.choose("codec", jpeg);
    EXPECT_EQ(path->text(), "");
}

TEST_F(AppControllerTest, MenusComeFromTheRegistryAndStoredChoicesApplyOnlyWhenValid) {
    {
        Launch app;
        QComboBox* codec = app.find<QComboBox>("codec");
        QComboBox* quality = app.find<QComboBox>("quality");
        EXPECT_EQ(quality->count(), 6);
        EXPECT_EQ(quality->currentIndex(), 2);
        EXPECT_EQ(quality->itemText(5), "Lossless");
        EXPECT_EQ(app.controller->selectedOutputType(), "mp4v");
        for (const char* skipped : {"SVQ1", "SVQ3", "WRLE", "h261", "h263", "smc ", "tga ", "yuv2"})
            EXPECT_EQ(app.codecEntry(skipped), -1) << skipped;
        // The four sequences close the menu, after a separator.
        const int count = codec->count();
        EXPECT_EQ(codec->itemData(count - 4, Qt::ToolTipRole).toString(), "public.jpeg");
        EXPECT_EQ(codec->itemText(count - 1), "OpenEXR Sequence");
        EXPECT_EQ(codec->itemData(count - 1, Qt::ToolTipRole).toString(), "com.ilm.openexr-image");
        EXPECT_EQ(app.codecEntry("public.jpeg-2000"), -1);
    }
    struct Stored {
        int codec;
        int quality;
        bool applied;
    };
    for (const Stored& stored :
         {Stored{9999, 42, false}, Stored{-3, -1, false}, Stored{3, 4, true}}) {
        QSettings().setValue("selectedCodec", stored.codec);
        QSettings().setValue("selectedQuality", stored.quality);
        Launch app;
        QComboBox* codec = app.find<QComboBox>("codec");
        EXPECT_EQ(codec->currentIndex(), stored.applied ? stored.codec : app.codecEntry("mp4v"));
        EXPECT_EQ(app.find<QComboBox>("quality")->currentIndex(),
                  stored.applied ? stored.quality : 2);
    }
    // The separator is no choice either.
    {
        Launch probe;
        const int separator = probe.codecEntry("public.jpeg") - 1;
        QSettings().setValue("selectedCodec", separator);
    }
    Launch app;
    EXPECT_EQ(app.controller->selectedOutputType(), "mp4v");
}

TEST_F(AppControllerTest, SliderLabelsAndMotionBlurMapping) {
    Launch app;
    QSlider* motionBlur = app.find<QSlider>("motionBlur");
    QSlider* antialias = app.find<QSlider>("antialias");
    EXPECT_EQ(app.find<QLabel>("aaAmount")->text(), "1x");
    EXPECT_EQ(app.find<QLabel>("mbAmount")->text(), "1");
    struct Blur {
        double value;
        const char* label;
    };
    for (const Blur& blur :
         {Blur{0.0, "1"}, Blur{0.5, "8"}, Blur{1.0, "16"}, Blur{1.125, "17"}, Blur{2.0, "32"},
          Blur{3.0, "64"}, Blur{4.0, "128"}, Blur{0.125, "2"}}) {
        motionBlur->setValue(static_cast<int>(blur.value * AppController::kMotionBlurSteps));
        EXPECT_DOUBLE_EQ(app.controller->motionBlurValue(), blur.value);
        EXPECT_EQ(app.find<QLabel>("mbAmount")->text(), blur.label) << blur.value;
    }
    for (const Blur& aa : {Blur{4.5, "20x"}, Blur{2.0, "4x"}, Blur{8.0, "64x"}, Blur{1.5, "2x"}}) {
        antialias->setValue(static_cast<int>(aa.value * AppController::kAntialiasSteps));
        EXPECT_DOUBLE_EQ(app.controller->antialiasValue(), aa.value);
        EXPECT_EQ(app.find<QLabel>("aaAmount")->text(), aa.label) << aa.value;
    }
}

TEST_F(AppControllerTest, QualityWarningUntilSuppressed) {
    Launch app;
    {
        AlertAnswerer answerer(false);
        app.choose("quality", 5);
        app.choose("quality", 4);
        app.choose("quality", 5);
        ASSERT_EQ(answerer.informativeTexts.size(), 2);
        EXPECT_EQ(answerer.informativeTexts.first(),
                  "Rendering at Lossless quality can take much longer and makes very large files.");
    }
    EXPECT_FALSE(QSettings().value("disableQualityWarning").toBool());
    {
        AlertAnswerer answerer(true);
        app.choose("quality", 5);
        EXPECT_EQ(answerer.informativeTexts.size(), 1);
    }
    EXPECT_TRUE(QSettings().value("disableQualityWarning").toBool());
    AlertAnswerer answerer(false);
    app.choose("quality", 5);
    Launch later;
    later.choose("quality", 5);
    EXPECT_TRUE(answerer.informativeTexts.isEmpty());
    EXPECT_EQ(QSettings().value("selectedQuality").toInt(), 5);
}

TEST_F(AppControllerTest, AntialiasWarnsOnReleaseAboveFourOnly) {
    Launch app;
    QSlider* antialias = app.find<QSlider>("antialias");
    AlertAnswerer answerer(false);
    auto release = [&] {
        QTest::mouseRelease(antialias, Qt::LeftButton, {}, antialias->rect().center());
        QCoreApplication::processEvents();
    };
    antialias->setValue(9);  // 4.5 while dragging: no warning yet
    QCoreApplication::processEvents();
    EXPECT_TRUE(answerer.informativeTexts.isEmpty());
    release();
    ASSERT_EQ(answerer.informativeTexts.size(), 1);
    EXPECT_TRUE(answerer.informativeTexts.first().startsWith("Anti-aliasing above 4"));
    antialias->setValue(8);  // exactly 4.0
    release();
    EXPECT_EQ(answerer.informativeTexts.size(), 1);
    EXPECT_EQ(antialias->value(), 8);  // the value stays as chosen
    answerer.tickSuppression = true;
    antialias->setValue(16);
    release();
    ASSERT_EQ(answerer.informativeTexts.size(), 2);
    EXPECT_TRUE(QSettings().value("disableAAWarning").toBool());
    release();
    EXPECT_EQ(answerer.informativeTexts.size(), 2);
}

TEST_F(AppControllerTest, ControlStatesAroundARender) {
    Launch app;
    const char* disabledWhileRendering[] = {
        "previewEnabled", "movieDuration", "framerate",    "quality",
        "codec",          "width",         "height",       "moviePath",
        "antialias",      "motionBlur",    "browseButton", "toggleDrawer",
        "renderPreset",   "startTime",     "timeScale",    "startRecordingInput"};
    auto* record = app.find<QPushButton>("startRecording");
    EXPECT_FALSE(record->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("startRecordingInput")->isEnabled());
    EXPECT_FALSE(app.find<QProgressBar>("encodeProgress")->isVisible());

    // A pending edit is committed before its field goes.
    QLineEdit* framerate = app.find<QLineEdit>("framerate");
    framerate->setFocus();
    framerate->selectAll();
    QTest::keyClicks(framerate, "12.5");
    for (int round = 0; round < 2; ++round) {
        app.controller->disableControls();
        for (const char* name : disabledWhileRendering)
            EXPECT_FALSE(app.find<QWidget>(name)->isEnabled()) << name;
        EXPECT_EQ(record->text(), "Cancel");
        EXPECT_TRUE(app.find<QProgressBar>("encodeProgress")->isVisible());
        EXPECT_TRUE(app.find<QProgressBar>("progress")->isVisible());
    }
    EXPECT_DOUBLE_EQ(QSettings().value("frameRate").toDouble(), 12.5);
    EXPECT_EQ(framerate->text(), "12.50");
    // No composition changes while rendering.
    EXPECT_FALSE(app.controller->openFile(composition("demo.qtz")));

    app.find<QLabel>("statusText")->setText("Complete");
    for (int round = 0; round < 2; ++round) {
        app.controller->enableControls();
        for (const char* name : disabledWhileRendering) {
            const bool enabled = QByteArray(name) != "startRecordingInput";
            EXPECT_EQ(app.find<QWidget>(name)->isEnabled(), enabled) << name;
        }
        EXPECT_EQ(record->text(), "Record");
        EXPECT_EQ(app.find<QLabel>("statusText")->text(), "");
        EXPECT_FALSE(app.find<QProgressBar>("encodeProgress")->isVisible());
        EXPECT_FALSE(app.find<QProgressBar>("progress")->isVisible());
    }
}

// The preview and the Record Input view hear the Soundtrack field's file:
// the probe composition draws its audio image's width over 4096 at the top
// (2048 samples while it hears, the 1 x 1 of silence otherwise).
TEST_F(AppControllerTest, PreviewsHearTheSoundtrackField) {
    QTemporaryDir dir;
    const QString tone = dir.filePath("tone.wav");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/usr/bin/ffmpeg"),
                                {"-v", "error", "-f", "lavfi", "-i", "sine=f=440:d=1", tone}),
              0);
    Launch app;
    ASSERT_TRUE(app.exposed);
    ASSERT_TRUE(app.controller->openFile(
        QStringLiteral(LUMIVANE_SOURCE_DIR "/tests/cli/data/listens.qtz")));
    const auto width = [](CompositionDropView* view) {
        return qRed(view->grabRenderedFrame().pixel(0, 0));
    };
    CompositionDropView* preview = app.controller->dropView();
    EXPECT_EQ(width(preview), 0);
    app.find<QLineEdit>("soundtrack")->setText(tone);
    EXPECT_TRUE(QTest::qWaitFor([&] { return width(preview) == 128; }, 5000)) << width(preview);
    app.click("startRecordingInput");
    RecordInputWindow* input = app.controller->recordInputWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(input->window()));
    EXPECT_EQ(width(input->inputView()), 128);
    input->done(nullptr);
    app.find<QLineEdit>("soundtrack")->clear();
    EXPECT_TRUE(QTest::qWaitFor([&] { return width(preview) == 0; }, 5000)) << width(preview);
    EXPECT_EQ(width(input->inputView()), 0);
}

TEST_F(AppControllerTest, OpeningCompositionsFillsTheDrawerAndProposesOutput) {
    Launch app;
    ASSERT_TRUE(app.exposed);
    CompositionDropView* view = app.controller->dropView();
    auto* preview = app.find<QCheckBox>("previewEnabled");
    auto* drawer = app.find<QDockWidget>("parameterDrawer");
    auto* toggle = app.find<QPushButton>("toggleDrawer");
    auto* label = app.find<QLabel>("noParametersLabel");

    // The idle composition keeps running whatever Preview says.
    preview->click();
    EXPECT_TRUE(view->isRendering());
    EXPECT_FALSE(view->isPausedRendering());
    preview->click();

    const QString demo = composition("demo.qtz");
    ASSERT_TRUE(app.controller->openFile(demo));
    EXPECT_EQ(app.controller->window()->windowTitle(), "Lumivane v" LUMIVANE_VERSION " - demo.qtz");
    EXPECT_EQ(app.controller->compositionFile(), demo);
    EXPECT_DOUBLE_EQ(view->maxRenderingFrameRate(), 12.0);
    EXPECT_TRUE(app.find<QPushButton>("startRecording")->isEnabled());
    EXPECT_TRUE(app.find<QPushButton>("startRecordingInput")->isEnabled());
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), composition("demo.mov"));
    EXPECT_EQ(app.find<QLineEdit>("movieDuration")->text(), "10.00");
    EXPECT_TRUE(app.find<ParameterView>("parameterView")->hasParameters());
    EXPECT_TRUE(drawer->isVisible());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(label->isHidden());

    // Preview pauses and resumes an opened composition.
    preview->click();
    EXPECT_TRUE(view->isPausedRendering());
    preview->click();
    EXPECT_FALSE(view->isPausedRendering());
    toggle->click();
    EXPECT_FALSE(drawer->isVisible());
    toggle->click();
    EXPECT_TRUE(drawer->isVisible());

    // A recording sets the duration; a sequence type proposes a directory.
    app.choose("codec", app.codecEntry("public.png"));
    double totalSec = 0;
    lumivane::RecordedEvents::recordedEventsArrayForComposition(
        composition("paint.qtz").toStdString(), &totalSec);
    ASSERT_GT(totalSec, 0.0);
    ASSERT_TRUE(app.controller->openFile(composition("paint.qtz")));
    EXPECT_EQ(app.find<QLineEdit>("movieDuration")->text(), QString::number(totalSec, 'f', 2));
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), composition("paint/"));

    ASSERT_TRUE(app.controller->openFile(testComposition("clock.qtz")));
    EXPECT_FALSE(app.find<ParameterView>("parameterView")->hasParameters());
    EXPECT_FALSE(drawer->isVisible());
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_FALSE(label->isHidden());
    EXPECT_EQ(label->text(), "This composition has no published input parameters.");

    // A composition that does not load leaves no trace of the one before: the
    // drawer and its button close, the duration is the default again, and
    // the status line names the file, with the reason as its tool tip.
    ASSERT_TRUE(app.controller->openFile(composition("paint.qtz")));
    ASSERT_TRUE(drawer->isVisible());
    EXPECT_FALSE(app.controller->openFile(testComposition("broken.qtz")));
    const QLabel* status = app.find<QLabel>("statusText");
    EXPECT_EQ(status->text(),
              "Could not open \u201c"
              "broken.qtz\u201d");
    EXPECT_TRUE(status->toolTip().contains("undeclaredColour")) << status->toolTip().toStdString();
    EXPECT_FALSE(drawer->isVisible());
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_EQ(app.find<QLineEdit>("movieDuration")->text(), "10.00");
    EXPECT_FALSE(app.find<QPushButton>("startRecording")->isEnabled());
    EXPECT_FALSE(app.find<QPushButton>("startRecordingInput")->isEnabled());
    EXPECT_TRUE(preview->isEnabled());
    // A relative path, as typed on a command line, becomes absolute.
    const QString startDirectory = QDir::currentPath();
    QDir::setCurrent(QStringLiteral(LUMIVANE_SOURCE_DIR "/resources"));
    const bool opened = app.controller->openFile("compositions/demo.qtz");
    QDir::setCurrent(startDirectory);
    ASSERT_TRUE(opened);
    EXPECT_EQ(app.controller->compositionFile(), demo);
    EXPECT_EQ(app.find<QLineEdit>("moviePath")->text(), composition("demo/"));
    EXPECT_TRUE(app.find<QPushButton>("startRecording")->isEnabled());
}

}  // namespace
