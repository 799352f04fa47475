#include "app/controller/StatusLine.h"

#include <QLabel>

#include "base/Log.h"

namespace {

QString joined(const QString& text, const QString& details) {
    if (details.isEmpty()) return text;
    if (text.isEmpty()) return details;
    return text + QStringLiteral(": ") + details;
}

}  // namespace

StatusLine::StatusLine(QLabel* label) : m_label(label) {
    // A long reason is cut to the line, never widens the window.
    QSizePolicy policy = label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
}

void StatusLine::show(const QString& text, const QString& details) const {
    const QString full = joined(text, details);
    const int room = m_label->contentsRect().width();
    const QString shown =
        room > 0 ? m_label->fontMetrics().elidedText(full, Qt::ElideRight, room) : full;
    m_label->setText(shown);
    m_label->setToolTip(shown == full ? QString() : full);
}

void StatusLine::reportBriefly(const QString& text, const QString& details) const {
    show(text);
    m_label->setToolTip(details);
    lumivane::logLine(joined(text, details).toStdString());
}

void StatusLine::report(const QString& text, const QString& details) const {
    show(text, details);
    lumivane::logLine(joined(text, details).toStdString());
}
