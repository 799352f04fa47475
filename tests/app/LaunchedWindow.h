// The main window as a user meets it: launched, shown, exposed, with ways to
// find its outlets by name and to type and choose as a user would.
#pragma once

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "app/controller/AppController.h"

class LaunchedWindow {
public:
    // rendererPath empty: the renderer beside the application.
    explicit LaunchedWindow(const QString& rendererPath = {}) {
        controller = std::make_unique<AppController>();
        if (!rendererPath.isEmpty()) controller->setRendererPath(rendererPath);
        controller->applicationWillFinishLaunching();
        controller->window()->resize(1040, 780);
        controller->window()->show();
        exposed = QTest::qWaitForWindowExposed(controller->window());
    }
    virtual ~LaunchedWindow() { controller.reset(); }

    template <typename T>
    T* find(const char* name) const {
        T* widget = controller->window()->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // A user's whole edit of a field, committed with Return.
    void type(const char* field, const QString& text) const {
        QLineEdit* edit = find<QLineEdit>(field);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    // A press of the mouse on the control, as a person clicks it.
    void click(const char* name) const {
        QWidget* widget = find<QWidget>(name);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }
    // A menu entry chosen with the keyboard from the focused menu.
    void chooseByKeys(const char* menu, int index) const {
        QComboBox* combo = find<QComboBox>(menu);
        combo->setFocus();
        for (int step = 0; step < combo->count() && combo->currentIndex() != index; ++step)
            QTest::keyClick(combo, combo->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
        EXPECT_EQ(combo->currentIndex(), index) << menu;
    }
    void choose(const char* menu, int index) const {
        QComboBox* combo = find<QComboBox>(menu);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // A picture of the widget as it shows, for a person to look at, in
    // tests/screenshots of the build tree, named with its scale.
    static void screenshot(QWidget* widget, const QString& name) {
        const QString folder = QStringLiteral(LUMIVANE_BINARY_DIR "/tests/screenshots");
        QDir().mkpath(folder);
        EXPECT_TRUE(widget->grab().toImage().save(
            folder + QStringLiteral("/%1-%2x.png").arg(name).arg(widget->devicePixelRatioF())));
    }
    // The codec menu's entry for an output type (its tool tip); -1 when absent.
    int codecEntry(const QString& outputType) const {
        QComboBox* codec = find<QComboBox>("codec");
        for (int i = 0; i < codec->count(); ++i)
            if (codec->itemData(i, Qt::ToolTipRole).toString() == outputType) return i;
        return -1;
    }

    std::unique_ptr<AppController> controller;
    bool exposed = false;
};
