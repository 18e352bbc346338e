#include "render/GlViewState.h"

#include "testsupport/GlTest.h"

#include <GL/glew.h>


namespace Veltrane {
namespace {

TEST(GlViewState, UncapturedStateProjectsThroughTheUnitViewport)
{
    const GlViewState state(false);
    EXPECT_EQ(state.viewport, (std::array<int, 4>{0, 0, 1, 1}));
    const double object[3] = {0.5, -0.5, 0.0};
    double window[3] = {};
    ASSERT_TRUE(state.project(object, window));
    EXPECT_DOUBLE_EQ(window[0], 0.75);
    EXPECT_DOUBLE_EQ(window[1], 0.25);
    EXPECT_DOUBLE_EQ(window[2], 0.5);
    double back[3] = {};
    ASSERT_TRUE(state.unproject(window, back));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(back[i], object[i], 1e-12);
}

TEST(GlViewState, DegenerateWLeavesTheOutputAlone)
{
    GlViewState state(false);
    state.projection[11] = -1.0;  // w = 1 - z; its inverse gives w = 1 + ndc z
    const double onZeroPlane[3] = {1.0, 2.0, 1.0};
    double window[3] = {9, 9, 9};
    EXPECT_FALSE(state.project(onZeroPlane, window));
    EXPECT_EQ(window[0], 9);

    const double nearPlane[3] = {0.5, 0.5, 0.0};
    double object[3] = {9, 9, 9};
    EXPECT_FALSE(state.unproject(nearPlane, object));
    EXPECT_EQ(object[0], 9);
}

using GlViewStateGlTest = GlTest;

TEST_F(GlViewStateGlTest, ApplyThenCaptureRoundTripsAndProjectsLikeTheDrawing)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();

    GlViewState state(false);
    state.viewport = {10, 20, 64, 48};
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glPerspective(60.0, 64.0 / 48.0, 10.0, 1000.0);
    glGetDoublev(GL_PROJECTION_MATRIX, state.projection.data());
    state.modelview = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, -3, -200, 1};
    state.apply();
    EXPECT_EQ([] { GLint mode = 0; glGetIntegerv(GL_MATRIX_MODE, &mode); return mode; }(),
              GL_MODELVIEW);

    const GlViewState captured(true);
    EXPECT_EQ(captured.viewport, state.viewport);
    EXPECT_EQ(captured.projection, state.projection);
    EXPECT_EQ(captured.modelview, state.modelview);

    const double points[][3] = {{0, 0, 0}, {30, -20, 50}, {-12.5, 7.25, -300}};
    for (const auto& point : points) {
        double window[3] = {}, back[3] = {};
        ASSERT_TRUE(captured.project(point, window));
        ASSERT_TRUE(captured.unproject(window, back));
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(back[i], point[i], 1e-6);
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

TEST_F(GlViewStateGlTest, PerspectiveMultipliesTheCurrentMatrix)
{
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glScaled(2.0, 2.0, 2.0);
    glPerspective(60.0, 1.0, 10.0, 100000.0);
    double m[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, m);
    glPopMatrix();

    EXPECT_NEAR(m[0], 2.0 * 1.7320508, 1e-6);
    EXPECT_NEAR(m[5], 2.0 * 1.7320508, 1e-6);
    EXPECT_NEAR(m[10], 2.0 * -1.0002, 1e-4);
    EXPECT_EQ(m[11], -1.0);  // the scale leaves w alone
    EXPECT_NEAR(m[14], 2.0 * -20.002, 1e-3);
    EXPECT_EQ(m[15], 0.0);
}

}  // namespace
}  // namespace Veltrane
