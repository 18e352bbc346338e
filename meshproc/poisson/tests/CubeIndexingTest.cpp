#include "meshproc/poisson/CubeIndexing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <tuple>
#include <vector>

using namespace Veltrane::PoissonReconstruction;
using namespace Veltrane::PoissonReconstruction::CubeIndexing;

namespace {

bool below(int cubeCase, int corner)
{
    return (cubeCase >> caseCornerBit[size_t(corner)]) & 1;
}

std::vector<std::array<int, 3>> rowTriangles(int cubeCase)
{
    int buffer[3 * maxCaseTriangles];
    const int count = caseTriangles(cubeCase, buffer);
    std::vector<std::array<int, 3>> triangles;
    for (int t = 0; t < count; ++t)
        triangles.push_back({buffer[3 * t], buffer[3 * t + 1], buffer[3 * t + 2]});
    return triangles;
}

using Vec = std::array<double, 3>;

Vec cornerPosition(int c)
{
    return {double(c & 1), double((c >> 1) & 1), double((c >> 2) & 1)};
}

Vec edgeMiddle(int e)
{
    const auto corners = edgeCorners(e);
    const Vec a = cornerPosition(corners.first);
    const Vec b = cornerPosition(corners.second);
    return {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
}

bool isFaceEdge(int e, int f)
{
    const auto faces = edgeFaces(e);
    return faces.first == f || faces.second == f;
}

std::vector<int> faceEdges(int f)
{
    std::vector<int> edges;
    for (int e = 0; e < edgeCount; ++e)
        if (isFaceEdge(e, f))
            edges.push_back(e);
    return edges;
}

// Directed segments (from, to, face) of a row: the triangle sides on a face.
std::multiset<std::tuple<int, int, int>> rowSegments(int cubeCase)
{
    std::multiset<std::tuple<int, int, int>> segments;
    for (const auto& t : rowTriangles(cubeCase))
        for (int k = 0; k < 3; ++k) {
            const int a = t[size_t(k)];
            const int b = t[size_t((k + 1) % 3)];
            const int f = commonFace(a, b);
            if (f >= 0)
                segments.insert({a, b, f});
        }
    return segments;
}

}  // namespace

TEST(CubeIndexing, EdgeAndFaceNumbering)
{
    EXPECT_EQ(edgeCorners(6), std::make_pair(4, 6));
    EXPECT_EQ(edgeCorners(11), std::make_pair(3, 7));
    EXPECT_EQ(edgeCorners(0), std::make_pair(0, 1));
    EXPECT_EQ(edgeCorners(3), std::make_pair(6, 7));
    EXPECT_EQ(edgeFaces(9), std::make_pair(1, 2));
    EXPECT_EQ(edgeFaces(3), std::make_pair(3, 5));
    EXPECT_EQ(faceCorners(1), (std::array<int, 4>{1, 3, 5, 7}));
    EXPECT_EQ(faceCorners(2), (std::array<int, 4>{0, 1, 4, 5}));
    EXPECT_EQ(faceCorners(5), (std::array<int, 4>{4, 5, 6, 7}));

    // Every edge runs along its axis between two corners of both its faces.
    for (int e = 0; e < edgeCount; ++e) {
        const auto corners = edgeCorners(e);
        EXPECT_EQ(corners.second - corners.first, 1 << (e >> 2)) << e;
        const auto faces = edgeFaces(e);
        for (int f : {faces.first, faces.second}) {
            const auto fc = faceCorners(f);
            EXPECT_NE(std::find(fc.begin(), fc.end(), corners.first), fc.end()) << e;
            EXPECT_NE(std::find(fc.begin(), fc.end(), corners.second), fc.end()) << e;
        }
    }
}

TEST(CubeIndexing, Reflections)
{
    struct Case {
        int edge, face, expected;
    };
    for (const Case& c : {Case{9, 1, 8}, Case{0, 5, 2}, Case{5, 2, 5}, Case{5, 0, 4}, Case{10, 3, 8},
                          Case{3, 6, -1}}) {
        EXPECT_EQ(faceReflectEdge(c.edge, c.face), c.expected) << c.edge << " " << c.face;
    }
    EXPECT_EQ(edgeReflectEdge(4), 7);
    EXPECT_EQ(edgeReflectEdge(9), 10);

    // Reflecting across a face keeps the edge on that face and is its own inverse.
    for (int e = 0; e < edgeCount; ++e)
        for (int f = 0; f < faceCount; ++f) {
            const int r = faceReflectEdge(e, f);
            EXPECT_EQ(faceReflectEdge(r, f), e);
            if (isFaceEdge(e, f)) {
                EXPECT_TRUE(isFaceEdge(r, f ^ 1)) << e << " " << f;
            }
        }
}

TEST(CubeIndexing, CaseOfCornerValues)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(cubeCase({1, 1, 1, 1, 1, 1, 1, 1}, 0.5f), 0);
    EXPECT_EQ(cubeCase({0, 0, 0, 0, 0, 0, 0, 0}, 0.5f), 255);
    // A value equal to the iso-value counts as above, NaN too.
    EXPECT_EQ(cubeCase({0.5f, nan, 0, 1, 1, 1, 1, 1}, 0.5f), 1 << caseCornerBit[2]);
    EXPECT_EQ(cubeCase({1, 1, 1, 0, 1, 1, 1, 1}, 0.5f), 4);
}

