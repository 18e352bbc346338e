#include "meshproc/ConnectedComponents.h"

#include "core/Mesh.h"
#include "testsupport/LogCapture.h"

#include <Eigen/Geometry>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace Veltrane {
namespace {

using MeshProcessing::labelConnectedComponents;
using MeshProcessing::meshToTriMesh;
using MeshProcessing::previewComponentAreas;
using MeshProcessing::removeComponentsByArea;
using ::testing::ElementsAre;
using ::testing::FloatEq;
using V = Mesh::Vector;
using T = Mesh::Triple;

/// A unit right triangle (area 0.5) and, apart from it, a triangle of area 2.
std::unique_ptr<TriMesh> smallAndLarge()
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(5, 0, 0), V(7, 0, 0), V(5, 2, 0)};
    mesh.faces() = {T(0, 1, 2), T(3, 4, 5)};
    return std::unique_ptr<TriMesh>(meshToTriMesh(mesh));
}

struct Labelling {
    std::vector<int> labelMap;
    std::vector<int> faceCounts;
    std::vector<float> areas;
    std::vector<int> faceLabels;
};

Labelling label(TriMesh& mesh)
{
    Labelling l;
    const auto handle = labelConnectedComponents(mesh, l.labelMap, l.faceCounts, l.areas);
    for (const OpenMesh::FaceHandle fh : mesh.faces()) {
        l.faceLabels.push_back(mesh.property(handle, fh));
    }
    return l;
}

TEST(ConnectedComponents, SmallAndLargeTriangleAreasAndPreview)
{
    auto tri = smallAndLarge();
    const Labelling l = label(*tri);
    EXPECT_THAT(l.labelMap, ElementsAre(0, 1, 2));
    EXPECT_THAT(l.faceCounts, ElementsAre(0, 1, 1));
    EXPECT_THAT(l.areas, ElementsAre(0.0f, 0.5f, 2.0f));
    EXPECT_THAT(l.faceLabels, ElementsAre(1, 2));

    std::vector<float> list;
    ASSERT_EQ(previewComponentAreas(tri.get(), &list), tri.get());
    EXPECT_THAT(list, ElementsAre(0.0f, 0.5f, 2.0f));
    ASSERT_TRUE(tri->has_vertex_texcoords2D());
    for (int v = 0; v < 6; ++v) {
        const float expected = v < 3 ? 0.25f : 1.0f;
        EXPECT_EQ(tri->texcoord2D(OpenMesh::VertexHandle(v)), TriMesh::TexCoord2D(expected, expected)) << v;
    }
}

class RemovalBounds : public ::testing::TestWithParam<std::tuple<float, float, int, int>> {};

TEST_P(RemovalBounds, KeepsPiecesAboveMinimumUpToMaximum)
{
    const auto [minArea, maxArea, keptFaces, keptVertices] = GetParam();
    auto tri = smallAndLarge();
    ASSERT_EQ(removeComponentsByArea(tri.get(), minArea, maxArea), tri.get());
    EXPECT_EQ(static_cast<int>(tri->n_faces()), keptFaces);
    EXPECT_EQ(static_cast<int>(tri->n_vertices()), keptVertices);
}

INSTANTIATE_TEST_SUITE_P(, RemovalBounds,
                         ::testing::Values(std::make_tuple(0.5f, 2.0f, 1, 3),  // small one goes
                                           std::make_tuple(0.0f, 0.5f, 1, 3),  // large one goes
                                           std::make_tuple(0.0f, 2.0f, 2, 6),
                                           std::make_tuple(0.49f, 1.99f, 1, 3),
                                           std::make_tuple(2.0f, 5.0f, 0, 0)));

TEST(ConnectedComponents, RemovalWithFullRangeDropsOnlyPiecesWithoutArea)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(5, 0, 0), V(6, 0, 0), V(7, 0, 0)};
    mesh.faces() = {T(0, 1, 2), T(3, 4, 5)};  // the second is flat: area 0
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    removeComponentsByArea(tri.get(), 0.0f, 0.5f);
    EXPECT_EQ(tri->n_faces(), 1u);
    EXPECT_EQ(tri->n_vertices(), 3u);
    EXPECT_EQ(tri->point(OpenMesh::VertexHandle(1)), TriMesh::Point(1, 0, 0));
}

