// Move-only owners of GL object names. Their owner keeps its context current
// while they are destroyed, so each name is freed in the context that made it.
#pragma once

#include <epoxy/gl.h>

#include <utility>

namespace lumivane {

// Clears the error flags before a check of an allocation; bounded, since a
// lost context may keep reporting.
inline void drainGLErrors() {
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

template <class Traits>
class GLHandle {
public:
    GLHandle() = default;
    explicit GLHandle(GLuint id) : m_id(id) {}
    ~GLHandle() { reset(); }
    GLHandle(GLHandle&& other) noexcept : m_id(std::exchange(other.m_id, 0)) {}
    GLHandle& operator=(GLHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    GLHandle(const GLHandle&) = delete;
    GLHandle& operator=(const GLHandle&) = delete;

    static GLHandle create() { return GLHandle(Traits::create()); }
    GLuint id() const { return m_id; }
    explicit operator bool() const { return m_id != 0; }
    void reset() {
        if (m_id) Traits::destroy(m_id);
        m_id = 0;
    }

private:
    GLuint m_id = 0;
};

struct GLTextureTraits {
    static GLuint create() {
        GLuint id = 0;
        glGenTextures(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteTextures(1, &id); }
};
struct GLFramebufferTraits {
    static GLuint create() {
        GLuint id = 0;
        glGenFramebuffers(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteFramebuffers(1, &id); }
};
struct GLRenderbufferTraits {
    static GLuint create() {
        GLuint id = 0;
        glGenRenderbuffers(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteRenderbuffers(1, &id); }
};
struct GLBufferTraits {
    static GLuint create() {
        GLuint id = 0;
        glGenBuffers(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteBuffers(1, &id); }
};
struct GLVertexArrayTraits {
    static GLuint create() {
        GLuint id = 0;
        glGenVertexArrays(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteVertexArrays(1, &id); }
};
struct GLProgramTraits {
    static GLuint create() { return glCreateProgram(); }
    static void destroy(GLuint id) { glDeleteProgram(id); }
};
struct GLShaderTraits {
    static void destroy(GLuint id) { glDeleteShader(id); }
};

using GLTexture = GLHandle<GLTextureTraits>;
using GLFramebuffer = GLHandle<GLFramebufferTraits>;
using GLRenderbuffer = GLHandle<GLRenderbufferTraits>;
using GLBuffer = GLHandle<GLBufferTraits>;
using GLVertexArray = GLHandle<GLVertexArrayTraits>;
using GLProgram = GLHandle<GLProgramTraits>;
using GLShader = GLHandle<GLShaderTraits>;

// A fence after the commands issued so far; a sync object is a pointer, not a name.
class GLFence {
public:
    GLFence() = default;
    ~GLFence() { reset(); }
    GLFence(GLFence&& other) noexcept : m_sync(std::exchange(other.m_sync, nullptr)) {}
    GLFence& operator=(GLFence&& other) noexcept {
        if (this != &other) {
            reset();
            m_sync = std::exchange(other.m_sync, nullptr);
        }
        return *this;
    }
    GLFence(const GLFence&) = delete;
    GLFence& operator=(const GLFence&) = delete;

    static GLFence insert() {
        GLFence fence;
        fence.m_sync = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        return fence;
    }
    explicit operator bool() const { return m_sync != nullptr; }
    // False when the wait failed (a lost context); flushes so the fence is reached.
    bool wait() {
        if (!m_sync) return true;
        for (;;) {
            const GLenum status = glClientWaitSync(m_sync, GL_SYNC_FLUSH_COMMANDS_BIT, 100'000'000);
            if (status == GL_ALREADY_SIGNALED || status == GL_CONDITION_SATISFIED) return true;
            if (status == GL_WAIT_FAILED) return false;
        }
    }
    void reset() {
        if (m_sync) glDeleteSync(m_sync);
        m_sync = nullptr;
    }

private:
    GLsync m_sync = nullptr;
};

}  // namespace lumivane
