#include "reconstruction/FusionDriver.h"

#include "core/Logging.h"
#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/FusionInput.h"
#include "reconstruction/ReconstructionParameters.h"

namespace Veltrane {

namespace {

/// Unlocks `params` (when given and locked) and reports failure.
bool unlockAndFail(ReconstructionParameters* params)
{
    if (params && params->locked)
        params->setLocked(false);
    return false;
}

}  // namespace

FusionDriver::FusionDriver()
{
    m_levelIntrinsics.fill(Eigen::Matrix3f::Identity());
    m_levelInverseIntrinsics.fill(Eigen::Matrix3f::Identity());
}

bool FusionDriver::init(ReconstructionParameters* params)
{
    if (m_initialised)
        releaseBuffers();  // the lock stays: the same set is locked again below
    if (m_params && m_params != params && m_params->locked)
        m_params->setLocked(false);
    m_params = params;
    const char* problem = params ? FusionInput::parameterProblem(*params) : "none given";
    if (problem) {
        VELTRANE_ERROR("SurfaceReconstruction: unsupported reconstruction parameters: " << problem);
        return unlockAndFail(params);
    }
    takeParameters(*params);
    if (!allocateBuffers() || !clearVolumes())
        return unlockAndFail(params);
    params->setLocked(true);
    return true;
}

void FusionDriver::takeParameters(const ReconstructionParameters& params)
{
    m_volume.resolution = params.volumeResolution;
    for (int a = 0; a < 3; ++a)
        m_volume.voxelSize[a] = static_cast<float>(params.volumeSize[a] / m_volume.resolution[a]);
    m_levelCount = params.pyramidLevels;
    m_colorEnabled = params.colorVolume;
    m_width = params.imageWidth;
    m_height = params.imageHeight;
    readFrameSettings();

    m_initialPose = Eigen::Map<const Eigen::Matrix4d>(params.volumePose().data()).cast<float>();
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;

    const Eigen::Matrix3d intrinsics = Eigen::Map<const Eigen::Matrix3d>(params.intrinsics().data());
    DepthPreprocessing::levelIntrinsics(intrinsics, maxLevels, m_levelIntrinsics.data(),
                                        m_levelInverseIntrinsics.data());
}

void FusionDriver::release()
{
    if (!m_initialised)
        return;
    releaseBuffers();
    if (m_params && m_params->locked)
        m_params->setLocked(false);
}

void FusionDriver::reset()
{
    if (!m_initialised || !volumesPresent())
        return;
    clearVolumes();  // a failure is logged; the restart goes on
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;
}

int FusionDriver::processFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color,
                               const double* poseIn, TypedImage<unsigned char>* sceneImage, bool integrateFrame)
{
    if (!m_initialised || !volumesPresent())
        return NotInitialised;
    if (const int refused = FusionInput::refusedFrame(depth, sceneImage, poseIn, m_width, m_height))
        return refused;
    if (poseIn)
        m_pose = Eigen::Map<const Eigen::Matrix4d>(poseIn).cast<float>();
    m_previousPose = m_pose;
    readFrameSettings();

    if (preprocess(depth, color) != 0)
        return PreprocessingFailed;
    if (predictSurface() != 0)
        return PredictionFailed;

    // The caller's scene image is complete when this returns, however it returns.
    struct SceneCopy {
        FusionDriver& driver;
        ~SceneCopy() { driver.finishSceneCopy(); }
    } sceneCopy{*this};
    if (sceneImage)
        startSceneCopy(*sceneImage);

    bool tracked = false;
    bool fuse = false;
    bool trackNow = true;
    if (m_firstFrame) {
        tracked = true;
        long count = 0;
        if (!countValidPixels(count))
            return PredictionFailed;
        trackNow = count >= m_params->minValidPixels;
    }
    if (trackNow) {
        m_firstFrame = false;
        if (trackCamera(fuse, tracked) != 0)
            return TrackingFailed;
        if (!fuse)
            return tracked ? Tracked : TrackingLost;
    }
    if (integrateFrame && integrate() != 0)
        return IntegrationFailed;
    return tracked ? Tracked : TrackingLost;
}

IcpTracking::Settings FusionDriver::trackingSettings() const
{
    const ReconstructionParameters& p = *m_params;
    return {p.icpIterations(), p.icpDistanceThreshold, p.icpAngleThreshold, p.icpConvergenceThreshold,
            p.maxTranslation,  p.maxRotationDegrees,   p.skipSmallMotion};
}

int FusionDriver::trackCamera(bool& fuse, bool& tracked)
{
    if (!m_initialised)
        return -1;
    const IcpTracking::SystemBuilder buildSystem = [this](int level, const Eigen::Matrix4f& estimate,
                                                          float maxDistance, float cosLimit,
                                                          IcpTracking::Matrix6f& normalMatrix,
                                                          IcpTracking::Vector6f& rightHandSide) {
        return buildIcpSystem(level, estimate, maxDistance, cosLimit, normalMatrix, rightHandSide);
    };
    const IcpTracking::Result result =
        IcpTracking::track(m_levelCount, buildSystem, m_previousPose, trackingSettings());
    tracked = result.tracked;
    fuse = result.fuse;
    if (result.failed)
        return -1;
    if (fuse)
        m_pose = result.pose;
    return 0;
}

}  // namespace Veltrane
