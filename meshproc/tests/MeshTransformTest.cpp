#include "meshproc/MeshTransform.h"

#include "core/Mesh.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

namespace Veltrane {
namespace {

using MeshProcessing::transformMesh;
using V = Mesh::Vector;
using T = Mesh::Triple;

struct TransformCase {
    std::string name;
    Eigen::Matrix4d matrix;
    V position;  // where (1, 0, 0) goes
    V normal;    // where the normal (1, 1, 0) goes
};

void PrintTo(const TransformCase& c, std::ostream* os)
{
    *os << c.name;
}

Eigen::Matrix4d affine(const Eigen::Affine3d& a)
{
    return a.matrix();
}

class TransformMesh : public ::testing::TestWithParam<TransformCase> {};

TEST_P(TransformMesh, MovesPositionsByMatrixAndNormalsByInverseTranspose)
{
    const TransformCase& c = GetParam();
    Mesh mesh;
    mesh.vertices() = {V(1, 0, 0), V(0, 0, 0), V(0, 1, 0)};
    mesh.normals() = {V(1, 1, 0), V(0, 0, 1), V(0, 0, 1)};
    mesh.faces() = {T(0, 1, 2)};
    mesh.normalIndices() = mesh.faces();

    ASSERT_EQ(transformMesh(&mesh, c.matrix), &mesh);
    EXPECT_TRUE(mesh.vertices()[0].isApprox(c.position, 1e-12)) << mesh.vertices()[0].transpose();
    EXPECT_TRUE(mesh.normals()[0].isApprox(c.normal, 1e-12)) << mesh.normals()[0].transpose();

    const Eigen::Vector3d moved[] = {mesh.vertices()[1], mesh.vertices()[2]};
    const V minimum = c.position.cwiseMin(moved[0]).cwiseMin(moved[1]);
    const V maximum = c.position.cwiseMax(moved[0]).cwiseMax(moved[1]);
    EXPECT_TRUE(mesh.boundingBoxMin().isApprox(minimum, 1e-12));
    EXPECT_TRUE(mesh.boundingBoxExtent().isApprox(maximum - minimum, 1e-12));
}

INSTANTIATE_TEST_SUITE_P(
    , TransformMesh,
    ::testing::Values(
        TransformCase{"Translation", affine(Eigen::Affine3d(Eigen::Translation3d(1, 2, 3))), V(2, 2, 3), V(1, 1, 0)},
        TransformCase{"QuarterTurnAboutZ",
                      affine(Eigen::Affine3d(Eigen::AngleAxisd(M_PI / 2, V::UnitZ()))), V(0, 1, 0), V(-1, 1, 0)},
        TransformCase{"TurnAndShift",
                      affine(Eigen::Translation3d(0, 0, 5) * Eigen::AngleAxisd(M_PI, V::UnitX())), V(1, 0, 5),
                      V(1, -1, 0)},
        // Normals stay perpendicular to the stretched surface and are not
        // normalised again.
        TransformCase{"StretchAlongX", affine(Eigen::Affine3d(Eigen::Scaling(2.0, 1.0, 1.0))), V(2, 0, 0),
                      V(0.5, 1, 0)}),
    [](const ::testing::TestParamInfo<TransformCase>& info) { return info.param.name; });

TEST(TransformMeshRefusal, MatrixWithoutInverseLeavesTheMeshAlone)
{
    Mesh mesh;
    mesh.vertices() = {V(1, 2, 3), V(4, 5, 6), V(7, 8, 10)};
    mesh.normals() = {V(0, 0, 1), V(0, 0, 1), V(0, 0, 1)};
    mesh.faces() = {T(0, 1, 2)};
    mesh.normalIndices() = mesh.faces();
    const Mesh before(mesh);

    Eigen::Matrix4d flat = Eigen::Matrix4d::Identity();
    flat(2, 2) = 0.0;
    Eigen::Matrix4d notFinite = Eigen::Matrix4d::Identity();
    notFinite(0, 3) = std::numeric_limits<double>::quiet_NaN();
    for (const Eigen::Matrix4d& m : {flat, notFinite, Eigen::Matrix4d(Eigen::Matrix4d::Zero())}) {
        ASSERT_EQ(transformMesh(&mesh, m), &mesh);
        EXPECT_EQ(mesh.vertices(), before.vertices());
        EXPECT_EQ(mesh.normals(), before.normals());
    }
    EXPECT_EQ(transformMesh(nullptr, Eigen::Matrix4d::Identity()), nullptr);
}

}  // namespace
}  // namespace Veltrane
