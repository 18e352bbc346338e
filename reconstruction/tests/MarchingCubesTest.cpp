#include "reconstruction/MarchingCubes.h"

#include "core/Mesh.h"
#include "reconstruction/MarchingCubesTables.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <utility>

namespace Veltrane {
namespace {

using V = Mesh::Vector;
using T = Mesh::Triple;

const float nan = std::numeric_limits<float>::quiet_NaN();

using Field = std::function<float(int, int, int)>;

std::unique_ptr<TypedImage<float>> volume(int nx, int ny, int nz, const Field& f,
                                          std::array<double, 3> spacing = {1, 1, 1})
{
    auto image = std::make_unique<TypedImage<float>>(PixelType::Float, nx, ny, nz, 1);
    image->spacing = spacing;
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                image->typedData()[i + nx * (j + ny * k)] = f(i, j, k);
            }
        }
    }
    return image;
}

/// Every directed edge of a face appears once, and its reverse once: the
/// surface is closed and its faces are consistently wound.
::testing::AssertionResult closedAndConsistent(const Mesh& mesh)
{
    std::map<std::pair<int, int>, int> directed;
    for (const T& face : mesh.faces()) {
        for (int k = 0; k < 3; ++k) {
            ++directed[{face[k], face[(k + 1) % 3]}];
        }
    }
    for (const auto& [edge, count] : directed) {
        const auto reverse = directed.find({edge.second, edge.first});
        if (count != 1 || reverse == directed.end() || reverse->second != 1) {
            return ::testing::AssertionFailure()
                   << "edge " << edge.first << "-" << edge.second << " used " << count << " times, reversed "
                   << (reverse == directed.end() ? 0 : reverse->second) << " times";
        }
    }
    return ::testing::AssertionSuccess();
}

long eulerCharacteristic(const Mesh& mesh)
{
    std::set<std::pair<int, int>> edges;
    for (const T& face : mesh.faces()) {
        for (int k = 0; k < 3; ++k) {
            edges.insert(std::minmax(face[k], face[(k + 1) % 3]));
        }
    }
    return static_cast<long>(mesh.vertices().size()) - static_cast<long>(edges.size()) +
           static_cast<long>(mesh.faces().size());
}

double signedVolume(const Mesh& mesh)
{
    double sum = 0;
    for (const T& face : mesh.faces()) {
        const V& a = mesh.vertices()[static_cast<std::size_t>(face[0])];
        const V& b = mesh.vertices()[static_cast<std::size_t>(face[1])];
        const V& c = mesh.vertices()[static_cast<std::size_t>(face[2])];
        sum += a.dot(b.cross(c));
    }
    return sum / 6;
}

std::size_t distinctPositions(const Mesh& mesh)
{
    std::set<std::tuple<double, double, double>> positions;
    for (const V& v : mesh.vertices()) {
        positions.insert({v.x(), v.y(), v.z()});
    }
    return positions.size();
}

bool cornerBelow(int caseIndex, int corner)
{
    return (caseIndex >> corner) & 1;
}

TEST(MarchingCubesTables, EveryCaseCutsExactlyItsCrossedEdges)
{
    for (int caseIndex = 0; caseIndex < 256; ++caseIndex) {
        const signed char* row = marchingCubesTriangleTable[caseIndex];
        const int entries = marchingCubesTriangleEntries[caseIndex];
        ASSERT_EQ(entries % 3, 0) << caseIndex;
        ASSERT_LE(entries, 15) << caseIndex;
        std::set<int> used;
        for (int e = 0; e < 16; ++e) {
            if (e < entries) {
                ASSERT_GE(row[e], 0) << caseIndex;
                ASSERT_LT(row[e], 12) << caseIndex;
                used.insert(row[e]);
            } else {
                EXPECT_EQ(row[e], -1) << caseIndex;
            }
        }
        std::set<int> crossed;
        std::set<int> inEdgeTable;
        for (int e = 0; e < 12; ++e) {
            if (cornerBelow(caseIndex, marchingCubesEdgeCorners[e][0]) !=
                cornerBelow(caseIndex, marchingCubesEdgeCorners[e][1])) {
                crossed.insert(e);
            }
            if ((marchingCubesEdgeTable[caseIndex] >> e) & 1) {
                inEdgeTable.insert(e);
            }
        }
        EXPECT_EQ(used, crossed) << caseIndex;
        EXPECT_EQ(inEdgeTable, crossed) << caseIndex;
        EXPECT_EQ(marchingCubesEdgeTable[caseIndex] >> 12, 0) << caseIndex;
    }
}

