#include "reconstruction/VolumeIntegration.h"
#include "reconstruction/tests/TestImages.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Veltrane {
namespace {

using namespace VolumeIntegration;

constexpr int width = 40, height = 30, n = 16;
const Eigen::Matrix3f intrinsics = (Eigen::Matrix3f() << 33.1875f, 0, 20, 0, 33.1875f, 15, 0, 0, 1).finished();

/// A 16^3 volume of 10 mm voxels (truncation 50 mm) 500 mm in front of a
/// 40 x 30 camera, and one frame to fuse into it.
struct Fusion {
    VolumeGeometry geometry{{n, n, n}, Eigen::Vector3f(10.0f, 10.0f, 10.0f)};
    std::unique_ptr<TypedImage<float>> tsdf = filledImage<float>(n * n * n, 1, 1, std::numeric_limits<float>::quiet_NaN());
    std::unique_ptr<TypedImage<unsigned char>> weight = filledImage<unsigned char>(n * n * n, 1, 1, 0);
    std::unique_ptr<TypedImage<unsigned char>> color = filledImage<unsigned char>(n * n * n, 1, 4, 0);

    std::unique_ptr<TypedImage<unsigned short>> depth = filledImage<unsigned short>(width, height, 1, 500);
    std::unique_ptr<TypedImage<unsigned char>> rgb = filledImage<unsigned char>(width, height, 3, 200);
    std::unique_ptr<TypedImage<float>> normals = filledImage<float>(width, height, 3, 0.0f);
    std::unique_ptr<TypedImage<unsigned short>> rayDistance = filledImage<unsigned short>(width, height, 1, 0);
    std::unique_ptr<TypedImage<unsigned char>> mask = filledImage<unsigned char>(width, height, 1, 0);
    Settings settings{Eigen::Matrix4f::Identity(), intrinsics, 50.0f, 128};
    bool withColor = true;
    BrickMap* bricks = nullptr;

    Fusion()
    {
        settings.pose(2, 3) = 500.0f;
        for (int i = 0; i < width * height; ++i)
            normals->typedData()[3 * i + 2] = -1.0f;
    }

    void integrate()
    {
        computeRayDistance(*depth, intrinsics, *rayDistance);
        computeDiscontinuityMask(*depth, *mask);
        updateVolume(geometry, {rayDistance.get(), mask.get(), withColor ? rgb.get() : nullptr, normals.get()},
                     settings, {tsdf.get(), weight.get(), withColor ? color.get() : nullptr, bricks});
    }

