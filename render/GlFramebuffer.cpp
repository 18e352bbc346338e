#include "render/GlFramebuffer.h"

#include "core/GlError.h"
#include "core/GlImage.h"
#include "core/GlObjectRelease.h"
#include "core/Logging.h"

#include <GL/glew.h>

#include <algorithm>
#include <stdexcept>

namespace Veltrane {
namespace {

/// Attaches every layer of `texture`; drivers without the extension's entry
/// point offer the same through OpenGL 3.2.
void attachLayered(GLenum attachment, GLuint texture)
{
    if (glFramebufferTextureEXT)
        glFramebufferTextureEXT(GL_FRAMEBUFFER_EXT, attachment, texture, 0);
    else if (glFramebufferTexture)
        glFramebufferTexture(GL_FRAMEBUFFER_EXT, attachment, texture, 0);
    else
        VELTRANE_ERROR("Layered framebuffer attachments not available");
}

}  // namespace

std::string framebufferStatusName(unsigned status)
{
    switch (status) {
    case GL_FRAMEBUFFER_UNDEFINED: return "Framebuffer undefined";
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT: return "Incomplete attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT: return "Incomplete missing attachment";
    case GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT: return "Incomplete dimensions";
    case GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT: return "Incomplete formats";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER: return "Incomplete draw buffer";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER: return "Incomplete read buffer";
    case GL_FRAMEBUFFER_UNSUPPORTED: return "Framebuffer unsupported";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE: return "Incomplete multisample";
    default: return unknownGlErrorName(status);
    }
}

GlFramebuffer::GlFramebuffer() : m_owner(currentGlOwner(GlObjectType::Framebuffer))
{
    collectReleasedGlObjects();
    glGenFramebuffersEXT(1, &m_framebuffer);
}

GlFramebuffer::~GlFramebuffer()
{
    releaseGlObject(GlObjectType::Framebuffer, m_framebuffer, m_owner);
}

void GlFramebuffer::bind()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_framebuffer);
}

void GlFramebuffer::unbind()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

void GlFramebuffer::attach(const GlImage* image, int colorIndex, int layer)
{
    const bool depth = isDepthFormat(image->internalFormat());
    const GLenum attachment = depth ? GLenum(GL_DEPTH_ATTACHMENT_EXT)
                                    : GLenum(GL_COLOR_ATTACHMENT0_EXT + colorIndex);
    const GLuint texture = image->texture();
    if (image->slices > 1) {
        if (layer < 0)
            attachLayered(attachment, texture);
        else
            glFramebufferTexture3DEXT(GL_FRAMEBUFFER_EXT, attachment, GL_TEXTURE_3D, texture, 0,
                                      layer);
    } else if (image->height > 1) {
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, attachment, GL_TEXTURE_2D, texture, 0);
    } else {
        glFramebufferTexture1DEXT(GL_FRAMEBUFFER_EXT, attachment, GL_TEXTURE_1D, texture, 0);
    }
    checkStatus();
    if (!depth && std::find(m_drawBuffers.begin(), m_drawBuffers.end(), attachment) ==
                      m_drawBuffers.end())
        m_drawBuffers.push_back(attachment);
}

void GlFramebuffer::detachColor(int colorIndex)
{
    const GLenum attachment = GL_COLOR_ATTACHMENT0_EXT + colorIndex;
    glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, attachment, GL_TEXTURE_2D, 0, 0);
    m_drawBuffers.erase(std::remove(m_drawBuffers.begin(), m_drawBuffers.end(), attachment),
                        m_drawBuffers.end());
}

void GlFramebuffer::setDrawBuffers()
{
    glDrawBuffers(static_cast<GLsizei>(m_drawBuffers.size()), m_drawBuffers.data());
}

bool GlFramebuffer::checkStatus()
{
    const GLenum status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    if (status == GL_FRAMEBUFFER_COMPLETE_EXT)
        return true;
    VELTRANE_ERROR("OpenGL framebuffer error: " << framebufferStatusName(status));
    throw std::runtime_error("OpenGL framebuffer error");
}

}  // namespace Veltrane
