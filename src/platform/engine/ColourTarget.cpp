#include "platform/engine/ColourTarget.h"

namespace lumivane {

bool makeColourTarget(GLTexture& texture, GLFramebuffer& framebuffer, GLenum format, int width,
                      int height) {
    drainGLErrors();
    texture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), width, height, 0, GL_RGBA,
                 format == GL_RGBA8 ? GL_UNSIGNED_BYTE : GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    framebuffer = GLFramebuffer::create();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture.id(), 0);
    const bool ok = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
                    glGetError() == GL_NO_ERROR;
    if (!ok) {
        framebuffer.reset();
        texture.reset();
    }
    return ok;
}

}  // namespace lumivane
