#include "testsupport/SyntheticCamera.h"

#include <Eigen/Geometry>

#include <cmath>
#include <random>

namespace Veltrane::TestSupport {

PinholeCamera PinholeCamera::scaledDown(int divisor) const
{
    return {width / divisor, height / divisor, fx / divisor, fy / divisor, cx / divisor,
            cy / divisor};
}

std::array<double, 9> PinholeCamera::matrix() const
{
    return {fx, 0.0, 0.0, 0.0, fy, 0.0, cx, cy, 1.0};
}

SyntheticCamera::SyntheticCamera(SyntheticScene scene, PinholeCamera camera, DepthNoise noise,
                                 double maxDepth)
    : m_scene(std::move(scene)), m_camera(camera), m_noise(noise), m_maxDepth(maxDepth)
{
}

RgbdFrame SyntheticCamera::render(const Eigen::Matrix4d& pose, unsigned frameIndex) const
{
    const int w = m_camera.width;
    const int h = m_camera.height;
    RgbdFrame frame;
    frame.pose = pose;
    frame.depth = std::make_unique<TypedImage<unsigned short>>(PixelType::UnsignedShort, w, h, 1, 1);
    frame.colour = std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, w, h, 1, 3);
    unsigned short* depth = frame.depth->typedData();
    unsigned char* colour = frame.colour->typedData();

    const Eigen::Matrix3d cameraToScene = pose.topLeftCorner<3, 3>().transpose();
    const Eigen::Vector3d eye = -cameraToScene * pose.topRightCorner<3, 1>();

#pragma omp parallel for schedule(dynamic, 4)
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            const Eigen::Vector3d ray((u - m_camera.cx) / m_camera.fx,
                                      (v - m_camera.cy) / m_camera.fy, 1.0);
            const double rayLength = ray.norm();
            const Eigen::Vector3d direction = cameraToScene * ray / rayLength;
            const std::optional<RayHit> hit = m_scene.intersect(eye, direction);
            const std::size_t i = static_cast<std::size_t>(v) * w + u;
            const double z = hit ? hit->distance / rayLength : 0.0;
            if (hit && z <= m_maxDepth) {
                depth[i] = static_cast<unsigned short>(std::lround(z));
                colour[3 * i] = hit->colour.r;
                colour[3 * i + 1] = hit->colour.g;
                colour[3 * i + 2] = hit->colour.b;
            } else {
                depth[i] = 0;
                colour[3 * i] = colour[3 * i + 1] = colour[3 * i + 2] = 0;
            }
        }
    }
    addNoise(*frame.depth, frameIndex);
    return frame;
}

std::vector<RgbdFrame> SyntheticCamera::renderAll(const std::vector<Eigen::Matrix4d>& trajectory) const
{
    std::vector<RgbdFrame> frames;
    frames.reserve(trajectory.size());
    for (std::size_t i = 0; i < trajectory.size(); ++i)
        frames.push_back(render(trajectory[i], static_cast<unsigned>(i)));
    return frames;
}

void SyntheticCamera::addNoise(TypedImage<unsigned short>& depth, unsigned frameIndex) const
{
    if (m_noise.sigmaAt1m <= 0.0 && m_noise.dropoutRate <= 0.0)
        return;
    std::mt19937 random(m_noise.seed * 7919u + frameIndex);
    std::normal_distribution<double> gaussian(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    unsigned short* values = depth.typedData();
    for (std::size_t i = 0; i < depth.elementCount(); ++i) {
        const double drawn = gaussian(random);
        const bool dropped = uniform(random) < m_noise.dropoutRate;
        if (values[i] == 0)
            continue;
        if (dropped) {
            values[i] = 0;
            continue;
        }
        const double z = values[i];
        const double sigma = m_noise.sigmaAt1m * (z / 1000.0) * (z / 1000.0);
        const double noisy = std::round(z + sigma * drawn);
        values[i] = static_cast<unsigned short>(std::clamp(noisy, 1.0, 65535.0));
    }
}

}  // namespace Veltrane::TestSupport
