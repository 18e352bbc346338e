#include "reconstruction/SurfaceReconstructionGPU.h"

#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClImage.h"
#include "core/ClKernel.h"
#include "core/ClProgram.h"
#include "core/ClReduce.h"
#include "core/Logging.h"
#include "reconstruction/FusionInput.h"
#include "reconstruction/KernelLaunch.h"
#include "reconstruction/ReconstructionParameters.h"

#include <Eigen/LU>

#include <cmath>
#include <new>
#include <stdexcept>

namespace Veltrane {

namespace {

constexpr int matrixPlanes = IcpTracking::matrixPlanes;
constexpr int vectorPlanes = IcpTracking::vectorPlanes;
constexpr int partialSums = ClReduce::groupCount;
constexpr int reductionSlots = matrixPlanes + vectorPlanes;
/// The depth filters' sigma as the kernels read depth: normalised 16-bit.
constexpr float normalisedDepthSigma = FusionConstants::filterDepthSigma / 65535.0f;

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

}  // namespace

SurfaceReconstructionGPU::SurfaceReconstructionGPU(ClEnvironment* environment)
    : m_environment(environment)
{
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
        const std::string constants = FusionConstants::openClDefinitions();
        m_program = std::make_unique<ClProgram>("SurfaceReconstruction", constants, "", m_environment);
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

        m_colorProgram = std::make_unique<ClProgram>("SurfaceReconstruction", constants, "-D COLOR_VOLUME",
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

bool SurfaceReconstructionGPU::allocateBuffers()
{
    return FusionInput::fitsInMemory(requiredDeviceBytes(), m_environment->device()->globalMemSize(),
                                     "device memory") &&
           createBuffers();
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

    if (!setWorkSizes()) {
        VELTRANE_ERROR("SurfaceReconstruction: Failed to create OpenCL buffers");
        releaseBuffers();
        return false;
    }
    m_initialised = true;
    return true;
}

bool SurfaceReconstructionGPU::setWorkSizes()
{
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
    const auto& n = m_volume.resolution;
    for (ClKernel* kernel : {m_initVolume.get(), m_initColorVolume.get(), m_integrate.get(),
                             m_integrateColor.get()}) {
        std::size_t size[2] = {static_cast<std::size_t>(n[0]), static_cast<std::size_t>(n[1])};
        sized &= kernel->setWorkSize(2, size);
    }
    for (ClKernel* kernel : {m_scaleDepthMap.get(), m_computeDepthDiscontinuityMap.get()}) {
        std::size_t size[2] = {static_cast<std::size_t>(m_width), static_cast<std::size_t>(m_height)};
        sized &= kernel->setWorkSize(2, size);
    }
    return sized;
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

bool SurfaceReconstructionGPU::clearVolumes()
{
    KernelLaunch launch(m_colorEnabled ? *m_initColorVolume : *m_initVolume,
                        "SurfaceReconstruction: Couldn't execute initVolumes kernel");
    launch.image(tsdfVolume).image(m_weightVolume.get());
    if (m_colorEnabled)
        launch.image(colorVolume);
    const auto& n = m_volume.resolution;
    return launch.int3(n[0], n[1], n[2]).run();
}

bool SurfaceReconstructionGPU::volumesPresent() const
{
    return tsdfVolume && (!m_colorEnabled || colorVolume);
}

void SurfaceReconstructionGPU::readFrameSettings()
{
    m_curvatureEnabled = m_params->useCurvatureSelection;
}

void SurfaceReconstructionGPU::startSceneCopy(TypedImage<unsigned char>& target)
{
    if (!m_sceneImage->downloadInto(&target, false, nullptr, &m_sceneRead)) {
        m_sceneRead.reset();
        VELTRANE_WARN("Surface reconstruction: Could not download scene image");
    }
}

void SurfaceReconstructionGPU::finishSceneCopy()
{
    if (m_sceneRead && m_sceneRead->id()) {
        const cl_event id = m_sceneRead->id();
        clWaitForEvents(1, &id);
    }
    m_sceneRead.reset();
}

bool SurfaceReconstructionGPU::countValidPixels(long& count)
{
    bool counted = false;
    const float sum = m_reduce->sum(m_validMask.get(), m_width * m_height, nullptr, &counted);
    count = static_cast<long>(sum);
    return counted;
}

bool SurfaceReconstructionGPU::enqueueAtLevel(KernelLaunch& launch, LevelKernel which, int l)
{
    const WorkSize& size = m_levels[l].workSizes[which];
    return launch.enqueue(2, size.global.data(), size.local.data());
}

bool SurfaceReconstructionGPU::writeMatrix(ClImage& target, const float* values, std::size_t count)
{
    return target.write(values, count * sizeof(float));
}

bool SurfaceReconstructionGPU::uploadFrame(const TypedImage<unsigned short>* depth,
                                           const TypedImage<unsigned char>* color)
{
    if (!depth || (m_colorEnabled && !color))
        return false;
    const std::size_t pixels = static_cast<std::size_t>(m_width) * m_height;
    if (depth->byteSize() < pixels * sizeof(unsigned short) ||
        !m_depthImage->write(depth->data(), depth->byteSize()))
        return false;
    if (!m_colorEnabled)
        return true;
    if (color->width != m_width || color->height != m_height || color->channels != 3)
        return false;
    const unsigned char* rgb = color->typedData();
    unsigned char* rgba = m_colorUpload->typedData();
    for (std::size_t i = 0; i < pixels; ++i) {
        rgba[4 * i] = rgb[3 * i];
        rgba[4 * i + 1] = rgb[3 * i + 1];
        rgba[4 * i + 2] = rgb[3 * i + 2];
        rgba[4 * i + 3] = 0;
    }
    return m_colorImage->write(rgba, m_colorUpload->byteSize());
}

int SurfaceReconstructionGPU::preprocess(const TypedImage<unsigned short>* depth,
                                         const TypedImage<unsigned char>* color)
{
    if (!m_initialised || !uploadFrame(depth, color))
        return -1;

    KernelLaunch bilateral(*m_bilateralFilter, "SurfaceReconstruction: Couldn't execute bilateral filter kernel (");
    bilateral.image(m_depthImage.get())
        .image(m_levels[0].filteredDepth.get())
        .scalar(FusionConstants::filterSpatialSigma)
        .scalar(normalisedDepthSigma)
        .scalar(m_params->bilateralFilterRadius);
    if (!enqueueAtLevel(bilateral, BilateralKernel, 0))
        return -1;

    for (int l = 1; l < m_levelCount; ++l) {
        KernelLaunch downsample(*m_downsample, "SurfaceReconstruction: Couldn't execute downsample kernel (");
        downsample.image(m_levels[l - 1].filteredDepth.get())
            .image(m_levels[l].filteredDepth.get())
            .scalar(normalisedDepthSigma);
        if (!enqueueAtLevel(downsample, DownsampleKernel, l))
            return -1;
    }

    for (int l = 0; l < m_levelCount; ++l)
        if (!computeLevelMaps(l))
            return -1;
    return 0;
}

bool SurfaceReconstructionGPU::computeLevelMaps(int l)
{
    const Level& level = m_levels[l];
    KernelLaunch vertices(*m_computeVertexMap, "SurfaceReconstruction: Couldn't execute vertex map kernel (");
    vertices.image(level.filteredDepth.get()).image(level.inverseIntrinsics.get()).image(level.vertexMap.get());
    if (!enqueueAtLevel(vertices, VertexMapKernel, l))
        return false;

    // The tangent, normal and curvature kernels start with the same five
    // arguments.
    const auto mapArguments = [&level](KernelLaunch& launch) -> KernelLaunch& {
        return launch.scalar(level.width)
            .scalar(level.height)
            .image(level.vertexMap.get())
            .image(level.tangentXMap.get())
            .image(level.tangentYMap.get());
    };
    KernelLaunch tangents(*m_computeTangentMap, "SurfaceReconstruction: Couldn't execute tangent map kernel (");
    if (!enqueueAtLevel(mapArguments(tangents), TangentMapKernel, l))
        return false;

    KernelLaunch normals(*m_computeNormalMap, "SurfaceReconstruction: Couldn't execute normal map kernel (");
    if (!enqueueAtLevel(mapArguments(normals).image(level.normalMap.get()), NormalMapKernel, l))
        return false;

    if (!m_curvatureEnabled)
        return true;
    KernelLaunch curvature(*m_computeCurvatureMap,
                           "SurfaceReconstruction: Couldn't execute curvature map kernel (");
    mapArguments(curvature).image(level.normalMap.get()).image(level.curvatureMap.get());
    return enqueueAtLevel(curvature, CurvatureMapKernel, l);
}

int SurfaceReconstructionGPU::predictSurface()
{
    if (!m_initialised || !castRays())
        return -1;
    for (int l = 1; l < m_levelCount; ++l)
        if (!downsamplePrediction(l))
            return -1;
    return 0;
}

bool SurfaceReconstructionGPU::castRays()
{
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    const Eigen::Matrix3f m = k * m_pose.topLeftCorner<3, 3>();
    const Eigen::Matrix3f mInverse = m.inverse();
    const Eigen::Vector3f c = -mInverse * (k * m_pose.topRightCorner<3, 1>());
    if (!writeMatrix(*m_rayMatrix, mInverse.data(), 9))
        return false;

    const float step = static_cast<float>(m_params->truncationFactor) *
                       static_cast<float>(m_params->raycastStepFactor);
    const float stepCount = std::ceil(4.0f * step);
    const auto& n = m_volume.resolution;
    Eigen::Vector3f cn;
    for (int a = 0; a < 3; ++a)
        cn[a] = (c[a] / m_volume.voxelSize[a] + (static_cast<float>(n[a]) * 0.5f - 0.5f)) /
                static_cast<float>(n[a]);

    const Eigen::Vector3f& s = m_volume.voxelSize;
    KernelLaunch launch(m_colorEnabled ? *m_predictSurfaceColor : *m_predictSurface,
                        "SurfaceReconstruction: Couldn't execute surface prediction kernel (");
    launch.image(tsdfVolume);
    if (m_colorEnabled)
        launch.image(colorVolume);
    launch.int3(n[0], n[1], n[2])
        .float3(s[0], s[1], s[2])
        .float3(c[0], c[1], c[2])
        .image(m_rayMatrix.get())
        .scalar(step)
        .scalar(stepCount)
        .scalar(m_width)
        .scalar(m_height)
        .image(m_levels[0].predictedVertexMap.get())
        .image(m_levels[0].predictedNormalMap.get())
        .float3(cn[0], cn[1], cn[2])
        .image(m_sceneImage.get());
    if (m_colorEnabled)
        launch.byte(m_params->showSceneColor ? 1 : 0);
    launch.image(m_validMask.get());
    return enqueueAtLevel(launch, m_colorEnabled ? PredictColorKernel : PredictKernel, 0);
}

bool SurfaceReconstructionGPU::downsamplePrediction(int l)
{
    const Level& finer = m_levels[l - 1];
    const Level& level = m_levels[l];
    const auto halve = [&](ClKernel& kernel, const char* failure, const ClImage* in, const ClImage* out,
                           LevelKernel which) {
        KernelLaunch launch(kernel, failure);
        launch.image(in)
            .image(out)
            .scalar(finer.width)
            .scalar(finer.height)
            .scalar(finer.width / 2)
            .scalar(finer.height / 2);
        return enqueueAtLevel(launch, which, l);
    };
    return halve(*m_downsampleVertexMap, "SurfaceReconstruction: Couldn't execute vertex downsample kernel (",
                 finer.predictedVertexMap.get(), level.predictedVertexMap.get(), DownsampleVertexKernel) &&
           halve(*m_downsampleNormalMap, "SurfaceReconstruction: Couldn't execute normal downsample kernel (",
                 finer.predictedNormalMap.get(), level.predictedNormalMap.get(), DownsampleNormalKernel);
}

bool SurfaceReconstructionGPU::buildIcpSystem(int l, const Eigen::Matrix4f& estimate, float maxDistance,
                                              float cosLimit, IcpTracking::Matrix6f& normalMatrix,
                                              IcpTracking::Vector6f& rightHandSide)
{
    const Level& level = m_levels[l];
    const Eigen::Matrix4f inverseEstimate = estimate.inverse();
    if (!writeMatrix(*m_poseBuffer, inverseEstimate.data(), 16) ||
        !writeMatrix(*m_estimateBuffer, estimate.data(), 16))
        return false;

    const Eigen::Matrix3f& k = m_levelIntrinsics[l];
    KernelLaunch launch(*m_computeIcp, "SurfaceReconstruction: Couldn't execute ICP kernel (");
    launch.image(level.predictedVertexMap.get())
        .image(level.predictedNormalMap.get())
        .image(level.vertexMap.get())
        .image(level.normalMap.get())
        .float4(k(0, 0), k(1, 1), k(0, 2), k(1, 2))
        .image(m_estimateBuffer.get())
        .image(m_poseBuffer.get())
        .scalar(level.width)
        .scalar(level.height)
        .image(m_icpMatrixRows.get())
        .image(m_icpVectorRows.get())
        .scalar(maxDistance)
        .scalar(cosLimit);
    float sums[reductionSlots];
    if (!enqueueAtLevel(launch, IcpKernel, l) || !readIcpSums(l, sums))
        return false;
    IcpTracking::unpackSums(sums, normalMatrix, rightHandSide);
    return true;
}

bool SurfaceReconstructionGPU::readIcpSums(int l, float* sums)
{
    // Each plane leaves its 64 partial sums (unused groups cleared) in its slot.
    const Level& level = m_levels[l];
    const int n = level.width * level.height;
    bool summed = true;
    const auto sumPlanes = [&](auto& planes, auto& slots) {
        for (std::size_t j = 0; j < planes.size(); ++j) {
            bool ok = false;
            m_reduce->sum(planes[j].get(), n, slots[j].get(), &ok);
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
    const float* partial = m_reductionResults->typedData();
    for (int slot = 0; slot < reductionSlots; ++slot) {
        float sum = 0.0f;
        for (int i = 0; i < partialSums; ++i)
            sum += partial[slot * partialSums + i];
        sums[slot] = sum;
    }
    return true;
}

int SurfaceReconstructionGPU::integrate()
{
    if (!m_initialised)
        return -1;
    const Eigen::Matrix3f& k = m_levelIntrinsics[0];
    KernelLaunch scale(*m_scaleDepthMap, "Couldn't execute depth map scaling kernel (");
    if (!scale.image(m_depthImage.get())
             .image(m_rayDistanceImage.get())
             .float4(k(0, 0), k(1, 1), k(0, 2), k(1, 2))
             .run())
        return -1;
    KernelLaunch discontinuity(*m_computeDepthDiscontinuityMap, "Couldn't execute depth discontinuity kernel (");
    if (!discontinuity.image(m_depthImage.get()).image(m_validMask.get()).run())
        return -1;
    if (!writeMatrix(*m_poseBuffer, m_pose.data(), 16))
        return -1;

    const float truncation = m_volume.truncationDistance(m_params->truncationFactor);
    const auto maxWeight = static_cast<unsigned char>(FusionInput::weightCap(*m_params));
    const auto& n = m_volume.resolution;
    const Eigen::Vector3f& s = m_volume.voxelSize;
    KernelLaunch launch(m_colorEnabled ? *m_integrateColor : *m_integrate, "Couldn't execute integrate kernel (");
    launch.image(m_rayDistanceImage.get());
    if (m_colorEnabled)
        launch.image(m_colorImage.get());
    launch.image(tsdfVolume).image(m_weightVolume.get());
    if (m_colorEnabled)
        launch.image(colorVolume);
    launch.int3(n[0], n[1], n[2])
        .float3(s[0], s[1], s[2])
        .float4(k(0, 0), k(1, 1), k(0, 2), k(1, 2))
        .image(m_poseBuffer.get())
        .scalar(truncation)
        .byte(maxWeight);
    if (m_colorEnabled)
        launch.image(m_levels[0].normalMap.get());
    launch.image(m_validMask.get());
    return launch.run() ? 0 : -1;
}

}  // namespace Veltrane
