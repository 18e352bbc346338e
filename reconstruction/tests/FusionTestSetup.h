#pragma once

#include "reconstruction/ReconstructionParameters.h"
#include "testsupport/SyntheticCamera.h"

#include <Eigen/Core>

namespace Veltrane {

/// Sets `params` for frames of `camera` and an 800 mm cube of `resolution`
/// voxels centred on the origin of the synthetic scene, its axes along the
/// scene's, so that volume coordinates are scene coordinates; `start` is the
/// scene-to-camera pose of the first frame.
inline void placeVolumeAroundScene(ReconstructionParameters& params, const TestSupport::PinholeCamera& camera,
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

}  // namespace Veltrane