TEST(MarchingCubesTables, FamiliarRows)
{
    const std::pair<int, std::vector<int>> rows[] = {
        {0, {}}, {255, {}}, {1, {0, 8, 3}}, {2, {0, 1, 9}}, {3, {1, 8, 3, 9, 8, 1}}, {254, {0, 3, 8}}};
    for (const auto& [caseIndex, expected] : rows) {
        const signed char* row = marchingCubesTriangleTable[caseIndex];
        EXPECT_EQ(std::vector<int>(row, row + marchingCubesTriangleEntries[caseIndex]), expected) << caseIndex;
    }
    EXPECT_EQ(marchingCubesEdgeTable[1], 0x109);
    EXPECT_EQ(marchingCubesEdgeTable[254], 0x109);
    EXPECT_EQ(marchingCubesEdgeTable[15], 0xf00);
}

TEST(MarchingCubes, OneCornerBelowGivesOneTriangle)
{
    const auto image = volume(2, 2, 2, [](int i, int j, int k) { return i + j + k == 0 ? -1.0f : 1.0f; },
                              {2, 3, 4});
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    // Created on edges 0, 8 and 3, in that order, and wound the other way.
    const std::vector<V> vertices = {V(1, 0, 0), V(0, 0, 2), V(0, 1.5, 0)};
    EXPECT_EQ(mesh->vertices(), vertices);
    EXPECT_EQ(mesh->faces(), std::vector<T>{T(2, 1, 0)});
    EXPECT_TRUE(mesh->normals().empty());
    EXPECT_TRUE(mesh->colors().empty());
    EXPECT_TRUE(mesh->colorIndices().empty());
}

TEST(MarchingCubes, VolumesWithoutACrossingGiveAnEmptyMesh)
{
    const Field fields[] = {[](int, int, int) { return nan; }, [](int, int, int) { return 0.5f; },
                            [](int, int, int) { return -0.5f; }};
    for (const Field& field : fields) {
        const auto mesh = marchingCubes(*volume(5, 4, 3, field), nullptr, 0.0f);
        ASSERT_NE(mesh, nullptr);
        EXPECT_TRUE(mesh->vertices().empty());
        EXPECT_TRUE(mesh->faces().empty());
    }
    // Too thin for a single cell.
    const auto flat = marchingCubes(*volume(5, 4, 1, [](int i, int, int) { return i - 2.5f; }), nullptr, 0.0f);
    ASSERT_NE(flat, nullptr);
    EXPECT_TRUE(flat->faces().empty());
}

TEST(MarchingCubes, PlaneBetweenVoxelColumnsSharesEveryEdgeVertex)
{
    const auto image = volume(4, 3, 3, [](int i, int, int) { return i - 1.5f; }, {2, 1, 1});
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertices().size(), 9u);  // one per crossed edge of the 3 x 3 voxel rows
    EXPECT_EQ(mesh->faces().size(), 8u);
    for (const V& v : mesh->vertices()) {
        EXPECT_EQ(v.x(), 3.0);
    }
    EXPECT_EQ(distinctPositions(*mesh), mesh->vertices().size());
}

TEST(MarchingCubes, CellsWithAnUnobservedCornerAreSkipped)
{
    const auto image = volume(4, 4, 4, [](int i, int j, int k) {
        return i == 1 && j == 1 && k == 1 ? nan : i - 1.5f;
    });
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    // Of the 9 crossed cells, the 4 around the unobserved voxel yield nothing;
    // the others still share their vertices, across the gap as well.
    EXPECT_EQ(mesh->faces().size(), 10u);
    EXPECT_EQ(mesh->vertices().size(), 12u);
    EXPECT_EQ(distinctPositions(*mesh), 12u);
    for (const V& v : mesh->vertices()) {
        EXPECT_FALSE(v.y() < 2 && v.z() < 2) << v.transpose();
    }
}

TEST(MarchingCubes, ColoursAreInterpolatedLikeThePositions)
{
    const auto image = volume(4, 3, 3, [](int i, int, int) { return i - 1.5f; });
    TypedImage<unsigned char> colors(PixelType::UnsignedByte, 4, 3, 3, 4);
    for (std::size_t v = 0; v < 4 * 3 * 3; ++v) {
        const bool right = v % 4 >= 2;
        unsigned char* rgbw = colors.typedData() + 4 * v;
        rgbw[0] = right ? 255 : 0;
        rgbw[1] = 100;
        rgbw[2] = right ? 0 : 200;
        rgbw[3] = 7;
    }
    const auto mesh = marchingCubes(*image, &colors, 0.0f);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->colors().size(), mesh->vertices().size());
    EXPECT_EQ(mesh->colorIndices(), mesh->faces());
    for (const V& c : mesh->colors()) {
        EXPECT_TRUE(c.isApprox(V(0.5, 100 / 255.0, 100 / 255.0), 1e-6)) << c.transpose();
    }
    // The same surface with and without colours.
    const auto plain = marchingCubes(*image, nullptr, 0.0f);
    EXPECT_EQ(plain->vertices(), mesh->vertices());
    EXPECT_EQ(plain->faces(), mesh->faces());
}

