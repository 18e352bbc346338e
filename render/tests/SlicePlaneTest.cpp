#include "render/SlicePlane.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Veltrane {
namespace {

void expectPoint(const double* actual, const GlVector& expected)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-9) << "component " << i;
}

TEST(SlicePlane, StandardOrientationsAndTheirDominantAxes)
{
    struct Case {
        int orientation;
        GlVector x, y, normal;
        int axis;
    };
    const Case cases[] = {
        {0, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 2},
        {1, {0, 1, 0}, {0, 0, -1}, {-1, 0, 0}, 0},
        {2, {1, 0, 0}, {0, 0, -1}, {0, 1, 0}, 1},
        {7, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 2},
        {-1, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        const SlicePlane plane(c.orientation);
        EXPECT_EQ(plane.column(0), c.x);
        EXPECT_EQ(plane.column(1), c.y);
        EXPECT_EQ(plane.normal(), c.normal);
        EXPECT_EQ(plane.centre(), (GlVector{0, 0, 0}));
        EXPECT_EQ(plane.matrix[15], 1.0);
        EXPECT_EQ(plane.extents, (std::array<double, 2>{0, 0}));
        EXPECT_EQ(plane.dominantAxis(), c.axis);
    }
}

TEST(SlicePlane, DominantAxisTiesGoToTheLowerAxis)
{
    const std::pair<GlVector, int> cases[] = {
        {{0.6, 0.6, 0.5}, 0}, {{0.5, 0.6, 0.6}, 1}, {{1, 1, 1}, 0},
        {{0, -0.7, 0.7}, 1},  {{0.1, 0.2, -0.9}, 2}, {{-0.8, 0.6, 0}, 0},
    };
    for (const auto& [normal, axis] : cases) {
        GlMatrix matrix = identityGlMatrix();
        std::copy(normal.begin(), normal.end(), matrix.begin() + 8);
        EXPECT_EQ(SlicePlane(matrix, 1, 1).dominantAxis(), axis)
            << normal[0] << ", " << normal[1] << ", " << normal[2];
    }
}

TEST(SlicePlane, CornersRunAroundTheRectangleInOrder)
{
    SlicePlane plane(1);
    plane.extents = {2, 3};
    plane.setCentre({10, 20, 30});
    const auto corners = plane.corners();
    // x axis (0, 1, 0), y axis (0, 0, -1).
    const SlicePlane::Corner expected[4] = {
        {10, 18, 33, 1}, {10, 18, 27, 1}, {10, 22, 27, 1}, {10, 22, 33, 1}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(corners[i], expected[i]) << "corner " << i;
}

/// A slice plane from its axes, centre and extents.
SlicePlane planeFrom(const GlVector& x, const GlVector& y, const GlVector& centre, double e0,
                     double e1)
{
    const GlVector n = {x[1] * y[2] - x[2] * y[1], x[2] * y[0] - x[0] * y[2],
                        x[0] * y[1] - x[1] * y[0]};
    return SlicePlane({x[0], x[1], x[2], 0, y[0], y[1], y[2], 0, n[0], n[1], n[2], 0, centre[0],
                       centre[1], centre[2], 1},
                      e0, e1);
}

TEST(SlicePlane, CrossingSegmentIsTheOverlapOfBothRectangles)
{
    const double e = 25.0;
    SlicePlane axial(0);
    axial.extents = {e, e};
    const double s = std::sqrt(0.5);
    struct Case {
        const char* what;
        SlicePlane other;
        GlVector p0, p1;
    };
    const Case cases[] = {
        {"orientations 0 and 1 through the origin", SlicePlane(SlicePlane(1).matrix, e, e),
         {0, -e, 0}, {0, e, 0}},
        // The other rectangle runs from y = 5 to 45 along the crossing line:
        // only 5 ... 25 lies inside both.
        {"rectangles that overlap in part", planeFrom({0, 1, 0}, {0, 0, -1}, {3, 25, 0}, 20, 10),
         {3, 5, 0}, {3, 25, 0}},
        // A diagonal crossing meets the axial rectangle at two corners, each
        // on two of its edges.
        {"a line through two corners", planeFrom({s, -s, 0}, {0, 0, 1}, {0, 0, 0}, 100, 5),
         {e, -e, 0}, {-e, e, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double p0[3] = {};
        double p1[3] = {};
        ASSERT_TRUE(axial.intersect(c.other, p0, p1));
        expectPoint(p0, c.p0);
        expectPoint(p1, c.p1);
    }
}

TEST(SlicePlane, NoSegmentForParallelPlanesOrRectanglesThatMissEachOther)
{
    SlicePlane axial(0);
    axial.extents = {25, 25};
    struct Case {
        const char* what;
        SlicePlane other;
    };
    const Case cases[] = {
        {"same orientation", SlicePlane(SlicePlane(0).matrix, 25, 25)},
        {"parallel and apart", planeFrom({1, 0, 0}, {0, 1, 0}, {0, 0, 10}, 25, 25)},
        {"the other rectangle ends before this one starts",
         planeFrom({0, 1, 0}, {0, 0, -1}, {0, 60, 0}, 20, 10)},
        {"the other rectangle lies wholly above this plane",
         planeFrom({0, 1, 0}, {0, 0, -1}, {0, 0, 30}, 20, 10)},
        {"the other rectangle has no size", SlicePlane(1)},
    };
    for (const Case& c : cases) {
        double p0[3] = {7, 7, 7};
        double p1[3] = {7, 7, 7};
        EXPECT_FALSE(axial.intersect(c.other, p0, p1)) << c.what;
        expectPoint(p0, {7, 7, 7});
        expectPoint(p1, {7, 7, 7});
    }
}

}  // namespace
}  // namespace Veltrane
