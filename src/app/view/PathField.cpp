#include "app/view/PathField.h"

#include <QPainter>
#include <QStyleOptionFrame>

PathField::PathField(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (m_baseToolTip.isEmpty() && !toolTip().isEmpty() && toolTip() != text)
            m_baseToolTip = toolTip();
        setToolTip(text.isEmpty() ? m_baseToolTip : text);
        update();
    });
}

QRect PathField::textRect() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect rect = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    const QMargins margins = textMargins();
    // The few pixels QLineEdit keeps on each side of its text.
    return rect.marginsRemoved(margins).adjusted(2, 1, -2, -1);
}

QString PathField::displayedText() const {
    if (hasFocus()) return text();
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect().width());
}

void PathField::paintEvent(QPaintEvent* event) {
    const QString shown = displayedText();
    if (hasFocus() || shown == text() || text().isEmpty()) return QLineEdit::paintEvent(event);
    // The frame as the style draws it, then the elided text in its place.
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textRect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}
