#include "meshproc/BoxCrop.h"

#include "core/Mesh.h"
#include "meshproc/tests/MeshFixtures.h"
#include "testsupport/LogCapture.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Veltrane {
namespace {

using MeshProcessing::clipTriangleByPlane;
using MeshProcessing::ColoredTriangle;
using MeshProcessing::cropMeshToBox;
using MeshProcessing::isInsideBox;
using V = Mesh::Vector;
using T = Mesh::Triple;

// --- isInsideBox ---------------------------------------------------------

class InsideBox : public ::testing::TestWithParam<std::tuple<V, bool>> {};

TEST_P(InsideBox, SurfaceCountsAsInside)
{
    const auto [p, inside] = GetParam();
    EXPECT_EQ(isInsideBox(p, V(0, 0, 0), V(2, 2, 2)), inside);
    EXPECT_EQ(isInsideBox(p + V(3, -4, 5), V(3, -4, 5), V(2, 2, 2)), inside);
}

const double nan = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(, InsideBox,
                         ::testing::Values(std::make_tuple(V(1, 1, 1), true), std::make_tuple(V(-1, -1, -1), true),
                                           std::make_tuple(V(0, 0, 0), true),
                                           std::make_tuple(V(1.0000001, 0, 0), false),
                                           std::make_tuple(V(0, -1.0000001, 0), false),
                                           std::make_tuple(V(0, 0, 1.5), false), std::make_tuple(V(nan, 0, 0), false)));

// --- clipTriangleByPlane ---------------------------------------------------

/// Normals and colours that are linear in the position: interpolating them
/// along an edge must give the value at the cut point.
V normalAt(const V& p)
{
    return V(0.5 + 0.1 * p.x(), -0.2 * p.y(), 1.0);
}
V colorAt(const V& p)
{
    return V(0.25 * p.x(), 0.25 * p.y(), 0.5);
}

ColoredTriangle withLinearAttributes(const V& a, const V& b, const V& c)
{
    return ColoredTriangle(a, b, c, normalAt(a), normalAt(b), normalAt(c), colorAt(a), colorAt(b), colorAt(c));
}

V triangleNormal(const Geometry::Triangle& t)
{
    return (t.b - t.a).cross(t.c - t.a);
}

struct ClipCase {
    std::string name;
    int rotation;  // which input corner is a: the lone corner moves through a, b and c
    V planePoint;
    V planeNormal;
    std::size_t triangles;
    double area;
};

void PrintTo(const ClipCase& c, std::ostream* os)
{
    *os << c.name;
}

class ClipTriangle : public ::testing::TestWithParam<ClipCase> {};

TEST_P(ClipTriangle, KeepsThePartBelowThePlaneWithItsAttributesAndWinding)
{
    const ClipCase& c = GetParam();
    // Right triangle of area 2; planes x = 1 cut off the corner (2, 0, 0) or keep it alone.
    const V corners[3] = {V(0, 0, 0), V(2, 0, 0), V(0, 2, 0)};
    const int r = c.rotation;
    const ColoredTriangle input =
        withLinearAttributes(corners[r % 3], corners[(r + 1) % 3], corners[(r + 2) % 3]);
    const V& planePoint = c.planePoint;

    const std::vector<ColoredTriangle> result = clipTriangleByPlane(input, planePoint, c.planeNormal);
    ASSERT_EQ(result.size(), c.triangles);
    double area = 0.0;
    for (const ColoredTriangle& t : result) {
        const V n = triangleNormal(t);
        area += 0.5 * n.norm();
        EXPECT_GT(n.dot(triangleNormal(input)), 0.0) << "winding turned";
        for (const auto& [p, normal, color] : {std::tie(t.a, t.nA, t.cA), std::tie(t.b, t.nB, t.cB),
                                                std::tie(t.c, t.nC, t.cC)}) {
            EXPECT_LE(c.planeNormal.dot(p - planePoint), 1e-7) << p.transpose();
            EXPECT_TRUE(normal.isApprox(normalAt(p), 1e-7)) << p.transpose();
            EXPECT_TRUE(color.isApprox(colorAt(p), 1e-7)) << p.transpose();
        }
    }
    EXPECT_NEAR(area, c.area, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    , ClipTriangle,
    ::testing::Values(ClipCase{"OneCornerBeyondAsB", 0, V(1, 0, 0), V(1, 0, 0), 2, 1.5},
                      ClipCase{"OneCornerBeyondAsA", 1, V(1, 0, 0), V(1, 0, 0), 2, 1.5},
                      ClipCase{"OneCornerBeyondAsC", 2, V(1, 0, 0), V(1, 0, 0), 2, 1.5},
                      ClipCase{"TwoCornersBeyondLoneB", 0, V(1, 0, 0), V(-1, 0, 0), 1, 0.5},
                      ClipCase{"TwoCornersBeyondLoneA", 1, V(1, 0, 0), V(-1, 0, 0), 1, 0.5},
                      ClipCase{"TwoCornersBeyondLoneC", 2, V(1, 0, 0), V(-1, 0, 0), 1, 0.5},
                      ClipCase{"AllBelow", 0, V(3, 0, 0), V(1, 0, 0), 1, 2.0},
                      ClipCase{"AllAbove", 0, V(-1, 0, 0), V(1, 0, 0), 0, 0.0}),
    [](const ::testing::TestParamInfo<ClipCase>& info) { return info.param.name; });

TEST(ClipTriangleEdges, ZeroLengthEdgeInThePlaneGivesNoNan)
{
    // a and b coincide on the plane; c lies beyond it.
    const ColoredTriangle input = withLinearAttributes(V(1, 0, 0), V(1, 0, 0), V(2, 1, 0));
    for (const ColoredTriangle& t : clipTriangleByPlane(input, V(1, 0, 0), V(1, 0, 0))) {
        for (const V* v : {&t.a, &t.b, &t.c, &t.nA, &t.nB, &t.nC, &t.cA, &t.cB, &t.cC}) {
            EXPECT_TRUE(v->allFinite());
        }
    }
}

// --- cropMeshToBox ---------------------------------------------------------

/// A box of size (4, 2, 2) around (1, 0, 0) in box space, turned and moved.
struct Box {
    V centre = V(1, 0, 0);
    V size = V(4, 2, 2);
    Eigen::Matrix4d pose =
        (Eigen::Translation3d(5, -3, 2) * Eigen::AngleAxisd(0.7, V(1, 2, 3).normalized())).matrix();

    V toMesh(const V& p) const { return (pose * p.homogeneous()).head<3>(); }
    V toBox(const V& p) const { return (pose.inverse() * p.homogeneous()).head<3>(); }
};

Mesh triangleInBoxSpace(const Box& box, const V& a, const V& b, const V& c)
{
    Mesh mesh;
    mesh.vertices() = {box.toMesh(a), box.toMesh(b), box.toMesh(c)};
    mesh.faces() = {T(0, 1, 2)};
    return mesh;
}

double surfaceArea(const Mesh& mesh)
{
    double area = 0.0;
    for (const T& f : mesh.faces()) {
        const V& a = mesh.vertices()[static_cast<std::size_t>(f[0])];
        area += 0.5 * (mesh.vertices()[static_cast<std::size_t>(f[1])] - a)
                          .cross(mesh.vertices()[static_cast<std::size_t>(f[2])] - a)
                          .norm();
    }
    return area;
}

/// Cut points come from single-precision edge parameters.
void expectInsideBox(const Mesh& mesh, const Box& box)
{
    for (const V& p : mesh.vertices()) {
        const V q = box.toBox(p);
        EXPECT_TRUE(isInsideBox(q, box.centre, box.size + V::Constant(1e-5))) << q.transpose();
    }
}

struct CropCase {
    std::string name;
    V a, b, c;  // in box space; the box reaches x = 3, y = 1, z = 1
    std::size_t faces;
    double area;
};

void PrintTo(const CropCase& c, std::ostream* os)
{
    *os << c.name;
}

class CropTriangle : public ::testing::TestWithParam<CropCase> {};

TEST_P(CropTriangle, TurnedBoxCutsAtItsFaces)
{
    const CropCase& c = GetParam();
    const Box box;
    Mesh mesh = triangleInBoxSpace(box, c.a, c.b, c.c);
    ASSERT_EQ(cropMeshToBox(&mesh, box.centre, box.size, box.pose), &mesh);
    EXPECT_EQ(mesh.faces().size(), c.faces);
    EXPECT_NEAR(surfaceArea(mesh), c.area, 1e-6);
    expectInsideBox(mesh, box);
    EXPECT_TRUE(mesh.faces().empty() || mesh.isValid());
}

INSTANTIATE_TEST_SUITE_P(
    , CropTriangle,
    ::testing::Values(
        // Right triangles in z = 0 with legs 2 along x and 1 along y; the +x face is at x = 3.
        CropCase{"OneCornerBeyond", V(2, -0.5, 0), V(4, -0.5, 0), V(2, 0.5, 0), 2, 1.0 - 0.25},
        CropCase{"TwoCornersBeyond", V(2, -0.5, 0), V(4, -0.5, 0), V(4, 0.5, 0), 1, 0.25},
        // Beyond the +x and +y faces: what is left is the rectangle [0, 3] x [0, 1].
        CropCase{"AcrossAnEdge", V(0, 0, 0), V(4, 0, 0), V(0, 4, 0), 2, 3.0},
        CropCase{"Inside", V(0, -0.5, 0), V(2, -0.5, 0), V(0, 0.5, 0.5), 1, 0.5 * std::sqrt(5.0)},
        CropCase{"Outside", V(4, 0, 0), V(5, 0, 0), V(4, 0.5, 0), 0, 0.0}),
    [](const ::testing::TestParamInfo<CropCase>& info) { return info.param.name; });

TEST(CropMesh, TriangleInABoxFaceIsKeptWhole)
{
    Box box;
    box.pose = Eigen::Affine3d(Eigen::Translation3d(8, -2, 0.5)).matrix();
    Mesh mesh = triangleInBoxSpace(box, V(-1, -1, -1), V(3, -1, -1), V(3, 1, -1));
    const Mesh before(mesh);
    cropMeshToBox(&mesh, box.centre, box.size, box.pose);
    ASSERT_EQ(mesh.faces().size(), 1u);
    EXPECT_EQ(mesh.vertices().size(), 3u);
    EXPECT_NEAR(surfaceArea(mesh), 4.0, 1e-12);
}

/// For every vertex of `result`, the index of the vertex of `original` at the
/// same place (within `tolerance`), or -1.
std::vector<int> matchVertices(const Mesh& result, const Mesh& original, double tolerance)
{
    std::multimap<double, int> byX;
    for (int i = 0; i < static_cast<int>(original.vertices().size()); ++i) {
        byX.emplace(original.vertices()[static_cast<std::size_t>(i)].x(), i);
    }
    std::vector<int> match;
    for (const V& p : result.vertices()) {
        int found = -1;
        for (auto it = byX.lower_bound(p.x() - tolerance); it != byX.end() && it->first <= p.x() + tolerance; ++it) {
            if ((original.vertices()[static_cast<std::size_t>(it->second)] - p).norm() <= tolerance) {
                found = it->second;
            }
        }
        match.push_back(found);
    }
    return match;
}

/// The face's corners rotated so that the smallest index comes first.
T canonical(const T& f)
{
    int k = 0;
    for (int i = 1; i < 3; ++i) {
        if (f[i] < f[k]) {
            k = i;
        }
    }
    return T(f[k], f[(k + 1) % 3], f[(k + 2) % 3]);
}

TEST(CropMesh, BoxAroundEverythingGivesTheSameWeldedSurface)
{
    auto sphere = testing::marchingCubesSphere(8.0);
    ASSERT_NE(sphere, nullptr);
    sphere->computeNormals();
    sphere->computeBoundingBox();
    for (V& n : sphere->normals()) {
        n *= 3.0;  // the crop hands them back normalised
    }
    sphere->colors().resize(sphere->vertices().size());
    for (std::size_t i = 0; i < sphere->vertices().size(); ++i) {
        sphere->colors()[i] = (sphere->vertices()[i] - testing::sphereCentre()) / 16.0 + V::Constant(0.5);
    }
    sphere->colorIndices() = sphere->faces();

    Box box;
    box.size = V(30, 30, 30);
    box.centre = box.toBox(testing::sphereCentre());
    Mesh cropped(*sphere);
    cropMeshToBox(&cropped, box.centre, box.size, box.pose);

    ASSERT_EQ(cropped.vertices().size(), sphere->vertices().size());
    ASSERT_EQ(cropped.faces().size(), sphere->faces().size());
    EXPECT_TRUE(cropped.isValid());
    EXPECT_EQ(cropped.normalIndices(), cropped.faces());
    EXPECT_EQ(cropped.colorIndices(), cropped.faces());
    const std::vector<int> match = matchVertices(cropped, *sphere, 1e-9);
    for (std::size_t i = 0; i < match.size(); ++i) {
        ASSERT_GE(match[i], 0) << "vertex " << i << " moved";
        const auto j = static_cast<std::size_t>(match[i]);
        EXPECT_TRUE(cropped.normals()[i].isApprox(sphere->normals()[j] / 3.0, 1e-12)) << i;
        EXPECT_TRUE(cropped.colors()[i].isApprox(sphere->colors()[j], 1e-12)) << i;
    }
    std::set<std::tuple<int, int, int>> before;
    std::set<std::tuple<int, int, int>> after;
    for (const T& f : sphere->faces()) {
        const T c = canonical(f);
        before.emplace(c[0], c[1], c[2]);
    }
    for (const T& f : cropped.faces()) {
        const T c = canonical(T(match[static_cast<std::size_t>(f[0])], match[static_cast<std::size_t>(f[1])],
                                match[static_cast<std::size_t>(f[2])]));
        after.emplace(c[0], c[1], c[2]);
    }
    EXPECT_EQ(after, before);
    EXPECT_TRUE(cropped.boundingBoxMin().isApprox(sphere->boundingBoxMin(), 1e-9));
}

TEST(CropMesh, CutThroughASphereStaysManifoldAndWelded)
{
    auto sphere = testing::marchingCubesSphere(8.0);
    Box box;
    box.size = V(30, 30, 30);
    box.centre = box.toBox(testing::sphereCentre()) - V(0, 15.0 - 2.5, 0);  // the +y face cuts the sphere
    Mesh cropped(*sphere);
    cropMeshToBox(&cropped, box.centre, box.size, box.pose);

    ASSERT_FALSE(cropped.faces().empty());
    EXPECT_LT(cropped.faces().size(), sphere->faces().size());
    expectInsideBox(cropped, box);
    std::unique_ptr<TriMesh> tri(MeshProcessing::meshToTriMesh(cropped));
    EXPECT_EQ(tri->n_faces(), cropped.faces().size()) << "faces refused as non-manifold";
    // One boundary loop, along the cutting face.
    int boundaryEdges = 0;
    for (const OpenMesh::HalfedgeHandle heh : tri->halfedges()) {
        if (tri->is_boundary(heh)) {
            ++boundaryEdges;
            const TriMesh::Point& p = tri->point(tri->to_vertex_handle(heh));
            EXPECT_NEAR(box.toBox(V(p[0], p[1], p[2])).y(), box.centre.y() + 15.0, 1e-4);
        }
    }
    EXPECT_GT(boundaryEdges, 10);
}

TEST(CropMesh, BoxAroundNothingGivesAnEmptyMesh)
{
    Box box;
    Mesh mesh = triangleInBoxSpace(box, V(10, 0, 0), V(11, 0, 0), V(10, 1, 0));
    mesh.computeBoundingBox();
    cropMeshToBox(&mesh, box.centre, box.size, box.pose);
    EXPECT_TRUE(mesh.vertices().empty());
    EXPECT_TRUE(mesh.faces().empty());
    EXPECT_EQ(mesh.boundingBoxMin(), V::Zero());
    EXPECT_EQ(mesh.boundingBoxExtent(), V::Zero());
}

TEST(CropMesh, PoseWithoutInverseIsRefused)
{
    Box box;
    Mesh mesh = triangleInBoxSpace(box, V(2, -0.5, 0), V(4, -0.5, 0), V(2, 0.5, 0));
    const Mesh before(mesh);
    Eigen::Matrix4d flat = box.pose;
    flat.col(1).setZero();  // box scaled to nothing along y
    ASSERT_EQ(cropMeshToBox(&mesh, box.centre, box.size, flat), &mesh);
    EXPECT_EQ(mesh.vertices(), before.vertices());
    EXPECT_EQ(mesh.faces(), before.faces());
    EXPECT_EQ(cropMeshToBox(nullptr, box.centre, box.size, box.pose), nullptr);
}

TEST(CropMesh, BoxesWithoutVolumeAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        V centre;
        V size;
        const char* error;
    };
    const char* sizeError = "ERROR Cannot crop the mesh: the box size must be finite and positive on every axis";
    const Case cases[] = {
        {"NaN size", V(0, 0, 0), V(10, nan, 10), sizeError},
        {"zero size", V(0, 0, 0), V(10, 10, 0), sizeError},
        {"negative size", V(0, 0, 0), V(-10, 10, 10), sizeError},
        {"infinite size", V(0, 0, 0), V(10, 10, inf), sizeError},
        {"NaN centre", V(0, nan, 0), V(10, 10, 10), "ERROR Cannot crop the mesh: the box centre is not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Box box;
        Mesh mesh = triangleInBoxSpace(box, V(2, -0.5, 0), V(4, -0.5, 0), V(2, 0.5, 0));
        const Mesh before(mesh);
        LogCapture log;
        ASSERT_EQ(cropMeshToBox(&mesh, c.centre, c.size, box.pose), &mesh);
        EXPECT_EQ(mesh.vertices(), before.vertices());
        EXPECT_EQ(mesh.faces(), before.faces());
        EXPECT_TRUE(log.contains(c.error)) << ::testing::PrintToString(log.lines());
    }
}

TEST(CropMesh, FacesWithPointsThatAreNotFiniteAreLeftOutWithAWarning)
{
    const Box box;
    Mesh mesh = triangleInBoxSpace(box, V(0, 0, 0), V(1, 0, 0), V(0, 1, 0));
    mesh.vertices().push_back(V(nan, 0, 0));
    mesh.faces().push_back(T(1, 0, 3));
    LogCapture log;
    cropMeshToBox(&mesh, box.centre, box.size, box.pose);
    EXPECT_EQ(mesh.faces().size(), 1u);
    EXPECT_EQ(mesh.vertices().size(), 3u);
    EXPECT_TRUE(log.contains("WARN Cropping left out 1 faces with a vertex position that is not finite"));
}

TEST(CropMesh, AttributesWithoutIndicesForEveryFaceAreLeftOut)
{
    const Box box;
    Mesh mesh;
    mesh.vertices() = {box.toMesh(V(0, 0, 0)), box.toMesh(V(1, 0, 0)), box.toMesh(V(0, 1, 0)),
                       box.toMesh(V(1, 1, 0))};
    mesh.faces() = {T(0, 1, 2), T(2, 1, 3), T(0, 1, 9)};  // the last names a missing vertex
    mesh.normals() = {V(0, 0, 1), V(0, 0, 1), V(0, 0, 1), V(0, 0, 1)};  // but no normal indices
    mesh.colors() = {V(1, 0, 0), V(0, 1, 0)};
    mesh.colorIndices() = {T(0, 1, 0)};  // for the first face only
    cropMeshToBox(&mesh, box.centre, box.size, box.pose);

    EXPECT_EQ(mesh.faces().size(), 2u);
    EXPECT_EQ(mesh.vertices().size(), 4u);  // welded along the shared edge
    EXPECT_TRUE(mesh.normals().empty());
    EXPECT_TRUE(mesh.colors().empty());
    EXPECT_TRUE(mesh.isValid());
}

TEST(CropMesh, ZeroNormalStaysZero)
{
    const Box box;
    Mesh mesh = triangleInBoxSpace(box, V(2, -0.5, 0), V(4, -0.5, 0), V(2, 0.5, 0));
    mesh.normals() = {V(0, 0, 0), V(0, 0, 2), V(0, 0, 0)};
    mesh.normalIndices() = mesh.faces();
    cropMeshToBox(&mesh, box.centre, box.size, box.pose);
    ASSERT_EQ(mesh.normals().size(), mesh.vertices().size());
    for (const V& n : mesh.normals()) {
        ASSERT_TRUE(n.allFinite());
        EXPECT_TRUE(n.isZero() || std::abs(n.norm() - 1.0) < 1e-12) << n.transpose();
    }
}

}  // namespace
}  // namespace Veltrane
