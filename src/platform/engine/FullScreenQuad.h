// Two triangles that cover clip space, drawn as a four-vertex strip, for the
// passes that shade every pixel of their target. Made, bound and freed while
// its owner's context is current.
#pragma once

#include "platform/engine/GLObjects.h"

namespace lumivane {

class FullScreenQuad {
public:
    // Leaves the quad's vertex array bound.
    static FullScreenQuad create();
    bool valid() const { return bool(m_vertexArray); }
    void bind() const { glBindVertexArray(m_vertexArray.id()); }

private:
    GLVertexArray m_vertexArray;
    GLBuffer m_corners;
};

}  // namespace lumivane
