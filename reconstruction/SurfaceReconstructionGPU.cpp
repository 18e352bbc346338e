#include "reconstruction/SurfaceReconstructionGPU.h"

#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "core/ClReduce.h"
#include "core/Logging.h"
#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/FusionInput.h"
#include "reconstruction/IcpTracking.h"
#include "reconstruction/ReconstructionParameters.h"

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

namespace Veltrane {

namespace {

constexpr int matrixPlanes = IcpTracking::matrixPlanes;
constexpr int vectorPlanes = IcpTracking::vectorPlanes;
constexpr int partialSums = ClReduce::groupCount;
constexpr int reductionSlots = matrixPlanes + vectorPlanes;
constexpr float spatialSigma = 4.5f;                // pixels
constexpr float depthSigma = 30.0f / 65535.0f;      // 30 mm, normalised
constexpr float smallTranslation = 1.0f;            // mm
constexpr double smallRotation = 0.0349065850398866;  // 2 degrees

std::unique_ptr<ClImage> buffer(int access, int type, int width, int height, int slices, int channels,
                                ClEnvironment* environment)
{
    return std::make_unique<ClImage>(ClMemoryKind::Buffer, access,
                                     Image(type, width, height, slices, channels), nullptr, 0, 0,
                                     environment);
}

std::unique_ptr<ClImage> floatBuffer(int access, int width, int height, int channels,
                                     ClEnvironment* environment)
{
    return buffer(access, PixelType::Float, width, height, 1, channels, environment);
}

/// A 16-bit depth image read and written as normalised values.
std::unique_ptr<ClImage> depthImage(int width, int height, ClEnvironment* environment)
{
    return std::make_unique<ClImage>(ClMemoryKind::ImageObject, ClMemoryAccess::ReadWrite,
                                     Image(PixelType::UnsignedShort, width, height, 1, 1), nullptr,
                                     CL_INTENSITY, CL_UNORM_INT16, environment);
}

/// Waits for a non-blocking read into the caller's image and releases its
/// event when it goes out of scope, on every way out of a frame.
class PendingRead {
public:
    std::unique_ptr<ClEvent> event;
    ~PendingRead()
    {
        if (event && event->id()) {
            const cl_event id = event->id();
            clWaitForEvents(1, &id);
        }
    }
};

/// Rotation angle of a rigid motion in radians, 0 to pi.
double rotationAngle(const Eigen::Matrix4f& motion)
{
    const Eigen::Quaternionf rotation(Eigen::Matrix3f(motion.topLeftCorner<3, 3>()));
    return 2.0 * std::acos(std::min(1.0, std::abs(static_cast<double>(rotation.normalized().w()))));
}

}  // namespace

SurfaceReconstructionGPU::SurfaceReconstructionGPU(ClEnvironment* environment)
    : m_environment(environment)
{
    m_levelIntrinsics.fill(Eigen::Matrix3f::Identity());
    m_levelInverseIntrinsics.fill(Eigen::Matrix3f::Identity());
    bool created = false;
    try {
        created = initOpenCL();
    } catch (const std::bad_alloc&) {
        releaseKernels();
        VELTRANE_ERROR("SurfaceReconstruction: Couldn't allocate memory");
        throw std::runtime_error("SurfaceReconstruction could not be created. Not enough CPU memory.");
    }
    if (!created)
        throw std::runtime_error("SurfaceReconstruction could not be created. OpenCL error");
}

SurfaceReconstructionGPU::~SurfaceReconstructionGPU()
{
    releaseBuffers();
    releaseKernels();
}

void SurfaceReconstructionGPU::logDeviceFacts() const
{
    const ClDevice* device = m_environment->device();
    VELTRANE_INFO("Device vendor: " << device->vendor());
    VELTRANE_INFO("Device name: " << device->name());
    VELTRANE_INFO("Global device memory: " << (device->globalMemSize() >> 20) << " MB");
    VELTRANE_INFO("Local device memory: " << (device->localMemSize() >> 10) << " KB");
    VELTRANE_INFO("Constant device memory: " << (device->maxConstantBufferSize() >> 10) << " KB");
    VELTRANE_INFO("Max constant args: " << device->maxConstantArgs());
    VELTRANE_INFO("Max workgroups: " << device->maxWorkGroupSize());
    std::string sizes;
    for (std::size_t size : device->maxWorkItemSizes())
        sizes += std::to_string(size) + " ";
    VELTRANE_INFO("Max work item sizes: " << sizes);
    VELTRANE_INFO("Supported extensions:\n" << device->extensions());
}

bool SurfaceReconstructionGPU::initOpenCL()
{
    if (!m_environment)
        m_environment = ClEnvironment::defaultEnvironment();
    logDeviceFacts();
    try {
        m_program = std::make_unique<ClProgram>("SurfaceReconstruction", "", "", m_environment);
        ClProgram& p = *m_program;
        m_computeVertexMap = p.createKernel("computeVertexMap");
        m_computeTangentMap = p.createKernel("computeTangentMap");
        m_computeNormalMap = p.createKernel("computeNormalMap");
        m_computeCurvatureMap = p.createKernel("computeCurvatureMap");
        m_predictSurface = p.createKernel("predictSurface");
        m_computeIcp = p.createKernel("computeICP");
        m_bilateralFilter = p.createKernel("bilateralFilter");
        m_downsample = p.createKernel("downsample");
        m_downsampleVertexMap = p.createKernel("downsampleVertexMap");
        m_downsampleNormalMap = p.createKernel("downsampleNormalMap");
        m_initVolume = p.createKernel("initVolume");
        m_integrate = p.createKernel("integrate");
        m_scaleDepthMap = p.createKernel("scaleDepthMap");
        m_computeDepthDiscontinuityMap = p.createKernel("computeDepthDiscontinuityMap");

        m_colorProgram = std::make_unique<ClProgram>("SurfaceReconstruction", "", "-D COLOR_VOLUME",
                                                     m_environment);
        m_predictSurfaceColor = m_colorProgram->createKernel("predictSurface");
        m_initColorVolume = m_colorProgram->createKernel("initVolume");
        m_integrateColor = m_colorProgram->createKernel("integrate");

        m_reduce = std::make_unique<ClReduce>(m_environment);
    } catch (const std::runtime_error&) {
        VELTRANE_ERROR("SurfaceReconstruction: Failed to create and initialize OpenCL context");
        releaseKernels();
        return false;
    }
    return true;
}

void SurfaceReconstructionGPU::releaseKernels()
{
    for (auto* kernel : {&m_computeVertexMap, &m_computeTangentMap, &m_computeNormalMap,
                         &m_computeCurvatureMap, &m_predictSurface, &m_computeIcp, &m_bilateralFilter,
                         &m_downsample, &m_downsampleVertexMap, &m_downsampleNormalMap, &m_initVolume,
                         &m_integrate, &m_scaleDepthMap, &m_computeDepthDiscontinuityMap})
        kernel->reset();
    m_program.reset();
    m_predictSurfaceColor.reset();
    m_initColorVolume.reset();
    m_integrateColor.reset();
    m_colorProgram.reset();
    m_reduce.reset();
}

bool SurfaceReconstructionGPU::init(ReconstructionParameters* params)
{
    if (m_initialised)
        releaseBuffers();  // the lock stays: the same set is locked again below
    if (m_params && m_params != params && m_params->locked)
        m_params->setLocked(false);
    m_params = params;
    const auto unlockAndFail = [params] {
        if (params && params->locked)
            params->setLocked(false);
        return false;
    };
    const char* problem = params ? FusionInput::parameterProblem(*params) : "none given";
    if (problem) {
        VELTRANE_ERROR("SurfaceReconstruction: unsupported reconstruction parameters: " << problem);
        return unlockAndFail();
    }

    m_volume.resolution = params->volumeResolution;
    for (int a = 0; a < 3; ++a)
        m_volume.voxelSize[a] = static_cast<float>(params->volumeSize[a] / m_volume.resolution[a]);
    m_levelCount = params->pyramidLevels;
    m_curvatureEnabled = params->useCurvatureSelection;
    m_colorEnabled = params->colorVolume;
    m_width = params->imageWidth;
    m_height = params->imageHeight;

    m_initialPose = Eigen::Map<const Eigen::Matrix4d>(params->volumePose().data()).cast<float>();
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;

    const Eigen::Matrix3d intrinsics = Eigen::Map<const Eigen::Matrix3d>(params->intrinsics().data());
    DepthPreprocessing::levelIntrinsics(intrinsics, maxLevels, m_levelIntrinsics.data(),
                                        m_levelInverseIntrinsics.data());

    if (!FusionInput::fitsInMemory(requiredDeviceBytes(), m_environment->device()->globalMemSize(),
                                   "device memory") ||
        !createBuffers() || !initVolumes())
        return unlockAndFail();
    params->setLocked(true);
    return true;
}

double SurfaceReconstructionGPU::requiredDeviceBytes() const
{
    // Per frame pixel: ray distance and depth (2 bytes each), colour (4),
    // scene (3), mask (4) and the 27 ICP rows; per level pixel: filtered depth
    // (2), six vector maps and the curvature map.
    const double framePixelBytes =
        2 + 2 + (m_colorEnabled ? 4 : 0) + 3 + 4 + (matrixPlanes + vectorPlanes) * sizeof(float);
    const double levelPixelBytes = 2 + 6 * 3 * sizeof(float) + sizeof(float);
    return FusionInput::bufferBytes(m_volume, m_colorEnabled, m_width, m_height, m_levelCount, framePixelBytes,
                                    levelPixelBytes);
}

void SurfaceReconstructionGPU::createLevelBuffers(int l)
{
    Level& level = m_levels[l];
    const int w = level.width = m_width >> l;
    const int h = level.height = m_height >> l;
    const std::size_t plane = static_cast<std::size_t>(w) * h;
    ClEnvironment* env = m_environment;
    const int rw = ClMemoryAccess::ReadWrite;
    if (l == 0) {
        if (m_colorEnabled)
            m_colorImage = std::make_unique<ClImage>(ClMemoryKind::ImageObject, rw,
                                                     Image(PixelType::UnsignedByte, w, h, 1, 4),
                                                     nullptr, CL_RGBA, CL_UNORM_INT8, env);
        m_depthImage = depthImage(w, h, env);
    }
    level.filteredDepth = depthImage(w, h, env);
    level.vertexMap = floatBuffer(rw, w, h, 3, env);
    level.normalMap = floatBuffer(rw, w, h, 3, env);
    level.tangentXMap = floatBuffer(rw, w, h, 3, env);
    level.tangentYMap = floatBuffer(rw, w, h, 3, env);
    level.curvatureMap = floatBuffer(rw, w, h, 1, env);
    level.predictedVertexMap = floatBuffer(rw, w, h, 3, env);
    level.predictedNormalMap = floatBuffer(rw, w, h, 3, env);
    if (l == 0)
        m_validMask = floatBuffer(rw, w, h, 1, env);
    level.inverseIntrinsics = std::make_unique<ClImage>(
        ClMemoryKind::Buffer, ClMemoryAccess::ReadOnly, Image(PixelType::Float, 3, 3, 1, 1),
        m_levelInverseIntrinsics[l].data(), 0, 0, env);
    const std::size_t planeBytes = plane * sizeof(float);
    const std::size_t slotBytes = partialSums * sizeof(float);
    for (int j = 0; j < matrixPlanes; ++j) {
        level.icpMatrixPlanes[j] = ClImage::subBuffer(ClMemoryAccess::ReadOnly, *m_icpMatrixRows,
                                                      j * planeBytes, planeBytes, w, h, 1, 1, env);
        level.icpMatrixSums[j] = ClImage::subBuffer(ClMemoryAccess::WriteOnly, *m_reductionTarget,
                                                    j * slotBytes, slotBytes, partialSums, 1, 1, 1, env);
    }
    for (int j = 0; j < vectorPlanes; ++j) {
        level.icpVectorPlanes[j] = ClImage::subBuffer(ClMemoryAccess::ReadOnly, *m_icpVectorRows,
                                                      j * planeBytes, planeBytes, w, h, 1, 1, env);
        level.icpVectorSums[j] =
            ClImage::subBuffer(ClMemoryAccess::WriteOnly, *m_reductionTarget,
                               (matrixPlanes + j) * slotBytes, slotBytes, partialSums, 1, 1, 1, env);
    }
}

ClKernel* SurfaceReconstructionGPU::levelKernel(LevelKernel which) const
{
    switch (which) {
    case VertexMapKernel: return m_computeVertexMap.get();
    case TangentMapKernel: return m_computeTangentMap.get();
    case NormalMapKernel: return m_computeNormalMap.get();
    case CurvatureMapKernel: return m_computeCurvatureMap.get();
    case PredictKernel: return m_predictSurface.get();
    case PredictColorKernel: return m_predictSurfaceColor.get();
    case IcpKernel: return m_computeIcp.get();
    case BilateralKernel: return m_bilateralFilter.get();
    case DownsampleKernel: return m_downsample.get();
    case DownsampleVertexKernel: return m_downsampleVertexMap.get();
    case DownsampleNormalKernel: return m_downsampleNormalMap.get();
    case levelKernelCount: break;
    }
    return nullptr;
}

bool SurfaceReconstructionGPU::setLevelWorkSize(LevelKernel which, int l, int width, int height)
{
    WorkSize& size = m_levels[l].workSizes[which];
    std::size_t global[3] = {static_cast<std::size_t>(width), static_cast<std::size_t>(height), 1};
    std::size_t local[3] = {1, 1, 1};
    if (!levelKernel(which)->setWorkSize(2, global, local))
        return false;
    size.global = {global[0], global[1]};
    size.local = {local[0], local[1]};
    return true;
}

bool SurfaceReconstructionGPU::createBuffers()
{
    ClEnvironment* env = m_environment;
    const int rw = ClMemoryAccess::ReadWrite;
    const auto& n = m_volume.resolution;
    const std::size_t pixels = static_cast<std::size_t>(m_width) * m_height;
    try {
        const auto volume = [&](int type, int channels) {
            auto image = buffer(rw, type, n[0], n[1], n[2], channels, env);
            for (int a = 0; a < 3; ++a)
                image->spacing[a] = m_volume.voxelSize[a];
            return image;
        };
        tsdfVolume = volume(PixelType::Float, 1).release();
        m_weightVolume = volume(PixelType::UnsignedByte, 1);
        if (m_colorEnabled)
            colorVolume = volume(PixelType::UnsignedByte, 4).release();
        m_reductionTarget = floatBuffer(ClMemoryAccess::WriteOnly, reductionSlots * partialSums, 1, 1, env);
        m_reductionResults = std::make_unique<TypedImage<float>>(PixelType::Float,
                                                                 reductionSlots * partialSums, 1, 1, 1);
        m_rayDistanceImage = depthImage(m_width, m_height, env);
        m_icpMatrixRows = floatBuffer(rw, static_cast<int>(pixels * matrixPlanes), 1, 1, env);
        m_icpVectorRows = floatBuffer(rw, static_cast<int>(pixels * vectorPlanes), 1, 1, env);
        m_sceneImage = buffer(rw, PixelType::UnsignedByte, m_width, m_height, 1, 3, env);
        for (int l = 0; l < m_levelCount; ++l)
            createLevelBuffers(l);
        m_rayMatrix = floatBuffer(ClMemoryAccess::ReadOnly, 3, 3, 1, env);
        m_poseBuffer = floatBuffer(ClMemoryAccess::ReadOnly, 4, 4, 1, env);
        m_estimateBuffer = floatBuffer(ClMemoryAccess::ReadOnly, 4, 4, 1, env);
        if (m_colorEnabled)
            m_colorUpload = std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, m_width,
                                                                        m_height, 1, 4);
    } catch (const std::exception&) {
        VELTRANE_ERROR("SurfaceReconstruction: Failed to create OpenCL buffers");
        releaseBuffers();
        return false;
    }

