#include "meshproc/poisson/AreaMinimizingTriangulator.h"
#include "meshproc/poisson/IsoEdgeChains.h"
#include "meshproc/poisson/IsoPolygons.h"
#include "meshproc/poisson/tests/PoissonTestTrees.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using namespace Veltrane::PoissonReconstruction;

namespace {

using Point = AreaMinimizingTriangulator::Point;
using Triangle = AreaMinimizingTriangulator::Triangle;

double signedAreaZ(const std::vector<Point>& p, const Triangle& t)
{
    const Point& a = p[size_t(t[0])];
    const Point& b = p[size_t(t[1])];
    const Point& c = p[size_t(t[2])];
    return 0.5 * ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]));
}

double polygonAreaZ(const std::vector<Point>& p)
{
    double sum = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Point& a = p[i];
        const Point& b = p[(i + 1) % p.size()];
        sum += a[0] * b[1] - b[0] * a[1];
    }
    return 0.5 * sum;
}

struct End {
    std::uint64_t key;
};
struct Segment {
    End from, to;
};

Segment seg(std::uint64_t a, std::uint64_t b)
{
    return {{a}, {b}};
}

}  // namespace

TEST(AreaMinimizingTriangulator, SmallPolygons)
{
    AreaMinimizingTriangulator triangulator;
    EXPECT_TRUE(triangulator.triangulate({{0, 0, 0}, {1, 0, 0}}).empty());
    EXPECT_EQ(triangulator.triangulate({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}), (std::vector<Triangle>{{0, 1, 2}}));

    // A square ties: split along the diagonal from corner 0 to corner 2.
    const std::vector<Point> square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    EXPECT_EQ(triangulator.triangulate(square), (std::vector<Triangle>{{0, 1, 2}, {2, 3, 0}}));

    // A folded quad: the diagonal 1-3 gives the smaller surface.
    const std::vector<Point> folded{{0, 0, 0}, {1, 0, 0}, {1, 1, 2}, {0, 1, 0}};
    EXPECT_EQ(triangulator.triangulate(folded), (std::vector<Triangle>{{0, 1, 3}, {3, 1, 2}}));
}

TEST(AreaMinimizingTriangulator, TiesTakeTheFirstMiddlePoint)
{
    // Planar, convex, integer areas: every triangulation has the same area.
    const std::vector<Point> pentagon{{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {1, 3, 0}, {0, 2, 0}};
    AreaMinimizingTriangulator triangulator;
    EXPECT_EQ(triangulator.triangulate(pentagon), (std::vector<Triangle>{{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}));
}

TEST(AreaMinimizingTriangulator, PlanarPolygonsAreCoveredWithTheirOrientation)
{
    const std::vector<std::vector<Point>> polygons = {
        // L shape
        {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}},
        // arrow with a reflex corner
        {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {2, 1, 0}, {0, 3, 0}},
        // regular octagon
        {{1, 0, 0}, {0.7071f, 0.7071f, 0}, {0, 1, 0}, {-0.7071f, 0.7071f, 0}, {-1, 0, 0},
         {-0.7071f, -0.7071f, 0}, {0, -1, 0}, {0.7071f, -0.7071f, 0}},
    };
    AreaMinimizingTriangulator triangulator;
    for (const auto& polygon : polygons) {
        const auto triangles = triangulator.triangulate(polygon);
        ASSERT_EQ(triangles.size(), polygon.size() - 2);
        double total = 0;
        for (const Triangle& t : triangles) {
            EXPECT_GT(signedAreaZ(polygon, t), 0.0);
            total += signedAreaZ(polygon, t);
        }
        EXPECT_NEAR(total, polygonAreaZ(polygon), 1e-4);
    }
}

TEST(AreaMinimizingTriangulator, NonFinitePointsStillGiveValidIndices)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {nan, inf}) {
        const std::vector<Point> polygon(6, Point{bad, 0, bad});
        AreaMinimizingTriangulator triangulator;
        const auto triangles = triangulator.triangulate(polygon);
        ASSERT_EQ(triangles.size(), 4u);
        for (const Triangle& t : triangles)
            for (int corner : t) {
                EXPECT_GE(corner, 0);
                EXPECT_LT(corner, 6);
            }
    }
}

TEST(ChainIsoEdges, JoinsSegmentsIntoLoops)
{
    // A square loop 1-2-3-4 given out of order with one segment turned round,
    // and a separate triangle 7-8-9.
    std::vector<Segment> segments{seg(3, 4), seg(7, 8), seg(2, 1), seg(4, 1), seg(9, 7), seg(8, 9), seg(2, 3)};
    std::vector<std::vector<Segment>> loops;
    chainIsoEdges(segments, loops);
    EXPECT_TRUE(segments.empty());
    ASSERT_EQ(loops.size(), 2u);
    size_t total = 0;
    for (const auto& loop : loops) {
        total += loop.size();
        for (size_t i = 0; i < loop.size(); ++i)
            EXPECT_EQ(loop[i].to.key, loop[(i + 1) % loop.size()].from.key);
    }
    EXPECT_EQ(total, 7u);
    // The first loop starts from the first segment and keeps its direction.
    bool hasFirst = false;
    for (const Segment& s : loops[0])
        hasFirst |= s.from.key == 3 && s.to.key == 4;
    EXPECT_TRUE(hasFirst);
}

