// Turns the GLSL of a composition (ISF dialect, often written for GLSL 1.x)
// into GLSL 3.30 core: a generated prelude declares the uniforms and macros,
// and the document's own text follows line for line, so compile errors map
// back onto document lines.
#pragma once

#include <string>
#include <vector>

#include "platform/engine/Composition.h"

namespace lumivane {

class IsfTranslator {
public:
    enum class Stage { Vertex, Fragment };

    // inputs, pass targets and imported image names make the declarations.
    IsfTranslator(const std::vector<CompositionInput>& inputs,
                  const std::vector<std::string>& imageNames);

    ShaderStageSource translate(Stage stage, const std::string& file,
                                const std::string& documentText) const;
    // The vertex shader used when the document has none beside it.
    ShaderStageSource defaultVertexShader() const;

    // Whether `text` uses the identifier (outside of nothing cleverer than a
    // whole-word match).
    static bool usesIdentifier(const std::string& text, const std::string& identifier);
    // Whether `text` declares "uniform [precision] <type> name" itself.
    static bool declaresUniform(const std::string& text, const std::string& name);

private:
    std::string prelude(Stage stage, const std::string& body) const;
    std::string inputDeclarations(const std::string& body) const;
    std::string builtinDeclarations(const std::string& body) const;

    const std::vector<CompositionInput>& m_inputs;
    std::vector<std::string> m_imageNames;
};

}  // namespace lumivane