    static std::size_t index(int i, int j, int k) { return i + n * (j + n * k); }
    float distance(int i, int j, int k) const { return tsdf->typedData()[index(i, j, k)]; }
    int weightAt(int i, int j, int k) const { return weight->typedData()[index(i, j, k)]; }
    const unsigned char* colorAt(int i, int j, int k) const { return color->typedData() + 4 * index(i, j, k); }
    /// Camera z of the centre of voxel slice k.
    static float cameraZ(int k) { return 500.0f + (k + 0.5f - n / 2.0f) * 10.0f; }
};

TEST(VolumeIntegration, FirstFrameWritesTruncatedDistancesWithWeightOne)
{
    Fusion f;
    f.integrate();
    // Along the central column of voxels (close to the optical axis).
    for (int k = 0; k < n; ++k) {
        const float z = Fusion::cameraZ(k);
        const float expected = std::min((500.0f - z) / 50.0f, 1.0f);
        if (z > 550.0f) {  // more than the truncation distance behind the surface
            EXPECT_TRUE(std::isnan(f.distance(8, 8, k))) << k;
            EXPECT_EQ(f.weightAt(8, 8, k), 0) << k;
            continue;
        }
        EXPECT_NEAR(f.distance(8, 8, k), expected, 0.03f) << k;
        EXPECT_EQ(f.weightAt(8, 8, k), 1) << k;
    }
    EXPECT_EQ(f.distance(8, 8, 0), 1.0f);  // far in front: exactly 1
    EXPECT_EQ(f.colorAt(8, 8, 0)[0], 200);
    EXPECT_EQ(f.colorAt(8, 8, 0)[3], 1);
}

TEST(VolumeIntegration, DistanceIsARunningAverageWhoseWeightSaturates)
{
    Fusion f;
    f.integrate();
    const float first = f.distance(8, 8, 7);
    f.depth->fill(510);
    f.integrate();
    f.depth->fill(500);
    const float second = f.distance(8, 8, 7);
    EXPECT_GT(second, first);
    EXPECT_EQ(f.weightAt(8, 8, 7), 2);

    for (int i = 0; i < 200; ++i)
        f.integrate();
    EXPECT_EQ(f.weightAt(8, 8, 7), 128);
    // At the cap the average still weighs the stored distance by the full 128.
    const float before = f.distance(8, 8, 7);
    f.depth->fill(540);
    f.integrate();
    f.depth->fill(500);
    EXPECT_EQ(f.weightAt(8, 8, 7), 128);
    const float observed = f.distance(8, 8, 7) * 129.0f - 128.0f * before;
    EXPECT_NEAR(observed, (540.0f - Fusion::cameraZ(7)) / 50.0f, 0.03f);
}

TEST(VolumeIntegration, UnreliableOrUnseenVoxelsAreNotTouched)
{
    struct Case {
        const char* name;
        void (*prepare)(Fusion&);
    };
    const Case cases[] = {
        {"no depth", [](Fusion& f) { f.depth->fill(0); }},
        {"volume behind the camera", [](Fusion& f) { f.settings.pose(2, 3) = -500.0f; }},
        {"volume outside the view", [](Fusion& f) { f.settings.pose(0, 3) = 2000.0f; }},
        {"depth 21 mm step everywhere", [](Fusion& f) {
             for (int i = 0; i < width * height; ++i)
                 f.depth->typedData()[i] = (i % 2) ? 521 : 500;
         }},
    };
    for (const Case& c : cases) {
        Fusion f;
        c.prepare(f);
        f.integrate();
        int touched = 0;
        for (std::size_t v = 0; v < f.weight->elementCount(); ++v)
            touched += f.weight->typedData()[v] != 0 || !std::isnan(f.tsdf->typedData()[v]) ||
                       f.color->typedData()[4 * v + 3] != 0;
        EXPECT_EQ(touched, 0) << c.name;
    }
}

TEST(VolumeIntegration, EveryVoxelInViewIsUpdated)
{
    // A far wall behind the whole volume, seen at an angle from close by, so
    // that the view cuts through the rows of voxels: exactly the voxels in
    // front of the camera whose centres project into the image change.
    Fusion f;
    f.withColor = false;
    f.depth->fill(3000);
    f.settings.pose.topLeftCorner<3, 3>() =
        (Eigen::AngleAxisf(0.6f, Eigen::Vector3f::UnitY()) * Eigen::AngleAxisf(0.3f, Eigen::Vector3f::UnitX()))
            .toRotationMatrix();
    f.settings.pose.topRightCorner<3, 1>() = Eigen::Vector3f(30.0f, -20.0f, 60.0f);
    f.integrate();
    int inView = 0;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const Eigen::Vector3f centre = f.geometry.toVolume(Eigen::Vector3f(i, j, k));
                const Eigen::Vector3f p = f.settings.pose.topLeftCorner<3, 3>() * centre +
                                          f.settings.pose.topRightCorner<3, 1>();
                const float u = p.x() * intrinsics(0, 0) / p.z() + intrinsics(0, 2) + 0.5f;
                const float v = p.y() * intrinsics(1, 1) / p.z() + intrinsics(1, 2) + 0.5f;
                const bool visible = p.z() > 0.0f && u > -1.0f && u < width && v > -1.0f && v < height;
                inView += visible;
                EXPECT_EQ(f.weightAt(i, j, k), visible ? 1 : 0) << i << "," << j << "," << k;
            }
    EXPECT_GT(inView, n * n * n / 10);
    EXPECT_LT(inView, n * n * n * 9 / 10);
}

