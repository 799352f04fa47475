// An OpenGL 3.3 core context without a window, through EGL: on a GPU the EGL
// device platform, otherwise Mesa's surfaceless platform (llvmpipe).
#pragma once

#include <epoxy/egl.h>

#include <memory>
#include <string>

#include "base/Result.h"
#include "platform/engine/GLContext.h"

namespace lumivane {

class HeadlessGLContext : public GLContext {
public:
    enum class Device {
        Any,       // a GPU when there is one, else the software rasterizer
        Hardware,  // a GPU through the EGL device platform, nothing else
    };

    static Result<std::unique_ptr<HeadlessGLContext>> create(Device device = Device::Any);
    ~HeadlessGLContext() override;
    HeadlessGLContext(const HeadlessGLContext&) = delete;
    HeadlessGLContext& operator=(const HeadlessGLContext&) = delete;

    bool makeCurrent() override;
    void doneCurrent() override;
    // The GL_RENDERER text, for logs and benchmarks.
    const std::string& rendererName() const { return m_rendererName; }

private:
    HeadlessGLContext(EGLDisplay display, EGLContext context);

    EGLDisplay m_display;
    EGLContext m_context;
    std::string m_rendererName;
};

// Restores whatever EGL context was current when it was made: the engine may
// be called while a widget's context is current.
class SavedEGLCurrent {
public:
    SavedEGLCurrent();
    ~SavedEGLCurrent();
    SavedEGLCurrent(const SavedEGLCurrent&) = delete;
    SavedEGLCurrent& operator=(const SavedEGLCurrent&) = delete;

private:
    EGLDisplay m_display;
    EGLContext m_context;
    EGLSurface m_draw;
    EGLSurface m_read;
};

}  // namespace lumivane