TEST(CubeIndexing, EdgeMaskAndRoots)
{
    EXPECT_EQ(caseEdgeMask(1), 0x111);
    EXPECT_EQ(caseEdgeMask(5), 0x933);
    EXPECT_EQ(caseEdgeMask(0), 0);
    EXPECT_EQ(caseEdgeMask(255), 0);
    int buffer[3 * maxCaseTriangles];
    EXPECT_EQ(caseTriangles(0, buffer), 0);
    EXPECT_EQ(caseTriangles(255, buffer), 0);
    for (int c = 0; c < caseCount; ++c) {
        EXPECT_EQ(caseEdgeMask(c), caseEdgeMask(255 - c));
        for (int e = 0; e < edgeCount; ++e)
            EXPECT_EQ(edgeHasRoot(c, e), bool((caseEdgeMask(c) >> e) & 1));
    }
}

// The rules every row must satisfy: they fix what the extraction takes from
// the table (the directed iso-line segment on every face).
TEST(CubeIndexing, EveryCaseRowFollowsTheSegmentRules)
{
    for (int c = 0; c < caseCount; ++c) {
        SCOPED_TRACE(c);
        const auto triangles = rowTriangles(c);
        const auto& row = caseTriangleRow(c);
        EXPECT_EQ(row[3 * triangles.size()], -1);

        // Rule 1: the row uses exactly the crossed edges.
        std::set<int> used;
        for (const auto& t : triangles)
            used.insert(t.begin(), t.end());
        std::set<int> crossed;
        for (int e = 0; e < edgeCount; ++e)
            if (edgeHasRoot(c, e))
                crossed.insert(e);
        EXPECT_EQ(used, crossed);

        // Rule 2: inner sides pair up with opposite directions.
        std::map<std::pair<int, int>, int> inner;
        for (const auto& t : triangles)
            for (int k = 0; k < 3; ++k) {
                const int a = t[size_t(k)];
                const int b = t[size_t((k + 1) % 3)];
                if (commonFace(a, b) < 0)
                    ++inner[{a, b}];
            }
        for (const auto& side : inner) {
            EXPECT_EQ(side.second, 1);
            EXPECT_EQ(inner.count({side.first.second, side.first.first}), 1u);
        }

        // Rule 3 and 4: one side per crossing pair of a face, each crossed
        // face edge in exactly one side, the corner below to the right, and
        // on a face with four crossings every side cuts off a corner below.
        const auto segments = rowSegments(c);
        for (int f = 0; f < faceCount; ++f) {
            std::vector<int> faceCrossed;
            for (int e : faceEdges(f))
                if (crossed.count(e))
                    faceCrossed.push_back(e);
            std::multiset<int> ends;
            int sides = 0;
            for (const auto& s : segments) {
                if (std::get<2>(s) != f)
                    continue;
                ++sides;
                const int a = std::get<0>(s);
                const int b = std::get<1>(s);
                ends.insert(a);
                ends.insert(b);
                const auto ca = edgeCorners(a);
                const auto cb = edgeCorners(b);
                std::set<int> cornersA{ca.first, ca.second};
                int shared = -1;
                for (int corner : {cb.first, cb.second})
                    if (cornersA.count(corner))
                        shared = corner;
                if (faceCrossed.size() == 4) {
                    ASSERT_GE(shared, 0) << "face " << f;
                    EXPECT_TRUE(below(c, shared)) << "face " << f;
                }
                // Orientation against every corner of the face below the iso-value.
                const Vec pa = edgeMiddle(a), pb = edgeMiddle(b);
                const Vec ab{pb[0] - pa[0], pb[1] - pa[1], pb[2] - pa[2]};
                for (int corner : faceCorners(f)) {
                    if (!below(c, corner))
                        continue;
                    if (faceCrossed.size() == 4 && corner != shared)
                        continue;
                    const Vec pc = cornerPosition(corner);
                    const Vec ac{pc[0] - pa[0], pc[1] - pa[1], pc[2] - pa[2]};
                    const int axis = f >> 1;
                    const double z = ab[(axis + 1) % 3] * ac[(axis + 2) % 3] -
                                     ab[(axis + 2) % 3] * ac[(axis + 1) % 3];
                    const double outward = (f & 1) ? 1 : -1;
                    EXPECT_LT(z * outward, 0) << "face " << f << " corner " << corner;
                }
            }
            EXPECT_EQ(sides * 2, int(faceCrossed.size())) << "face " << f;
            EXPECT_EQ(ends, std::multiset<int>(faceCrossed.begin(), faceCrossed.end())) << "face " << f;
        }
    }
}