TEST(ConnectedComponents, SharedEdgeJoinsButSharedVertexDoesNot)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(1, 1, 0), V(2, 1, 0), V(1, 2, 0)};
    mesh.faces() = {T(0, 1, 2), T(1, 3, 2), T(3, 4, 5)};  // the third touches the second at 3
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    const Labelling l = label(*tri);
    EXPECT_THAT(l.faceLabels, ElementsAre(1, 1, 2));
    EXPECT_THAT(l.faceCounts, ElementsAre(0, 2, 1));
    EXPECT_THAT(l.areas, ElementsAre(0.0f, 1.0f, 0.5f));
}

/// A strip of seven unit squares whose faces are listed from both ends
/// before the middle: the two ends are labelled apart and meet in the middle.
Mesh stripFromBothEnds()
{
    Mesh mesh;
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 8; ++col) {
            mesh.vertices().emplace_back(col, row, 0);
        }
    }
    // Square c has the face "left" on its left side and the face "right" on
    // its right side; along the strip each face shares an edge with the next.
    const auto left = [](int c) { return T(c, c + 9, c + 8); };
    const auto right = [](int c) { return T(c, c + 1, c + 9); };
    mesh.faces() = {left(0),  right(0), left(1),  right(1),  // one end
                    right(6), left(6),  right(5), left(5),   // the other end
                    left(2),  right(2), left(3),  right(3), left(4), right(4)};
    return mesh;
}

TEST(ConnectedComponents, ArmsLabelledApartMergeIntoTheSmallerLabel)
{
    std::unique_ptr<TriMesh> tri(meshToTriMesh(stripFromBothEnds()));
    ASSERT_EQ(tri->n_faces(), 14u);
    const Labelling l = label(*tri);
    ASSERT_EQ(l.labelMap.size(), 3u);
    EXPECT_THAT(l.labelMap, ElementsAre(0, 1, 1));
    EXPECT_THAT(l.faceCounts, ElementsAre(0, 14, 0));
    EXPECT_THAT(l.areas, ElementsAre(0.0f, 7.0f, 0.0f));
    // The faces labelled before the merge keep their raw labels.
    EXPECT_EQ(l.faceLabels[4], 2);
    EXPECT_EQ(l.faceLabels[13], 1);
}

TEST(ConnectedComponents, EmptyMeshAndPiecesWithoutAreaGiveNoNan)
{
    std::unique_ptr<TriMesh> empty(meshToTriMesh(Mesh()));
    const Labelling l = label(*empty);
    EXPECT_THAT(l.labelMap, ElementsAre(0));
    EXPECT_THAT(l.faceCounts, ElementsAre(0));
    EXPECT_THAT(l.areas, ElementsAre(0.0f));
    std::vector<float> list{3.0f};
    previewComponentAreas(empty.get(), &list);
    EXPECT_THAT(list, ElementsAre(0.0f));

    Mesh flat;
    flat.vertices() = {V(0, 0, 0), V(1, 0, 0), V(2, 0, 0)};
    flat.faces() = {T(0, 1, 2)};
    std::unique_ptr<TriMesh> tri(meshToTriMesh(flat));
    previewComponentAreas(tri.get(), &list);
    EXPECT_THAT(list, ElementsAre(0.0f));
    for (const OpenMesh::VertexHandle vh : tri->vertices()) {
        EXPECT_EQ(tri->texcoord2D(vh), TriMesh::TexCoord2D(0, 0));
    }
}

