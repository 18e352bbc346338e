#include "render/GlInfo.h"

#include "testsupport/GlTest.h"
#include "testsupport/LogCapture.h"

#include <GL/glew.h>

namespace Veltrane {
namespace {

using GlInfoTest = GlTest;

TEST_F(GlInfoTest, LogsVersionRendererAndMemoryAndEnablesClientArrays)
{
    LogCapture log;
    EXPECT_TRUE(logGlInfo());
    EXPECT_EQ(log.countStartingWith("INFO OpenGL: "), 1u);
    EXPECT_EQ(log.countStartingWith("INFO GPU: "), 1u);
    const bool memoryInfo = GLEW_NVX_gpu_memory_info || GLEW_ATI_meminfo;
    EXPECT_EQ(log.countStartingWith("INFO Memory"), memoryInfo ? 1u : 0u);
    EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

}  // namespace
}  // namespace Veltrane