    bool sized = true;
    for (int l = 0; l < m_levelCount; ++l) {
        const int w = m_levels[l].width, h = m_levels[l].height;
        for (LevelKernel k : {VertexMapKernel, TangentMapKernel, NormalMapKernel, CurvatureMapKernel,
                              PredictKernel, PredictColorKernel, IcpKernel, BilateralKernel})
            sized &= setLevelWorkSize(k, l, w, h);
        if (l > 0)
            for (LevelKernel k : {DownsampleKernel, DownsampleVertexKernel, DownsampleNormalKernel})
                sized &= setLevelWorkSize(k, l, w, h);
    }
    for (ClKernel* kernel : {m_initVolume.get(), m_initColorVolume.get(), m_integrate.get(),
                             m_integrateColor.get()}) {
        std::size_t size[2] = {static_cast<std::size_t>(n[0]), static_cast<std::size_t>(n[1])};
        sized &= kernel->setWorkSize(2, size);
    }
    for (ClKernel* kernel : {m_scaleDepthMap.get(), m_computeDepthDiscontinuityMap.get()}) {
        std::size_t size[2] = {static_cast<std::size_t>(m_width), static_cast<std::size_t>(m_height)};
        sized &= kernel->setWorkSize(2, size);
    }
    if (!sized) {
        VELTRANE_ERROR("SurfaceReconstruction: Failed to create OpenCL buffers");
        releaseBuffers();
        return false;
    }
    m_initialised = true;
    return true;
}

