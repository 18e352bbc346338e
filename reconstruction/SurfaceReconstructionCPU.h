#pragma once

#include "reconstruction/BrickMap.h"
#include "reconstruction/FusionDriver.h"
#include "reconstruction/VolumeIntegration.h"

#include <memory>

namespace Veltrane {

/// The fusion back-end on the host, with OpenMP loops.
///
/// Per frame (driven by `FusionDriver`): depth preprocessing into a pyramid
/// of vertex and normal maps, surface prediction by ray casting from the
/// current pose, ICP tracking against the prediction, and integration into
/// the volumes.
///
/// Not thread-safe: `init`, `release`, `reset` and taking the volumes must
/// not overlap `processFrame`.
class SurfaceReconstructionCPU : public FusionDriver {
public:
    SurfaceReconstructionCPU() = default;
    /// Deletes the images still held; does not unlock the parameters.
    ~SurfaceReconstructionCPU() override;
    SurfaceReconstructionCPU(const SurfaceReconstructionCPU&) = delete;
    SurfaceReconstructionCPU& operator=(const SurfaceReconstructionCPU&) = delete;

    /// The distance volume (float, in truncation distances, NaN = unobserved)
    /// and the colour volume (RGBA bytes, A = colour weight; null without
    /// colour). To keep them beyond the back-end, copy the pointers, set the
    /// members to null and then call `release`: they are then the caller's.
    TypedImage<float>* tsdfVolume = nullptr;
    TypedImage<unsigned char>* colorVolume = nullptr;

    int preprocess(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color) override;
    int predictSurface() override;
    int integrate() override;

    /// Intermediate images, for inspection between stages; null before `init`.
    const TypedImage<unsigned char>* weightVolume() const { return m_weightVolume.get(); }
    const TypedImage<float>* vertexMap(int level) const { return m_levels[level].vertices.get(); }
    const TypedImage<float>* normalMap(int level) const { return m_levels[level].normals.get(); }
    const TypedImage<float>* predictedVertexMap(int level) const { return m_levels[level].predictedVertices.get(); }
    const TypedImage<float>* predictedNormalMap(int level) const { return m_levels[level].predictedNormals.get(); }
    const TypedImage<unsigned short>* filteredDepth(int level) const { return m_levels[level].filteredDepth.get(); }
    const TypedImage<unsigned char>* validMask() const { return m_validMask.get(); }
    const TypedImage<unsigned char>* renderedScene() const { return m_sceneImage.get(); }
    const VolumeGeometry& volumeGeometry() const { return m_volume; }

private:
    /// The images of one pyramid level.
    struct Level {
        std::unique_ptr<TypedImage<unsigned short>> filteredDepth;
        std::unique_ptr<TypedImage<float>> vertices, normals, tangentX, tangentY;
        std::unique_ptr<TypedImage<float>> predictedVertices, predictedNormals;
    };

    bool allocateBuffers() override;
    void releaseBuffers() override;
    bool clearVolumes() override;
    bool volumesPresent() const override;
    void startSceneCopy(TypedImage<unsigned char>& target) override;
    bool countValidPixels(long& count) override;
    bool buildIcpSystem(int level, const Eigen::Matrix4f& estimate, float maxDistance, float cosLimit,
                        IcpTracking::Matrix6f& normalMatrix, IcpTracking::Vector6f& rightHandSide) override;

    /// Bytes of every image that `createBuffers` creates.
    double requiredBytes() const;
    bool createBuffers();
    IcpTracking::Level trackingLevel(int level) const;

    std::unique_ptr<TypedImage<unsigned char>> m_weightVolume;
    BrickMap m_bricks;  ///< where the distance volume may hold a surface
    VolumeIntegration::FrameSamples m_frameSamples;  ///< what integration reads per pixel
    std::unique_ptr<TypedImage<unsigned char>> m_colorImage;
    std::unique_ptr<TypedImage<unsigned short>> m_depthImage;
    std::array<Level, maxLevels> m_levels;
    std::unique_ptr<TypedImage<unsigned char>> m_sceneImage;
    std::unique_ptr<TypedImage<unsigned char>> m_validMask;
};

}  // namespace Veltrane
