// Flows through the real window as a person meets them: jobs that cannot
// make their output are refused before anything is written and say why, a
// renderer's own failure shows its reason, and the previews keep the output's
// proportions. Runs under Xvfb.
#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

#include "LaunchedWindow.h"
#include "app/job/DockIcon.h"
#include "app/recording/RecordInputView.h"
#include "app/recording/RecordInputWindow.h"
#include "app/view/AspectRatioFrame.h"
#include "app/view/CompositionDropView.h"
#include "app/view/PathField.h"
#include "platform/media/CodecRegistry.h"

namespace {

QString testData(const char* name) {
    return QStringLiteral(LUMIVANE_SOURCE_DIR "/tests/app/data/") + QString::fromLatin1(name);
}

// The four-character code of the registry's DV codec; empty without one.
QString dvCode() {
    for (const lumivane::CodecInfo& codec : lumivane::offeredCodecs())
        if (codec.encoder == "dvvideo") return QString::fromStdString(codec.fourcc);
    return {};
}

// A first launch: no choice of an earlier run applies.
void clearDefaults() {
    QSettings settings;
    settings.clear();
    settings.setValue("disableQualityWarning", true);
    settings.sync();
}

class WindowFlows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

// The status line's whole text: the line itself, or its tool tip where the
// line had to be cut.
QString wholeStatus(const LaunchedWindow& app) {
    const QLabel* status = app.find<QLabel>("statusText");
    return status->toolTip().isEmpty() ? status->text() : status->toolTip();
}

bool idle(const LaunchedWindow& app) {
    return app.find<QAbstractButton>("startRecording")->text() == "Record" &&
           app.find<QWidget>("codec")->isEnabled() && !app.controller->renderJob();
}

}  // namespace

TEST_F(WindowFlows, JobsThatCannotSucceedSayWhyAndWriteNothing) {
    struct Case {
        const char* name;
        std::function<void(LaunchedWindow&)> arrange;
        QString output;
        bool starts;     // the renderer is launched (the failure is its own)
        QString status;  // what the line begins with
        QString reason;  // what the reason holds
    };
    const QString dv = dvCode();
    const Case cases[] = {
        {"no whole frame",
         [](LaunchedWindow& app) {
             app.type("framerate", "30");
             app.type("movieDuration", "0.01");
         },
         file("empty.mov"), false, "Nothing to render: 0.01 s at 30 frames per second", ""},
        {"a size the codec cannot take",
         [&](LaunchedWindow& app) { app.chooseByKeys("codec", app.codecEntry(dv)); },
         file("dv.mov"), false, "", "takes only DV's frame sizes"},
        {"a folder that does not exist", [](LaunchedWindow&) {}, file("missing/out.mov"), false,
         "The folder \u201cmissing\u201d does not exist", ""},
        {"a composition the renderer cannot load",
         [&](LaunchedWindow& app) {
             const QString gone = file("gone.qtz");
             ASSERT_TRUE(QFile::copy(testData("settings.qtz"), gone));
             ASSERT_TRUE(app.controller->openFile(gone));
             ASSERT_TRUE(QFile::remove(gone));
         },
         file("never.mov"), true, "Failed to load the Composition: ", "gone.qtz"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        if (QString(test.name).contains("codec") && dv.isEmpty()) continue;  // no DV here
        clearDefaults();
        LaunchedWindow app(QStringLiteral(LUMIVANE_BINARY_DIR "/bin/LumivaneCLI"));
        ASSERT_TRUE(app.exposed);
        ASSERT_TRUE(app.controller->openFile(testData("settings.qtz")));
        app.type("width", "640");
        app.type("height", "480");
        test.arrange(app);
        app.find<QLineEdit>("moviePath")->setText(test.output);
        app.click("startRecording");
        EXPECT_EQ(app.controller->renderJob() != nullptr, test.starts);
        if (test.starts) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return idle(app); }, 60000));
        }
        EXPECT_TRUE(idle(app));
        EXPECT_TRUE(wholeStatus(app).startsWith(test.status)) << wholeStatus(app).toStdString();
        EXPECT_TRUE(wholeStatus(app).contains(test.reason)) << wholeStatus(app).toStdString();
        EXPECT_FALSE(QFileInfo::exists(test.output));
        EXPECT_FALSE(app.controller->dockIcon()->isWorking());
        EXPECT_TRUE(app.find<QWidget>("startRecording")->isEnabled());
    }
}