void SurfaceReconstructionGPU::releaseBuffers()
{
    for (Level& level : m_levels) {
        for (auto& view : level.icpMatrixPlanes)
            view.reset();
        for (auto& view : level.icpMatrixSums)
            view.reset();
        for (auto& view : level.icpVectorPlanes)
            view.reset();
        for (auto& view : level.icpVectorSums)
            view.reset();
        level.filteredDepth.reset();
        level.vertexMap.reset();
        level.normalMap.reset();
        level.tangentXMap.reset();
        level.tangentYMap.reset();
        level.curvatureMap.reset();
        level.predictedVertexMap.reset();
        level.predictedNormalMap.reset();
        level.inverseIntrinsics.reset();
    }
    delete tsdfVolume;
    tsdfVolume = nullptr;
    delete colorVolume;
    colorVolume = nullptr;
    for (auto* image : {&m_weightVolume, &m_rayDistanceImage, &m_colorImage, &m_depthImage, &m_sceneImage,
                        &m_validMask, &m_rayMatrix, &m_poseBuffer, &m_estimateBuffer, &m_icpMatrixRows,
                        &m_icpVectorRows, &m_reductionTarget})
        image->reset();
    m_reductionResults.reset();
    m_colorUpload.reset();
    m_initialised = false;
}

