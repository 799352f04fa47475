#include "platform/engine/ImageSizeUniforms.h"

#include "platform/engine/IsfTranslator.h"

namespace lumivane {

void ImageSizeUniforms::locate(GLuint program, const std::string& image) {
    m_size = glGetUniformLocation(program, ("_isf_size_" + image).c_str());
    m_imgSize = glGetUniformLocation(program, ("_" + image + "_imgSize").c_str());
    m_imgRect = glGetUniformLocation(program, ("_" + image + "_imgRect").c_str());
    m_flip = glGetUniformLocation(program, ("_" + image + "_flip").c_str());
}

void ImageSizeUniforms::set(float width, float height) const {
    glUniform2f(m_size, width, height);
    glUniform2f(m_imgSize, width, height);
    glUniform4f(m_imgRect, 0.0f, 0.0f, width, height);
    glUniform1i(m_flip, 0);
}

std::string ImageSizeUniforms::declarations(const std::string& image,
                                            const std::string& shaderText) {
    struct Named {
        const char* suffix;
        const char* type;
    };
    static const Named kNamed[] = {{"_imgSize", "vec2"}, {"_imgRect", "vec4"}, {"_flip", "bool"}};
    std::string out = "uniform vec2 _isf_size_" + image + ";\n";
    for (const Named& named : kNamed) {
        const std::string name = "_" + image + named.suffix;
        if (!IsfTranslator::usesIdentifier(shaderText, name) ||
            IsfTranslator::declaresUniform(shaderText, name))
            continue;
        out += std::string("uniform ") + named.type + " " + name + ";\n";
    }
    return out;
}

}  // namespace lumivane
