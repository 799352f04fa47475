#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

#include "ViewTestSupport.h"
#include "app/view/ParameterView.h"

namespace {

using lumivane::PlistArray;
using lumivane::PlistValue;

// The preview beside its parameter editors, as the main window holds them.
struct Editing {
    Editing() {
        auto* splitter = new QSplitter(&shown.window);
        shown.window.layout()->addWidget(splitter);
        splitter->addWidget(shown.view);
        splitter->addWidget(parameters);
        splitter->setStretchFactor(0, 1);
        shown.window.resize(760, 420);
    }
    template <class T>
    T* editor(const char* name) {
        return parameters->findChild<T*>(QString::fromLatin1(name));
    }

    ShownView shown;
    ParameterView* parameters = new ParameterView;
};

QStringList rowLabels(const ParameterView& parameters) {
    QStringList labels;
    const auto* form = parameters.findChild<QFormLayout*>();
    for (int row = 0; form && row < form->rowCount(); ++row) {
        const QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
        if (const auto* label = item ? qobject_cast<QLabel*>(item->widget()) : nullptr)
            labels << label->text();
    }
    return labels;
}

double component(const std::optional<PlistValue>& value, size_t i) {
    return value && value->asArray() && value->asArray()->size() > i
               ? (*value->asArray())[i].doubleValue()
               : -1;
}

TEST(ParameterView, ListsEveryEditableInputInHeaderOrder) {
    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    ParameterView& parameters = *editing.parameters;
    EXPECT_EQ(parameters.objectName(), "parameterView");

    parameters.setCompositionRenderer(editing.shown.view);  // the idle composition
    EXPECT_TRUE(parameters.hasParameters());
    ASSERT_TRUE(editing.shown.view->loadCompositionFromFile(testData("clock.qtz")));
    EXPECT_FALSE(parameters.hasParameters()) << "not rebuilt for the new composition";

    ASSERT_TRUE(editing.shown.view->loadCompositionFromFile(testData("inputs.qtz")));
    EXPECT_TRUE(parameters.hasParameters());
    EXPECT_EQ(rowLabels(parameters),
              (QStringList{"Level:", "gain:", "invert:", "mode:", "count:", "caption:", "tint:",
                           "center:", "flash:", "picture:"}));
    // Editors start from the composition's values.
    EXPECT_EQ(editing.editor<QSlider>("level.slider")->value(), 500);
    EXPECT_DOUBLE_EQ(editing.editor<QDoubleSpinBox>("level.field")->value(), 0.5);
    EXPECT_DOUBLE_EQ(editing.editor<QDoubleSpinBox>("gain.field")->value(), 1.0);
    EXPECT_EQ(editing.editor<QComboBox>("mode.menu")->currentText(), "Flat");
    EXPECT_EQ(editing.editor<QSpinBox>("count.field")->value(), 3);
    EXPECT_EQ(editing.editor<QSpinBox>("count.field")->maximum(), 9);
    EXPECT_EQ(editing.editor<QLineEdit>("caption.field")->text(), "Hi");
    EXPECT_DOUBLE_EQ(editing.editor<QDoubleSpinBox>("center.y")->value(), 0.5);

    // Values set on the view elsewhere show in the editors.
    ASSERT_TRUE(editing.shown.view->setValue(2, "mode"));
    EXPECT_EQ(editing.editor<QComboBox>("mode.menu")->currentText(), "Rings");
}

struct EditCase {
    const char* name;
    std::function<void(Editing&)> edit;
    std::function<bool(CompositionDropView&)> applied;
};

TEST(ParameterView, EveryEditorChangesTheInputAndThePreview) {
    QTemporaryDir folder;
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(QColor(10, 20, 240));
    const QString picturePath = folder.filePath("picture.png");
    ASSERT_TRUE(picture.save(picturePath));

    const EditCase cases[] = {
        {"slider to its end",
         [](Editing& e) { QTest::keyClick(e.editor<QSlider>("level.slider"), Qt::Key_End); },
         [](CompositionDropView& v) { return v.valueForInputKey("level")->doubleValue() == 1.0; }},
        {"number typed",
         [](Editing& e) {
             auto* field = e.editor<QDoubleSpinBox>("gain.field");
             field->selectAll();
             QTest::keyClicks(field, "0.5");
         },
         [](CompositionDropView& v) { return v.valueForInputKey("gain")->doubleValue() == 0.5; }},
        {"check box clicked",
         [](Editing& e) { QTest::keyClick(e.editor<QCheckBox>("invert.check"), Qt::Key_Space); },
         [](CompositionDropView& v) { return v.valueForInputKey("invert")->boolValue(); }},
        {"menu item chosen",
         [](Editing& e) { QTest::keyClick(e.editor<QComboBox>("mode.menu"), Qt::Key_Down); },
         [](CompositionDropView& v) { return v.valueForInputKey("mode")->intValue() == 1; }},
        {"index stepped",
         [](Editing& e) { QTest::keyClick(e.editor<QSpinBox>("count.field"), Qt::Key_Up); },
         [](CompositionDropView& v) { return v.valueForInputKey("count")->intValue() == 4; }},
        {"text typed",
         [](Editing& e) { QTest::keyClicks(e.editor<QLineEdit>("caption.field"), "gh"); },
         [](CompositionDropView& v) {
             return v.valueForInputKey("caption")->stringValue() == "High";
         }},
        {"colour chosen with alpha",
         [](Editing& e) {
             QTest::mouseClick(e.editor<QPushButton>("tint.button"), Qt::LeftButton);
             auto* dialog = e.parameters->findChild<QColorDialog*>("tint.dialog");
             ASSERT_NE(dialog, nullptr);
             EXPECT_TRUE(dialog->testOption(QColorDialog::ShowAlphaChannel));
             dialog->setCurrentColor(QColor(0, 0, 255, 128));
             dialog->accept();
         },
         [](CompositionDropView& v) {
             const auto tint = v.valueForInputKey("tint");
             return component(tint, 2) == 1.0 && std::abs(component(tint, 3) - 128 / 255.0) < 1e-3;
         }},
        {"point moved",
         [](Editing& e) {
             auto* x = e.editor<QDoubleSpinBox>("center.x");
             x->selectAll();
             QTest::keyClicks(x, "0.2");
         },
         [](CompositionDropView& v) {
             return std::abs(component(v.valueForInputKey("center"), 0) - 0.2) < 1e-9;
         }},
        {"image chosen",
         [&picturePath](Editing& e) {
             QTest::mouseClick(e.editor<QPushButton>("picture.choose"), Qt::LeftButton);
             auto* dialog = e.parameters->findChild<QFileDialog*>("picture.dialog");
             ASSERT_NE(dialog, nullptr);
             dialog->selectFile(picturePath);
             static_cast<QDialog*>(dialog)->accept();  // what its Open button does
             EXPECT_EQ(e.editor<QLabel>("picture.file")->text(), "picture.png");
         },
         [&picturePath](CompositionDropView& v) {
             return v.valueForInputKey("picture")->stringValue() == picturePath.toStdString();
         }},
    };

    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    CompositionDropView& view = *editing.shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    editing.parameters->setCompositionRenderer(&view);
    // Paused: a frame is drawn only for an edit, so each grab shows that edit.
    view.startRendering();
    view.pauseRendering();
    QImage before = view.grabRenderedFrame();
    for (const EditCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.edit(editing);
        EXPECT_TRUE(c.applied(view));
        const QImage after = view.grabRenderedFrame();
        EXPECT_FALSE(sameImage(before, after)) << "the preview did not change";
        before = after;
    }
}

TEST(ParameterView, AnEventFiresForOneFrame) {
    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    CompositionDropView& view = *editing.shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    editing.parameters->setCompositionRenderer(&view);
    view.startRendering();
    view.pauseRendering();
    const QImage before = view.grabRenderedFrame();
    QTest::mouseClick(editing.editor<QPushButton>("flash.button"), Qt::LeftButton);
    EXPECT_TRUE(view.valueForInputKey("flash")->boolValue());
    const QImage flashed = view.grabRenderedFrame();
    EXPECT_EQ(flashed.pixel(flashed.width() / 8, flashed.height() / 2), qRgb(255, 255, 255));
    EXPECT_FALSE(view.valueForInputKey("flash")->boolValue());
    EXPECT_FALSE(sameImage(before, flashed));
}

TEST(ParameterView, AnUnreadableImageIsRefusedAndSaysWhy) {
    QTemporaryDir folder;
    const QString notAnImage = folder.filePath("notes.png");
    QFile file(notAnImage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();

    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    CompositionDropView& view = *editing.shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    editing.parameters->setCompositionRenderer(&view);
    QTest::mouseClick(editing.editor<QPushButton>("picture.choose"), Qt::LeftButton);
    auto* dialog = editing.parameters->findChild<QFileDialog*>("picture.dialog");
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(notAnImage);
    static_cast<QDialog*>(dialog)->accept();
    EXPECT_FALSE(view.valueForInputKey("picture").has_value());
    auto* label = editing.editor<QLabel>("picture.file");
    EXPECT_EQ(label->text(), "Cannot read this image");
    EXPECT_TRUE(label->toolTip().contains("notes.png")) << label->toolTip().toStdString();
    // The engine's reason also shows beside the editor.
    auto* problem = editing.editor<QLabel>("picture.problem");
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(problem->text().contains("notes.png")) << problem->text().toStdString();
}

// Drops a local file on a widget as a file manager would.
void dropFile(QWidget* target, const QString& path) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

// A movie dropped on the image editor plays in the preview at the preview's
// time and goes to the render job; a file that cannot play changes nothing.
TEST(ParameterView, AMovieDroppedOnTheImageEditorPlaysInStep) {
    QTemporaryDir folder;
    const QString movie = folder.filePath("red then blue.mkv");
    const QString sound = folder.filePath("tone.wav");
    for (const QStringList& arguments :
         {QStringList{"-f", "lavfi", "-i", "color=c=red:s=16x16:r=10:d=1", "-f", "lavfi", "-i",
                      "color=c=blue:s=16x16:r=10:d=1", "-filter_complex", "[0][1]concat=n=2",
                      "-c:v", "ffv1", movie},
          QStringList{"-f", "lavfi", "-i", "sine=duration=0.2", sound}}) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("/usr/bin/ffmpeg"), QStringList{"-v", "error"} + arguments);
        ASSERT_TRUE(ffmpeg.waitForFinished(30000));
        ASSERT_EQ(ffmpeg.exitCode(), 0) << ffmpeg.readAllStandardError().toStdString();
    }

    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    CompositionDropView& view = *editing.shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    editing.parameters->setCompositionRenderer(&view);
    view.startRendering();
    view.pauseRendering();
    (void)view.grabRenderedFrame();  // the erase that loading asked for
    QWidget* editor = editing.editor<QWidget>("picture");
    dropFile(editor, movie);
    EXPECT_EQ(editing.editor<QLabel>("picture.file")->text(), "red then blue.mkv");
    EXPECT_EQ(view.valueForInputKey("picture")->stringValue(), movie.toStdString());
    const lumivane::PlistDict values = view.propertyListFromInputValues();
    const lumivane::PlistValue* handed = values.find("picture");
    ASSERT_NE(handed, nullptr);
    EXPECT_EQ(handed->stringValue(), movie.toStdString());
    // The picture fills the lowest quarter of the preview.
    const auto bottom = [&view] {
        const QImage frame = view.grabRenderedFrame();
        return QColor(frame.pixel(frame.width() / 2, frame.height() - 4));
    };
    EXPECT_GT(bottom().red(), 200) << "the first second is red";
    view.resumeRendering();
    QTest::qWait(1300);
    view.pauseRendering();
    EXPECT_GT(bottom().blue(), 200) << "past 1 s the movie shows blue";