TEST(VolumeIntegration, MarksExactlyTheBricksThatGetADistanceAtOrBehindTheSurface)
{
    // A slanted wall through a volume of 5 x 5 x 5 bricks seen at an
    // angle, so that the fused part of a row starts and ends inside bricks
    // and changes from row to row: the marks integration keeps must be those
    // of a map made from the written distances.
    constexpr int size = 5 * BrickMap::brickSize;
    Fusion f;
    f.geometry = VolumeGeometry{{size, size, size}, Eigen::Vector3f(10.0f, 10.0f, 10.0f)};
    f.tsdf = filledImage<float>(size * size * size, 1, 1, std::numeric_limits<float>::quiet_NaN());
    f.weight = filledImage<unsigned char>(size * size * size, 1, 1, 0);
    f.color = filledImage<unsigned char>(size * size * size, 1, 4, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            f.depth->typedData()[y * width + x] = static_cast<unsigned short>(430 + 3 * x + 2 * y);
    f.settings.pose.topLeftCorner<3, 3>() =
        (Eigen::AngleAxisf(0.3f, Eigen::Vector3f::UnitY()) * Eigen::AngleAxisf(-0.2f, Eigen::Vector3f::UnitX()))
            .toRotationMatrix();
    BrickMap bricks(f.geometry.resolution);
    f.bricks = &bricks;
    f.integrate();

    BrickMap expected(f.geometry.resolution);
    expected.markFrom(f.tsdf->typedData());
    int marked = 0;
    for (int k = 0; k < size; k += BrickMap::brickSize)
        for (int j = 0; j < size; j += BrickMap::brickSize)
            for (int i = 0; i < size; i += BrickMap::brickSize) {
                EXPECT_EQ(bricks.isMarked(i, j, k), expected.isMarked(i, j, k)) << i << "," << j << "," << k;
                marked += expected.isMarked(i, j, k);
            }
    EXPECT_GT(marked, 0);
}

TEST(VolumeIntegration, DiscontinuityMaskKeepsOnlyPixelsAwayFromStepsAndHoles)
{
    struct Case {
        unsigned short step;
        int reliableNearStep;
    };
    for (const Case c : {Case{20, 255}, Case{21, 0}}) {
        auto depth = filledImage<unsigned short>(width, height, 1, 1000);
        for (int y = 0; y < height; ++y)
            for (int x = 20; x < width; ++x)
                depth->typedData()[y * width + x] = 1000 + c.step;
        auto mask = filledImage<unsigned char>(width, height, 1, 7);
        computeDiscontinuityMask(*depth, *mask);
        EXPECT_EQ(mask->typedData()[10 * width + 18], c.reliableNearStep) << c.step;  // 2 px from the step
        EXPECT_EQ(mask->typedData()[10 * width + 22], 255) << c.step;  // 3 px: outside the window
        EXPECT_EQ(mask->typedData()[0], 255) << c.step;
    }
    auto holed = filledImage<unsigned short>(width, height, 1, 1000);
    holed->typedData()[10 * width + 10] = 0;
    auto mask = filledImage<unsigned char>(width, height, 1, 7);
    computeDiscontinuityMask(*holed, *mask);
    EXPECT_EQ(mask->typedData()[10 * width + 10], 0);
    EXPECT_EQ(mask->typedData()[12 * width + 12], 0);
    EXPECT_EQ(mask->typedData()[13 * width + 10], 255);
}

TEST(VolumeIntegration, RayDistanceGrowsOffAxisAndSaturatesInsteadOfWrapping)
{
    auto depth = filledImage<unsigned short>(width, height, 1, 1000);
    auto ray = filledImage<unsigned short>(width, height, 1, 0);
    depth->typedData()[width * height - 1] = 60000;
    computeRayDistance(*depth, intrinsics, *ray);
    EXPECT_EQ(ray->typedData()[15 * width + 20], 1000);  // principal point
    const float a = -20.0f / 33.1875f, b = -15.0f / 33.1875f;
    EXPECT_EQ(ray->typedData()[0], std::lround(1000.0f * std::sqrt(a * a + 1.0f + b * b)));  // 1251.98: rounded, not truncated
    // 60 m at the far corner is more than 16 bits along the ray.
    EXPECT_EQ(ray->typedData()[width * height - 1], 65535);
}

TEST(VolumeIntegration, OnePassSamplingGivesTheSamplesOfTheSeparateImages)
{
    // Sloped depth with a step, holes and a far corner, and colours and
    // normals that differ per pixel; sampled twice into the same buffers,
    // first with colour and then without.
    Fusion f;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int p = y * width + x;
            f.depth->typedData()[p] = static_cast<unsigned short>((x < 25 ? 600 : 700) + 2 * x + y);
            if ((x * 7 + y * 3) % 23 == 0)
                f.depth->typedData()[p] = 0;
            for (int c = 0; c < 3; ++c)
                f.rgb->typedData()[3 * p + c] = static_cast<unsigned char>(x * 5 + y * 3 + c * 70);
            f.normals->typedData()[3 * p + 2] = -0.01f * static_cast<float>(p % 100);
        }
    f.depth->typedData()[width * height - 1] = 65000;
    computeRayDistance(*f.depth, intrinsics, *f.rayDistance);
    computeDiscontinuityMask(*f.depth, *f.mask);

    FrameSamples onePass;
    for (const bool withColor : {true, false}) {
        const TypedImage<unsigned char>* rgb = withColor ? f.rgb.get() : nullptr;
        auto mask = filledImage<unsigned char>(width, height, 1, 7);
        onePass.sample(*f.depth, intrinsics, rgb, f.normals.get(), *mask);
        FrameSamples separate;
        separate.sample({f.rayDistance.get(), f.mask.get(), rgb, f.normals.get()});

        ASSERT_EQ(onePass.width(), width);
        ASSERT_EQ(onePass.height(), height);
        EXPECT_EQ(onePass.color() != nullptr, withColor);
        for (int p = 0; p < width * height; ++p) {
            EXPECT_EQ(mask->typedData()[p], f.mask->typedData()[p]) << p;
            EXPECT_EQ(onePass.distance()[p], separate.distance()[p]) << p;
            if (withColor) {
                EXPECT_EQ(onePass.color()[p], separate.color()[p]) << p;
            }
        }
    }
}

