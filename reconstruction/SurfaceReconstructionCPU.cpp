#include "reconstruction/SurfaceReconstructionCPU.h"

#include "core/Logging.h"
#include "platform/PhysicalMemory.h"
#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/FusionInput.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfacePrediction.h"
#include "reconstruction/VolumeIntegration.h"

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

SurfaceReconstructionCPU::~SurfaceReconstructionCPU()
{
    releaseBuffers();
}

bool SurfaceReconstructionCPU::allocateBuffers()
{
    return FusionInput::fitsInMemory(requiredBytes(), physicalMemoryBytes(), "physical memory") && createBuffers();
}

double SurfaceReconstructionCPU::requiredBytes() const
{
    // Per frame pixel: depth (2 bytes), scene (3), mask (1), the ray distance
    // integration reads (4) and colour (3, and 8 for integration); per level
    // pixel: filtered depth (2) and six vector maps.
    const double framePixelBytes = 2 + 3 + 1 + 4 + (m_colorEnabled ? 3 + 8 : 0);
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
        m_bricks = BrickMap(m_volume.resolution);
        if (ok && m_colorEnabled)
            ok = (colorVolume = TypedImage<unsigned char>::create(0, nx, ny, nz, 4)) != nullptr;
        ok = ok && (m_sceneImage = createImage<unsigned char>(m_width, m_height, 1, 3)) &&
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
    m_bricks = BrickMap();
    m_frameSamples = VolumeIntegration::FrameSamples();
    m_sceneImage.reset();
    m_depthImage.reset();
    m_colorImage.reset();
    m_validMask.reset();
    for (Level& level : m_levels)
        level = Level();
    m_initialised = false;
}

bool SurfaceReconstructionCPU::clearVolumes()
{
    tsdfVolume->fill(std::numeric_limits<float>::quiet_NaN());
    m_weightVolume->fill(0);
    m_bricks.clear();
    if (colorVolume)
        colorVolume->fill(0);
    return true;
}

bool SurfaceReconstructionCPU::volumesPresent() const
{
    return tsdfVolume && (!m_colorEnabled || colorVolume);
}

void SurfaceReconstructionCPU::startSceneCopy(TypedImage<unsigned char>& target)
{
    std::memcpy(target.data(), m_sceneImage->data(), static_cast<std::size_t>(m_width) * m_height * 3);
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

    std::array<DepthPreprocessing::PyramidLevel, maxLevels> levels;
    for (int l = 0; l < m_levelCount; ++l) {
        Level& level = m_levels[l];
        levels[l] = {level.filteredDepth.get(), m_levelInverseIntrinsics[l], level.vertices.get(),
                     level.tangentX.get(), level.tangentY.get(), level.normals.get()};
    }
    DepthPreprocessing::computePyramid(*m_depthImage, levels.data(), m_levelCount);
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
    m_bricks.updateClearance();
    SurfacePrediction::raycast(m_volume, *tsdfVolume, colorVolume, settings,
                               {m_levels[0].predictedVertices.get(), m_levels[0].predictedNormals.get(),
                                m_sceneImage.get(), m_validMask.get()},
                               &m_bricks);
    std::array<TypedImage<float>*, maxLevels> vertices, normals;
    for (int l = 0; l < m_levelCount; ++l) {
        vertices[l] = m_levels[l].predictedVertices.get();
        normals[l] = m_levels[l].predictedNormals.get();
    }
    SurfacePrediction::downsamplePyramid(vertices.data(), normals.data(), m_levelCount);
    return 0;
}

IcpTracking::Level SurfaceReconstructionCPU::trackingLevel(int l) const
{
    const Level& level = m_levels[l];
    return {level.vertices.get(), level.normals.get(), level.predictedVertices.get(), level.predictedNormals.get(),
            m_levelIntrinsics[l]};
}

bool SurfaceReconstructionCPU::buildIcpSystem(int level, const Eigen::Matrix4f& estimate, float maxDistance,
                                              float cosLimit, IcpTracking::Matrix6f& normalMatrix,
                                              IcpTracking::Vector6f& rightHandSide)
{
    IcpTracking::accumulateSystem(trackingLevel(level), estimate, maxDistance, cosLimit, normalMatrix,
                                  rightHandSide);
    return true;
}

int SurfaceReconstructionCPU::integrate()
{
    if (!m_initialised)
        return -1;
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    m_frameSamples.sample(*m_depthImage, k, m_colorImage.get(), m_levels[0].normals.get(), *m_validMask);
    const VolumeIntegration::Settings settings{m_pose, k,
                                               m_volume.truncationDistance(m_params->truncationFactor),
                                               FusionInput::weightCap(*m_params)};
    VolumeIntegration::updateVolume(m_volume, m_frameSamples, settings,
                                    {tsdfVolume, m_weightVolume.get(), colorVolume, &m_bricks});
    return 0;
}

bool SurfaceReconstructionCPU::countValidPixels(long& count)
{
    const unsigned char* mask = m_validMask->typedData();
    count = std::accumulate(mask, mask + m_validMask->elementCount(), 0L);
    return true;
}

}  // namespace Veltrane