    dropFile(editor, sound);
    EXPECT_EQ(view.valueForInputKey("picture")->stringValue(), movie.toStdString());
    EXPECT_EQ(editing.editor<QLabel>("picture.file")->text(), "Cannot read this image");
    auto* problem = editing.editor<QLabel>("picture.problem");
    EXPECT_FALSE(problem->isHidden());
    EXPECT_TRUE(problem->text().contains("has no video stream")) << problem->text().toStdString();
    EXPECT_GT(bottom().blue(), 200) << "the movie still plays";
}

// A picture of the window for people to look at, at the scale the run uses.
TEST(ParameterView, WindowScreenshot) {
    Editing editing;
    ASSERT_TRUE(editing.shown.exposed);
    CompositionDropView& view = *editing.shown.view;
    ASSERT_TRUE(view.loadCompositionFromFile(testData("inputs.qtz")));
    editing.parameters->setCompositionRenderer(&view);
    view.startRendering();
    QTest::qWait(200);
    const QImage window = editing.shown.window.grab().toImage();
    const QString folder = QStringLiteral(LUMIVANE_BINARY_DIR "/tests/screenshots");
    QDir().mkpath(folder);
    const QString name =
        QStringLiteral("/preview-and-parameters-%1x.png").arg(view.devicePixelRatioF());
    EXPECT_TRUE(window.save(folder + name));
    // The preview's pixels are in the window's picture.
    const QPoint inside =
        view.mapTo(&editing.shown.window, view.rect().center() / 2) * view.devicePixelRatioF();
    EXPECT_NE(window.pixel(inside) & 0xFFFFFF, 0u);
}

}  // namespace
