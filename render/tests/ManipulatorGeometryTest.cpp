#include "render/ManipulatorGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace Veltrane {
namespace {

using Eigen::Vector3d;

TEST(ManipulatorGeometryTest, RayMeetsOnlyBoxesAheadOfItsOrigin)
{
    const Vector3d center(0, 0, 0);
    const Vector3d size(2, 2, 2);
    const struct {
        const char* name;
        Vector3d origin, direction;
        bool hit;
    } cases[] = {
        {"straight through", {0, 0, -10}, {0, 0, 1}, true},
        {"slanted through", {-10, -10, -10}, Vector3d(1, 1, 1).normalized(), true},
        {"passing beside", {3, 0, -10}, {0, 0, 1}, false},
        {"grazing a face", {1, 0, -10}, {0, 0, 1}, true},
        {"parallel to a slab, outside", {0, 1.5, -10}, {0, 0, 1}, false},
        {"behind the origin", {0, 0, 10}, {0, 0, 1}, false},
        {"starting inside", {0.5, 0, 0}, {1, 0, 0}, true},
        {"pointing away from it", {0, 0, -10}, {0, 0, -1}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rayHitsBox(c.origin, c.direction, center, size), c.hit) << c.name;
}

TEST(ManipulatorGeometryTest, NearestPointOfAnAxisToALine)
{
    // The x axis through (0, 0, 5) and a line along z through x = 3.
    const auto point =
        closestPointOnAxis(Vector3d(0, 0, 5), Vector3d(1, 0, 0), Vector3d(3, 1, -4), Vector3d(3, 1, 9));
    ASSERT_TRUE(point.has_value());
    EXPECT_NEAR((*point - Vector3d(3, 0, 5)).norm(), 0.0, 1e-12);
    // A scaled axis gives the same point.
    const auto scaled =
        closestPointOnAxis(Vector3d(0, 0, 5), Vector3d(-7, 0, 0), Vector3d(3, 1, -4), Vector3d(3, 1, 9));
    ASSERT_TRUE(scaled.has_value());
    EXPECT_NEAR((*scaled - *point).norm(), 0.0, 1e-12);
    // Parallel lines have no nearest point.
    EXPECT_FALSE(closestPointOnAxis(Vector3d(0, 0, 0), Vector3d(1, 0, 0), Vector3d(0, 1, 0),
                                    Vector3d(5, 1, 0))
                     .has_value());
}

TEST(ManipulatorGeometryTest, RingDistanceFindsWhereTheRayPassesTheRing)
{
    // A ring of radius 100 about z at the origin.
    const Vector3d center(0, 0, 0), normal(0, 0, 1);
    const struct {
        const char* name;
        Vector3d origin, direction;
        double distance;
        Vector3d ringPoint;
    } cases[] = {
        {"through the ring", {100, 0, -500}, {0, 0, 1}, 0.0, {100, 0, 0}},
        {"outside the ring", {130, 0, -500}, {0, 0, 1}, 30.0, {100, 0, 0}},
        // The search goes from the ray's origin to the nearer of two equal
        // minima, even when that lies behind the origin.
        {"inside, above the plane", {0, -60, 300}, {0, 1, 0}, 300.0, {0, -100, 0}},
        {"slanted through the centre", {0, -600, -600}, Vector3d(0, 1, 1).normalized(),
         50.0 * std::sqrt(2.0), {0, -100, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RingDistance found = ringDistance(c.origin, c.direction, center, normal, 100.0);
        EXPECT_NEAR(found.distance, c.distance, 1e-2);
        EXPECT_NEAR((found.ringPoint - c.ringPoint).norm(), 0.0, 0.5);
        EXPECT_NEAR((found.rayPoint - (c.origin + found.rayParameter * c.direction)).norm(), 0.0,
                    1e-9);
    }
}

TEST(ManipulatorGeometryTest, DampedLeastSquaresSolvesASmallFit)
{
    // Fit y = a * exp(b * x) to exact samples of a = 2, b = -0.5.
    const double xs[] = {0.0, 0.5, 1.0, 1.5, 2.0, 3.0};
    const auto residual = [&](const Eigen::VectorXd& p) {
        Eigen::VectorXd r(6);
        for (int i = 0; i < 6; ++i)
            r[i] = p[0] * std::exp(p[1] * xs[i]) - 2.0 * std::exp(-0.5 * xs[i]);
        return r;
    };
    const Eigen::VectorXd fitted = dampedLeastSquares(Eigen::Vector2d(1.0, 0.0), residual);
    EXPECT_NEAR(fitted[0], 2.0, 1e-3);
    EXPECT_NEAR(fitted[1], -0.5, 1e-3);

    // No iteration leaves the start untouched.
    const Eigen::VectorXd unchanged = dampedLeastSquares(Eigen::Vector2d(1.0, 0.0), residual, 0);
    EXPECT_EQ(unchanged, Eigen::Vector2d(1.0, 0.0));
}

}  // namespace
}  // namespace Veltrane
