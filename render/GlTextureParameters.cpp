#include "render/GlTextureParameters.h"

#include "core/GlImage.h"

#include <GL/glew.h>

namespace Veltrane {
namespace {

constexpr GLenum kParameters[5] = {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER,
                                   GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R};

}  // namespace

GlTextureParameterGuard::GlTextureParameterGuard(GlImage* image, int filter, int wrap)
    : m_image(image), m_target(image->target())
{
    m_image->bind(0);
    saveAndSet(filter, wrap);
    m_image->unbind();
}

GlTextureParameterGuard::GlTextureParameterGuard(unsigned target, int filter, int wrap)
    : m_target(target)
{
    saveAndSet(filter, wrap);
}

GlTextureParameterGuard::~GlTextureParameterGuard()
{
    if (m_image)
        m_image->bind(0);
    for (int i = 0; i < 5; ++i)
        glTexParameteri(m_target, kParameters[i], m_saved[i]);
    if (m_image)
        m_image->unbind();
}

void GlTextureParameterGuard::saveAndSet(int filter, int wrap)
{
    for (int i = 0; i < 5; ++i)
        glGetTexParameteriv(m_target, kParameters[i], &m_saved[i]);
    setTextureParameters(m_target, filter, wrap);
}

void setTextureParameters(unsigned target, int filter, int wrap)
{
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(target, GL_TEXTURE_WRAP_R, wrap);
}

}  // namespace Veltrane
