#include "app/view/GLSetup.h"

#include <QCoreApplication>
#include <QSurfaceFormat>
#include <QtGlobal>

namespace lumivane {

void prepareGLEnvironment() {
    // Set unconditionally: with GLX the widget's context silently stops
    // drawing after the first composition load.
    qputenv("QT_XCB_GL_INTEGRATION", "xcb_egl");
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    QSurfaceFormat::setDefaultFormat(format);
}

}  // namespace lumivane
