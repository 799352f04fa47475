// What the recording tests share: a composition copied into a fresh folder
// (its recording is written beside it), and the shown Record Input window.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "app/recording/LCDText.h"
#include "app/recording/RecordInputView.h"
#include "app/recording/RecordInputWindow.h"

inline QString sourceComposition(const QString& name) {
    return QStringLiteral(LUMIVANE_SOURCE_DIR "/resources/compositions/") + name;
}

// A copy of an example composition in a folder of its own.
struct CompositionCopy {
    explicit CompositionCopy(const QString& name) : path(folder.filePath(name)) {
        copied = QFile::copy(sourceComposition(name), path);
    }
    QString recordingPath() const {
        return path.left(path.lastIndexOf('.')) + QStringLiteral(".QCRecording");
    }
    QTemporaryDir folder;
    QString path;
    bool copied = false;
};

// A Record Input window of its own (no main window), shown, with a
// composition set and reset as the controller does before showing it.
struct ShownRecordInput {
    explicit ShownRecordInput(const QString& compositionPath) {
        window.setCompositionFile(compositionPath);
        window.window()->show();
        exposed = QTest::qWaitForWindowExposed(window.window());
        window.reset();
        // The first frame's deferred mode switch.
        QCoreApplication::processEvents();
    }

    template <typename T>
    T* find(const char* name) const {
        T* object = window.window()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(object, nullptr) << name;
        return object;
    }
    QString text(const char* field) const { return find<LCDText>(field)->text(); }
    bool enabled(const char* control) const { return find<QWidget>(control)->isEnabled(); }
    void click(const char* button) const { find<QPushButton>(button)->click(); }
    RecordInputView* view() const { return window.inputView(); }

    RecordInputWindow window;
    bool exposed = false;
};

// The window-modal sheet of that name, once it shows.
inline QMessageBox* openSheet(const RecordInputWindow& window, const char* name) {
    QMessageBox* sheet = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        sheet = window.window()->findChild<QMessageBox*>(QString::fromLatin1(name));
        return sheet && sheet->isVisible();
    });
    return shown ? sheet : nullptr;
}

inline QAbstractButton* sheetButton(QMessageBox* sheet, const QString& text) {
    for (QAbstractButton* button : sheet->buttons())
        if (button->text() == text) return button;
    return nullptr;
}
