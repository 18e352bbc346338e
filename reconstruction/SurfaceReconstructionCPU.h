#pragma once

#include "reconstruction/FusionInput.h"
#include "reconstruction/IcpTracking.h"
#include "reconstruction/SurfaceReconstruction.h"
#include "reconstruction/VolumeGeometry.h"

#include <array>
#include <memory>

namespace Veltrane {

/// The fusion back-end on the host, with OpenMP loops.
///
/// Per frame: depth preprocessing into a pyramid of vertex and normal maps,
/// surface prediction by ray casting from the current pose, ICP tracking
/// against the prediction, and integration into the volumes. Until a
/// prediction has `minValidPixels` valid pixels, frames are fused at the
/// initial pose without tracking.
///
/// Not thread-safe: `init`, `release`, `reset` and taking the volumes must
/// not overlap `processFrame`.
class SurfaceReconstructionCPU : public SurfaceReconstruction {
public:
    static constexpr int maxLevels = FusionInput::maxPyramidLevels;

    SurfaceReconstructionCPU();
    /// Deletes the images still held; does not unlock the parameters.
    ~SurfaceReconstructionCPU() override;
    SurfaceReconstructionCPU(const SurfaceReconstructionCPU&) = delete;
    SurfaceReconstructionCPU& operator=(const SurfaceReconstructionCPU&) = delete;

    bool init(ReconstructionParameters* params) override;
    void release() override;
    int processFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color,
                     const double* poseIn, TypedImage<unsigned char>* sceneImage, bool integrate) override;
    Eigen::Matrix4f pose() const override { return m_pose; }
    void reset() override;

    /// The distance volume (float, in truncation distances, NaN = unobserved)
    /// and the colour volume (RGBA bytes, A = colour weight; null without
    /// colour). To keep them beyond the back-end, copy the pointers, set the
    /// members to null and then call `release`: they are then the caller's.
    TypedImage<float>* tsdfVolume = nullptr;
    TypedImage<unsigned char>* colorVolume = nullptr;

    /// The stages of `processFrame`, callable one by one on an initialised
    /// back-end. Each returns 0 on success.
    int preprocess(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* color);
    int predictSurface();
    /// Sets `tracked` and `fuse` and may move the pose.
    int trackCamera(bool& fuse, bool& tracked);
    int integrate();

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

    /// Bytes of every image that `createBuffers` creates.
    double requiredBytes() const;
    bool createBuffers();
    void releaseBuffers();
    void clearVolumes();
    /// Number of pixels at which the last ray cast hit the surface.
    long countValidPixels() const;
    IcpTracking::Settings trackingSettings() const;

    ReconstructionParameters* m_params = nullptr;
    VolumeGeometry m_volume;
    int m_levelCount = 3;
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

    std::unique_ptr<TypedImage<unsigned char>> m_weightVolume;
    std::unique_ptr<TypedImage<unsigned short>> m_rayDistanceImage;
    std::unique_ptr<TypedImage<unsigned char>> m_colorImage;
    std::unique_ptr<TypedImage<unsigned short>> m_depthImage;
    std::array<Level, maxLevels> m_levels;
    std::unique_ptr<TypedImage<unsigned char>> m_sceneImage;
    std::unique_ptr<TypedImage<unsigned char>> m_validMask;
};

}  // namespace Veltrane
