#include "meshproc/TriMesh.h"

#include "core/Mesh.h"
#include "testsupport/LogCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

namespace Veltrane {
namespace {

using MeshProcessing::meshToTriMesh;
using MeshProcessing::triMeshToMesh;
using V = Mesh::Vector;
using T = Mesh::Triple;

/// A square pyramid without its base: four faces around the apex 4, written
/// from different corners so that a rotated cycle would show.
Mesh pyramid()
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0), V(0.5, 0.5, 1)};
    mesh.faces() = {T(0, 1, 4), T(4, 1, 2), T(2, 3, 4), T(4, 3, 0)};
    return mesh;
}

/// Same face up to a cyclic rotation of its corners.
bool sameCycle(const T& a, const T& b)
{
    for (int shift = 0; shift < 3; ++shift) {
        if (a[0] == b[shift] && a[1] == b[(shift + 1) % 3] && a[2] == b[(shift + 2) % 3]) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<Mesh> roundTrip(const Mesh& mesh)
{
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    EXPECT_NE(tri, nullptr);
    if (!tri) {
        return nullptr;
    }
    return std::unique_ptr<Mesh>(triMeshToMesh(*tri));
}

TEST(TriMeshConversion, RoundTripKeepsOrderWindingAndPerVertexAttributes)
{
    Mesh mesh = pyramid();
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        const double s = static_cast<double>(i);
        mesh.normals().push_back(V(0.25 * s, -0.5, 1.0));
        mesh.texCoords().push_back(V(0.1 * s, 0.2 * s, 7.0));
        mesh.colors().push_back(V(0.2 * s, 1.0 - 0.2 * s, 0.5));
    }
    mesh.normalIndices() = mesh.faces();
    mesh.texCoordIndices() = mesh.faces();
    mesh.colorIndices() = mesh.faces();

    const auto back = roundTrip(mesh);
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->vertices().size(), mesh.vertices().size());
    ASSERT_EQ(back->faces().size(), mesh.faces().size());
    for (std::size_t f = 0; f < mesh.faces().size(); ++f) {
        EXPECT_TRUE(sameCycle(back->faces()[f], mesh.faces()[f]))
            << "face " << f << ": " << back->faces()[f].transpose();
    }
    EXPECT_EQ(back->normalIndices(), back->faces());
    EXPECT_EQ(back->texCoordIndices(), back->faces());
    EXPECT_EQ(back->colorIndices(), back->faces());
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        EXPECT_TRUE(back->vertices()[i].isApprox(mesh.vertices()[i], 1e-7)) << i;
        EXPECT_TRUE(back->normals()[i].isApprox(mesh.normals()[i], 1e-6)) << i;
        EXPECT_NEAR(back->texCoords()[i].x(), mesh.texCoords()[i].x(), 1e-6) << i;
        EXPECT_NEAR(back->texCoords()[i].y(), mesh.texCoords()[i].y(), 1e-6) << i;
        EXPECT_EQ(back->texCoords()[i].z(), 0.0) << i;
        for (int k = 0; k < 3; ++k) {
            // Bytes cut toward zero: never more than one step below.
            const double c = mesh.colors()[i][k];
            EXPECT_LE(back->colors()[i][k], c + 1e-12);
            EXPECT_GT(back->colors()[i][k], c - 1.0 / 255.0);
        }
    }
    EXPECT_TRUE(back->boundingBoxMin().isApprox(V(0, 0, 0)));
    EXPECT_TRUE(back->boundingBoxExtent().isApprox(V(1, 1, 1)));
}

TEST(TriMeshConversion, MeshWithoutAttributesStaysWithoutThem)
{
    std::unique_ptr<TriMesh> tri(meshToTriMesh(pyramid()));
    ASSERT_NE(tri, nullptr);
    EXPECT_FALSE(tri->has_vertex_normals());
    EXPECT_FALSE(tri->has_vertex_colors());
    EXPECT_FALSE(tri->has_vertex_texcoords2D());
    EXPECT_EQ(tri->n_faces(), 4u);

    const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->normals().empty());
    EXPECT_TRUE(back->normalIndices().empty());
    EXPECT_TRUE(back->texCoords().empty());
    EXPECT_TRUE(back->texCoordIndices().empty());
    EXPECT_TRUE(back->colors().empty());
    EXPECT_TRUE(back->colorIndices().empty());
}

class ColorBytes : public ::testing::TestWithParam<std::tuple<double, int>> {};

TEST_P(ColorBytes, ChannelBecomesByteAndComesBackOverTwoFiftyFive)
{
    const auto [channel, byte] = GetParam();
    Mesh mesh = pyramid();
    mesh.colors().assign(mesh.vertices().size(), V(channel, 0.5, 1.0));
    mesh.colorIndices() = mesh.faces();

    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    ASSERT_NE(tri, nullptr);
    ASSERT_TRUE(tri->has_vertex_colors());
    const TriMesh::Color c = tri->color(OpenMesh::VertexHandle(2));
    EXPECT_EQ(c[0], byte);
    EXPECT_EQ(c[1], 127);
    EXPECT_EQ(c[2], 255);

    const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
    EXPECT_EQ(back->colors()[2], V(byte / 255.0, 127 / 255.0, 1.0));
}

