// The uniforms that tell a shader an image's size: the engine's own, which
// IMG_SIZE reads, and the ones ISF shaders name directly
// (_<name>_imgSize, _<name>_imgRect, _<name>_flip).
#pragma once

#include <epoxy/gl.h>

#include <string>

namespace lumivane {

class ImageSizeUniforms {
public:
    void locate(GLuint program, const std::string& image);
    // Every texture is a whole 2D texture stored bottom row first: the
    // rectangle is all of it and nothing is flipped.
    void set(float width, float height) const;

    // The prelude's declarations of the ISF names the shader text uses and
    // does not declare itself.
    static std::string declarations(const std::string& image, const std::string& shaderText);

private:
    GLint m_size = -1;
    GLint m_imgSize = -1;
    GLint m_imgRect = -1;
    GLint m_flip = -1;
};

}  // namespace lumivane
