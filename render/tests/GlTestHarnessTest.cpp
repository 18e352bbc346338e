#include "testsupport/GlTest.h"

#include <GL/glew.h>

namespace Veltrane {
namespace {

using GlTestHarness = GlTest;

TEST_F(GlTestHarness, ContextIsACompatibilityProfileWithGlew)
{
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    EXPECT_GE(major * 10 + minor, 21);
    EXPECT_TRUE(GLEW_VERSION_2_1);
    glMatrixMode(GL_MODELVIEW);  // fixed-function calls need the compatibility profile
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GlTestHarness, RenderTargetReadsBackWhatWasDrawnAndRestoresTheBinding)
{
    GLint viewportBefore[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewportBefore);
    {
        GlRenderTarget target(8, 6);
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 8);
        EXPECT_EQ(viewport[3], 6);

        glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_SCISSOR_TEST);
        glScissor(2, 1, 1, 1);
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
        glClearDepth(0.5);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);

        EXPECT_EQ(target.rgba(2, 1), (std::array<unsigned char, 4>{0, 0, 255, 255}));
        EXPECT_EQ(target.rgba(7, 5), (std::array<unsigned char, 4>{0, 255, 0, 255}));
        EXPECT_FLOAT_EQ(target.depth(2, 1), 0.5f);
        EXPECT_FLOAT_EQ(target.depth(0, 0), 1.0f);
    }
    GLint framebuffer = -1, viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(framebuffer, 0);
    EXPECT_EQ(viewport[2], viewportBefore[2]);
    EXPECT_EQ(viewport[3], viewportBefore[3]);
}

}  // namespace
}  // namespace Veltrane
