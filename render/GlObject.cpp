#include "render/GlObject.h"

#include <GL/glew.h>

namespace Veltrane {

GlMatrix identityGlMatrix()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

void GlObject::setMatrix(const GlMatrix& matrix)
{
    m_matrix = matrix;
}

const GlMatrix& GlObject::matrix() const
{
    return m_matrix;
}

GlModelMatrixScope::GlModelMatrixScope(const GlMatrix& matrix)
{
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMultMatrixd(matrix.data());
}

GlModelMatrixScope::~GlModelMatrixScope()
{
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

}  // namespace Veltrane
