// A path field that shows a long path whole where it can and elided in the
// middle where it cannot (the folder's start and the file name stay), with
// the full path as its tool tip. While it has the focus it edits the text
// as an ordinary field.
#pragma once

#include <QLineEdit>

class PathField : public QLineEdit {
    Q_OBJECT

public:
    explicit PathField(QWidget* parent = nullptr);

    // The text as drawn while the field is not being edited.
    QString displayedText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
    QString m_baseToolTip;
};