TEST(CubeIndexing, ComplementCasesDifferOnAmbiguousFaces)
{
    // Case 5 cuts corners 0 and 3 off the bottom face: two separate triangles.
    EXPECT_EQ(rowTriangles(5).size(), 2u);
    // Its complement keeps corners 1 and 2 connected across that face instead.
    std::set<std::pair<int, int>> bottom5, bottom250;
    for (const auto& s : rowSegments(5))
        if (std::get<2>(s) == 4)
            bottom5.insert({std::min(std::get<0>(s), std::get<1>(s)), std::max(std::get<0>(s), std::get<1>(s))});
    for (const auto& s : rowSegments(250))
        if (std::get<2>(s) == 4)
            bottom250.insert({std::min(std::get<0>(s), std::get<1>(s)), std::max(std::get<0>(s), std::get<1>(s))});
    EXPECT_EQ(bottom5, (std::set<std::pair<int, int>>{{0, 4}, {1, 5}}));
    EXPECT_EQ(bottom250, (std::set<std::pair<int, int>>{{0, 5}, {1, 4}}));
}

TEST(CubeIndexing, ReferenceRowsMatchExactly)
{
    // Rows as known from the case analysis: the surface (the directed face
    // segments the extraction uses) and also the triangle order, starting
    // edges and inner diagonals, which decide where a polygon starts.
    const std::map<int, std::vector<std::array<int, 3>>> reference = {
        {1, {{0, 4, 8}}},
        {2, {{5, 0, 9}}},
        {3, {{8, 9, 5}, {8, 5, 4}}},
        {4, {{1, 5, 11}}},
        {5, {{0, 4, 8}, {1, 5, 11}}},
        {6, {{9, 11, 1}, {9, 1, 0}}},
        {8, {{4, 1, 10}}},
        {15, {{8, 9, 11}, {8, 11, 10}}},
        {16, {{8, 6, 2}}},
        {51, {{4, 6, 7}, {5, 4, 7}}},
        {127, {{6, 3, 10}}},
        {128, {{10, 3, 6}}},
        {254, {{8, 4, 0}}},
    };
    for (const auto& entry : reference) {
        SCOPED_TRACE(entry.first);
        std::multiset<std::tuple<int, int, int>> expected;
        for (const auto& t : entry.second)
            for (int k = 0; k < 3; ++k) {
                const int a = t[size_t(k)];
                const int b = t[size_t((k + 1) % 3)];
                const int f = commonFace(a, b);
                if (f >= 0)
                    expected.insert({a, b, f});
            }
        EXPECT_EQ(rowSegments(entry.first), expected);
        EXPECT_EQ(rowTriangles(entry.first), entry.second);
    }
}
