#include "reconstruction/SurfacePrediction.h"
#include "reconstruction/VectorMap.h"
#include "reconstruction/tests/TestImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

namespace Veltrane {
namespace {

using namespace SurfacePrediction;

constexpr int width = 80, height = 60;
const float nan = std::numeric_limits<float>::quiet_NaN();

/// A 64^3 volume of 10 mm voxels whose distances come from `sdf` (mm, volume
/// coordinates), truncated at 50 mm.
struct TestVolume {
    VolumeGeometry geometry{{64, 64, 64}, Eigen::Vector3f(10.0f, 10.0f, 10.0f)};
    std::unique_ptr<TypedImage<float>> tsdf = std::make_unique<TypedImage<float>>(0, 64, 64, 64, 1);

    explicit TestVolume(const std::function<float(const Eigen::Vector3f&)>& sdf)
    {
        for (int k = 0; k < 64; ++k)
            for (int j = 0; j < 64; ++j)
                for (int i = 0; i < 64; ++i) {
                    const Eigen::Vector3f p = geometry.toVolume(Eigen::Vector3f(i, j, k));
                    tsdf->typedData()[i + 64 * (j + 64 * k)] = std::clamp(sdf(p) / 50.0f, -1.0f, 1.0f);
                }
    }
};

/// Ray-cast images of an 80 x 60 frame.
struct Prediction {
    std::unique_ptr<TypedImage<float>> vertices = filledImage<float>(width, height, 3, 0.0f);
    std::unique_ptr<TypedImage<float>> normals = filledImage<float>(width, height, 3, 0.0f);
    std::unique_ptr<TypedImage<unsigned char>> scene = filledImage<unsigned char>(width, height, 3, 7);
    std::unique_ptr<TypedImage<unsigned char>> mask = filledImage<unsigned char>(width, height, 1, 7);

    Prediction(const TestVolume& volume, const Eigen::Matrix4f& pose, const TypedImage<unsigned char>* color = nullptr,
               bool showColor = true, float stepFactor = 0.8f)
    {
        RaycastSettings settings;
        settings.pose = pose;
        settings.intrinsics << 66.375f, 0, 40, 0, 66.375f, 30, 0, 0, 1;  // 531 / 8
        settings.truncationFactor = 5.0f;
        settings.stepFactor = stepFactor;
        settings.showColor = showColor;
        raycast(volume.geometry, *volume.tsdf, color, settings, {vertices.get(), normals.get(), scene.get(), mask.get()});
    }

