#include "render/GlInfo.h"

#include "core/GlError.h"
#include "core/Logging.h"

#include <GL/glew.h>

namespace Veltrane {

bool logGlInfo()
{
    const GLenum status = glewInit();
    if (status != GLEW_OK) {
        VELTRANE_ERROR(reinterpret_cast<const char*>(glewGetErrorString(status)));
        return false;
    }
    if (const GLubyte* version = glGetString(GL_VERSION))
        VELTRANE_INFO("OpenGL: " << reinterpret_cast<const char*>(version));
    else
        VELTRANE_WARN("OpenGL version missing");
    if (const GLubyte* renderer = glGetString(GL_RENDERER))
        VELTRANE_INFO("GPU: " << reinterpret_cast<const char*>(renderer));
    else
        VELTRANE_WARN("OpenGL renderer string missing");
    logGpuMemory();
    if (!GLEW_VERSION_2_1) {
        VELTRANE_ERROR("OpenGL 2.1 not available");
        return false;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    return true;
}

void logGpuMemory()
{
    if (GLEW_NVX_gpu_memory_info) {
        GLint dedicated = 0, total = 0, available = 0, evictions = 0, evicted = 0;
        glGetIntegerv(GL_GPU_MEMORY_INFO_DEDICATED_VIDMEM_NVX, &dedicated);
        glGetIntegerv(GL_GPU_MEMORY_INFO_TOTAL_AVAILABLE_MEMORY_NVX, &total);
        glGetIntegerv(GL_GPU_MEMORY_INFO_CURRENT_AVAILABLE_VIDMEM_NVX, &available);
        glGetIntegerv(GL_GPU_MEMORY_INFO_EVICTION_COUNT_NVX, &evictions);
        glGetIntegerv(GL_GPU_MEMORY_INFO_EVICTED_MEMORY_NVX, &evicted);
        VELTRANE_INFO("Memory: " << available / 1024 << " of " << total / 1024
                                 << " MB available (NVIDIA)");
    }
    if (GLEW_ATI_meminfo) {
        struct Pool {
            GLenum query;
            const char* label;
        };
        static constexpr Pool pools[] = {{GL_VBO_FREE_MEMORY_ATI, "         VBO: "},
                                         {GL_TEXTURE_FREE_MEMORY_ATI, "     Texture: "},
                                         {GL_RENDERBUFFER_FREE_MEMORY_ATI, "Renderbuffer: "}};
        std::ostringstream line;
        line << "Memory (ATI):";
        for (const Pool& pool : pools) {
            GLint values[4] = {};
            glGetIntegerv(pool.query, values);
            line << pool.label << values[0] / 1024 << " MB total (" << values[1] / 1024
                 << " block), " << values[2] / 1024 << " MB auxiliary (" << values[3] / 1024
                 << " block)";
        }
        VELTRANE_INFO(line.str());
    }
    checkGlError();
}

}  // namespace Veltrane
