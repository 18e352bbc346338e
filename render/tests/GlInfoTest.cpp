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
    ASSERT_GE(log.lines().size(), 2u);
    EXPECT_EQ(log.lines()[0].rfind("INFO OpenGL: ", 0), 0u) << log.lines()[0];
    EXPECT_EQ(log.lines()[1].rfind("INFO GPU: ", 0), 0u) << log.lines()[1];
    const bool memoryInfo = GLEW_NVX_gpu_memory_info || GLEW_ATI_meminfo;
    EXPECT_EQ(log.contains("INFO Memory"), memoryInfo);
    EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
}

}  // namespace
}  // namespace Veltrane
