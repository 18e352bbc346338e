#pragma once

#include "core/TypedImage.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/VolumeGeometry.h"
#include "testsupport/SyntheticCamera.h"

#include <Eigen/Core>

#include <vector>

namespace Veltrane {
class SurfaceReconstruction;
}

namespace Veltrane::TestSupport {

/// Sets `params` for frames of `camera` and an 800 mm cube of `resolution`
/// voxels centred on the origin of the synthetic scene, its axes along the
/// scene's, so that volume coordinates are scene coordinates; `start` is the
/// scene-to-camera pose of the first frame.
void placeVolumeAroundScene(ReconstructionParameters& params, const PinholeCamera& camera,
                            const Eigen::Matrix4d& start, int resolution);

/// Signed distances to the true surface of `scene` (positive in front of it)
/// of every zero crossing of a fused distance volume between two neighbouring
/// voxels that were both observed at least five times.
std::vector<double> surfaceErrors(const VolumeGeometry& volume, const float* tsdf, const unsigned char* weight,
                                  const SyntheticScene& scene);

double median(std::vector<double> values);

/// Feeds `backEnd` the frames `sensor` renders along `trajectory` (frame i
/// with noise seed i, the prediction into `scene` when given) and expects
/// every one tracked within 5 mm and 1 degree of the pose it was rendered
/// from; stops at the first frame the back-end refuses.
void expectTrackedAlong(SurfaceReconstruction& backEnd, const SyntheticCamera& sensor,
                        const std::vector<Eigen::Matrix4d>& trajectory, TypedImage<unsigned char>* scene = nullptr);

}  // namespace Veltrane::TestSupport
