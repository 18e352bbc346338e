#include "reconstruction/BrickMap.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfacePrediction.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/tests/TestImages.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace Veltrane {
namespace {

using namespace TestSupport;

const float nan = std::numeric_limits<float>::quiet_NaN();

/// Nearest voxel of a continuous position, clamped, as the ray cast takes it.
std::array<int, 3> nearestVoxel(const std::array<int, 3>& n, const Eigen::Vector3f& u)
{
    std::array<int, 3> voxel;
    for (int a = 0; a < 3; ++a)
        voxel[a] = static_cast<int>(std::clamp(u[a] + 0.5f, 0.0f, static_cast<float>(n[a] - 1)));
    return voxel;
}

TEST(BrickMap, RunsOfUnmarkedSamplesNeverReachAMarkedBrick)
{
    // A volume whose sides are no multiple of the brick size, with a few
    // voxels at or behind a surface; the rest unobserved or in front.
    const std::array<int, 3> n{45, 38, 52};
    std::vector<float> tsdf(static_cast<std::size_t>(n[0]) * n[1] * n[2], nan);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (float& value : tsdf)
        if (unit(random) < 0.3f)
            value = unit(random);
    const auto index = [&](int i, int j, int k) { return i + static_cast<std::size_t>(n[0]) * (j + n[1] * k); };
    const std::array<std::array<int, 3>, 4> surfaceVoxels{{{3, 4, 5}, {40, 30, 50}, {22, 0, 20}, {44, 37, 0}}};
    tsdf[index(3, 4, 5)] = -0.5f;
    tsdf[index(40, 30, 50)] = 0.0f;
    tsdf[index(22, 0, 20)] = -1.0f;
    tsdf[index(44, 37, 0)] = -0.1f;

    BrickMap map(n);
    map.markFrom(tsdf.data());
    for (int k = 0; k < n[2]; ++k)
        for (int j = 0; j < n[1]; ++j)
            for (int i = 0; i < n[0]; ++i) {
                const bool shouldBeMarked = std::any_of(surfaceVoxels.begin(), surfaceVoxels.end(), [&](auto v) {
                    return v[0] / 8 == i / 8 && v[1] / 8 == j / 8 && v[2] / 8 == k / 8;
                });
                ASSERT_EQ(map.isMarked(i, j, k), shouldBeMarked) << i << " " << j << " " << k;
            }

    // Rays from anywhere around the volume, with steps of the default 4
    // voxels and of less than one: every sample of a run is unmarked, and
    // across the map the runs are long.
    std::uniform_real_distribution<float> around(-10.0f, 60.0f), direction(-1.0f, 1.0f);
    long samples = 0, runs = 0;
    for (const float step : {4.0f, 0.7f}) {
        for (int ray = 0; ray < 2000; ++ray) {
            const Eigen::Vector3f start(around(random), around(random), around(random));
            const Eigen::Vector3f v = Eigen::Vector3f(direction(random), direction(random), direction(random)).normalized();
            const int run = map.unmarkedSamples(start, BrickMap::SampleStep(step * v));
            Eigen::Vector3f p = start;
            for (int s = 0; s < run; ++s, p += step * v) {
                const std::array<int, 3> voxel = nearestVoxel(n, p);
                ASSERT_FALSE(map.isMarked(voxel[0], voxel[1], voxel[2])) << "ray " << ray << " sample " << s;
            }
            const std::array<int, 3> first = nearestVoxel(n, start);
            if (map.isMarked(first[0], first[1], first[2])) {
                EXPECT_EQ(run, 0);
            }
            samples += run;
            ++runs;
        }
    }
    EXPECT_GT(static_cast<double>(samples) / runs, 3.0);

    map.clear();
    map.updateClearance();
    EXPECT_FALSE(map.isMarked(3, 4, 5));
    EXPECT_GT(map.unmarkedSamples(Eigen::Vector3f(3, 4, 5), BrickMap::SampleStep(Eigen::Vector3f(0.0f, 4.0f, 0.0f))), 10);
}

Eigen::Matrix3f intrinsics(const PinholeCamera& camera)
{
    return Eigen::Map<const Eigen::Matrix3d>(camera.matrix().data()).cast<float>();
}

/// Ray-cast outputs of one frame.
struct Prediction {
    std::unique_ptr<TypedImage<float>> vertices, normals;
    std::unique_ptr<TypedImage<unsigned char>> scene, mask;

