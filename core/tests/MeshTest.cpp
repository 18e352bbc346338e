#include "core/Mesh.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>

namespace Veltrane {
namespace {

using V = Mesh::Vector;
using T = Mesh::Triple;

const double nan = std::numeric_limits<double>::quiet_NaN();

/// Two triangles sharing the edge (1,0,0)-(0,1,0), stored with six vertices.
Mesh twoTrianglesUnwelded()
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 0, 0), V(1, 1, 0), V(0, 1, 0)};
    mesh.faces() = {T(0, 1, 2), T(3, 4, 5)};
    return mesh;
}

/// Colour i is (i, 0, 0) / 10, so a test can tell which vertex a colour came from.
void colorByVertexNumber(Mesh& mesh)
{
    mesh.colors().clear();
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        mesh.colors().push_back(V(static_cast<double>(i) / 10.0, 0, 0));
    }
    mesh.colorIndices() = mesh.faces();
}

Mesh validTriangle()
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0)};
    mesh.faces() = {T(0, 1, 2)};
    return mesh;
}

TEST(Mesh, IsValidChecksCountsAndIndexRanges)
{
    struct Case {
        const char* name;
        std::function<void(Mesh&)> change;
        bool valid;
    };
    const Case cases[] = {
        {"a triangle", [](Mesh&) {}, true},
        {"with normals", [](Mesh& m) { m.computeNormals(); }, true},
        {"empty", [](Mesh& m) { m.clear(); }, false},
        {"no faces", [](Mesh& m) { m.faces().clear(); }, false},
        {"colours without colour indices", [](Mesh& m) { m.colors() = {V(1, 0, 0)}; }, false},
        {"one normal triple too few",
         [](Mesh& m) {
             m.computeNormals();
             m.faces().push_back(T(2, 1, 0));
         },
         false},
        {"face refers to vertex count", [](Mesh& m) { m.faces()[0][2] = 3; }, false},
        {"negative face index", [](Mesh& m) { m.faces()[0][0] = -1; }, false},
        {"colour index past the colours",
         [](Mesh& m) {
             m.colors() = {V(1, 0, 0)};
             m.colorIndices() = {T(0, 0, 1)};
         },
         false},
        {"index array of an empty attribute is not checked", [](Mesh& m) { m.texCoordIndices() = {T(7, 7, 7)}; },
         true},
    };
    for (const Case& c : cases) {
        Mesh mesh = validTriangle();
        c.change(mesh);
        EXPECT_EQ(mesh.isValid(), c.valid) << c.name;
    }
}

TEST(Mesh, NormalsOfATriangleAreItsFaceNormal)
{
    Mesh mesh = validTriangle();
    mesh.computeNormals();
    ASSERT_EQ(mesh.normals().size(), 3u);
    for (const V& n : mesh.normals()) {
        EXPECT_EQ(n, V(0, 0, 1));
    }
    EXPECT_EQ(mesh.normalIndices(), mesh.faces());
}

TEST(Mesh, VertexNormalIsTheNormalisedSumOfUnitFaceNormals)
{
    // A large and a small face meeting at a right angle along the x axis: each
    // face counts with its unit normal, whatever its area.
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 5, 0), V(0, 0, -0.1)};
    mesh.faces() = {T(0, 1, 2), T(0, 1, 3)};
    mesh.computeNormals();
    const V expectedShared = V(0, 1, 1).normalized();
    EXPECT_TRUE(mesh.normals()[0].isApprox(expectedShared));
    EXPECT_TRUE(mesh.normals()[1].isApprox(expectedShared));
    EXPECT_TRUE(mesh.normals()[2].isApprox(V(0, 0, 1)));
    EXPECT_TRUE(mesh.normals()[3].isApprox(V(0, 1, 0)));
}

