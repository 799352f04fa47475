// The application's questions and notices: a message box shown as a sheet
// (window-modal) on a window, with its buttons in order, that deletes itself
// and reports which button ended it.
#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

#include <functional>

struct SheetButton {
    QString title;
    QMessageBox::ButtonRole role;
};

struct SheetText {
    QMessageBox::Icon icon;
    QString text;
    QString informativeText;
};

// Shows the sheet now. `done` gets the index of the button that ended it, or
// -1 when it was ended otherwise (rejected from outside). The default button
// is `defaultIndex`; Escape presses `escapeIndex` (-1: none).
QMessageBox* showSheet(QWidget* parent, const QString& objectName, const SheetText& text,
                       const QList<SheetButton>& buttons, int defaultIndex, int escapeIndex,
                       std::function<void(int)> done);