TEST(ChainIsoEdges, OpenChainStaysOpen)
{
    std::vector<Segment> segments{seg(2, 3), seg(1, 2), seg(3, 4)};
    std::vector<std::vector<Segment>> loops;
    chainIsoEdges(segments, loops);
    ASSERT_EQ(loops.size(), 1u);
    ASSERT_EQ(loops[0].size(), 3u);
    EXPECT_EQ(loops[0].front().from.key, 1u);
    EXPECT_EQ(loops[0].back().to.key, 4u);
    for (size_t i = 0; i + 1 < loops[0].size(); ++i)
        EXPECT_EQ(loops[0][i].to.key, loops[0][i + 1].from.key);
}

namespace {

struct OutputFixture {
    TestTrees::Tree tree;
    std::vector<float> accumulated;
    CoredFileMeshData<PlyVertex> data;
    IsoSurfaceContext<NodeData> context{tree, 0.0f, accumulated, data};
    IsoSurfaceWorker<TestTrees::Node> worker{0};

    std::vector<std::vector<PolygonCorner>> polygons(std::vector<Point3D<float>>* centres = nullptr)
    {
        mergeWorkerPolygons(context, worker, centres);
        data.rewind();
        std::vector<std::vector<PolygonCorner>> result;
        std::vector<PolygonCorner> polygon;
        for (int i = 0; i < data.polygonTotal() && data.readNextPolygon(polygon); ++i)
            result.push_back(polygon);
        return result;
    }
};

PlyVertex at(float x, float y, float z)
{
    PlyVertex v;
    v.point[0] = x;
    v.point[1] = y;
    v.point[2] = z;
    return v;
}

}  // namespace

TEST(OutputTriangulatedPolygon, AlignedCornersGetACentreFan)
{
    OutputFixture f;
    f.data.inCorePoints = {at(0, 0, 0), at(1, 0, 0), at(1, 1, 0), at(0, 1, 0)};
    const std::vector<PolygonCorner> square{{0, true}, {1, true}, {2, true}, {3, true}};
    EXPECT_EQ(OutputTriangulatedPolygon(f.context, f.worker, square, nullptr, 0, true), 4);
    std::vector<Point3D<float>> centres;
    const auto polygons = f.polygons(&centres);
    ASSERT_EQ(centres.size(), 1u);
    EXPECT_FLOAT_EQ(centres[0][0], 0.5f);
    EXPECT_FLOAT_EQ(centres[0][1], 0.5f);
    EXPECT_EQ(f.data.outOfCorePointTotal(), 1);
    ASSERT_EQ(polygons.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(polygons[size_t(i)][0], (PolygonCorner{i, true}));
        EXPECT_EQ(polygons[size_t(i)][1], (PolygonCorner{(i + 1) % 4, true}));
        EXPECT_EQ(polygons[size_t(i)][2], (PolygonCorner{0, false}));
    }
}

TEST(OutputTriangulatedPolygon, WithoutCentresTheAreaDecides)
{
    OutputFixture f;
    // Out-of-core corners are read from the block positions at index - base.
    const std::vector<Point3D<float>> positions{at(0, 0, 0).point, at(1, 0, 0).point, at(1, 1, 0).point,
                                                at(0, 1, 0).point};
    const std::vector<PolygonCorner> square{{10, false}, {11, false}, {12, false}, {13, false}};
    EXPECT_EQ(OutputTriangulatedPolygon(f.context, f.worker, square, &positions, 10, false), 4);
    EXPECT_EQ(f.context.anomalies.total(), 0);
    // Two corners make nothing; a corner outside the positions is counted and
    // the polygon dropped.
    EXPECT_EQ(OutputTriangulatedPolygon(f.context, f.worker, {{10, false}, {11, false}}, &positions, 10, false), 2);
    EXPECT_EQ(OutputTriangulatedPolygon(f.context, f.worker, {{10, false}, {11, false}, {14, false}}, &positions, 10,
                                        false),
              3);
    EXPECT_EQ(f.context.anomalies.missingVertices, 1);

    const auto polygons = f.polygons();
    ASSERT_EQ(polygons.size(), 2u);
    EXPECT_EQ(polygons[0], (std::vector<PolygonCorner>{{10, false}, {11, false}, {12, false}}));
    EXPECT_EQ(polygons[1], (std::vector<PolygonCorner>{{12, false}, {13, false}, {10, false}}));
}