// Checks layout: runs at 100 % and 200 %.
TEST(PreviewProportions, FollowTheOutputSize) {
    clearDefaults();
    LaunchedWindow app;
    ASSERT_TRUE(app.exposed);
    LaunchedWindow::screenshot(app.controller->window(), QStringLiteral("main-window-idle"));
    ASSERT_TRUE(app.controller->openFile(testData("inputs.qtz")));
    const QSize sizes[] = {{640, 480}, {1280, 720}, {320, 240}, {400, 1000}};
    const auto expectProportions = [](const QWidget* view, const QSize& output) {
        const QWidget* frame = view->parentWidget();
        ASSERT_NE(frame, nullptr);
        // Within a pixel of the output's proportions, centred, touching two
        // opposite edges of the frame.
        EXPECT_LE(std::abs(view->width() * output.height() - view->height() * output.width()),
                  std::max(output.width(), output.height()))
            << view->width() << "x" << view->height();
        EXPECT_LE(std::abs(view->x() * 2 + view->width() - frame->width()), 1);
        EXPECT_LE(std::abs(view->y() * 2 + view->height() - frame->height()), 1);
        EXPECT_TRUE(view->width() == frame->width() || view->height() == frame->height());
    };
    for (const QSize& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        app.type("width", QString::number(size.width()));
        app.type("height", QString::number(size.height()));
        QCoreApplication::processEvents();
        expectProportions(app.controller->dropView(), size);
    }

    // The Record Input view shows the same proportions.
    app.click("startRecordingInput");
    RecordInputWindow* input = app.controller->recordInputWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(input->window()));
    expectProportions(input->inputView(), sizes[3]);
    input->done(nullptr);
    app.type("width", "320");
    app.type("height", "240");
    app.click("startRecordingInput");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(input->window()));
    expectProportions(input->inputView(), QSize(320, 240));
    LaunchedWindow::screenshot(input->window(), QStringLiteral("record-input-window"));
    input->done(nullptr);
}

TEST_F(WindowFlows, SmallThingsAPersonMeets) {
    clearDefaults();
    LaunchedWindow app;
    ASSERT_TRUE(app.exposed);
    // H.261 and H.263 stay out of the menu whatever case the registry writes
    // their codes in.
    auto* codec = app.find<QComboBox>("codec");
    for (int i = 0; i < codec->count(); ++i) {
        const QString code = codec->itemData(i, Qt::ToolTipRole).toString().toLower();
        EXPECT_NE(code, "h261");
        EXPECT_NE(code, "h263");
    }

    // A long output path shows its start and its file name; the tool tip
    // holds it whole.
    const QString longPath = QStringLiteral(
        "/home/someone/projects/2026/a-client-with-a-long-name/shots/final/renders/take-12.mov");
    auto* field = app.find<PathField>("moviePath");
    field->setText(longPath);
    codec->setFocus();
    EXPECT_EQ(field->toolTip(), longPath);
    const QString shown = field->displayedText();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("/home")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("take-12.mov")) << shown.toStdString();

    // Every slider and number field of the drawer is named by its row.
    ASSERT_TRUE(app.controller->openFile(testData("inputs.qtz")));
    QWidget* drawer = app.find<QWidget>("parameterView");
    int named = 0;
    for (QWidget* control : drawer->findChildren<QWidget*>()) {
        const bool editor =
            (qobject_cast<QAbstractSlider*>(control) && !qobject_cast<QScrollBar*>(control)) ||
            qobject_cast<QAbstractSpinBox*>(control);
        if (!editor) continue;
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
        ++named;
    }
    EXPECT_GT(named, 2);
}
