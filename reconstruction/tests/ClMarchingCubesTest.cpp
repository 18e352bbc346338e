#include "reconstruction/ClMarchingCubes.h"

#include "core/ClImage.h"
#include "core/Mesh.h"
#include "core/TypedImage.h"
#include "reconstruction/MarchingCubes.h"
#include "testsupport/ClTestSupport.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace Veltrane {
namespace {

constexpr double spacing = 2.0;

/// Distance volume of a sphere in truncation units, with an unobserved
/// wedge so that cells next to NaN voxels are exercised.
std::unique_ptr<TypedImage<float>> sphereVolume(int n, bool withHole)
{
    auto volume = std::make_unique<TypedImage<float>>(PixelType::Float, n, n, n, 1);
    volume->spacing = {spacing, spacing, spacing};
    const double c = 0.5 * (n - 1) + 0.3;
    const double radius = 0.33 * n;
    float* v = volume->typedData();
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const double d = std::sqrt((i - c) * (i - c) + (j - c) * (j - c) + (k - c) * (k - c)) - radius;
                const bool hidden = withHole && i > c + 2 && j > c + 2;
                *v++ = hidden ? std::numeric_limits<float>::quiet_NaN()
                              : static_cast<float>(std::clamp(d / 3.0, -1.0, 1.0));
            }
    return volume;
}

/// Colour volume whose colours change smoothly with the voxel position.
std::unique_ptr<TypedImage<unsigned char>> colourVolume(int n)
{
    auto volume = std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, n, n, n, 4);
    unsigned char* v = volume->typedData();
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                *v++ = static_cast<unsigned char>(255 * i / (n - 1));
                *v++ = static_cast<unsigned char>(255 * j / (n - 1));
                *v++ = static_cast<unsigned char>(255 * k / (n - 1));
                *v++ = 1;
            }
    return volume;
}

std::unique_ptr<ClImage> upload(const Image& image, const void* data)
{
    auto device = std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::ReadOnly, image, data, 0, 0,
                                            testEnvironment());
    device->spacing = image.spacing;
    return device;
}

/// Volume enclosed by a closed mesh; positive when its faces wind
/// counter-clockwise seen from outside.
double signedVolume(const Mesh& mesh)
{
    double sum = 0.0;
    for (const Mesh::Triple& f : mesh.faces())
        sum += mesh.vertices()[f[0]].dot(mesh.vertices()[f[1]].cross(mesh.vertices()[f[2]]));
    return sum / 6.0;
}

/// The largest distance from a vertex of `a` to the nearest vertex of `b`,
/// and the index of that nearest vertex for each vertex of `a`.
double oneSidedHausdorff(const Mesh& a, const Mesh& b, std::vector<int>* nearest = nullptr)
{
    double worst = 0.0;
    for (const Mesh::Vector& p : a.vertices()) {
        double best = std::numeric_limits<double>::infinity();
        int bestIndex = -1;
        for (std::size_t i = 0; i < b.vertices().size(); ++i) {
            const double d = (b.vertices()[i] - p).squaredNorm();
            if (d < best) {
                best = d;
                bestIndex = static_cast<int>(i);
            }
        }
        worst = std::max(worst, std::sqrt(best));
        if (nearest)
            nearest->push_back(bestIndex);
    }
    return worst;
}

class ClMarchingCubesTest : public ClSharedObjectTest<ClMarchingCubesTest, ClMarchingCubes> {
protected:
    static ClMarchingCubes& cubes() { return shared(); }

    /// The CPU mesh as the application finishes it: welded, with normals.
    static std::unique_ptr<Mesh> cpuMesh(const TypedImage<float>& volume, const TypedImage<unsigned char>* colours)
    {
        auto mesh = marchingCubes(volume, colours, 0.0f);
        if (mesh) {
            mesh->removeDuplicateVertices();
            mesh->computeNormals();
        }
        return mesh;
    }
};

TEST_F(ClMarchingCubesTest, MatchesTheCpuMeshInOneSlabAndInMany)
{
    const int n = 24;
    struct Case {
        const char* name;
        bool hole;
        std::uint32_t slabVoxels;
    };
    const Case cases[] = {
        {"one slab", false, ClMarchingCubes::defaultSlabVoxels},
        {"one slab, unobserved wedge", true, ClMarchingCubes::defaultSlabVoxels},
        {"slabs of 5 slices", false, static_cast<std::uint32_t>(n * n * 5)},
        {"slabs of 1 slice, unobserved wedge", true, static_cast<std::uint32_t>(n * n)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto volume = sphereVolume(n, c.hole);
        const auto expected = cpuMesh(*volume, nullptr);
        ASSERT_NE(expected, nullptr);
        const auto device = upload(*volume, volume->data());
        const auto mesh = cubes().computeMesh(device.get(), nullptr, 0.0f, c.slabVoxels);
        ASSERT_NE(mesh, nullptr);
        EXPECT_EQ(mesh->vertices().size(), expected->vertices().size());
        EXPECT_EQ(mesh->faces().size(), expected->faces().size());
        EXPECT_LT(oneSidedHausdorff(*mesh, *expected), 1e-3 * spacing);
        EXPECT_LT(oneSidedHausdorff(*expected, *mesh), 1e-3 * spacing);
        EXPECT_NEAR(signedVolume(*mesh), signedVolume(*expected), 1e-3 * std::abs(signedVolume(*expected)));
        EXPECT_TRUE(mesh->colors().empty());
        EXPECT_EQ(mesh->normals().size(), mesh->vertices().size());
        EXPECT_TRUE(mesh->isValid());
    }
}

TEST_F(ClMarchingCubesTest, CarriesTheColoursOfTheCpuMesh)
{
    const int n = 20;
    const auto volume = sphereVolume(n, false);
    const auto colours = colourVolume(n);
    const auto expected = cpuMesh(*volume, colours.get());
    const auto device = upload(*volume, volume->data());
    const auto deviceColours = upload(*colours, colours->data());
    const auto mesh = cubes().computeMesh(device.get(), deviceColours.get(), 0.0f, n * n * 7);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->colors().size(), mesh->vertices().size());
    EXPECT_EQ(mesh->colorIndices(), mesh->faces());
    std::vector<int> nearest;
    oneSidedHausdorff(*mesh, *expected, &nearest);
    double worst = 0.0;
    for (std::size_t i = 0; i < nearest.size(); ++i)
        worst = std::max(worst, (mesh->colors()[i] - expected->colors()[nearest[i]]).cwiseAbs().maxCoeff());
    EXPECT_LT(worst, 1e-5);
}

