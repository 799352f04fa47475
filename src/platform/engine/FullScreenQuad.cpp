#include "platform/engine/FullScreenQuad.h"

#include "platform/engine/ShaderProgram.h"

namespace lumivane {

FullScreenQuad FullScreenQuad::create() {
    static const float corners[] = {-1, -1, 1, -1, -1, 1, 1, 1};
    FullScreenQuad quad;
    quad.m_vertexArray = GLVertexArray::create();
    quad.m_corners = GLBuffer::create();
    glBindVertexArray(quad.m_vertexArray.id());
    glBindBuffer(GL_ARRAY_BUFFER, quad.m_corners.id());
    glBufferData(GL_ARRAY_BUFFER, sizeof(corners), corners, GL_STATIC_DRAW);
    glEnableVertexAttribArray(ShaderProgram::kPositionAttribute);
    glVertexAttribPointer(ShaderProgram::kPositionAttribute, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    return quad;
}

}  // namespace lumivane