INSTANTIATE_TEST_SUITE_P(, ColorBytes,
                         ::testing::Values(std::make_tuple(0.5, 127), std::make_tuple(1.0, 255),
                                           std::make_tuple(0.0, 0), std::make_tuple(0.999, 254),
                                           // out of range and NaN are clamped, not wrapped
                                           std::make_tuple(1.5, 255), std::make_tuple(-0.25, 0),
                                           std::make_tuple(std::numeric_limits<double>::quiet_NaN(), 0)));

TEST(TriMeshConversion, RefusedAndInvalidFacesAreLeftOut)
{
    Mesh mesh = pyramid();
    mesh.faces().push_back(T(0, 1, 2));   // edge 0->1 again in the same direction
    mesh.faces().push_back(T(0, 2, 7));   // no vertex 7
    mesh.faces().push_back(T(-1, 2, 3));  // negative index
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(tri->n_faces(), 4u);
    EXPECT_EQ(tri->n_vertices(), 5u);

    const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
    ASSERT_EQ(back->faces().size(), 4u);
    for (const T& face : back->faces()) {
        EXPECT_FALSE(sameCycle(face, T(0, 1, 2)));
    }
}

TEST(TriMeshConversion, FacesOpenMeshCannotTakeSafelyAreLeftOutWithAWarning)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        V extraVertex;
        T extraFace;
        const char* warning;
    };
    const Case cases[] = {
        {"first two corners alike", V(2, 2, 2), T(0, 0, 1), "WARN Left out 1 faces that use a vertex more than once"},
        {"last two corners alike", V(2, 2, 2), T(1, 2, 2), "WARN Left out 1 faces that use a vertex more than once"},
        {"first and last alike", V(2, 2, 2), T(3, 1, 3), "WARN Left out 1 faces that use a vertex more than once"},
        {"all three alike", V(2, 2, 2), T(4, 4, 4), "WARN Left out 1 faces that use a vertex more than once"},
        {"NaN corner", V(nan, 0, 0), T(1, 0, 5),
         "WARN Left out 1 faces with a vertex position that is not finite"},
        {"infinite corner", V(0, -inf, 0), T(1, 0, 5),
         "WARN Left out 1 faces with a vertex position that is not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mesh mesh = pyramid();
        mesh.vertices().push_back(c.extraVertex);
        mesh.faces().push_back(c.extraFace);
        LogCapture log;
        std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
        ASSERT_NE(tri, nullptr);
        EXPECT_TRUE(log.contains(c.warning)) << ::testing::PrintToString(log.lines());
        EXPECT_EQ(tri->n_faces(), 4u);
        for (const OpenMesh::FaceHandle fh : tri->faces()) {
            EXPECT_EQ(tri->valence(fh), 3u);
        }
        const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
        EXPECT_EQ(back->faces(), pyramid().faces());
        // A vertex without a finite position goes with its faces.
        for (const V& p : back->vertices()) {
            EXPECT_TRUE(p.allFinite());
        }
    }
}

TEST(TriMeshConversion, AttributeIndicesOutsideTheirListsAreSkipped)
{
    Mesh mesh = pyramid();
    mesh.colors() = {V(1, 0, 0), V(0, 1, 0)};  // only for vertices 0 and 1
    mesh.colorIndices() = mesh.faces();
    mesh.normals().assign(9, V(0, 0, 1));
    mesh.normalIndices() = {T(0, 1, 8), T(-3, 1, 2)};  // 8 names a normal, but no vertex

    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(tri->color(OpenMesh::VertexHandle(0)), TriMesh::Color(255, 0, 0));
    EXPECT_EQ(tri->color(OpenMesh::VertexHandle(1)), TriMesh::Color(0, 255, 0));
    EXPECT_EQ(tri->normal(OpenMesh::VertexHandle(2)), TriMesh::Normal(0, 0, 1));
}

TEST(TriMeshConversion, DeletedElementsAreLeftOutAndTheRestNumberedDensely)
{
    std::unique_ptr<TriMesh> tri(meshToTriMesh(pyramid()));
    ASSERT_NE(tri, nullptr);
    tri->request_vertex_colors();
    for (const OpenMesh::VertexHandle vh : tri->vertices()) {
        tri->set_color(vh, TriMesh::Color(static_cast<unsigned char>(vh.idx()), 0, 0));
    }
    // Deleting the faces at vertex 0 leaves it isolated and deleted, without
    // collecting the garbage.
    tri->delete_vertex(OpenMesh::VertexHandle(0), true);
    ASSERT_EQ(tri->n_vertices(), 5u);

    const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->vertices().size(), 4u);
    ASSERT_EQ(back->faces().size(), 2u);
    EXPECT_TRUE(back->isValid());
    EXPECT_EQ(back->vertices()[0], V(1, 0, 0));
    EXPECT_EQ(back->colors()[0], V(1 / 255.0, 0, 0));
    EXPECT_TRUE(sameCycle(back->faces()[0], T(3, 0, 1)));  // was (4, 1, 2)
}

TEST(TriMeshConversion, EmptyMeshConvertsBothWays)
{
    std::unique_ptr<TriMesh> tri(meshToTriMesh(Mesh()));
    ASSERT_NE(tri, nullptr);
    EXPECT_EQ(tri->n_vertices(), 0u);
    const std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->vertices().empty());
    EXPECT_TRUE(back->faces().empty());
}

}  // namespace
}  // namespace Veltrane