bool SurfaceReconstructionGPU::initVolumes()
{
    ClKernel& kernel = m_colorEnabled ? *m_initColorVolume : *m_initVolume;
    cl_uint arg = 0;
    kernel.setArgImage(arg++, tsdfVolume);
    kernel.setArgImage(arg++, m_weightVolume.get());
    if (m_colorEnabled)
        kernel.setArgImage(arg++, colorVolume);
    const auto& n = m_volume.resolution;
    kernel.setArgInt3(arg++, n[0], n[1], n[2]);
    if (kernel.run() != CL_SUCCESS) {
        VELTRANE_ERROR("SurfaceReconstruction: Couldn't execute initVolumes kernel");
        return false;
    }
    return true;
}

void SurfaceReconstructionGPU::release()
{
    if (!m_initialised)
        return;
    releaseBuffers();
    if (m_params && m_params->locked)
        m_params->setLocked(false);
}

void SurfaceReconstructionGPU::reset()
{
    if (!m_initialised || !tsdfVolume || (m_colorEnabled && !colorVolume))
        return;
    initVolumes();
    m_pose = m_previousPose = m_initialPose;
    m_firstFrame = true;
}

int SurfaceReconstructionGPU::enqueue(LevelKernel which, ClKernel& kernel, int l)
{
    const WorkSize& size = m_levels[l].workSizes[which];
    return kernel.enqueue(2, size.global.data(), size.local.data());
}

