#include "core/GlObjectRelease.h"

#include <GL/glew.h>

namespace Veltrane::detail {

void deleteGlObjectNow(GlObjectType type, unsigned name)
{
    switch (type) {
    case GlObjectType::Texture:
        glDeleteTextures(1, &name);
        break;
    case GlObjectType::Buffer:
        glDeleteBuffers(1, &name);
        break;
    case GlObjectType::Shader:
        glDeleteShader(name);
        break;
    case GlObjectType::Program:
        glDeleteProgram(name);
        break;
    case GlObjectType::Framebuffer:
        if (glDeleteFramebuffersEXT)
            glDeleteFramebuffersEXT(1, &name);
        break;
    }
}

}  // namespace Veltrane::detail