TEST(ConnectedComponents, FacesWithoutFiniteAreaAddNothingToTheirPiece)
{
    // The unit right triangle (area 0.5), and a piece of the triangle of area
    // 2 and a face across its edge to a point that is not finite.
    TriMesh tri;
    std::vector<OpenMesh::VertexHandle> v;
    for (const TriMesh::Point& p : {TriMesh::Point(0, 0, 0), TriMesh::Point(1, 0, 0), TriMesh::Point(0, 1, 0),
                                    TriMesh::Point(5, 0, 0), TriMesh::Point(7, 0, 0), TriMesh::Point(5, 2, 0),
                                    TriMesh::Point(std::nanf(""), 9, 0)}) {
        v.push_back(tri.add_vertex(p));
    }
    tri.add_face(v[0], v[1], v[2]);
    tri.add_face(v[3], v[4], v[5]);
    tri.add_face(v[5], v[4], v[6]);

    LogCapture log;
    std::vector<float> list;
    previewComponentAreas(&tri, &list);
    EXPECT_THAT(list, ElementsAre(0.0f, 0.5f, 2.0f));
    EXPECT_EQ(tri.texcoord2D(v[0]), TriMesh::TexCoord2D(0.25f, 0.25f));
    EXPECT_EQ(log.countStartingWith("WARN 1 faces have no finite area"), 1u);

    // The bounds (0, 1) take the piece of area 2 away.
    removeComponentsByArea(&tri, 0.0f, 1.0f);
    EXPECT_EQ(tri.n_faces(), 1u);
    EXPECT_EQ(tri.n_vertices(), 3u);
}

TEST(ConnectedComponents, EqualAreasAppearOnceAndNullIsPassedThrough)
{
    Mesh mesh;
    mesh.vertices() = {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(5, 0, 0), V(5, 1, 0), V(4, 0, 0)};
    mesh.faces() = {T(0, 1, 2), T(3, 4, 5)};
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    std::vector<float> list;
    previewComponentAreas(tri.get(), &list);
    EXPECT_THAT(list, ElementsAre(0.0f, 0.5f));
    EXPECT_EQ(previewComponentAreas(tri.get(), nullptr), tri.get());

    EXPECT_EQ(previewComponentAreas(nullptr, &list), nullptr);
    EXPECT_EQ(removeComponentsByArea(nullptr, 0.0f, 1.0f), nullptr);
}

/// Pieces found by walking shared edges, as sorted lists of face indices.
std::set<std::vector<int>> piecesByWalking(const Mesh& mesh)
{
    std::map<std::pair<int, int>, std::vector<int>> facesAtEdge;
    for (int f = 0; f < static_cast<int>(mesh.faces().size()); ++f) {
        const T& face = mesh.faces()[static_cast<std::size_t>(f)];
        for (int k = 0; k < 3; ++k) {
            facesAtEdge[std::minmax(face[k], face[(k + 1) % 3])].push_back(f);
        }
    }
    std::vector<bool> seen(mesh.faces().size(), false);
    std::set<std::vector<int>> pieces;
    for (int start = 0; start < static_cast<int>(mesh.faces().size()); ++start) {
        if (seen[static_cast<std::size_t>(start)]) {
            continue;
        }
        std::vector<int> piece;
        std::vector<int> stack{start};
        seen[static_cast<std::size_t>(start)] = true;
        while (!stack.empty()) {
            const int f = stack.back();
            stack.pop_back();
            piece.push_back(f);
            const T& face = mesh.faces()[static_cast<std::size_t>(f)];
            for (int k = 0; k < 3; ++k) {
                for (const int g : facesAtEdge[std::minmax(face[k], face[(k + 1) % 3])]) {
                    if (!seen[static_cast<std::size_t>(g)]) {
                        seen[static_cast<std::size_t>(g)] = true;
                        stack.push_back(g);
                    }
                }
            }
        }
        std::sort(piece.begin(), piece.end());
        pieces.insert(piece);
    }
    return pieces;
}

/// Labels by the plain method: every merge rewrites each entry of the label
/// map that names the larger label. Areas are left out.
Labelling labelByRewriting(const TriMesh& mesh)
{
    Labelling l;
    l.labelMap = {0};
    l.faceCounts = {0};
    l.faceLabels.assign(mesh.n_faces(), 0);
    for (const OpenMesh::FaceHandle fh : mesh.faces()) {
        int cur = 0;
        for (const OpenMesh::FaceHandle g : mesh.ff_range(fh)) {
            const int raw = l.faceLabels[static_cast<std::size_t>(g.idx())];
            if (raw == 0) {
                continue;
            }
            const int other = l.labelMap[static_cast<std::size_t>(raw)];
            if (cur == 0) {
                cur = other;
            } else if (other != cur) {
                const auto [lo, hi] = std::minmax(cur, other);
                std::replace(l.labelMap.begin() + 1, l.labelMap.end(), hi, lo);
                cur = lo;
            }
        }
        if (cur == 0) {
            cur = static_cast<int>(l.labelMap.size());
            l.labelMap.push_back(cur);
            l.faceCounts.push_back(0);
        }
        ++l.faceCounts[static_cast<std::size_t>(cur)];
        l.faceLabels[static_cast<std::size_t>(fh.idx())] = cur;
    }
    for (std::size_t i = l.labelMap.size(); i-- > 0;) {
        const auto r = static_cast<std::size_t>(l.labelMap[i]);
        if (r != i) {
            l.faceCounts[r] += l.faceCounts[i];
            l.faceCounts[i] = 0;
        }
    }
    return l;
}