    int hits() const
    {
        int n = 0;
        for (std::size_t i = 0; i < mask->elementCount(); ++i)
            n += mask->typedData()[i];
        return n;
    }
    const unsigned char* pixel(int x, int y) const { return scene->typedData() + 3 * (y * width + x); }
};

/// Volume placed 1 m in front of the camera, axes aligned.
Eigen::Matrix4f poseAt(float distance)
{
    Eigen::Matrix4f pose = Eigen::Matrix4f::Identity();
    pose(2, 3) = distance;
    return pose;
}

float planeFacingCamera(const Eigen::Vector3f& p)
{
    return -p.z();  // the plane z = 0, free space towards -z (the camera)
}

TEST(SurfacePrediction, UnobservedVolumeShowsOnlyTheBackground)
{
    const TestVolume volume([](const Eigen::Vector3f&) { return nan; });
    const Prediction prediction(volume, poseAt(1000.0f));
    EXPECT_EQ(prediction.hits(), 0);
    for (std::size_t i = 0; i < prediction.vertices->elementCount(); ++i) {
        ASSERT_TRUE(std::isnan(prediction.vertices->typedData()[i]));
        ASSERT_TRUE(std::isnan(prediction.normals->typedData()[i]));
    }
    EXPECT_EQ(prediction.pixel(40, 0)[0], 55);
    EXPECT_EQ(prediction.pixel(0, height - 1)[2], 95);
    EXPECT_EQ(prediction.pixel(79, 30)[1], static_cast<int>(55.0f + 40.0f * 30.0f / 59.0f));
}

TEST(SurfacePrediction, PlaneFacingTheCameraIsFoundWhereItIs)
{
    const TestVolume volume(planeFacingCamera);
    // From outside the box (which starts at 680 mm) and from inside it.
    for (const float distance : {1000.0f, 250.0f}) {
        const Prediction prediction(volume, poseAt(distance));
        const Eigen::Vector3f centre = VectorMap::at(*prediction.vertices, 40, 30);
        EXPECT_NEAR(centre.z(), 0.0f, 0.5f) << distance;
        EXPECT_NEAR(centre.x(), 0.0f, 1e-3f) << distance;
        EXPECT_GT(Eigen::Vector3f(VectorMap::at(*prediction.normals, 40, 30)).dot(Eigen::Vector3f(0, 0, -1)), 0.999f);
        // Yellow at full brightness where the view is straight on.
        EXPECT_EQ(prediction.pixel(40, 30)[0], 255) << distance;
        EXPECT_EQ(prediction.pixel(40, 30)[1], 255) << distance;
        EXPECT_EQ(prediction.pixel(40, 30)[2], 0) << distance;
        // From 1 m the view is wider than the 640 mm box; from inside it the
        // plane fills the view.
        EXPECT_EQ(prediction.mask->typedData()[0], distance > 500.0f ? 0 : 1) << distance;
        EXPECT_EQ(prediction.mask->typedData()[30 * width + 25], 1) << distance;
    }
}

TEST(SurfacePrediction, TiltedPlaneIsFoundAlikeWhateverTheStep)
{
    // Coarse steps of 4 voxels give a fine step of exactly one voxel, 4.15
    // voxels one of 16.6 / 17: the normals come from grid cells in the first
    // case and from four interpolations in the second, and agree. (Away from
    // the box's sides, where the rays leave the box before the plane.)
    const Eigen::Vector3f n = Eigen::Vector3f(0.3f, -0.2f, -1.0f).normalized();
    const TestVolume volume([&](const Eigen::Vector3f& p) { return n.dot(p); });
    const Prediction whole(volume, poseAt(1000.0f), nullptr, true, 0.8f);
    const Prediction fractional(volume, poseAt(1000.0f), nullptr, true, 0.83f);
    int compared = 0;
    for (int y = 15; y < 45; ++y)
        for (int x = 25; x < 55; ++x) {
            const Eigen::Vector3f a = VectorMap::at(*whole.normals, x, y);
            const Eigen::Vector3f b = VectorMap::at(*fractional.normals, x, y);
            ASSERT_FALSE(VectorMap::isInvalid(a) || VectorMap::isInvalid(b)) << x << " " << y;
            EXPECT_GT(a.dot(n), 0.999f) << x << " " << y;
            EXPECT_GT(a.dot(b), 0.9999f) << x << " " << y;
            const Eigen::Vector3f p = VectorMap::at(*whole.vertices, x, y);
            EXPECT_NEAR(n.dot(p), 0.0f, 0.5f) << x << " " << y;
            EXPECT_LT((p - Eigen::Vector3f(VectorMap::at(*fractional.vertices, x, y))).norm(), 0.5f) << x << " " << y;
            ++compared;
        }
    EXPECT_EQ(compared, 900);
}

TEST(SurfacePrediction, RayStopsBehindTheBackOfASurface)
{
    // Negative near the camera, positive beyond: the camera looks at the back
    // of a surface and must not report it.
    const TestVolume volume([](const Eigen::Vector3f& p) { return p.z(); });
    EXPECT_EQ(Prediction(volume, poseAt(1000.0f)).hits(), 0);
}

/// A colour volume for `TestVolume` with every voxel (10, 100, 200).
std::unique_ptr<TypedImage<unsigned char>> uniformColorVolume()
{
    auto color = std::make_unique<TypedImage<unsigned char>>(0, 64, 64, 64, 4);
    for (std::size_t v = 0; v < color->elementCount() / 4; ++v) {
        unsigned char* c = color->typedData() + 4 * v;
        c[0] = 10;
        c[1] = 100;
        c[2] = 200;
        c[3] = 1;
    }
    return color;
}

TEST(SurfacePrediction, SceneShowsVoxelColoursOnlyWhenAskedTo)
{
    const TestVolume volume(planeFacingCamera);
    const auto color = uniformColorVolume();
    const Prediction colored(volume, poseAt(1000.0f), color.get(), true);
    EXPECT_EQ(colored.pixel(40, 30)[0], 10);
    EXPECT_EQ(colored.pixel(40, 30)[1], 100);
    EXPECT_EQ(colored.pixel(40, 30)[2], 200);
    const Prediction flat(volume, poseAt(1000.0f), color.get(), false);
    EXPECT_EQ(flat.pixel(40, 30)[2], 0);
    EXPECT_EQ(flat.pixel(40, 30)[1], 255);
}

TEST(SurfacePrediction, NoisyVolumeShowsOnlyVoxelColours)
{
    // Distances that change sign from voxel to voxel, as in a badly fused
    // volume: interpolated between two samples they can look nothing like a
    // line through a crossing, which then lands far from the ray's samples,
    // even outside the volume; its colour still comes from a voxel of the
    // colour volume.
    std::mt19937 random(3);
    std::uniform_real_distribution<float> noise(-60.0f, 60.0f);
    const TestVolume volume([&](const Eigen::Vector3f&) { return noise(random); });
    const auto color = uniformColorVolume();
    for (const float distance : {1000.0f, 250.0f}) {
        const Prediction prediction(volume, poseAt(distance), color.get());
        EXPECT_GT(prediction.hits(), width * height / 4) << distance;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                if (prediction.mask->typedData()[y * width + x] == 0)
                    continue;
                // (10, 100, 200) shaded by a factor of 0.2 .. 1.
                const unsigned char* pixel = prediction.pixel(x, y);
                ASSERT_GE(pixel[2], 40) << x << " " << y << " from " << distance;
                ASSERT_NEAR(pixel[2], 2 * pixel[1], 2) << x << " " << y << " from " << distance;
                ASSERT_NEAR(pixel[1], 10 * pixel[0], 10) << x << " " << y << " from " << distance;
            }
    }
}

TEST(SurfacePrediction, InterpolationIsTrilinearClampedAndPoisonedByNan)
{
    const std::array<int, 3> n{2, 2, 2};
    float v[8] = {0, 1, 2, 3, 4, 5, 6, 7};  // value = i + 2 j + 4 k
    struct Case {
        Eigen::Vector3f u;
        float expected;
    };
    for (const Case& c : {Case{{0, 0, 0}, 0}, Case{{1, 1, 1}, 7}, Case{{0.5f, 0.5f, 0.5f}, 3.5f},
                          Case{{0.25f, 0, 1}, 4.25f}, Case{{1.5f, 0, 0}, 1.0f}, Case{{-0.5f, 0.75f, 0}, 1.5f},
                          Case{{0.99999994f, 0, 0}, 0.99999994f}, Case{{1, 0.5f, 0.5f}, 4.0f}}) {
        EXPECT_FLOAT_EQ(interpolateTsdf(v, n, c.u), c.expected) << c.u.transpose();
    }
    v[7] = nan;
    EXPECT_TRUE(std::isnan(interpolateTsdf(v, n, {0.5f, 0.5f, 0.5f})));
    EXPECT_TRUE(std::isnan(interpolateTsdf(v, n, {0, 0, 0})));  // even where its weight is 0
}

TEST(SurfacePrediction, PyramidOfThePrediction)
{
    auto vertices = filledImage<float>(4, 4, 3, 1.0f);
    auto normals = filledImage<float>(4, 4, 3, 1.0f);
    VectorMap::at(*vertices, 3, 3) = VectorMap::invalid();
    VectorMap::at(*normals, 3, 3) = VectorMap::invalid();
    VectorMap::at(*normals, 2, 2) = Eigen::Vector3f(4.0f, 4.0f, 4.0f);
    auto halfVertices = filledImage<float>(2, 2, 3, 0.0f);
    auto halfNormals = filledImage<float>(2, 2, 3, 0.0f);
    TypedImage<float>* vertexLevels[] = {vertices.get(), halfVertices.get()};
    TypedImage<float>* normalLevels[] = {normals.get(), halfNormals.get()};
    downsamplePyramid(vertexLevels, normalLevels, 2);
    EXPECT_EQ(VectorMap::at(*halfVertices, 0, 0), Eigen::Vector3f(1, 1, 1));
    EXPECT_TRUE(VectorMap::isInvalid(VectorMap::at(*halfVertices, 1, 1)));  // window 1..3 holds the NaN
    EXPECT_EQ(VectorMap::at(*halfNormals, 0, 0), Eigen::Vector3f(1, 1, 1));  // window 0..1
    // Window 1..3 x 1..3: eight valid samples, one of them 4.
    EXPECT_FLOAT_EQ(VectorMap::at(*halfNormals, 1, 1).x(), (7.0f + 4.0f) / 8.0f);
}

TEST(SurfacePrediction, PyramidMadeAtOnceEqualsThePyramidMadeLevelByLevel)
{
    // Three levels of 40 x 32 maps with invalid samples scattered over them,
    // made at once and level by level.
    const int levels = 3;
    std::unique_ptr<TypedImage<float>> maps[2][2][levels];  // [at once?][vertices, normals][level]
    for (auto& way : maps)
        for (auto& kind : way)
            for (int l = 0; l < levels; ++l)
                kind[l] = filledImage<float>(40 >> l, 32 >> l, 3, 0.0f);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool invalid = (x * 7 + y * 13) % 11 == 0;
            const Eigen::Vector3f value(0.1f * x, 0.2f * y, 1.0f + 0.01f * x * y);
            for (auto& way : maps)
                for (auto& kind : way)
                    VectorMap::at(*kind[0], x, y) = invalid ? VectorMap::invalid() : value;
        }
    TypedImage<float>* vertices[levels];
    TypedImage<float>* normals[levels];
    for (int l = 0; l < levels; ++l) {
        vertices[l] = maps[0][0][l].get();
        normals[l] = maps[0][1][l].get();
    }
    downsamplePyramid(vertices, normals, levels);
    for (int l = 1; l < levels; ++l) {
        TypedImage<float>* vertexLevels[] = {maps[1][0][l - 1].get(), maps[1][0][l].get()};
        TypedImage<float>* normalLevels[] = {maps[1][1][l - 1].get(), maps[1][1][l].get()};
        downsamplePyramid(vertexLevels, normalLevels, 2);
        for (int kind = 0; kind < 2; ++kind)
            EXPECT_EQ(std::memcmp(maps[0][kind][l]->data(), maps[1][kind][l]->data(),
                                  maps[0][kind][l]->elementCount() * sizeof(float)),
                      0)
                << "level " << l << (kind == 0 ? " vertices" : " normals");
    }
}

}  // namespace
}  // namespace Veltrane
