// The main window's status line: a text a person can act on, followed by its
// details (a renderer's reason), cut to the line with the whole text as its
// tool tip; what is reported also goes to the log.
#pragma once

#include <QString>

class QLabel;

class StatusLine {
public:
    explicit StatusLine(QLabel* label);

    // Shows the text and its details; logs nothing (progress, states).
    void show(const QString& text, const QString& details = QString()) const;
    // Shows a failure and logs it with its details.
    void report(const QString& text, const QString& details = QString()) const;
    // Shows only the text, with the details as its tool tip; logs both.
    void reportBriefly(const QString& text, const QString& details) const;
    void clear() const { show(QString()); }

private:
    QLabel* m_label;
};