bool SurfaceReconstructionGPU::writeMatrix(ClImage& target, const float* values, std::size_t count)
{
    return target.write(values, count * sizeof(float));
}

int SurfaceReconstructionGPU::processFrame(const TypedImage<unsigned short>* depth,
                                           const TypedImage<unsigned char>* color, const double* poseIn,
                                           TypedImage<unsigned char>* sceneImage, bool integrateFrame)
{
    if (!m_environment || !m_initialised || !tsdfVolume || (m_colorEnabled && !colorVolume))
        return NotInitialised;
    if (const int refused = FusionInput::refusedFrame(depth, sceneImage, poseIn, m_width, m_height))
        return refused;
    if (poseIn)
        m_pose = Eigen::Map<const Eigen::Matrix4d>(poseIn).cast<float>();
    m_previousPose = m_pose;
    m_curvatureEnabled = m_params->useCurvatureSelection;

    if (preprocess(depth, color) < 0)
        return PreprocessingFailed;
    if (predictSurface() < 0)
        return PredictionFailed;

    // Declared after the frame's uploads: the caller's scene image is complete
    // before this returns, however it returns.
    PendingRead sceneRead;
    if (sceneImage && !m_sceneImage->downloadInto(sceneImage, false, nullptr, &sceneRead.event)) {
        sceneRead.event.reset();
        VELTRANE_WARN("Surface reconstruction: Could not download scene image");
    }

    bool tracked = false;
    bool fuse = false;
    bool gateOpen = true;
    if (m_firstFrame) {
        tracked = true;
        bool counted = false;
        const float count = m_reduce->sum(m_validMask.get(), m_width * m_height, nullptr, &counted);
        if (!counted)
            return PredictionFailed;
        gateOpen = static_cast<long>(count) >= m_params->minValidPixels;
    }
    if (gateOpen) {
        m_firstFrame = false;
        if (trackCamera(fuse, tracked) < 0)
            return TrackingFailed;
        if (!fuse)
            return tracked ? Tracked : TrackingLost;
    }
    if (integrateFrame && integrate() < 0)
        return IntegrationFailed;
    return tracked ? Tracked : TrackingLost;
}

