#pragma once

#include "reconstruction/FusionConstants.h"
#include "reconstruction/IcpTracking.h"
#include "reconstruction/SurfaceReconstruction.h"
#include "reconstruction/VolumeGeometry.h"

#include <array>

namespace Veltrane {

/// What both fusion back-ends share: the state taken from the parameters, the
/// life cycle (`init`, `release`, `reset`), the per-frame driver and the ICP
/// tracking loop. A back-end supplies its buffers and how each stage runs:
/// preprocessing, prediction, the 6 x 6 tracking system of one pyramid level
/// and integration.
///
/// Per frame: the frame and scene image are checked, `poseIn` replaces the
/// pose, the frame is preprocessed and the surface predicted; until a
/// prediction has `minValidPixels` valid pixels the frame is fused at the
/// unchanged pose, afterwards it is tracked and fused only when tracking
/// succeeded and the motion was not small.
class FusionDriver : public SurfaceReconstruction {
public:
    static constexpr int maxLevels = FusionConstants::maxPyramidLevels;

    /// Takes and checks the parameters, creates and clears the buffers and
    /// locks the parameters.
    bool init(ReconstructionParameters* params) override;
    /// Frees the buffers and unlocks the parameters; nothing when not initialised.
    void release() override;
    int processFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color,
                     const double* poseIn, TypedImage<unsigned char>* sceneImage, bool integrate) override;
    Eigen::Matrix4f pose() const override { return m_pose; }
    void reset() override;

    /// The stages of `processFrame`, callable one by one on an initialised
    /// back-end. Each returns 0 on success and a negative value on failure.
    virtual int preprocess(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color) = 0;
    virtual int predictSurface() = 0;
    /// Tracks the frame against the prediction from the previous pose: sets
    /// `tracked` and `fuse` and moves the pose when the frame is to be fused.
    int trackCamera(bool& fuse, bool& tracked);
    virtual int integrate() = 0;

protected:
    FusionDriver();

    ReconstructionParameters* m_params = nullptr;
    VolumeGeometry m_volume;
    int m_levelCount = maxLevels;
    bool m_colorEnabled = false;
    bool m_firstFrame = true;
    bool m_initialised = false;
    int m_width = 0;
    int m_height = 0;
    std::array<Eigen::Matrix3f, maxLevels> m_levelIntrinsics;
    std::array<Eigen::Matrix3f, maxLevels> m_levelInverseIntrinsics;
    Eigen::Matrix4f m_pose = Eigen::Matrix4f::Identity();
    Eigen::Matrix4f m_previousPose = Eigen::Matrix4f::Identity();
    Eigen::Matrix4f m_initialPose = Eigen::Matrix4f::Identity();

private:
    /// Checks that the buffers for the taken parameters fit the memory they go
    /// to and creates them, setting `m_initialised`; false after a failure
    /// (logged), with nothing created.
    virtual bool allocateBuffers() = 0;
    /// Frees every buffer still held and clears `m_initialised`.
    virtual void releaseBuffers() = 0;
    /// Puts every voxel into the never-observed state; false when that failed (logged).
    virtual bool clearVolumes() = 0;
    /// The distance volume, and the colour volume when colour is on, are there.
    virtual bool volumesPresent() const = 0;
    /// Reads the parameters a back-end takes anew for every frame; also called by `init`.
    virtual void readFrameSettings() {}
    /// Starts copying the rendered prediction into `target` (the frame's size);
    /// the copy is complete after `finishSceneCopy`.
    virtual void startSceneCopy(TypedImage<unsigned char>& target) = 0;
    virtual void finishSceneCopy() {}
    /// Number of pixels at which the last prediction hit the surface; false
    /// when it could not be counted.
    virtual bool countValidPixels(long& count) = 0;
    /// The normal equations of pyramid level `level` for `estimate` (current
    /// camera to volume), as `IcpTracking::track` asks for them.
    virtual bool buildIcpSystem(int level, const Eigen::Matrix4f& estimate, float maxDistance, float cosLimit,
                                IcpTracking::Matrix6f& normalMatrix, IcpTracking::Vector6f& rightHandSide) = 0;

    /// Copies what the back-end keeps of `params` and sets the poses.
    void takeParameters(const ReconstructionParameters& params);
    IcpTracking::Settings trackingSettings() const;
};

}  // namespace Veltrane
