#include "render/GlStateScopes.h"

#include <GL/glew.h>

namespace Veltrane {

GlAttributeScope::GlAttributeScope(unsigned serverMask, unsigned clientMask)
    : m_serverMask(serverMask), m_clientMask(clientMask)
{
    if (m_serverMask)
        glPushAttrib(m_serverMask);
    if (m_clientMask)
        glPushClientAttrib(m_clientMask);
}

GlAttributeScope::~GlAttributeScope()
{
    if (m_clientMask)
        glPopClientAttrib();
    if (m_serverMask)
        glPopAttrib();
}

GlTargetScope::GlTargetScope()
{
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &m_drawFramebuffer);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &m_readFramebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &m_program);
    glGetIntegerv(GL_VIEWPORT, m_viewport.data());
}

GlTargetScope::~GlTargetScope()
{
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(m_drawFramebuffer));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(m_readFramebuffer));
    glUseProgram(static_cast<GLuint>(m_program));
    glViewport(m_viewport[0], m_viewport[1], m_viewport[2], m_viewport[3]);
}

}  // namespace Veltrane
