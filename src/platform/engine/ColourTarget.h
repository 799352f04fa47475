// An output-size colour texture with a framebuffer to draw into it: the
// accumulator's sums and resolves, and the batch's sample slots.
#pragma once

#include "platform/engine/GLObjects.h"

namespace lumivane {

struct TargetFormat {
    GLenum internal;  // the texture's own format
    GLenum layout;    // and how its pixels would be given: GL_RGBA, GL_RED_INTEGER...
    GLenum type;
};

// Makes texture (nearest sampling) and a framebuffer with it attached; false,
// both left empty, when the GPU refuses.
bool makeTarget(GLTexture& texture, GLFramebuffer& framebuffer, const TargetFormat& format,
                int width, int height);

// Makes texture (format: GL_RGBA8 or a float format, nearest sampling) and a
// framebuffer with it attached; false, both left empty, when the GPU refuses.
bool makeColourTarget(GLTexture& texture, GLFramebuffer& framebuffer, GLenum format, int width,
                      int height);

}  // namespace lumivane
