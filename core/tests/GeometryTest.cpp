#include "core/Geometry.h"

#include <gtest/gtest.h>

namespace Veltrane {
namespace Geometry {
namespace {

using V = Vector3d;

TEST(GeometryLine, KeepsDirectionEqualToEndMinusOrigin)
{
    Line line(V(1, 2, 3), V(2, 2, 5));
    EXPECT_EQ(line.direction(), V(1, 0, 2));
    line.setEnd(V(0, 0, 0));
    EXPECT_EQ(line.origin(), V(1, 2, 3));
    EXPECT_EQ(line.end(), V(0, 0, 0));
    EXPECT_EQ(line.direction(), V(-1, -2, -3));
}

TEST(GeometryLine, IntersectPlane)
{
    struct Case {
        const char* name;
        V planePoint, planeNormal;
        int result;
        float t;
        V out;
    };
    const V untouched(7, 7, 7);
    const Case cases[] = {
        {"crossing", V(0, 0, 1), V(0, 0, 1), 1, 0.5f, V(0, 0, 1)},
        {"beyond the end", V(0, 0, 3), V(0, 0, 1), 1, 1.5f, V(0, 0, 3)},
        {"behind the origin, tilted plane", V(0, 0, -1), V(0, 1, 2), 1, -0.5f, V(0, 0, -1)},
        {"in the plane", V(0, 5, 0), V(1, 0, 0), 2, 0.0f, V(0, 0, 0)},
        {"parallel, off the plane", V(1, 0, 0), V(1, 0, 0), 0, 9.0f, untouched},
    };
    const Line line(V(0, 0, 0), V(0, 0, 2));
    for (const Case& c : cases) {
        V out = untouched;
        float t = 9.0f;
        EXPECT_EQ(line.intersectPlane(c.planePoint, c.planeNormal, out, &t), c.result) << c.name;
        EXPECT_EQ(t, c.t) << c.name;
        EXPECT_EQ(out, c.out) << c.name;
        EXPECT_EQ(line.intersectPlane(c.planePoint, c.planeNormal, out, nullptr), c.result) << c.name;
    }
}

TEST(GeometryTriangle, IntersectPlane)
{
    struct Case {
        const char* name;
        Triangle triangle;
        V planePoint, planeNormal;
        int result;
        int isolated;
        V from, to;
    };
    const Triangle right(V(0, 0, 0), V(2, 0, 0), V(0, 2, 0));
    const Triangle peak(V(0, 0, 0), V(1, 1, 0), V(2, 0, 0));
    const V none(0, 0, 0);
    const Case cases[] = {
        {"b alone", right, V(1, 0, 0), V(1, 0, 0), 1, 0, V(1, 0, 0), V(1, 1, 0)},
        {"c alone", right, V(0, 1, 0), V(0, 1, 0), 1, 2, V(1, 1, 0), V(0, 1, 0)},
        {"a alone", right, V(0.5, 0.5, 0), V(1, 1, 0), 1, 1, V(1, 0, 0), V(0, 1, 0)},
        {"all on one side", right, V(3, 0, 0), V(1, 0, 0), 0, 0, none, none},
        {"touching a", right, V(0, 0, 0), V(1, 1, 0), 1, 1, V(0, 0, 0), V(0, 0, 0)},
        {"touching b", peak, V(0, 1, 0), V(0, 1, 0), 1, 0, V(1, 1, 0), V(1, 1, 0)},
        // Through one corner and across the opposite edge: the real cut.
        {"through b", peak, V(1, 0, 0), V(1, 0, 0), 1, 1, V(1, 1, 0), V(1, 0, 0)},
        {"through a", Triangle(V(1, 1, 0), V(2, 0, 0), V(0, 0, 0)), V(1, 0, 0), V(1, 0, 0), 1, 0, V(1, 1, 0),
         V(1, 0, 0)},
        {"through c", Triangle(V(2, 0, 0), V(0, 0, 0), V(1, 1, 0)), V(1, 0, 0), V(1, 0, 0), 1, 0, V(1, 0, 0),
         V(1, 1, 0)},
        {"edge b-c in the plane", Triangle(V(0, 0, 0), V(1, 1, 0), V(1, -1, 0)), V(1, 0, 0), V(1, 0, 0), 1, 1,
         V(1, 1, 0), V(1, -1, 0)},
    };
    for (const Case& c : cases) {
        Line segment(V(9, 9, 9), V(9, 9, 9));
        int isolated = -1;
        EXPECT_EQ(c.triangle.intersectPlane(c.planePoint, c.planeNormal, segment, &isolated), c.result) << c.name;
        EXPECT_EQ(isolated, c.isolated) << c.name;
        if (c.result == 1) {
            EXPECT_TRUE(segment.origin().isApprox(c.from, 1e-6) || segment.origin() == c.from)
                << c.name << ": " << segment.origin().transpose();
            EXPECT_TRUE(segment.end().isApprox(c.to, 1e-6) || segment.end() == c.to)
                << c.name << ": " << segment.end().transpose();
            EXPECT_EQ(segment.direction(), segment.end() - segment.origin()) << c.name;
        }
        EXPECT_EQ(c.triangle.intersectPlane(c.planePoint, c.planeNormal, segment, nullptr), c.result) << c.name;
    }
}

}  // namespace
}  // namespace Geometry
}  // namespace Veltrane