TEST(Mesh, NormalsStayFiniteWithoutAnyFaceArea)
{
    // Vertex 3 has no face, face (0, 1, 4) has no area, and vertex 5 lies only
    // on two faces with opposite normals.
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(9, 9, 9), V(2, 0, 0), V(0, 0, 3)};
    mesh.faces() = {T(0, 1, 2), T(0, 1, 4), T(5, 1, 2), T(5, 2, 1)};
    mesh.computeNormals();
    ASSERT_EQ(mesh.normals().size(), 6u);
    for (const V& n : mesh.normals()) {
        EXPECT_TRUE(n.allFinite()) << n.transpose();
    }
    EXPECT_EQ(mesh.normals()[3], V::Zero());  // no face
    EXPECT_EQ(mesh.normals()[4], V::Zero());  // only on the face without area
    EXPECT_EQ(mesh.normals()[5], V::Zero());  // opposite faces cancel
    EXPECT_EQ(mesh.normals()[0], V(0, 0, 1));  // the face without area adds nothing
}

TEST(Mesh, RemoveDuplicateVerticesWeldsASharedEdge)
{
    Mesh mesh = twoTrianglesUnwelded();
    colorByVertexNumber(mesh);
    mesh.removeDuplicateVertices();

    // Groups are numbered bucket by bucket; faces come out in reverse order.
    const std::vector<V> vertices = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    EXPECT_EQ(mesh.vertices(), vertices);
    const std::vector<T> faces = {T(1, 3, 2), T(0, 1, 2)};
    EXPECT_EQ(mesh.faces(), faces);
    EXPECT_EQ(mesh.colorIndices(), faces);
    // A merged vertex keeps the colour of its highest-numbered member.
    const std::vector<V> colors = {V(0, 0, 0), V(0.3, 0, 0), V(0.5, 0, 0), V(0.4, 0, 0)};
    EXPECT_EQ(mesh.colors(), colors);
}

TEST(Mesh, RemoveDuplicateVerticesFinishesOnNonFiniteCoordinates)
{
    Mesh mesh;
    mesh.vertices() = {V(nan, 0, 0), V(0, 0, 0), V(nan, 0, 0), V(0, 0, 0),
                       V(std::numeric_limits<double>::infinity(), 1, 1), V(1e300, 0, 0), V(1e300, 0, 0)};
    mesh.faces() = {T(0, 1, 2), T(3, 4, 5), T(1, 2, 6)};
    mesh.removeDuplicateVertices();
    // The NaN vertices stay apart; the finite and the huge duplicates merge.
    EXPECT_EQ(mesh.vertices().size(), 5u);
    EXPECT_EQ(mesh.faces().size(), 3u);
    EXPECT_TRUE(mesh.isValid());
}

TEST(Mesh, RemoveDegenerateFacesDropsTheFaceAndItsIndexTriples)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0)};
    mesh.faces() = {T(0, 1, 2), T(0, 0, 1), T(1, 3, 2)};
    mesh.colors() = {V(1, 0, 0), V(0, 1, 0), V(0, 0, 1), V(1, 1, 1)};
    mesh.colorIndices() = {T(0, 1, 2), T(3, 3, 3), T(1, 3, 2)};
    mesh.normals() = {V(0, 0, 1)};
    mesh.normalIndices() = {T(0, 0, 0), T(0, 0, 0), T(0, 0, 0)};
    mesh.texCoordIndices() = mesh.faces();  // no texture coordinates: not in use

    mesh.removeDegenerateFaces();
    const std::vector<T> faces = {T(1, 3, 2), T(0, 1, 2)};
    EXPECT_EQ(mesh.faces(), faces);
    EXPECT_EQ(mesh.colorIndices(), faces);
    EXPECT_EQ(mesh.normalIndices().size(), 2u);
    EXPECT_TRUE(mesh.texCoordIndices().empty());
    EXPECT_EQ(mesh.vertices().size(), 4u);
    EXPECT_EQ(mesh.colors().size(), 4u);
}

