#include "render/GlBoundingBox.h"

#include "RenderTestSupport.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/GlViewState.h"

#include <GL/glew.h>

namespace Veltrane {
namespace {

using GlBoundingBoxTest = GlTest;

TEST(BoxCorners, FollowTheCornerSigns)
{
    const auto corners = boxCorners({10.0, 20.0, 30.0}, {1.0, 2.0, 4.0});
    EXPECT_EQ(corners[0], (GlVector{10.5, 21.0, 32.0}));  // P1
    EXPECT_EQ(corners[1], (GlVector{9.5, 21.0, 32.0}));   // P2
    EXPECT_EQ(corners[2], (GlVector{9.5, 21.0, 28.0}));   // P3
    EXPECT_EQ(corners[6], (GlVector{9.5, 19.0, 28.0}));   // P7
    EXPECT_EQ(corners[7], (GlVector{10.5, 19.0, 28.0}));  // P8
}

/// Window position of the middle of the edge between two corners.
std::array<int, 2> edgeMiddle(const std::array<GlVector, 8>& corners, int from, int to)
{
    const GlViewState state(true);
    double object[3], window[3];
    for (int axis = 0; axis < 3; ++axis)
        object[axis] = (corners[from][axis] + corners[to][axis]) * 0.5;
    state.project(object, window);
    return {static_cast<int>(window[0]), static_cast<int>(window[1])};
}

/// A box of extent 2 seen turned, so that all twelve edges show apart.
void loadTurnedScene(const GlRenderTarget& target)
{
    loadOrthoScene(target, 2.5);
    glRotated(25.0, 1.0, 0.0, 0.0);
    glRotated(35.0, 0.0, 1.0, 0.0);
}

TEST_F(GlBoundingBoxTest, VolumeBoxShowsTheAxesAtP3InColour)
{
    ReconstructionParameters parameters;
    GlVolumeBoundingBox box(&parameters);
    box.setExtent({2.0, 2.0, 2.0});
    box.setColor({0.8, 0.8, 1.0});
    GlRenderTarget target(200, 200);
    loadTurnedScene(target);
    glLineWidth(3.0f);
    box.draw();
    GLfloat lineWidth = 0.0f;
    glGetFloatv(GL_LINE_WIDTH, &lineWidth);
    EXPECT_EQ(lineWidth, 3.0f) << "line width restored";
    glLineWidth(1.0f);
    target.saveScreenshot("volume_box");

    const Rgb annotation{204, 204, 255};
    const struct {
        int from, to;
        Rgb color;
    } edges[] = {
        {1, 2, {0, 0, 255}},  // P2-P3: z, blue
        {2, 3, {255, 0, 0}},  // P3-P4: x, red
        {2, 6, {0, 255, 0}},  // P3-P7: y, green
        {0, 1, annotation}, {3, 0, annotation}, {4, 5, annotation}, {5, 6, annotation},
        {6, 7, annotation}, {7, 4, annotation}, {0, 4, annotation}, {1, 5, annotation},
        {3, 7, annotation},
    };
    const auto corners = boxCorners(box.center(), box.extent());
    for (const auto& edge : edges) {
        const auto [x, y] = edgeMiddle(corners, edge.from, edge.to);
        EXPECT_TRUE(colorNearby(target, x, y, edge.color, 2))
            << "P" << edge.from + 1 << "-P" << edge.to + 1;
    }
    EXPECT_EQ(pixel(target, 5, 5), clearColor);
}

TEST_F(GlBoundingBoxTest, BoxDrawsTwelveEdgesInItsColourUnderItsMatrix)
{
    GlBoundingBox box;
    box.setExtent({2.0, 2.0, 2.0});
    box.setColor({1.0, 1.0, 1.0});
    GlMatrix shifted = identityGlMatrix();
    shifted[12] = 0.25;
    box.setMatrix(shifted);
    GlRenderTarget target(200, 200);
    loadTurnedScene(target);
    auto corners = boxCorners(box.center(), box.extent());
    for (auto& corner : corners)
        corner[0] += 0.25;

    box.setVisible(false);
    box.draw();
    const auto [x, y] = edgeMiddle(corners, 0, 1);
    EXPECT_EQ(pixel(target, x, y), clearColor) << "invisible";

    box.setVisible(true);
    box.draw();
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    const std::pair<int, int> edges[] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                         {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    for (const auto& [from, to] : edges) {
        const auto [ex, ey] = edgeMiddle(corners, from, to);
        EXPECT_TRUE(colorNearby(target, ex, ey, {255, 255, 255}, 2))
            << "P" << from + 1 << "-P" << to + 1;
    }
}

TEST_F(GlBoundingBoxTest, VolumeBoxMovesTheVolumeUnlessTheParametersAreLocked)
{
    for (const bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "locked" : "unlocked");
        ReconstructionParameters parameters;
        const auto poseBefore = parameters.volumePose();
        parameters.setLocked(locked);
        int changes = 0;
        parameters.connect([&] { ++changes; });
        GlVolumeBoundingBox box(&parameters);
        GlMatrix moved = identityGlMatrix();
        moved[12] = 100.0;
        moved[14] = 1500.0;
        box.setMatrix(moved);
        EXPECT_EQ(box.matrix(), moved);
        EXPECT_EQ(parameters.volumePose(), locked ? poseBefore : moved);
        EXPECT_EQ(changes, locked ? 0 : 1);
    }
}

}  // namespace
}  // namespace Veltrane
