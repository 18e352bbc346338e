#include "testsupport/FusionSetup.h"

#include "reconstruction/SurfaceReconstruction.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace Veltrane::TestSupport {

void placeVolumeAroundScene(ReconstructionParameters& params, const PinholeCamera& camera,
                            const Eigen::Matrix4d& start, int resolution)
{
    params.setVolumeResolution({resolution, resolution, resolution});
    params.setVolumeSize({800.0, 800.0, 800.0});
    std::array<double, 16> pose;
    Eigen::Map<Eigen::Matrix4d>(pose.data()) = start;
    params.setVolumePose(pose);
    params.setIntrinsics(camera.matrix());
    params.imageWidth = camera.width;
    params.imageHeight = camera.height;
}

std::vector<double> surfaceErrors(const VolumeGeometry& volume, const float* tsdf, const unsigned char* weight,
                                  const SyntheticScene& scene)
{
    const int nx = volume.resolution[0], ny = volume.resolution[1], nz = volume.resolution[2];
    const std::size_t strides[3] = {1, static_cast<std::size_t>(nx), static_cast<std::size_t>(nx) * ny};
    std::vector<double> errors;
    for (int k = 0; k < nz - 1; ++k)
        for (int j = 0; j < ny - 1; ++j)
            for (int i = 0; i < nx - 1; ++i) {
                const std::size_t a = i + strides[1] * j + strides[2] * k;
                for (int axis = 0; axis < 3; ++axis) {
                    const std::size_t b = a + strides[axis];
                    if (weight[a] < 5 || weight[b] < 5 || (tsdf[a] > 0) == (tsdf[b] > 0))
                        continue;
                    Eigen::Vector3f u(static_cast<float>(i), static_cast<float>(j), static_cast<float>(k));
                    u[axis] += tsdf[a] / (tsdf[a] - tsdf[b]);
                    errors.push_back(scene.signedDistance(volume.toVolume(u).cast<double>()));
                }
            }
    return errors;
}

double median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void expectTrackedAlong(SurfaceReconstruction& backEnd, const SyntheticCamera& sensor,
                        const std::vector<Eigen::Matrix4d>& trajectory, TypedImage<unsigned char>* scene)
{
    for (std::size_t i = 0; i < trajectory.size(); ++i) {
        const RgbdFrame frame = sensor.render(trajectory[i], static_cast<unsigned>(i));
        ASSERT_EQ(backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, scene, true), 0)
            << "frame " << i;
        const PoseDifference error = poseDifference(toMatrix(backEnd.pose().data()), trajectory[i]);
        EXPECT_LT(error.translation, 5.0) << "frame " << i;
        EXPECT_LT(error.rotationDegrees, 1.0) << "frame " << i;
    }
}

}  // namespace Veltrane::TestSupport