TEST(VolumeIntegration, ColourBlendsByFacingAndItsWeightStopsAt32)
{
    Fusion f;
    f.integrate();
    f.rgb->fill(100);
    for (int i = 0; i < width * height; ++i)
        f.normals->typedData()[3 * i + 2] = -0.5f;  // surface seen at 60 degrees
    f.integrate();
    EXPECT_EQ(f.colorAt(8, 8, 3)[0], static_cast<int>((100 * 0.5f + 200 * 1.0f) / 1.5f));
    EXPECT_EQ(f.colorAt(8, 8, 3)[3], 2);

    f.normals->fill(std::numeric_limits<float>::quiet_NaN());
    f.integrate();
    EXPECT_EQ(f.colorAt(8, 8, 3)[0], static_cast<int>((100 * 0.5f + 200 * 1.0f) / 1.5f));  // unchanged
    EXPECT_EQ(f.colorAt(8, 8, 3)[3], 2);

    f.normals->fill(0.0f);
    for (int i = 0; i < 40; ++i)
        f.integrate();
    EXPECT_EQ(f.colorAt(8, 8, 3)[3], 32);
}

TEST(VolumeIntegration, WithoutColourOnlyDistanceAndWeightChange)
{
    Fusion f;
    f.withColor = false;
    f.integrate();
    EXPECT_EQ(f.weightAt(8, 8, 5), 1);
    unsigned char lo, hi;
    f.color->minMax(lo, hi);
    EXPECT_EQ(hi, 0);
}

}  // namespace
}  // namespace Veltrane
