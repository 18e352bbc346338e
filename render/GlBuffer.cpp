#include "render/GlBuffer.h"

#include "core/GlObjectRelease.h"

#include <GL/glew.h>

namespace Veltrane {

GlBuffer::GlBuffer() : m_owner(currentGlOwner(GlObjectType::Buffer))
{
    collectReleasedGlObjects();
    glGenBuffers(1, &m_name);
}

GlBuffer::~GlBuffer()
{
    releaseGlObject(GlObjectType::Buffer, m_name, m_owner);
}

void GlBuffer::bind() const
{
    glBindBuffer(GL_ARRAY_BUFFER, m_name);
}

void GlBuffer::unbind()
{
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void GlBuffer::upload(const void* data, std::size_t byteCount)
{
    bind();
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(byteCount), byteCount ? data : nullptr,
                 GL_STATIC_DRAW);
    unbind();
}

}  // namespace Veltrane
