// The engine's view of an on-screen widget's OpenGL context, so the same
// CompositionRenderer that draws offscreen draws into the widget.
#pragma once

#include "platform/engine/GLContext.h"

class QOpenGLWidget;

namespace lumivane {

class WidgetGLContext : public GLContext {
public:
    // The widget must outlive this object.
    explicit WidgetGLContext(QOpenGLWidget* widget);

    // False until the widget has created its context (it does so when it is
    // first shown), and after the context is gone.
    bool makeCurrent() override;
    void doneCurrent() override;

private:
    QOpenGLWidget* m_widget;
};

}  // namespace lumivane
