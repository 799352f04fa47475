// Process-wide OpenGL set-up of the application, done before the
// QApplication exists.
#pragma once

namespace lumivane {

// The engine checks every composition it loads in a headless EGL context and
// then restores the EGL context that was current. That hand-back only works
// when the widgets' contexts are EGL contexts too, so on X11 Qt is told to use
// EGL instead of GLX. Also makes OpenGL 3.3 core the default surface format,
// the profile the engine's shaders are written for.
void prepareGLEnvironment();

}  // namespace lumivane
