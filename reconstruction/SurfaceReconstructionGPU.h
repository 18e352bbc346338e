#pragma once

#include "reconstruction/FusionDriver.h"

#include <array>
#include <cstddef>
#include <memory>

namespace Veltrane {

class ClEnvironment;
class ClEvent;
class ClImage;
class ClKernel;
class ClProgram;
class ClReduce;
class KernelLaunch;

/// The fusion back-end on an OpenCL device: the same stages, results and
/// return codes as `SurfaceReconstructionCPU` (both driven by
/// `FusionDriver`), with the volumes, the image pyramid and every
/// intermediate map in device memory. Per frame the host uploads the frame,
/// enqueues the kernels, reads back the ICP sums (and, until tracking starts,
/// the count of predicted pixels) and solves the 6 x 6 tracking systems.
///
/// Every level's pixel count must suit the device's sub-buffer alignment
/// (640 x 480 and 320 x 240 with three levels do); otherwise `init` fails.
///
/// Not thread-safe: `init`, `release`, `reset` and taking the volumes must
/// not overlap `processFrame`. All work goes to the environment's queue.
class SurfaceReconstructionGPU : public FusionDriver {
public:
    /// Builds the programs on `environment` (null: the default environment),
    /// after logging the device's facts. Throws std::runtime_error when they
    /// cannot be built or memory runs out.
    explicit SurfaceReconstructionGPU(ClEnvironment* environment = nullptr);
    /// Frees the device memory still held; does not unlock the parameters.
    ~SurfaceReconstructionGPU() override;
    SurfaceReconstructionGPU(const SurfaceReconstructionGPU&) = delete;
    SurfaceReconstructionGPU& operator=(const SurfaceReconstructionGPU&) = delete;

    /// The distance volume (float buffer, in truncation distances, NaN =
    /// unobserved, spacing = voxel size) and the colour volume (RGBA bytes,
    /// A = colour weight; null without colour). To keep them beyond the
    /// back-end, copy the pointers, set the members to null and then call
    /// `release`: they are then the caller's.
    ClImage* tsdfVolume = nullptr;
    ClImage* colorVolume = nullptr;

    /// The stages; a failed transfer or launch (logged) fails the stage.
    int preprocess(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color) override;
    int predictSurface() override;
    int integrate() override;

    /// Device images, for inspection between stages; null before `init`.
    ClImage* weightVolume() const { return m_weightVolume.get(); }
    ClImage* filteredDepth(int level) const { return m_levels[level].filteredDepth.get(); }
    ClImage* vertexMap(int level) const { return m_levels[level].vertexMap.get(); }
    ClImage* normalMap(int level) const { return m_levels[level].normalMap.get(); }
    ClImage* curvatureMap(int level) const { return m_levels[level].curvatureMap.get(); }
    ClImage* predictedVertexMap(int level) const { return m_levels[level].predictedVertexMap.get(); }
    ClImage* predictedNormalMap(int level) const { return m_levels[level].predictedNormalMap.get(); }
    /// Float per pixel: 1 where the last prediction hit the surface; after
    /// integration non-zero where the depth was reliable.
    ClImage* validMask() const { return m_validMask.get(); }
    ClImage* renderedScene() const { return m_sceneImage.get(); }

private:
    /// The kernels whose work size depends on the pyramid level.
    enum LevelKernel {
        VertexMapKernel,
        TangentMapKernel,
        NormalMapKernel,
        CurvatureMapKernel,
        PredictKernel,
        PredictColorKernel,
        IcpKernel,
        BilateralKernel,
        DownsampleKernel,
        DownsampleVertexKernel,
        DownsampleNormalKernel,
        levelKernelCount
    };
    struct WorkSize {
        std::array<std::size_t, 2> global{0, 0};
        std::array<std::size_t, 2> local{1, 1};
    };
    /// The device images of one pyramid level.
    struct Level {
        int width = 0;
        int height = 0;
        std::unique_ptr<ClImage> filteredDepth;
        std::unique_ptr<ClImage> vertexMap, normalMap, tangentXMap, tangentYMap, curvatureMap;
        std::unique_ptr<ClImage> predictedVertexMap, predictedNormalMap;
        std::unique_ptr<ClImage> inverseIntrinsics;
        /// Views of plane j of the ICP rows and of slot j of the partial sums.
        std::array<std::unique_ptr<ClImage>, IcpTracking::matrixPlanes> icpMatrixPlanes, icpMatrixSums;
        std::array<std::unique_ptr<ClImage>, IcpTracking::vectorPlanes> icpVectorPlanes, icpVectorSums;
        std::array<WorkSize, levelKernelCount> workSizes;
    };