int SurfaceReconstructionGPU::preprocess(const TypedImage<unsigned short>* depth,
                                         const TypedImage<unsigned char>* color)
{
    if (!depth || (m_colorEnabled && !color))
        return -1;
    const std::size_t pixels = static_cast<std::size_t>(m_width) * m_height;
    if (depth->byteSize() < pixels * sizeof(unsigned short) ||
        !m_depthImage->write(depth->data(), depth->byteSize()))
        return -1;
    if (m_colorEnabled) {
        if (color->width != m_width || color->height != m_height || color->channels != 3)
            return -1;
        const unsigned char* rgb = color->typedData();
        unsigned char* rgba = m_colorUpload->typedData();
        for (std::size_t i = 0; i < pixels; ++i) {
            rgba[4 * i] = rgb[3 * i];
            rgba[4 * i + 1] = rgb[3 * i + 1];
            rgba[4 * i + 2] = rgb[3 * i + 2];
            rgba[4 * i + 3] = 0;
        }
        if (!m_colorImage->write(rgba, m_colorUpload->byteSize()))
            return -1;
    }

    const auto failed = [](int code, const char* message) {
        if (code == CL_SUCCESS)
            return false;
        VELTRANE_ERROR("SurfaceReconstruction: Couldn't execute " << message << " kernel (" << code << ")");
        return true;
    };

    ClKernel& bilateral = *m_bilateralFilter;
    bilateral.setArgImage(0, m_depthImage.get());
    bilateral.setArgImage(1, m_levels[0].filteredDepth.get());
    bilateral.setArgScalar(2, spatialSigma);
    bilateral.setArgScalar(3, depthSigma);
    bilateral.setArgScalar(4, m_params->bilateralFilterRadius);
    if (failed(enqueue(BilateralKernel, bilateral, 0), "bilateral filter"))
        return -1;

    for (int l = 1; l < m_levelCount; ++l) {
        ClKernel& kernel = *m_downsample;
        kernel.setArgImage(0, m_levels[l - 1].filteredDepth.get());
        kernel.setArgImage(1, m_levels[l].filteredDepth.get());
        kernel.setArgScalar(2, depthSigma);
        if (failed(enqueue(DownsampleKernel, kernel, l), "downsample"))
            return -1;
    }

    for (int l = 0; l < m_levelCount; ++l) {
        Level& level = m_levels[l];
        ClKernel& vertices = *m_computeVertexMap;
        vertices.setArgImage(0, level.filteredDepth.get());
        vertices.setArgImage(1, level.inverseIntrinsics.get());
        vertices.setArgImage(2, level.vertexMap.get());
        if (failed(enqueue(VertexMapKernel, vertices, l), "vertex map"))
            return -1;

        // The tangent, normal and curvature kernels start with the same five
        // arguments.
        const auto setMapArguments = [&level](ClKernel& kernel) {
            kernel.setArgScalar(0, level.width);
            kernel.setArgScalar(1, level.height);
            kernel.setArgImage(2, level.vertexMap.get());
            kernel.setArgImage(3, level.tangentXMap.get());
            kernel.setArgImage(4, level.tangentYMap.get());
        };
        ClKernel& tangents = *m_computeTangentMap;
        setMapArguments(tangents);
        if (failed(enqueue(TangentMapKernel, tangents, l), "tangent map"))
            return -1;

        ClKernel& normals = *m_computeNormalMap;
        setMapArguments(normals);
        normals.setArgImage(5, level.normalMap.get());
        if (failed(enqueue(NormalMapKernel, normals, l), "normal map"))
            return -1;

        if (!m_curvatureEnabled)
            continue;
        ClKernel& curvature = *m_computeCurvatureMap;
        setMapArguments(curvature);
        curvature.setArgImage(5, level.normalMap.get());
        curvature.setArgImage(6, level.curvatureMap.get());
        if (failed(enqueue(CurvatureMapKernel, curvature, l), "curvature map"))
            return -1;
    }
    return 0;
}

int SurfaceReconstructionGPU::predictSurface()
{
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    const Eigen::Matrix3f m = k * m_pose.topLeftCorner<3, 3>();
    const Eigen::Matrix3f mInverse = m.inverse();
    const Eigen::Vector3f c = -mInverse * (k * m_pose.topRightCorner<3, 1>());
    if (!writeMatrix(*m_rayMatrix, mInverse.data(), 9))
        return -1;

    const float step = static_cast<float>(m_params->truncationFactor) *
                       static_cast<float>(m_params->raycastStepFactor);
    const float stepCount = std::ceil(4.0f * step);
    const auto& n = m_volume.resolution;
    Eigen::Vector3f cn;
    for (int a = 0; a < 3; ++a)
        cn[a] = (c[a] / m_volume.voxelSize[a] + (static_cast<float>(n[a]) * 0.5f - 0.5f)) /
                static_cast<float>(n[a]);

    ClKernel& kernel = m_colorEnabled ? *m_predictSurfaceColor : *m_predictSurface;
    const Eigen::Vector3f& s = m_volume.voxelSize;
    cl_uint arg = 0;
    kernel.setArgImage(arg++, tsdfVolume);
    if (m_colorEnabled)
        kernel.setArgImage(arg++, colorVolume);
    kernel.setArgInt3(arg++, n[0], n[1], n[2]);
    kernel.setArgFloat3(arg++, s[0], s[1], s[2]);
    kernel.setArgFloat3(arg++, c[0], c[1], c[2]);
    kernel.setArgImage(arg++, m_rayMatrix.get());
    kernel.setArgScalar(arg++, step);
    kernel.setArgScalar(arg++, stepCount);
    kernel.setArgScalar(arg++, m_width);
    kernel.setArgScalar(arg++, m_height);
    kernel.setArgImage(arg++, m_levels[0].predictedVertexMap.get());
    kernel.setArgImage(arg++, m_levels[0].predictedNormalMap.get());
    kernel.setArgFloat3(arg++, cn[0], cn[1], cn[2]);
    kernel.setArgImage(arg++, m_sceneImage.get());
    if (m_colorEnabled)
        kernel.setArgByte(arg++, m_params->showSceneColor ? 1 : 0);
    kernel.setArgImage(arg++, m_validMask.get());
    if (const int code = enqueue(m_colorEnabled ? PredictColorKernel : PredictKernel, kernel, 0)) {
        VELTRANE_ERROR("SurfaceReconstruction: Couldn't execute surface prediction kernel (" << code << ")");
        return -1;
    }

    for (int l = 1; l < m_levelCount; ++l) {
        const Level& finer = m_levels[l - 1];
        const Level& level = m_levels[l];
        const struct {
            LevelKernel which;
            ClKernel* kernel;
            ClImage* in;
            ClImage* out;
            const char* name;
        } passes[] = {{DownsampleVertexKernel, m_downsampleVertexMap.get(), finer.predictedVertexMap.get(),
                       level.predictedVertexMap.get(), "vertex downsample"},
                      {DownsampleNormalKernel, m_downsampleNormalMap.get(), finer.predictedNormalMap.get(),
                       level.predictedNormalMap.get(), "normal downsample"}};
        for (const auto& pass : passes) {
            pass.kernel->setArgImage(0, pass.in);
            pass.kernel->setArgImage(1, pass.out);
            pass.kernel->setArgScalar(2, finer.width);
            pass.kernel->setArgScalar(3, finer.height);
            pass.kernel->setArgScalar(4, finer.width / 2);
            pass.kernel->setArgScalar(5, finer.height / 2);
            if (const int code = enqueue(pass.which, *pass.kernel, l)) {
                VELTRANE_ERROR("SurfaceReconstruction: Couldn't execute " << pass.name << " kernel (" << code
                                                                          << ")");
                return -1;
            }
        }
    }
    return 0;
}