TEST(ConnectedComponents, ShuffledGridWithHolesMatchesAWalkOverSharedEdges)
{
    // A 30 x 30 grid with a fifth of its triangles missing, faces in random
    // order: many labels start apart and merge in chains.
    constexpr int n = 31;
    Mesh mesh;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            mesh.vertices().emplace_back(i, j, 0.1 * ((i * 3 + j) % 4));
        }
    }
    std::mt19937 random(5);
    std::bernoulli_distribution keep(0.8);
    for (int j = 0; j + 1 < n; ++j) {
        for (int i = 0; i + 1 < n; ++i) {
            const int v = i + n * j;
            for (const T& face : {T(v, v + 1, v + n + 1), T(v, v + n + 1, v + n)}) {
                if (keep(random)) {
                    mesh.faces().push_back(face);
                }
            }
        }
    }
    std::shuffle(mesh.faces().begin(), mesh.faces().end(), random);
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    ASSERT_EQ(tri->n_faces(), mesh.faces().size());  // no face refused: numbering is shared

    const Labelling l = label(*tri);
    std::map<int, std::vector<int>> byRepresentative;
    for (int f = 0; f < static_cast<int>(l.faceLabels.size()); ++f) {
        byRepresentative[l.labelMap[static_cast<std::size_t>(l.faceLabels[static_cast<std::size_t>(f)])]].push_back(f);
    }
    std::set<std::vector<int>> pieces;
    for (const auto& [representative, faces] : byRepresentative) {
        pieces.insert(faces);
        int smallest = l.faceLabels[static_cast<std::size_t>(faces.front())];
        double area = 0.0;
        for (const int f : faces) {
            smallest = std::min(smallest, l.faceLabels[static_cast<std::size_t>(f)]);
            const T& face = mesh.faces()[static_cast<std::size_t>(f)];
            const V& a = mesh.vertices()[static_cast<std::size_t>(face[0])];
            area += 0.5 * (mesh.vertices()[static_cast<std::size_t>(face[1])] - a)
                              .cross(mesh.vertices()[static_cast<std::size_t>(face[2])] - a)
                              .norm();
        }
        EXPECT_EQ(representative, smallest);
        EXPECT_EQ(l.faceCounts[static_cast<std::size_t>(representative)], static_cast<int>(faces.size()));
        EXPECT_NEAR(l.areas[static_cast<std::size_t>(representative)], area, 1e-4 * area);
    }
    EXPECT_EQ(pieces, piecesByWalking(mesh));
    EXPECT_GT(pieces.size(), 5u);

    const Labelling plain = labelByRewriting(*tri);
    EXPECT_EQ(l.labelMap, plain.labelMap);
    EXPECT_EQ(l.faceCounts, plain.faceCounts);
    EXPECT_EQ(l.faceLabels, plain.faceLabels);

    for (std::size_t i = 0; i < l.labelMap.size(); ++i) {
        const auto r = static_cast<std::size_t>(l.labelMap[i]);
        EXPECT_EQ(l.labelMap[r], static_cast<int>(r));
        if (r != i) {
            EXPECT_EQ(l.faceCounts[i], 0);
            EXPECT_EQ(l.areas[i], 0.0f);
        }
    }
    EXPECT_EQ(std::accumulate(l.faceCounts.begin(), l.faceCounts.end(), 0), static_cast<int>(mesh.faces().size()));
}

}  // namespace
}  // namespace Veltrane
