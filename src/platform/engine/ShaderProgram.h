// Compiles and links the two stages of a composition. Compiler messages are
// mapped from the generated source back onto the document's lines.
#pragma once

#include "base/Result.h"
#include "platform/engine/Composition.h"
#include "platform/engine/GLObjects.h"

namespace lumivane {

class ShaderProgram {
public:
    // Needs a current context. The vertex position attribute is bound to 0.
    static Result<GLProgram> build(const ShaderStageSource& vertex,
                                   const ShaderStageSource& fragment);
    // Rewrites a driver's info log ("0:12(5): error: ..." or "0(12) : error
    // ...") into "\"<file>\": line <n>: error: ..." lines.
    static std::string describeLog(const ShaderStageSource& stage, const std::string& log);

    static constexpr GLuint kPositionAttribute = 0;
};

}  // namespace lumivane