bool SurfaceReconstructionGPU::icpSystem(int l, const Eigen::Matrix4f& estimate, float maxDistance,
                                         float cosLimit, Eigen::Matrix<float, 6, 6>& normalMatrix,
                                         Eigen::Matrix<float, 6, 1>& rightHandSide)
{
    Level& level = m_levels[l];
    const Eigen::Matrix4f inverseEstimate = estimate.inverse();
    if (!writeMatrix(*m_poseBuffer, inverseEstimate.data(), 16) ||
        !writeMatrix(*m_estimateBuffer, estimate.data(), 16))
        return false;

    const Eigen::Matrix3f& k = m_levelIntrinsics[l];
    ClKernel& kernel = *m_computeIcp;
    kernel.setArgImage(0, level.predictedVertexMap.get());
    kernel.setArgImage(1, level.predictedNormalMap.get());
    kernel.setArgImage(2, level.vertexMap.get());
    kernel.setArgImage(3, level.normalMap.get());
    kernel.setArgFloat4(4, k(0, 0), k(1, 1), k(0, 2), k(1, 2));
    kernel.setArgImage(5, m_estimateBuffer.get());
    kernel.setArgImage(6, m_poseBuffer.get());
    kernel.setArgScalar(7, level.width);
    kernel.setArgScalar(8, level.height);
    kernel.setArgImage(9, m_icpMatrixRows.get());
    kernel.setArgImage(10, m_icpVectorRows.get());
    kernel.setArgScalar(11, maxDistance);
    kernel.setArgScalar(12, cosLimit);
    if (const int code = enqueue(IcpKernel, kernel, l)) {
        VELTRANE_ERROR("SurfaceReconstruction: Couldn't execute ICP kernel (" << code << ")");
        return false;
    }

    // Each plane leaves its 64 partial sums (unused groups cleared) in its slot.
    const int n = level.width * level.height;
    bool summed = true;
    const auto sumPlanes = [&](auto& planes, auto& sums) {
        for (std::size_t j = 0; j < planes.size(); ++j) {
            bool ok = false;
            m_reduce->sum(planes[j].get(), n, sums[j].get(), &ok);
            summed &= ok;
        }
    };
    sumPlanes(level.icpMatrixPlanes, level.icpMatrixSums);
    sumPlanes(level.icpVectorPlanes, level.icpVectorSums);
    if (!summed)
        return false;
    if (!m_reductionTarget->read(m_reductionResults->typedData(), m_reductionResults->byteSize())) {
        VELTRANE_ERROR("SurfaceReconstruction: Could not download reduction results");
        return false;
    }

    float sums[reductionSlots];
    const float* slots = m_reductionResults->typedData();
    for (int slot = 0; slot < reductionSlots; ++slot) {
        float sum = 0.0f;
        for (int i = 0; i < partialSums; ++i)
            sum += slots[slot * partialSums + i];
        sums[slot] = sum;
    }
    int plane = 0;
    for (int i = 0; i < 6; ++i)
        for (int j = i; j < 6; ++j)
            normalMatrix(i, j) = normalMatrix(j, i) = sums[plane++];
    for (int i = 0; i < 6; ++i)
        rightHandSide[i] = sums[matrixPlanes + i];
    return true;
}

