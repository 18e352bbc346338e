#pragma once

#include "core/TypedImage.h"
#include "testsupport/SyntheticScene.h"

#include <Eigen/Core>

#include <array>
#include <memory>
#include <vector>

namespace Veltrane::TestSupport {

/// Pinhole intrinsics and frame size of the synthetic camera; pixel (u, v)
/// looks along ((u - cx) / fx, (v - cy) / fy, 1) in camera coordinates
/// (x right, y down, z forward).
struct PinholeCamera {
    int width = 640;
    int height = 480;
    double fx = 531.0;
    double fy = 531.0;
    double cx = 320.0;
    double cy = 240.0;

    /// The same camera with width, height and every intrinsic divided by
    /// `divisor` (2 gives 320 x 240).
    PinholeCamera scaledDown(int divisor) const;
    /// The 3 x 3 camera matrix, column-major.
    std::array<double, 9> matrix() const;
};

/// Depth errors of the synthetic sensor, reproducible from `seed`.
struct DepthNoise {
    /// Standard deviation in mm of a depth of 1 m; it grows with the square of
    /// the depth, as with structured-light sensors. 0 gives exact depths.
    double sigmaAt1m = 0.0;
    /// Probability that a pixel reports no depth (0).
    double dropoutRate = 0.0;
    unsigned seed = 1;
};

/// One rendered frame with the pose it was rendered from.
struct RgbdFrame {
    std::unique_ptr<TypedImage<unsigned short>> depth;  ///< mm, 0 = no measurement
    std::unique_ptr<TypedImage<unsigned char>> colour;  ///< 3 channels, RGB
    Eigen::Matrix4d pose;  ///< scene to camera coordinates, column-major
};

/// Renders depth and colour frames of a `SyntheticScene`.
class SyntheticCamera {
public:
    /// Depths beyond `maxDepth` mm (and rays that hit nothing) read 0.
    SyntheticCamera(SyntheticScene scene, PinholeCamera camera, DepthNoise noise = {},
                    double maxDepth = 4000.0);

    const PinholeCamera& camera() const { return m_camera; }
    const SyntheticScene& scene() const { return m_scene; }

    /// The frame seen from `pose` (scene to camera coordinates). Depth is the
    /// z coordinate of the hit, rounded to whole mm. `frameIndex` varies the
    /// noise from frame to frame; the same index gives the same frame.
    RgbdFrame render(const Eigen::Matrix4d& pose, unsigned frameIndex = 0) const;

    /// One frame per pose of `trajectory`, frame index = position.
    std::vector<RgbdFrame> renderAll(const std::vector<Eigen::Matrix4d>& trajectory) const;

private:
    void addNoise(TypedImage<unsigned short>& depth, unsigned frameIndex) const;

    SyntheticScene m_scene;
    PinholeCamera m_camera;
    DepthNoise m_noise;
    double m_maxDepth;
};

}  // namespace Veltrane::TestSupport