    bool allocateBuffers() override;
    void releaseBuffers() override;
    /// Starts `initVolume` over the volumes.
    bool clearVolumes() override;
    bool volumesPresent() const override;
    /// `useCurvatureSelection` is read anew for every frame.
    void readFrameSettings() override;
    /// A non-blocking read of the rendered scene; `finishSceneCopy` waits for it.
    void startSceneCopy(TypedImage<unsigned char>& target) override;
    void finishSceneCopy() override;
    bool countValidPixels(long& count) override;
    /// Runs `computeICP` and sums its 27 planes on the device.
    bool buildIcpSystem(int level, const Eigen::Matrix4f& estimate, float maxDistance, float cosLimit,
                        IcpTracking::Matrix6f& normalMatrix, IcpTracking::Vector6f& rightHandSide) override;

    bool initOpenCL();
    void logDeviceFacts() const;
    void releaseKernels();
    /// Bytes of every device memory object that `createBuffers` creates.
    double requiredDeviceBytes() const;
    bool createBuffers();
    void createLevelBuffers(int l);
    bool setWorkSizes();
    bool setLevelWorkSize(LevelKernel kernel, int l, int width, int height);
    ClKernel* levelKernel(LevelKernel which) const;

    /// Writes the depth frame and, with colour, the colour frame as RGBA.
    bool uploadFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color);
    /// Vertex, tangent, normal and (when enabled) curvature maps of level `l`.
    bool computeLevelMaps(int l);
    bool castRays();
    bool downsamplePrediction(int l);
    /// The 27 sums of the partial sums read back from `m_reductionTarget`.
    bool readIcpSums(int level, float* sums);
    /// Enqueues `launch` with the stored work size of `which` at level `l`.
    bool enqueueAtLevel(KernelLaunch& launch, LevelKernel which, int l);
    bool writeMatrix(ClImage& buffer, const float* values, std::size_t count);

    ClEnvironment* m_environment;
    bool m_curvatureEnabled = false;
    std::unique_ptr<TypedImage<float>> m_reductionResults;
    std::unique_ptr<TypedImage<unsigned char>> m_colorUpload;
    /// The pending read into the caller's scene image, if any.
    std::unique_ptr<ClEvent> m_sceneRead;

    std::unique_ptr<ClReduce> m_reduce;
    std::unique_ptr<ClProgram> m_program;
    std::unique_ptr<ClProgram> m_colorProgram;
    std::unique_ptr<ClKernel> m_computeVertexMap, m_computeTangentMap, m_computeNormalMap,
        m_computeCurvatureMap, m_initVolume, m_initColorVolume, m_integrate, m_integrateColor,
        m_predictSurface, m_predictSurfaceColor, m_computeIcp, m_bilateralFilter, m_downsample,
        m_downsampleVertexMap, m_downsampleNormalMap, m_scaleDepthMap,
        m_computeDepthDiscontinuityMap;

    std::unique_ptr<ClImage> m_weightVolume;
    std::unique_ptr<ClImage> m_rayDistanceImage;
    std::unique_ptr<ClImage> m_colorImage;
    std::unique_ptr<ClImage> m_depthImage;
    std::array<Level, maxLevels> m_levels;
    std::unique_ptr<ClImage> m_sceneImage;
    std::unique_ptr<ClImage> m_validMask;
    std::unique_ptr<ClImage> m_rayMatrix;
    std::unique_ptr<ClImage> m_poseBuffer;
    std::unique_ptr<ClImage> m_estimateBuffer;
    std::unique_ptr<ClImage> m_icpMatrixRows;
    std::unique_ptr<ClImage> m_icpVectorRows;
    std::unique_ptr<ClImage> m_reductionTarget;
};

}  // namespace Veltrane
