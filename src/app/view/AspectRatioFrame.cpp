#include "app/view/AspectRatioFrame.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QLayout>
#include <QPainter>

AspectRatioFrame* AspectRatioFrame::wrap(QWidget* view) {
    QWidget* parent = view->parentWidget();
    auto* frame = new AspectRatioFrame(view, parent);
    if (parent && parent->layout()) {
        QLayoutItem* replaced = parent->layout()->replaceWidget(view, frame);
        delete replaced;
    }
    view->setParent(frame);
    frame->placeView();
    return frame;
}

AspectRatioFrame::AspectRatioFrame(QWidget* view, QWidget* parent) : QWidget(parent), m_view(view) {
    setObjectName(view->objectName() + QStringLiteral("Frame"));
    setMinimumSize(view->minimumSize());
    setSizePolicy(view->sizePolicy());
    view->setMinimumSize(1, 1);
    setAcceptDrops(view->acceptDrops());
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void AspectRatioFrame::setAspectSize(const QSize& size) {
    if (size == m_aspectSize) return;
    m_aspectSize = size;
    placeView();
}

void AspectRatioFrame::placeView() {
    QRect area = rect();
    if (!m_aspectSize.isEmpty() && !area.isEmpty()) {
        const QSize fitted = m_aspectSize.scaled(area.size(), Qt::KeepAspectRatio);
        area =
            QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    }
    m_view->setGeometry(area);
    update();
}

void AspectRatioFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeView();
}

void AspectRatioFrame::paintEvent(QPaintEvent* /*event*/) {
    QPainter(this).fillRect(rect(), Qt::black);
}

void AspectRatioFrame::dragEnterEvent(QDragEnterEvent* event) {
    QCoreApplication::sendEvent(m_view, event);
}

void AspectRatioFrame::dragMoveEvent(QDragMoveEvent* event) {
    // The view decided at the enter; the whole frame is its target.
    event->setAccepted(m_view->acceptDrops());
}

void AspectRatioFrame::dragLeaveEvent(QDragLeaveEvent* event) {
    QCoreApplication::sendEvent(m_view, event);
}

void AspectRatioFrame::dropEvent(QDropEvent* event) {
    QCoreApplication::sendEvent(m_view, event);
}