TEST(MarchingCubes, RefusesVolumesThatDoNotFit)
{
    const auto image = volume(4, 3, 3, [](int i, int, int) { return i - 1.5f; });
    TypedImage<unsigned char> smaller(PixelType::UnsignedByte, 4, 3, 2, 4);
    EXPECT_EQ(marchingCubes(*image, &smaller, 0.0f), nullptr);
    TypedImage<unsigned char> rgb(PixelType::UnsignedByte, 4, 3, 3, 3);
    EXPECT_EQ(marchingCubes(*image, &rgb, 0.0f), nullptr);
    TypedImage<float> twoChannels(PixelType::Float, 4, 3, 3, 2);
    EXPECT_EQ(marchingCubes(twoChannels, nullptr, 0.0f), nullptr);
}

TEST(MarchingCubes, SphereBecomesAClosedWeldedSurface)
{
    const std::array<double, 3> spacing = {1.5, 2.0, 2.5};
    const V centre(19.37, 20.61, 18.83);  // off the voxel grid
    const double radius = 13.71;
    const double truncation = 3.0;
    const auto image = volume(40, 40, 40, [&](int i, int j, int k) {
        const double d = (V(i, j, k) - centre).norm() - radius;
        return static_cast<float>(std::clamp(d / truncation, -1.0, 1.0));
    }, spacing);
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    const std::size_t extracted = mesh->vertices().size();
    mesh->removeDuplicateVertices();
    mesh->computeNormals();

    EXPECT_EQ(mesh->vertices().size(), extracted);  // already welded by the edge cache
    EXPECT_TRUE(closedAndConsistent(*mesh));
    EXPECT_EQ(eulerCharacteristic(*mesh), 2);

    const V scale(spacing[0], spacing[1], spacing[2]);
    double worst = 0;
    for (std::size_t i = 0; i < mesh->vertices().size(); ++i) {
        const V& p = mesh->vertices()[i];
        const V inVoxels = p.cwiseQuotient(scale);
        worst = std::max(worst, std::abs((inVoxels - centre).norm() - radius));
        EXPECT_GT(mesh->normals()[i].dot(p - centre.cwiseProduct(scale)), 0.0) << "normal points inwards";
    }
    EXPECT_LT(worst, 0.1) << "voxels from the sphere";

    const double expectedVolume = 4.0 / 3.0 * M_PI * std::pow(radius, 3) * scale.prod();
    EXPECT_NEAR(signedVolume(*mesh), expectedVolume, 0.01 * expectedVolume);
}

TEST(MarchingCubes, RandomVolumeGivesClosedConsistentSurfaces)
{
    // Random values inside a border above the iso value: every case of the
    // table turns up, next to every other, and the surfaces must still close.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    const int n = 16;
    const auto image = volume(n, n, n, [&](int i, int j, int k) {
        const bool border = std::min({i, j, k}) == 0 || std::max({i, j, k}) == n - 1;
        return border ? 1.0f : value(random);
    });
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    EXPECT_GT(mesh->faces().size(), 1000u);
    EXPECT_TRUE(closedAndConsistent(*mesh));
    EXPECT_GT(signedVolume(*mesh), 0.0);  // wound counter-clockwise seen from above the iso value
}

TEST(MarchingCubes, RandomVolumeWithUnobservedVoxelsStaysWelded)
{
    // Values at least 0.1 from the iso value keep distinct vertices apart, so
    // a vertex created twice on one edge shows up as a close pair.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    const auto image = volume(16, 16, 16, [&](int, int, int) {
        const float v = value(random);
        return std::abs(v) > 0.9f ? nan : std::copysign(0.1f + std::abs(v), v);
    });
    const auto mesh = marchingCubes(*image, nullptr, 0.0f);
    ASSERT_NE(mesh, nullptr);
    EXPECT_GT(mesh->faces().size(), 500u);
    Mesh merged = *mesh;
    merged.mergeCloseVertices(1e-3);
    EXPECT_EQ(merged.vertices().size(), mesh->vertices().size());
    std::map<std::pair<int, int>, int> faceCount;
    for (const T& face : mesh->faces()) {
        for (int k = 0; k < 3; ++k) {
            ++faceCount[std::minmax(face[k], face[(k + 1) % 3])];
        }
    }
    for (const auto& [edge, count] : faceCount) {
        EXPECT_LE(count, 2) << edge.first << "-" << edge.second;
    }
}

TEST(MarchingCubes, InterpolateEdgeVertex)
{
    const Eigen::Vector3f a(0, 0, 0);
    const Eigen::Vector3f b(2, 4, 0);
    EXPECT_EQ(interpolateEdgeVertex(0.0f, a, b, -1.0f, 3.0f), Eigen::Vector3f(0.5f, 1.0f, 0));
    EXPECT_EQ(interpolateEdgeVertex(1.0f, a, b, 1.0f, 3.0f), a);
    EXPECT_EQ(interpolateEdgeVertex(0.0f, a, b, 2.0f, 2.0f), a);  // equal values: the first end
}

}  // namespace
}  // namespace Veltrane