    Prediction(int w, int h)
        : vertices(filledImage<float>(w, h, 3, 0.0f)),
          normals(filledImage<float>(w, h, 3, 0.0f)),
          scene(filledImage<unsigned char>(w, h, 3, 0)),
          mask(filledImage<unsigned char>(w, h, 1, 0))
    {
    }
    SurfacePrediction::RaycastOutput output() { return {vertices.get(), normals.get(), scene.get(), mask.get()}; }
    int hits() const
    {
        return static_cast<int>(std::count(mask->typedData(), mask->typedData() + mask->elementCount(), 1));
    }
};

template <typename T>
bool sameBytes(const TypedImage<T>& a, const TypedImage<T>& b)
{
    return a.elementCount() == b.elementCount() &&
           std::memcmp(a.typedData(), b.typedData(), a.elementCount() * sizeof(T)) == 0;
}

/// Casts the frame at `pose` through `tsdf` without and with `bricks` and
/// expects the same bytes in every output; returns the number of hits.
int expectSameCast(const VolumeGeometry& volume, const TypedImage<float>& tsdf, const TypedImage<unsigned char>* color,
                   const BrickMap& bricks, const Eigen::Matrix4f& pose, const PinholeCamera& camera)
{
    SurfacePrediction::RaycastSettings settings;
    settings.pose = pose;
    settings.intrinsics = intrinsics(camera);
    Prediction plain(camera.width, camera.height), skipping(camera.width, camera.height);
    SurfacePrediction::raycast(volume, tsdf, color, settings, plain.output());
    SurfacePrediction::raycast(volume, tsdf, color, settings, skipping.output(), &bricks);
    EXPECT_TRUE(sameBytes(*plain.vertices, *skipping.vertices));
    EXPECT_TRUE(sameBytes(*plain.normals, *skipping.normals));
    EXPECT_TRUE(sameBytes(*plain.scene, *skipping.scene));
    EXPECT_TRUE(sameBytes(*plain.mask, *skipping.mask));
    return plain.hits();
}

TEST(BrickMapRaycast, FusedScanGivesTheSameCrossingsAsThePlainMarch)
{
    const PinholeCamera camera = PinholeCamera().scaledDown(2);
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    const std::vector<Eigen::Matrix4d> orbit = tabletopOrbit(24).poses();
    ReconstructionParameters params;
    placeVolumeAroundScene(params, camera, orbit.front(), 128);
    SurfaceReconstructionCPU backEnd;
    ASSERT_TRUE(backEnd.init(&params));
    for (std::size_t i = 0; i < 12; ++i) {
        const RgbdFrame frame = sensor.render(orbit[i], static_cast<unsigned>(i));
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true), 0);
    }
    const VolumeGeometry& volume = backEnd.volumeGeometry();

    // The back-end's own prediction uses the map that integration kept.
    ASSERT_EQ(backEnd.predictSurface(), 0);
    SurfacePrediction::RaycastSettings settings;
    settings.pose = backEnd.pose();
    settings.intrinsics = intrinsics(camera);
    Prediction plain(camera.width, camera.height);
    SurfacePrediction::raycast(volume, *backEnd.tsdfVolume, backEnd.colorVolume, settings, plain.output());
    EXPECT_GT(plain.hits(), camera.width * camera.height / 3);
    EXPECT_TRUE(sameBytes(*plain.vertices, *backEnd.predictedVertexMap(0)));
    EXPECT_TRUE(sameBytes(*plain.normals, *backEnd.predictedNormalMap(0)));
    EXPECT_TRUE(sameBytes(*plain.scene, *backEnd.renderedScene()));

    // From the whole orbit, seen and unseen parts, and from inside the box.
    BrickMap bricks(volume.resolution);
    bricks.markFrom(backEnd.tsdfVolume->typedData());
    for (std::size_t i = 0; i < orbit.size(); i += 3)
        EXPECT_GT(expectSameCast(volume, *backEnd.tsdfVolume, backEnd.colorVolume, bricks, orbit[i].cast<float>(),
                                 camera),
                  0)
            << "pose " << i;
    Eigen::Matrix4f inside = orbit.front().cast<float>();
    const Eigen::Vector3f centreAboveTable(0.0f, 0.0f, 250.0f);
    inside.topRightCorner<3, 1>() = -inside.topLeftCorner<3, 3>() * centreAboveTable;
    expectSameCast(volume, *backEnd.tsdfVolume, backEnd.colorVolume, bricks, inside, camera);
}

TEST(BrickMapRaycast, SurfacesThinnerThanAStepAreFoundOrMissedAsWithoutTheMap)
{
    // Slabs one and two voxels thick in otherwise free or unobserved space:
    // the coarse step of 4 voxels finds some crossings and steps over others,
    // the same ones with the map as without.
    const VolumeGeometry volume{{64, 64, 64}, Eigen::Vector3f(10.0f, 10.0f, 10.0f)};
    TypedImage<float> tsdf(0, 64, 64, 64, 1);
    for (int k = 0; k < 64; ++k)
        for (int j = 0; j < 64; ++j)
            for (int i = 0; i < 64; ++i) {
                float value = j < 20 ? nan : 1.0f;
                if (k == 30 || (k >= 45 && k <= 46))
                    value = -0.3f;
                else if (k == 29 || k == 44)
                    value = 0.4f;
                tsdf.typedData()[i + 64 * (j + 64 * k)] = value;
            }
    BrickMap bricks(volume.resolution);
    bricks.markFrom(tsdf.typedData());
    const PinholeCamera camera = PinholeCamera().scaledDown(8);
    for (const float angle : {0.0f, 0.3f, 0.8f, 1.2f}) {
        Eigen::Matrix4f pose = Eigen::Matrix4f::Identity();
        pose.topLeftCorner<3, 3>() = Eigen::AngleAxisf(angle, Eigen::Vector3f::UnitY()).toRotationMatrix();
        pose(2, 3) = 900.0f;
        EXPECT_GT(expectSameCast(volume, tsdf, nullptr, bricks, pose, camera), 0) << angle;
    }
}

}  // namespace
}  // namespace Veltrane
