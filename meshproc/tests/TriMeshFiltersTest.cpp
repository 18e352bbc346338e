#include "meshproc/TriMeshFilters.h"

#include "core/Mesh.h"
#include "meshproc/tests/MeshFixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace Veltrane {
namespace {

using MeshProcessing::decimateTriMesh;
using MeshProcessing::meshToTriMesh;
using MeshProcessing::smoothTriMesh;
using MeshProcessing::triMeshToMesh;
using testing::closedManifold;
using testing::marchingCubesSphere;
using testing::sphereCentre;
using V = Mesh::Vector;

constexpr double radius = 12.0;

/// Largest distance of a vertex from the sphere, relative to its radius.
double worstRadialError(const Mesh& mesh)
{
    double worst = 0.0;
    for (const V& p : mesh.vertices()) {
        worst = std::max(worst, std::abs((p - sphereCentre()).norm() - radius) / radius);
    }
    return worst;
}

double rmsRadialError(const Mesh& mesh)
{
    double sum = 0.0;
    for (const V& p : mesh.vertices()) {
        const double e = (p - sphereCentre()).norm() - radius;
        sum += e * e;
    }
    return std::sqrt(sum / static_cast<double>(mesh.vertices().size()));
}

/// Per-vertex unit normals that point away from the centre.
void expectOutwardUnitNormals(const Mesh& mesh)
{
    ASSERT_EQ(mesh.normals().size(), mesh.vertices().size());
    EXPECT_EQ(mesh.normalIndices(), mesh.faces());
    for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
        const V& n = mesh.normals()[i];
        ASSERT_NEAR(n.norm(), 1.0, 1e-5) << i;
        ASSERT_GT(n.dot((mesh.vertices()[i] - sphereCentre()).normalized()), 0.5) << i;
    }
}

TEST(Decimation, SphereToATenthStaysClosedAndOnTheSphere)
{
    const auto sphere = marchingCubesSphere(radius);
    ASSERT_NE(sphere, nullptr);
    ASSERT_TRUE(closedManifold(*sphere));
    const int faces = static_cast<int>(sphere->faces().size());
    ASSERT_GT(faces, 2000);

    std::unique_ptr<TriMesh> tri(meshToTriMesh(*sphere));
    const int target = faces / 10;
    ASSERT_EQ(decimateTriMesh(tri.get(), target), tri.get());
    const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));

    EXPECT_LE(static_cast<int>(result->faces().size()), target);
    EXPECT_GE(static_cast<int>(result->faces().size()), target - 2);
    EXPECT_TRUE(closedManifold(*result));
    EXPECT_EQ(static_cast<long>(result->vertices().size()) - static_cast<long>(result->faces().size()) / 2, 2)
        << "Euler characteristic of a sphere";
    EXPECT_LT(worstRadialError(*result), 0.01);
    expectOutwardUnitNormals(*result);
}

TEST(Decimation, TargetOfTheFaceCountOnlyUpdatesNormals)
{
    const auto sphere = marchingCubesSphere(radius);
    std::unique_ptr<TriMesh> tri(meshToTriMesh(*sphere));
    decimateTriMesh(tri.get(), static_cast<int>(sphere->faces().size()));
    const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));

    EXPECT_EQ(result->vertices().size(), sphere->vertices().size());
    EXPECT_EQ(result->faces(), sphere->faces());
    for (std::size_t i = 0; i < sphere->vertices().size(); ++i) {
        ASSERT_TRUE(result->vertices()[i].isApprox(sphere->vertices()[i], 1e-6)) << i;
    }
    expectOutwardUnitNormals(*result);
}

class DecimationToNothing : public ::testing::TestWithParam<int> {};

TEST_P(DecimationToNothing, StopsWhereNormalsWouldFlipAndStaysClosed)
{
    const auto sphere = marchingCubesSphere(6.0);
    std::unique_ptr<TriMesh> tri(meshToTriMesh(*sphere));
    decimateTriMesh(tri.get(), GetParam());
    const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));

    EXPECT_GE(result->faces().size(), 4u);
    EXPECT_LT(result->faces().size(), 100u);
    EXPECT_TRUE(closedManifold(*result));
}

INSTANTIATE_TEST_SUITE_P(, DecimationToNothing, ::testing::Values(1, 0, -5));

TEST(Smoothing, ReducesNoiseOnASphereAndGivesNormals)
{
    const auto sphere = marchingCubesSphere(radius);
    Mesh noisy(*sphere);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 0.15);
    for (V& p : noisy.vertices()) {
        p += (p - sphereCentre()).normalized() * noise(random);
    }
    const double before = rmsRadialError(noisy);

    std::unique_ptr<TriMesh> tri(meshToTriMesh(noisy));
    ASSERT_FALSE(tri->has_vertex_normals());
    ASSERT_EQ(smoothTriMesh(tri.get(), 10), tri.get());
    const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));

    ASSERT_EQ(result->vertices().size(), noisy.vertices().size());
    EXPECT_EQ(result->faces(), noisy.faces());
    EXPECT_LT(rmsRadialError(*result), 0.5 * before);
    EXPECT_LT(worstRadialError(*result), 0.03) << "smoothing must not shrink the sphere away";
    expectOutwardUnitNormals(*result);
}

TEST(Smoothing, PointsThatAreNotFiniteStayOutOfTheMesh)
{
    Mesh mesh(*marchingCubesSphere(radius));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    mesh.vertices()[10] = V(nan, nan, nan);
    mesh.vertices()[500] = V(0, nan, 0);
    std::size_t touching = 0;
    for (const Mesh::Triple& face : mesh.faces()) {
        touching += (face.array() == 10).any() || (face.array() == 500).any() ? 1 : 0;
    }

    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    ASSERT_NE(tri, nullptr);
    smoothTriMesh(tri.get(), 30);
    const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));
    EXPECT_EQ(result->vertices().size(), mesh.vertices().size() - 2);
    EXPECT_EQ(result->faces().size(), mesh.faces().size() - touching);
    for (std::size_t i = 0; i < result->vertices().size(); ++i) {
        ASSERT_TRUE(result->vertices()[i].allFinite()) << i;
        ASSERT_TRUE(result->normals()[i].allFinite()) << i;
    }
}

TEST(Smoothing, NoIterationsLeaveThePointsWhereTheyAre)
{
    const auto sphere = marchingCubesSphere(radius);
    for (const int iterations : {0, -1}) {
        std::unique_ptr<TriMesh> tri(meshToTriMesh(*sphere));
        smoothTriMesh(tri.get(), iterations);
        const std::unique_ptr<Mesh> result(triMeshToMesh(*tri));
        for (std::size_t i = 0; i < sphere->vertices().size(); ++i) {
            ASSERT_TRUE(result->vertices()[i].isApprox(sphere->vertices()[i], 1e-6)) << iterations << ": " << i;
        }
        expectOutwardUnitNormals(*result);
    }
}

TEST(MeshFilters, NullMeshGivesNull)
{
    EXPECT_EQ(decimateTriMesh(nullptr, 10), nullptr);
    EXPECT_EQ(smoothTriMesh(nullptr, 10), nullptr);
}

}  // namespace
}  // namespace Veltrane
