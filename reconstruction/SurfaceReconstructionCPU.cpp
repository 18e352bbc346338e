#include "reconstruction/SurfaceReconstructionCPU.h"

#include "core/Logging.h"
#include "platform/PhysicalMemory.h"
#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/FusionInput.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfacePrediction.h"
#include "reconstruction/VolumeIntegration.h"

#include <Eigen/LU>

#include <cstring>
#include <limits>
#include <numeric>

namespace Veltrane {

namespace {

template <typename T>
std::unique_ptr<TypedImage<T>> createImage(int width, int height, int slices, int channels)
{
    return std::unique_ptr<TypedImage<T>>(TypedImage<T>::create(0, width, height, slices, channels));
}

}  // namespace

SurfaceReconstructionCPU::SurfaceReconstructionCPU()
{
    m_levelIntrinsics.fill(Eigen::Matrix3f::Identity());
    m_levelInverseIntrinsics.fill(Eigen::Matrix3f::Identity());
}

SurfaceReconstructionCPU::~SurfaceReconstructionCPU()
{
    releaseBuffers();
}

bool SurfaceReconstructionCPU::init(ReconstructionParameters* params)
{
    if (m_initialised)
        releaseBuffers();  // the lock stays: the same set is locked again below
    if (m_params && m_params != params && m_params->locked)
        m_params->setLocked(false);
    m_params = params;
    const char* problem = params ? FusionInput::parameterProblem(*params) : "none given";
    if (problem) {
        VELTRANE_ERROR("SurfaceReconstruction: unsupported reconstruction parameters: " << problem);
        if (params && params->locked)
            params->setLocked(false);
        return false;
    }

    const std::array<double, 3>& size = params->volumeSize;
    m_volume.resolution = params->volumeResolution;
    for (int a = 0; a < 3; ++a)
        m_volume.voxelSize[a] = static_cast<float>(size[a] / m_volume.resolution[a]);
    m_levelCount = params->pyramidLevels;
    m_colorEnabled = params->colorVolume;
    m_width = params->imageWidth;
    m_height = params->imageHeight;

    m_initialPose = Eigen::Map<const Eigen::Matrix4d>(params->volumePose().data()).cast<float>();
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;

    const Eigen::Matrix3d intrinsics = Eigen::Map<const Eigen::Matrix3d>(params->intrinsics().data());
    DepthPreprocessing::levelIntrinsics(intrinsics, maxLevels, m_levelIntrinsics.data(),
                                        m_levelInverseIntrinsics.data());

    if (!FusionInput::fitsInMemory(requiredBytes(), physicalMemoryBytes(), "physical memory") ||
        !createBuffers()) {
        if (params->locked)
            params->setLocked(false);
        return false;
    }
    clearVolumes();
    params->setLocked(true);
    return true;
}

double SurfaceReconstructionCPU::requiredBytes() const
{
    // Per frame pixel: ray distance, depth (2 bytes each), scene (3), mask (1)
    // and colour (3); per level pixel: filtered depth (2) and six vector maps.
    const double framePixelBytes = 2 + 2 + 3 + 1 + (m_colorEnabled ? 3 : 0);
    const double levelPixelBytes = 2 + 6 * 3 * sizeof(float);
    return FusionInput::bufferBytes(m_volume, m_colorEnabled, m_width, m_height, m_levelCount, framePixelBytes,
                                    levelPixelBytes);
}

bool SurfaceReconstructionCPU::createBuffers()
{
    const int nx = m_volume.resolution[0], ny = m_volume.resolution[1], nz = m_volume.resolution[2];
    bool ok = false;
    try {
        tsdfVolume = TypedImage<float>::create(0, nx, ny, nz, 1);
        m_weightVolume = createImage<unsigned char>(nx, ny, nz, 1);
        ok = tsdfVolume && m_weightVolume;
        if (ok && m_colorEnabled)
            ok = (colorVolume = TypedImage<unsigned char>::create(0, nx, ny, nz, 4)) != nullptr;
        ok = ok && (m_rayDistanceImage = createImage<unsigned short>(m_width, m_height, 1, 1)) &&
             (m_sceneImage = createImage<unsigned char>(m_width, m_height, 1, 3)) &&
             (m_depthImage = createImage<unsigned short>(m_width, m_height, 1, 1));
        if (ok && m_colorEnabled)
            ok = (m_colorImage = createImage<unsigned char>(m_width, m_height, 1, 3)) != nullptr;
        ok = ok && (m_validMask = createImage<unsigned char>(m_width, m_height, 1, 1));
        for (int l = 0; ok && l < m_levelCount; ++l) {
            const int w = m_width >> l, h = m_height >> l;
            Level& level = m_levels[l];
            ok = (level.filteredDepth = createImage<unsigned short>(w, h, 1, 1)) &&
                 (level.vertices = createImage<float>(w, h, 1, 3)) &&
                 (level.normals = createImage<float>(w, h, 1, 3)) &&
                 (level.tangentX = createImage<float>(w, h, 1, 3)) &&
                 (level.tangentY = createImage<float>(w, h, 1, 3)) &&
                 (level.predictedVertices = createImage<float>(w, h, 1, 3)) &&
                 (level.predictedNormals = createImage<float>(w, h, 1, 3));
        }
    } catch (const std::exception&) {
        ok = false;  // sizes beyond what an image can describe
    }
    if (!ok) {
        VELTRANE_ERROR("SurfaceReconstruction: Failed to create OpenCL buffers");
        releaseBuffers();
        return false;
    }
    const std::array<double, 3> spacing{m_volume.voxelSize[0], m_volume.voxelSize[1], m_volume.voxelSize[2]};
    tsdfVolume->spacing = m_weightVolume->spacing = spacing;
    if (colorVolume)
        colorVolume->spacing = spacing;
    m_initialised = true;
    return true;
}

void SurfaceReconstructionCPU::releaseBuffers()
{
    delete tsdfVolume;
    tsdfVolume = nullptr;
    delete colorVolume;
    colorVolume = nullptr;
    m_weightVolume.reset();
    m_rayDistanceImage.reset();
    m_sceneImage.reset();
    m_depthImage.reset();
    m_colorImage.reset();
    m_validMask.reset();
    for (Level& level : m_levels)
        level = Level();
    m_initialised = false;
}

void SurfaceReconstructionCPU::release()
{
    if (!m_initialised)
        return;
    releaseBuffers();
    if (m_params && m_params->locked)
        m_params->setLocked(false);
}

void SurfaceReconstructionCPU::clearVolumes()
{
    tsdfVolume->fill(std::numeric_limits<float>::quiet_NaN());
    m_weightVolume->fill(0);
    if (colorVolume)
        colorVolume->fill(0);
}

void SurfaceReconstructionCPU::reset()
{
    if (!m_initialised || !tsdfVolume || (m_colorEnabled && !colorVolume))
        return;
    clearVolumes();
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;
}

int SurfaceReconstructionCPU::processFrame(const TypedImage<unsigned short>* depth,
                                           const TypedImage<unsigned char>* color, const double* poseIn,
                                           TypedImage<unsigned char>* sceneImage, bool integrateFrame)
{
    if (!m_initialised || !tsdfVolume || (m_colorEnabled && !colorVolume))
        return NotInitialised;
    if (const int refused = FusionInput::refusedFrame(depth, sceneImage, poseIn, m_width, m_height))
        return refused;
    if (poseIn)
        m_pose = Eigen::Map<const Eigen::Matrix4d>(poseIn).cast<float>();
    m_previousPose = m_pose;

    if (preprocess(depth, color) != 0)
        return PreprocessingFailed;
    if (predictSurface() != 0)
        return PredictionFailed;
    if (sceneImage)
        std::memcpy(sceneImage->data(), m_sceneImage->data(), static_cast<std::size_t>(m_width) * m_height * 3);

    bool tracked = false;
    bool fuse = false;
    bool trackNow = true;
    if (m_firstFrame) {
        tracked = true;
        trackNow = countValidPixels() >= m_params->minValidPixels;
    }
    if (trackNow) {
        m_firstFrame = false;
        if (trackCamera(fuse, tracked) != 0) {
            VELTRANE_INFO("ICP failed");
            return TrackingFailed;
        }
        if (!fuse)
            return tracked ? Tracked : TrackingLost;
    }
    if (integrateFrame && integrate() != 0)
        return IntegrationFailed;
    return tracked ? Tracked : TrackingLost;
}

int SurfaceReconstructionCPU::preprocess(const TypedImage<unsigned short>* depth,
                                         const TypedImage<unsigned char>* color)
{
    if (!m_initialised || !depth || depth->width != m_width || depth->height != m_height)
        return -1;
    if (m_colorEnabled && (!color || color->width != m_width || color->height != m_height ||
                           color->slices != 1 || color->channels != 3))
        return -1;
    m_depthImage->copyData(depth->data());
    if (m_colorEnabled)
        m_colorImage->copyData(color->data());

    DepthPreprocessing::bilateralFilter(*m_depthImage, *m_levels[0].filteredDepth);
    for (int l = 1; l < m_levelCount; ++l)
        DepthPreprocessing::downsampleDepth(*m_levels[l - 1].filteredDepth, *m_levels[l].filteredDepth);
    for (int l = 0; l < m_levelCount; ++l) {
        Level& level = m_levels[l];
        DepthPreprocessing::computeVertexMap(*level.filteredDepth, m_levelInverseIntrinsics[l], *level.vertices);
        DepthPreprocessing::computeTangentMaps(*level.vertices, *level.tangentX, *level.tangentY);
        DepthPreprocessing::computeNormalMap(*level.vertices, *level.tangentX, *level.tangentY, *level.normals);
    }
    return 0;
}

int SurfaceReconstructionCPU::predictSurface()
{
    if (!m_initialised)
        return -1;
    SurfacePrediction::RaycastSettings settings;
    settings.pose = m_pose;
    settings.intrinsics = m_levelIntrinsics[0];
    settings.stepFactor = static_cast<float>(m_params->raycastStepFactor);
    settings.truncationFactor = static_cast<float>(m_params->truncationFactor);
    settings.showColor = m_params->showSceneColor;
    SurfacePrediction::raycast(m_volume, *tsdfVolume, colorVolume, settings,
                               {m_levels[0].predictedVertices.get(), m_levels[0].predictedNormals.get(),
                                m_sceneImage.get(), m_validMask.get()});
    for (int l = 1; l < m_levelCount; ++l) {
        SurfacePrediction::downsampleVertexMap(*m_levels[l - 1].predictedVertices, *m_levels[l].predictedVertices);
        SurfacePrediction::downsampleNormalMap(*m_levels[l - 1].predictedNormals, *m_levels[l].predictedNormals);
    }
    return 0;
}

IcpTracking::Settings SurfaceReconstructionCPU::trackingSettings() const
{
    const ReconstructionParameters& p = *m_params;
    return {p.icpIterations(), p.icpDistanceThreshold, p.icpAngleThreshold, p.icpConvergenceThreshold,
            p.maxTranslation,  p.maxRotationDegrees,   p.skipSmallMotion};
}

int SurfaceReconstructionCPU::trackCamera(bool& fuse, bool& tracked)
{
    if (!m_initialised)
        return -1;
    std::vector<IcpTracking::Level> levels;
    for (int l = 0; l < m_levelCount; ++l) {
        const Level& level = m_levels[l];
        levels.push_back({level.vertices.get(), level.normals.get(), level.predictedVertices.get(),
                          level.predictedNormals.get(), m_levelIntrinsics[l]});
    }
    const IcpTracking::Result result = IcpTracking::track(levels, m_previousPose, trackingSettings());
    tracked = result.tracked;
    fuse = result.fuse;
    if (fuse)
        m_pose = result.pose;
    return 0;
}

int SurfaceReconstructionCPU::integrate()
{
    if (!m_initialised)
        return -1;
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    VolumeIntegration::computeRayDistance(*m_depthImage, k, *m_rayDistanceImage);
    VolumeIntegration::computeDiscontinuityMask(*m_depthImage, *m_validMask);
    const VolumeIntegration::Settings settings{m_pose, k,
                                               m_volume.truncationDistance(m_params->truncationFactor),
                                               FusionInput::weightCap(*m_params)};
    VolumeIntegration::updateVolume(m_volume,
                                    {m_rayDistanceImage.get(), m_validMask.get(), m_colorImage.get(),
                                     m_levels[0].normals.get()},
                                    settings, {tsdfVolume, m_weightVolume.get(), colorVolume});
    return 0;
}

long SurfaceReconstructionCPU::countValidPixels() const
{
    const unsigned char* mask = m_validMask->typedData();
    return std::accumulate(mask, mask + m_validMask->elementCount(), 0L);
}

}  // namespace Veltrane