TEST_F(ClMarchingCubesTest, VolumesWithoutSurfaceGiveNoMesh)
{
    const int n = 8;
    TypedImage<float> unobserved(PixelType::Float, n, n, n, 1);
    unobserved.fill(std::numeric_limits<float>::quiet_NaN());
    TypedImage<float> allFree(PixelType::Float, n, n, n, 1);
    allFree.fill(1.0f);
    for (const TypedImage<float>* volume : {&unobserved, &allFree}) {
        const auto device = upload(*volume, volume->data());
        EXPECT_EQ(cubes().computeMesh(device.get(), nullptr, 0.0f), nullptr);
    }
    EXPECT_EQ(cubes().computeMesh(nullptr, nullptr, 0.0f), nullptr);
}

TEST_F(ClMarchingCubesTest, RunWritesReversedCornersOfOneCell)
{
    // Only corner 0 below the iso value: one triangle over edges 0, 8, 3.
    TypedImage<float> cell(PixelType::Float, 2, 2, 2, 1);
    cell.fill(1.0f);
    cell.typedData()[0] = -1.0f;
    const auto device = upload(cell, cell.data());
    ClImage* positions = nullptr;
    ClImage* normals = nullptr;
    int count = 0;
    // Without normals first: asking for them then rebuilds the program for a
    // slab of the same size.
    ASSERT_TRUE(cubes().run(device.get(), nullptr, 0.0f, &positions, nullptr, nullptr, &count, 0, 0));
    EXPECT_EQ(count, 3);
    ASSERT_TRUE(cubes().run(device.get(), nullptr, 0.0f, &positions, &normals, nullptr, &count, 0, 0));
    ASSERT_EQ(count, 3);
    const auto mesh = cubes().downloadMesh(positions, normals, nullptr, count);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->vertices().size(), 3u);
    EXPECT_TRUE(mesh->vertices()[0].isApprox(Mesh::Vector(0.5, 0, 0)));
    EXPECT_TRUE(mesh->vertices()[1].isApprox(Mesh::Vector(0, 0, 0.5)));
    EXPECT_TRUE(mesh->vertices()[2].isApprox(Mesh::Vector(0, 0.5, 0)));
    ASSERT_EQ(mesh->faces().size(), 1u);
    EXPECT_EQ(mesh->faces()[0], Mesh::Triple(2, 1, 0));
    // The normals point away from the inside corner, like the face.
    const Mesh::Vector face = (mesh->vertices()[1] - mesh->vertices()[2]).cross(mesh->vertices()[0] - mesh->vertices()[2]);
    for (const Mesh::Vector& normal : mesh->normals())
        EXPECT_GT(normal.dot(face), 0.0);
    EXPECT_GT(face.sum(), 0.0);

    EXPECT_EQ(cubes().downloadMesh(nullptr, nullptr, nullptr, 3), nullptr);
    EXPECT_EQ(cubes().downloadMesh(positions, nullptr, nullptr, 0), nullptr);
}

TEST_F(ClMarchingCubesTest, RefusesSlicesOutsideTheVolumeAndColoursOfAnotherSize)
{
    TypedImage<float> volume(PixelType::Float, 4, 4, 4, 1);
    volume.fill(1.0f);
    const auto device = upload(volume, volume.data());
    ClImage* positions = nullptr;
    ClImage* colours = nullptr;
    int count = 0;
    const auto smallColours = colourVolume(3);
    const auto deviceColours = upload(*smallColours, smallColours->data());
    EXPECT_FALSE(cubes().run(device.get(), deviceColours.get(), 0.0f, &positions, nullptr, &colours, &count, 0, 0));
    EXPECT_FALSE(cubes().run(deviceColours.get(), nullptr, 0.0f, &positions, nullptr, nullptr, &count, 0, 0));
    EXPECT_EQ(cubes().computeMesh(device.get(), deviceColours.get(), 0.0f), nullptr);
    EXPECT_FALSE(cubes().run(device.get(), nullptr, 0.0f, &positions, nullptr, nullptr, &count, 2, 3));
    EXPECT_FALSE(cubes().run(device.get(), nullptr, 0.0f, &positions, nullptr, nullptr, &count, -1, 2));
    EXPECT_TRUE(cubes().run(device.get(), nullptr, 0.0f, &positions, nullptr, nullptr, &count, 1, 3));
    EXPECT_EQ(positions, nullptr);
    EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace Veltrane
