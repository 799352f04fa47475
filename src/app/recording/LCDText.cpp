#include "app/recording/LCDText.h"

#include <QPainter>
#include <QStyle>

LCDText::LCDText(QWidget* parent) : QLabel(parent) {}

void LCDText::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const bool antialiased = painter.testRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    // The painter's font only: changing the widget's would lay it out again.
    QFont hard = font();
    hard.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(hard);
    style()->drawItemText(&painter, contentsRect(),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), text(), foregroundRole());
    painter.setRenderHint(QPainter::TextAntialiasing, antialiased);
}
