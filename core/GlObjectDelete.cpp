#include "core/GlObjectRelease.h"

#include <GL/glew.h>

namespace Veltrane::detail {

void deleteGlObjectNow(GlObjectType type, unsigned name)
{
    if (type == GlObjectType::Texture)
        glDeleteTextures(1, &name);
    else if (glDeleteFramebuffersEXT)
        glDeleteFramebuffersEXT(1, &name);
}

}  // namespace Veltrane::detail
