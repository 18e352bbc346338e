#include "app/ViewLayout.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace {

void expectRect(const RelativeRect& actual, const RelativeRect& expected, const char* view)
{
    EXPECT_DOUBLE_EQ(actual.x, expected.x) << view;
    EXPECT_DOUBLE_EQ(actual.y, expected.y) << view;
    EXPECT_DOUBLE_EQ(actual.width, expected.width) << view;
    EXPECT_DOUBLE_EQ(actual.height, expected.height) << view;
}

TEST(ViewLayout, SideColumnIsAThirdSplitInTwoRowsWithTwoPixelGaps)
{
    // a = 330, b = 350 for 1000 x 700 pixels.
    const ViewRects rects = viewRects(1000, 700);
    expectRect(rects.color, {0.0, 352.0 / 700, 0.33, 348.0 / 700}, "colour");
    expectRect(rects.depth, {0.0, 0.0, 0.33, 0.5}, "depth");
    expectRect(rects.right, {0.332, 0.0, 0.668, 1.0}, "point cloud and scene");
    expectRect(rects.mesh, {0.0, 0.0, 1.0, 1.0}, "mesh");
}

TEST(ViewLayout, RoundsTheColumnAndTheRowToWholePixels)
{
    // 0.33 x 1001 = 330.33 -> 330; 0.5 x 701 = 350.5 -> 351.
    const ViewRects rects = viewRects(1001, 701);
    expectRect(rects.color, {0.0, 353.0 / 701, 330.0 / 1001, 348.0 / 701}, "colour");
    expectRect(rects.depth, {0.0, 0.0, 330.0 / 1001, 351.0 / 701}, "depth");
    expectRect(rects.right, {332.0 / 1001, 0.0, 669.0 / 1001, 1.0}, "point cloud and scene");
}

TEST(ViewLayout, AWidgetWithoutAreaKeepsTheInitialPlaces)
{
    const ViewRects initial = initialViewRects();
    expectRect(initial.color, {0.0, 0.5, 0.33, 0.5}, "colour");
    expectRect(initial.right, {0.33, 0.0, 0.67, 1.0}, "point cloud and scene");
    for (const auto& [width, height] : {std::pair{0, 700}, std::pair{1000, 0}, std::pair{-5, -5}}) {
        const ViewRects rects = viewRects(width, height);
        expectRect(rects.color, initial.color, "colour");
        expectRect(rects.depth, initial.depth, "depth");
        expectRect(rects.right, initial.right, "right");
    }
}

TEST(ViewLayout, EachModeShowsItsViews)
{
    struct Case {
        int mode;
        ViewVisibility shown;
    };
    const Case cases[] = {
        {1, {true, true, true, false, false}},
        {2, {true, true, false, true, false}},
        {3, {false, false, false, false, true}},
        {0, {false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        const ViewVisibility shown = viewVisibility(c.mode);
        EXPECT_EQ(shown.color, c.shown.color) << c.mode;
        EXPECT_EQ(shown.depth, c.shown.depth) << c.mode;
        EXPECT_EQ(shown.pointCloud, c.shown.pointCloud) << c.mode;
        EXPECT_EQ(shown.scene, c.shown.scene) << c.mode;
        EXPECT_EQ(shown.mesh, c.shown.mesh) << c.mode;
    }
}

}  // namespace
}  // namespace Veltrane
