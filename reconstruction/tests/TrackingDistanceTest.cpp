#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace Veltrane {
namespace {

using namespace TestSupport;

/// Camera-to-scene distances (mm) that people scan from: at the far ones the
/// coarsest pyramid level of a 640 x 480 frame has almost no normals.
constexpr double distances[] = {500.0, 1000.0, 1800.0, 2400.0, 3000.0};
constexpr int framesPerDistance = 5;
constexpr int volumeResolution = 96;

/// The tabletop scene, its orbit and a volume around it, all scaled so that
/// the camera circles the scene at `distance`; the frames are those of the
/// default 640 x 480 camera and the parameters keep their three levels.
struct ScaledTabletop {
    Orbit orbit;
    SyntheticScene scene;
    ReconstructionParameters params;

    explicit ScaledTabletop(double distance)
    {
        const double scale = distance / tabletopOrbit(framesPerDistance).distance();
        orbit = tabletopOrbit(framesPerDistance).scaled(scale);
        scene = SyntheticScene::tabletop().scaled(scale);
        const PinholeCamera camera;
        const double size = 800.0 * scale;
        params.setVolumeResolution({volumeResolution, volumeResolution, volumeResolution});
        params.setVolumeSize({size, size, size});
        std::array<double, 16> pose;
        Eigen::Map<Eigen::Matrix4d>(pose.data()) = orbit.poses().front();
        params.setVolumePose(pose);
        params.setIntrinsics(camera.matrix());
        params.bilateralFilterRadius = 2;  // the CPU filter's window
    }
};

/// Feeds an orbit at every distance of the table and expects every frame
/// tracked within 5 mm and 1 degree of the pose it was rendered from.
void expectTrackedAtEveryDistance(SurfaceReconstruction& backEnd)
{
    for (const double distance : distances) {
        SCOPED_TRACE("camera " + std::to_string(static_cast<int>(distance)) + " mm from the scene");
        ScaledTabletop setup(distance);
        ASSERT_EQ(setup.params.pyramidLevels, 3);
        ASSERT_TRUE(backEnd.init(&setup.params));
        const SyntheticCamera sensor(setup.scene, PinholeCamera());
        expectTrackedAlong(backEnd, sensor, setup.orbit.poses());
        backEnd.release();
    }
}

TEST(TrackingDistance, CpuBackEndTracksFromHalfAMetreToThreeMetres)
{
    SurfaceReconstructionCPU backEnd;
    expectTrackedAtEveryDistance(backEnd);
}

TEST(TrackingDistance, GpuBackEndTracksFromHalfAMetreToThreeMetres)
{
    ASSERT_NE(testEnvironment(), nullptr);
    SurfaceReconstructionGPU backEnd(testEnvironment());
    expectTrackedAtEveryDistance(backEnd);
}

}  // namespace
}  // namespace Veltrane