TEST(Mesh, MergeCloseVerticesWithZeroToleranceMergesDuplicatesOnly)
{
    Mesh exact = twoTrianglesUnwelded();
    exact.vertices().push_back(V(1e-9, 0, 0));
    exact.faces().push_back(T(6, 1, 2));
    Mesh close = exact;
    exact.removeDuplicateVertices();
    close.mergeCloseVertices(0.0);
    EXPECT_EQ(close.vertices(), exact.vertices());
    EXPECT_EQ(close.faces(), exact.faces());
    EXPECT_EQ(close.vertices().size(), 5u);
}

TEST(Mesh, MergeCloseVerticesMergesWithinTheTolerance)
{
    struct Case {
        double offset;
        double tolerance;
        std::size_t vertices;
    };
    const Case cases[] = {
        {0.005, 0.01, 3},  // the minimum cell size applies
        {0.02, 0.01, 4},
        {0.01, 0.01, 3},   // at the tolerance
        {0.5, 0.4, 4},
        {0.3, 0.4, 3},
    };
    for (const Case& c : cases) {
        Mesh mesh;
        mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(c.offset, 0, 0)};
        mesh.faces() = {T(0, 1, 2), T(3, 2, 1)};
        mesh.mergeCloseVertices(c.tolerance);
        EXPECT_EQ(mesh.vertices().size(), c.vertices) << c.offset << " " << c.tolerance;
        EXPECT_TRUE(mesh.isValid());
    }
}

TEST(Mesh, MergeCloseVerticesLetsTheLastClaimWin)
{
    // b is within the tolerance of a and of c, a and c are not: a claims b
    // first, then c, unclaimed, claims it again. The merged vertex keeps the
    // highest-numbered member's position and colour.
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(0.008, 0, 0), V(0.016, 0, 0), V(0, 1, 0)};
    mesh.faces() = {T(0, 1, 3), T(1, 2, 3)};
    colorByVertexNumber(mesh);
    mesh.mergeCloseVertices(0.01);
    const std::vector<V> vertices = {V(0, 0, 0), V(0.016, 0, 0), V(0, 1, 0)};
    EXPECT_EQ(mesh.vertices(), vertices);
    const std::vector<V> colors = {V(0, 0, 0), V(0.2, 0, 0), V(0.3, 0, 0)};
    EXPECT_EQ(mesh.colors(), colors);
    const std::vector<T> faces = {T(0, 1, 2)};  // (1, 2, 3) collapsed
    EXPECT_EQ(mesh.faces(), faces);
}

TEST(Mesh, MergeCloseVerticesGivesTheSameResultOnAnyNumberOfThreads)
{
    // Four jittered copies of each grid point, some of them too far apart to
    // merge, with colours and normals.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(-0.004, 0.004);
    Mesh mesh;
    for (int i = 0; i < 20000; ++i) {
        const int g = i % 5000;
        const V grid(g % 20, (g / 20) % 25, g / 500);
        mesh.vertices().push_back(grid * 0.5 + V(jitter(random), jitter(random), jitter(random)));
    }
    std::uniform_int_distribution<int> vertex(0, 19999);
    for (int f = 0; f < 20000; ++f) {
        mesh.faces().push_back(T(vertex(random), vertex(random), vertex(random)));
    }
    colorByVertexNumber(mesh);
    mesh.computeNormals();

    const int threads = omp_get_max_threads();
    omp_set_num_threads(1);
    Mesh one = mesh;
    one.mergeCloseVertices(0.01);
    omp_set_num_threads(std::max(threads, 4));
    Mesh many = mesh;
    many.mergeCloseVertices(0.01);
    omp_set_num_threads(threads);

    EXPECT_LT(one.vertices().size(), 15000u);
    EXPECT_GT(one.vertices().size(), 5000u);  // some copies too far apart to merge
    EXPECT_EQ(one.vertices(), many.vertices());
    EXPECT_EQ(one.colors(), many.colors());
    EXPECT_EQ(one.normals(), many.normals());
    EXPECT_EQ(one.faces(), many.faces());
    EXPECT_EQ(one.normalIndices(), many.normalIndices());
    EXPECT_TRUE(one.isValid());
}

