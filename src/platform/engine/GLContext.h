// An OpenGL 3.3 core context the engine draws into: a headless EGL context
// offscreen, or the context of an on-screen widget.
#pragma once

namespace lumivane {

class GLContext {
public:
    virtual ~GLContext();
    // False when the context cannot be made current on this thread.
    virtual bool makeCurrent() = 0;
    virtual void doneCurrent() = 0;
};

}  // namespace lumivane
