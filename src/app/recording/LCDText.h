// A text field of the segment-style display: draws its text without
// anti-aliasing, so the display font keeps its hard pixel edges.
#pragma once

#include <QLabel>

class LCDText : public QLabel {
    Q_OBJECT

public:
    explicit LCDText(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