TEST(Mesh, MergingRefusesBadInput)
{
    Mesh mesh = twoTrianglesUnwelded();
    const Mesh before = mesh;
    mesh.mergeCloseVertices(-0.5);
    mesh.mergeCloseVertices(std::nan(""));
    EXPECT_EQ(mesh.vertices(), before.vertices());
    EXPECT_EQ(mesh.faces(), before.faces());

    mesh.faces()[1][2] = 6;  // past the vertices
    mesh.removeDuplicateVertices();
    mesh.mergeCloseVertices(0.5);
    EXPECT_EQ(mesh.vertices(), before.vertices());
    EXPECT_EQ(mesh.faces()[1], T(3, 4, 6));
}

TEST(Mesh, BoundingBox)
{
    Mesh mesh;
    EXPECT_EQ(mesh.boundingBoxCenter(), V::Zero());
    mesh.vertices() = {V(1, -2, 3), V(-1, 4, 3), V(0, 0, 5)};
    EXPECT_EQ(mesh.boundingBoxCenter(), V::Zero());  // not recomputed
    mesh.computeBoundingBox();
    EXPECT_EQ(mesh.boundingBoxMin(), V(-1, -2, 3));
    EXPECT_EQ(mesh.boundingBoxExtent(), V(2, 6, 2));
    EXPECT_EQ(mesh.boundingBoxCenter(), V(0, 1, 4));
    mesh.vertices().clear();
    mesh.computeBoundingBox();
    EXPECT_EQ(mesh.boundingBoxMin(), V(-1, -2, 3));
}

int deletedTextures = 0;

void countDeletion(SharedImage*)
{
    ++deletedTextures;
}

/// A texture pointer that is never dereferenced, only handed to its deleter.
Mesh::TexturePtr fakeTexture()
{
    static int storage[2];
    static int next = 0;
    return Mesh::TexturePtr(reinterpret_cast<SharedImage*>(&storage[next++ % 2]), &countDeletion);
}

TEST(Mesh, TextureIsOwnedByExactlyOneMesh)
{
    deletedTextures = 0;
    {
        Mesh original = validTriangle();
        original.setTexture(fakeTexture());
        ASSERT_NE(original.texture(), nullptr);

        const Mesh copy(original);
        EXPECT_EQ(copy.texture(), nullptr);
        EXPECT_EQ(copy.vertices(), original.vertices());

        Mesh assigned;
        assigned.setTexture(fakeTexture());
        assigned = original;
        EXPECT_EQ(deletedTextures, 1);  // the one it owned before
        EXPECT_EQ(assigned.texture(), nullptr);
        EXPECT_EQ(assigned.faces(), original.faces());

        SharedImage* texture = original.texture();
        Mesh moved(std::move(original));
        EXPECT_EQ(moved.texture(), texture);
        EXPECT_EQ(original.texture(), nullptr);  // NOLINT(bugprone-use-after-move)
    }
    EXPECT_EQ(deletedTextures, 2);
}

TEST(Mesh, ClearForgetsTheTextureWithoutDeletingIt)
{
    deletedTextures = 0;
    Mesh mesh = validTriangle();
    mesh.computeBoundingBox();
    mesh.setTexture(fakeTexture());
    mesh.clear();
    EXPECT_EQ(mesh.texture(), nullptr);
    EXPECT_TRUE(mesh.vertices().empty());
    EXPECT_TRUE(mesh.faces().empty());
    EXPECT_EQ(mesh.boundingBoxExtent(), V::Zero());
    EXPECT_EQ(deletedTextures, 0);
}

}  // namespace
}  // namespace Veltrane
