#include "app/view/WidgetGLContext.h"

#include <QOpenGLContext>
#include <QOpenGLWidget>

namespace lumivane {

WidgetGLContext::WidgetGLContext(QOpenGLWidget* widget) : m_widget(widget) {}

bool WidgetGLContext::makeCurrent() {
    QOpenGLContext* context = m_widget->context();
    if (!context || !context->isValid()) return false;
    // Always goes through Qt: after the engine has used a headless context,
    // Qt's idea of the current context can be stale, and the widget's
    // makeCurrent rebinds the real one (and the widget's framebuffer).
    m_widget->makeCurrent();
    return QOpenGLContext::currentContext() == context;
}

void WidgetGLContext::doneCurrent() {
    if (m_widget->context()) m_widget->doneCurrent();
}

}  // namespace lumivane
