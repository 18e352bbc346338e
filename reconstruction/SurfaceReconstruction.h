#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

namespace Veltrane {

class ReconstructionParameters;

/// A fusion back-end: tracks the camera of a stream of depth (and colour)
/// frames against the surface fused so far and fuses each frame into a
/// truncated signed-distance volume.
///
/// Poses are 4 x 4 column-major matrices that map volume coordinates (mm,
/// origin at the centre of the volume box) to the camera coordinates of a
/// frame (x right, y down, z forward).
class SurfaceReconstruction {
public:
    /// Results of `processFrame`.
    enum FrameResult {
        Tracked = 0,            ///< processed (fused unless the motion was too small)
        TrackingLost = 1,       ///< pose unchanged, frame not fused
        NotInitialised = -1,    ///< no buffers, or a volume is missing
        WrongFrameSize = -2,    ///< depth frame or scene image of another size, slices or channels
        PreprocessingFailed = -3,
        PredictionFailed = -4,
        TrackingFailed = -5,
        IntegrationFailed = -6,
        InvalidPose = -7,       ///< `poseIn` not finite or not invertible; nothing changed
    };

    virtual ~SurfaceReconstruction() = default;

    /// Allocates and clears everything for `params`, which stay locked until
    /// `release`. False, with the parameters unlocked and the reason logged,
    /// for parameters that make the reconstruction undefined, for buffers
    /// larger than the memory they go to, and when an allocation fails.
    virtual bool init(ReconstructionParameters* params) = 0;
    /// Frees the buffers and unlocks the parameters; nothing when not initialised.
    virtual void release() = 0;
    /// Processes one frame: `depth` (mm, 0 = none) of the initialised size;
    /// `color` (RGB, same size) when the colour volume is on; `poseIn` (16
    /// doubles, column-major) replaces the pose first when given; `sceneImage`
    /// (RGB, the frame's size) receives the shaded prediction when given;
    /// `integrate` false never fuses. One of the `FrameResult` values; a
    /// refused depth frame, scene image or pose changes nothing.
    virtual int processFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color,
                             const double* poseIn, TypedImage<unsigned char>* sceneImage, bool integrate) = 0;
    /// The pose of the last processed frame.
    virtual Eigen::Matrix4f pose() const = 0;
    /// Empties the volumes and restarts from the initial pose.
    virtual void reset() = 0;
};

}  // namespace Veltrane
