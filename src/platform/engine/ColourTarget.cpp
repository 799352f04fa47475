#include "platform/engine/ColourTarget.h"

namespace lumivane {

bool makeTarget(GLTexture& texture, GLFramebuffer& framebuffer, const TargetFormat& format,
                int width, int height) {
    drainGLErrors();
    texture = GLTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(format.internal), width, height, 0, format.layout,
                 format.type, nullptr);
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

bool makeColourTarget(GLTexture& texture, GLFramebuffer& framebuffer, GLenum format, int width,
                      int height) {
    const GLenum type = format == GL_RGBA8 ? GL_UNSIGNED_BYTE : GL_FLOAT;
    return makeTarget(texture, framebuffer, TargetFormat{format, GL_RGBA, type}, width, height);
}

}  // namespace lumivane