int SurfaceReconstructionGPU::trackCamera(bool& fuse, bool& tracked)
{
    tracked = true;
    fuse = false;
    Eigen::Matrix4f estimate = m_previousPose.inverse();
    const std::vector<int> iterations = m_params->icpIterations();
    const float maxDistance = static_cast<float>(m_params->icpDistanceThreshold);
    const float cosLimit = static_cast<float>(std::cos(
        static_cast<double>(static_cast<float>(m_params->icpAngleThreshold) * 3.1415927f / 180.0f)));

    bool solved = false;
    for (int l = m_levelCount - 1; l >= 0; --l) {
        const int count = l < static_cast<int>(iterations.size()) ? iterations[l] : 0;
        for (int iteration = 0; iteration < count; ++iteration) {
            IcpTracking::Matrix6f h;
            IcpTracking::Vector6f g;
            IcpTracking::Vector6f x;
            if (!icpSystem(l, estimate, maxDistance, cosLimit, h, g)) {
                tracked = false;
                return -1;
            }
            if (!IcpTracking::solve(h, g, x))
                break;  // a degenerate level is skipped; the finer levels go on
            estimate = IcpTracking::increment(x) * estimate;
            solved = true;
            if (std::sqrt(static_cast<double>(x.squaredNorm())) < m_params->icpConvergenceThreshold)
                break;
        }
    }
    if (!solved) {
        tracked = false;
        return 0;
    }

    const Eigen::Matrix4f newPose = estimate.inverse();
    const Eigen::Matrix4f motion = newPose * m_pose.inverse();
    const float translation = motion.topRightCorner<3, 1>().norm();
    const double angle = rotationAngle(motion);
    if (translation > m_params->maxTranslation || angle > m_params->maxRotationDegrees * M_PI / 180.0) {
        tracked = false;
    } else if (!(m_params->skipSmallMotion && translation < smallTranslation && angle < smallRotation)) {
        m_pose = newPose;
        fuse = true;
    }
    return 0;
}

int SurfaceReconstructionGPU::integrate()
{
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    const auto failed = [](int code, const char* message) {
        if (code == CL_SUCCESS)
            return false;
        VELTRANE_ERROR("Couldn't execute " << message << " kernel (" << code << ")");
        return true;
    };

    ClKernel& scale = *m_scaleDepthMap;
    scale.setArgImage(0, m_depthImage.get());
    scale.setArgImage(1, m_rayDistanceImage.get());
    scale.setArgFloat4(2, k(0, 0), k(1, 1), k(0, 2), k(1, 2));
    if (failed(scale.run(), "depth map scaling"))
        return -1;

    ClKernel& discontinuity = *m_computeDepthDiscontinuityMap;
    discontinuity.setArgImage(0, m_depthImage.get());
    discontinuity.setArgImage(1, m_validMask.get());
    if (failed(discontinuity.run(), "depth discontinuity"))
        return -1;

    if (!writeMatrix(*m_poseBuffer, m_pose.data(), 16))
        return -1;

    const float truncation = m_volume.truncationDistance(m_params->truncationFactor);
    const auto maxWeight = static_cast<unsigned char>(FusionInput::weightCap(*m_params));
    const auto& n = m_volume.resolution;
    const Eigen::Vector3f& s = m_volume.voxelSize;
    ClKernel& kernel = m_colorEnabled ? *m_integrateColor : *m_integrate;
    cl_uint arg = 0;
    kernel.setArgImage(arg++, m_rayDistanceImage.get());
    if (m_colorEnabled)
        kernel.setArgImage(arg++, m_colorImage.get());
    kernel.setArgImage(arg++, tsdfVolume);
    kernel.setArgImage(arg++, m_weightVolume.get());
    if (m_colorEnabled)
        kernel.setArgImage(arg++, colorVolume);
    kernel.setArgInt3(arg++, n[0], n[1], n[2]);
    kernel.setArgFloat3(arg++, s[0], s[1], s[2]);
    kernel.setArgFloat4(arg++, k(0, 0), k(1, 1), k(0, 2), k(1, 2));
    kernel.setArgImage(arg++, m_poseBuffer.get());
    kernel.setArgScalar(arg++, truncation);
    kernel.setArgByte(arg++, maxWeight);
    if (m_colorEnabled)
        kernel.setArgImage(arg++, m_levels[0].normalMap.get());
    kernel.setArgImage(arg++, m_validMask.get());
    if (failed(kernel.run(), "integrate"))
        return -1;
    return 0;
}

}  // namespace Veltrane
