#include "platform/engine/HeadlessGLContext.h"

#include <epoxy/gl.h>

#include <cstring>
#include <map>
#include <vector>

namespace lumivane {
namespace {

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char* p = std::strstr(list, name); p; p = std::strstr(p + 1, name)) {
        const bool starts = p == list || p[-1] == ' ';
        const bool ends = p[length] == '\0' || p[length] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

bool clientHas(const char* name) {
    return hasExtension(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), name);
}

// Displays are initialized once per process and never terminated: terminating
// one would pull it from under every other context made on it.
EGLDisplay initializedDisplay(EGLenum platform, void* nativeDisplay) {
    static std::map<std::pair<EGLenum, void*>, EGLDisplay> displays;
    const auto key = std::make_pair(platform, nativeDisplay);
    if (auto it = displays.find(key); it != displays.end()) return it->second;
    EGLDisplay display = platform ? eglGetPlatformDisplayEXT(platform, nativeDisplay, nullptr)
                                  : eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (display != EGL_NO_DISPLAY && !eglInitialize(display, &major, &minor)) {
        display = EGL_NO_DISPLAY;
    }
    displays[key] = display;
    return display;
}

struct DeviceList {
    std::vector<EGLDeviceEXT> hardware;
    std::vector<EGLDeviceEXT> software;
};

DeviceList enumerateDevices() {
    DeviceList list;
    if (!clientHas("EGL_EXT_device_enumeration") && !clientHas("EGL_EXT_device_base")) {
        return list;
    }
    EGLint count = 0;
    if (!eglQueryDevicesEXT(0, nullptr, &count) || count <= 0) return list;
    std::vector<EGLDeviceEXT> devices(count);
    if (!eglQueryDevicesEXT(count, devices.data(), &count)) return list;
    devices.resize(count);
    for (EGLDeviceEXT device : devices) {
        const char* extensions = eglQueryDeviceStringEXT(device, EGL_EXTENSIONS);
        if (hasExtension(extensions, "EGL_MESA_device_software")) {
            list.software.push_back(device);
        } else {
            list.hardware.push_back(device);
        }
    }
    return list;
}

EGLContext createCoreContext(EGLDisplay display) {
    if (!eglBindAPI(EGL_OPENGL_API)) return EGL_NO_CONTEXT;
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (!hasExtension(extensions, "EGL_KHR_surfaceless_context")) return EGL_NO_CONTEXT;
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!hasExtension(extensions, "EGL_KHR_no_config_context")) {
        // No surface type: the context draws only into framebuffer objects.
        const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                           EGL_NONE};
        EGLint found = 0;
        if (!eglChooseConfig(display, configAttributes, &config, 1, &found) || found < 1) {
            return EGL_NO_CONTEXT;
        }
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        3,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    return eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
}

std::vector<std::pair<EGLenum, void*>> candidateDisplays(HeadlessGLContext::Device device) {
    std::vector<std::pair<EGLenum, void*>> candidates;
    const bool platformDisplays = clientHas("EGL_EXT_platform_base");
    const DeviceList devices = platformDisplays ? enumerateDevices() : DeviceList{};
    if (platformDisplays && clientHas("EGL_EXT_platform_device")) {
        for (EGLDeviceEXT d : devices.hardware) candidates.emplace_back(EGL_PLATFORM_DEVICE_EXT, d);
    }
    if (device == HeadlessGLContext::Device::Hardware) return candidates;
    if (platformDisplays && clientHas("EGL_MESA_platform_surfaceless")) {
        candidates.emplace_back(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY);
    }
    if (platformDisplays && clientHas("EGL_EXT_platform_device")) {
        for (EGLDeviceEXT d : devices.software) candidates.emplace_back(EGL_PLATFORM_DEVICE_EXT, d);
    }
    candidates.emplace_back(0, nullptr);
    return candidates;
}

}  // namespace

SavedEGLCurrent::SavedEGLCurrent()
    : m_display(eglGetCurrentDisplay()),
      m_context(eglGetCurrentContext()),
      m_draw(eglGetCurrentSurface(EGL_DRAW)),
      m_read(eglGetCurrentSurface(EGL_READ)) {}

SavedEGLCurrent::~SavedEGLCurrent() {
    if (m_context != EGL_NO_CONTEXT) {
        eglMakeCurrent(m_display, m_draw, m_read, m_context);
    } else if (EGLDisplay current = eglGetCurrentDisplay(); current != EGL_NO_DISPLAY) {
        eglMakeCurrent(current, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

Result<std::unique_ptr<HeadlessGLContext>> HeadlessGLContext::create(Device device) {
    std::string tried;
    for (const auto& [platform, native] : candidateDisplays(device)) {
        EGLDisplay display = initializedDisplay(platform, native);
        if (display == EGL_NO_DISPLAY) continue;
        EGLContext context = createCoreContext(display);
        if (context == EGL_NO_CONTEXT) {
            tried = "no OpenGL 3.3 core context on the EGL display";
            continue;
        }
        std::unique_ptr<HeadlessGLContext> made(new HeadlessGLContext(display, context));
        if (!made->makeCurrent()) continue;
        const char* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        made->m_rendererName = name ? name : "";
        return made;
    }
    if (tried.empty()) {
        tried = device == Device::Hardware ? "no GPU reachable through the EGL device platform"
                                           : "no EGL display could be opened";
    }
    return Error{tried};
}

HeadlessGLContext::HeadlessGLContext(EGLDisplay display, EGLContext context)
    : m_display(display), m_context(context) {}

HeadlessGLContext::~HeadlessGLContext() {
    if (eglGetCurrentContext() == m_context) {
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    eglDestroyContext(m_display, m_context);
}

bool HeadlessGLContext::makeCurrent() {
    if (eglGetCurrentContext() == m_context) return true;
    return eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context) == EGL_TRUE;
}

void HeadlessGLContext::doneCurrent() {
    if (eglGetCurrentContext() == m_context) {
        eglMakeCurrent(m_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

}  // namespace lumivane
