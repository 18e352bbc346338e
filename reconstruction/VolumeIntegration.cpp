#include "reconstruction/VolumeIntegration.h"

#include "reconstruction/FusionConstants.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Veltrane::VolumeIntegration {

namespace {

using FusionConstants::discontinuityStep;
using FusionConstants::maxColorWeight;
constexpr int windowRadius = 2;

/// Narrows [lo, hi] to the i with c0 + c1 i > 0.
void keepPositive(double c0, double c1, double& lo, double& hi)
{
    if (c1 == 0.0) {
        if (!(c0 > 0.0))
            hi = -1.0;  // nowhere
    } else if (c1 > 0.0) {
        lo = std::max(lo, -c0 / c1);
    } else {
        hi = std::min(hi, -c0 / c1);
    }
}

/// The range of i along the row p(i) = start + i * step (camera coordinates)
/// that lies in front of the camera and projects into the w x h image, widened
/// by a voxel on each side so that rounding never drops a voxel; every voxel in
/// it is still tested on its own.
void visibleRange(const Eigen::Vector3f& start, const Eigen::Vector3f& step, float fx, float fy, float cx,
                  float cy, int w, int h, int n, int& first, int& last)
{
    double lo = 0.0, hi = n - 1.0;
    keepPositive(start.z(), step.z(), lo, hi);
    // -1 < x fx / z + cx + 0.5 < w, multiplied by z > 0; likewise for y.
    keepPositive(start.x() * fx + (cx + 1.5) * start.z(), step.x() * fx + (cx + 1.5) * step.z(), lo, hi);
    keepPositive(-(start.x() * fx + (cx + 0.5 - w) * start.z()), -(step.x() * fx + (cx + 0.5 - w) * step.z()), lo, hi);
    keepPositive(start.y() * fy + (cy + 1.5) * start.z(), step.y() * fy + (cy + 1.5) * step.z(), lo, hi);
    keepPositive(-(start.y() * fy + (cy + 0.5 - h) * start.z()), -(step.y() * fy + (cy + 0.5 - h) * step.z()), lo, hi);
    if (hi < lo) {
        first = 0;
        last = -1;
        return;
    }
    first = static_cast<int>(std::max(std::floor(lo) - 1.0, 0.0));
    last = static_cast<int>(std::min(std::ceil(hi) + 1.0, n - 1.0));
}

/// Blends a pixel's colour into a voxel's (R, G, B, colour weight): a voxel
/// without colour takes it; otherwise, unless the surface normal is unknown,
/// each channel moves towards the pixel's by how directly the surface faces
/// the camera (|normal z|) against the colour weight, which grows up to its cap.
inline void blendColour(const unsigned char* pixelColor, float normalZ, unsigned char* voxelColor)
{
    const int colorWeight = voxelColor[3];
    if (colorWeight == 0) {
        std::copy(pixelColor, pixelColor + 3, voxelColor);
        voxelColor[3] = 1;
        return;
    }
    const float facing = std::abs(normalZ);
    if (std::isnan(facing))
        return;
    const float weight = static_cast<float>(colorWeight);
    const float inverseSum = 1.0f / (facing + weight);
    for (int c = 0; c < 3; ++c)
        voxelColor[c] = static_cast<unsigned char>((pixelColor[c] * facing + voxelColor[c] * weight) * inverseSum);
    voxelColor[3] = static_cast<unsigned char>(std::min(colorWeight + 1, maxColorWeight));
}

}  // namespace

void computeRayDistance(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& intrinsics,
                        TypedImage<unsigned short>& rayDistance)
{
    const int w = depth.width;
    const int h = depth.height;
    const float fx = intrinsics(0, 0), fy = intrinsics(1, 1);
    const float cx = intrinsics(0, 2), cy = intrinsics(1, 2);
#pragma omp parallel for schedule(static)
    for (int v = 0; v < h; ++v) {
        for (int u = 0; u < w; ++u) {
            const float a = (static_cast<float>(u) - cx) / fx;
            const float b = (static_cast<float>(v) - cy) / fy;
            const float factor = std::sqrt((a * a + 1.0f) + b * b);
            const std::size_t i = static_cast<std::size_t>(v) * w + u;
            // Rounded: truncation would pull every fused surface half a
            // millimetre towards the camera. Far depths at the image corners
            // would exceed 16 bits; the clamp still marks everything nearer
            // than 65535 mm as free space.
            rayDistance.typedData()[i] = static_cast<unsigned short>(
                std::min(factor * static_cast<float>(depth.typedData()[i]) + 0.5f, 65535.0f));
        }
    }
}

void computeDiscontinuityMask(const TypedImage<unsigned short>& depth, TypedImage<unsigned char>& mask)
{
    const int w = depth.width;
    const int h = depth.height;
    const unsigned short* d = depth.typedData();
#pragma omp parallel for schedule(static)
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int d0 = d[y * w + x];
            bool reliable = d0 != 0;
            for (int yy = std::max(y - windowRadius, 0); reliable && yy <= std::min(h - 1, y + windowRadius); ++yy)
                for (int xx = std::max(x - windowRadius, 0); xx <= std::min(w - 1, x + windowRadius); ++xx)
                    if (static_cast<float>(std::abs(d[yy * w + xx] - d0)) > discontinuityStep) {
                        reliable = false;
                        break;
                    }
            mask.typedData()[y * w + x] = reliable ? 255 : 0;
        }
    }
}

void updateVolume(const VolumeGeometry& volume, const FrameInput& frame, const Settings& settings,
                  const Volumes& volumes)
{
    const int nx = volume.resolution[0], ny = volume.resolution[1], nz = volume.resolution[2];
    const float sx = volume.voxelSize[0], sy = volume.voxelSize[1], sz = volume.voxelSize[2];
    const int w = frame.rayDistance->width;
    const int h = frame.rayDistance->height;
    const float fx = settings.intrinsics(0, 0), fy = settings.intrinsics(1, 1);
    const float cx = settings.intrinsics(0, 2), cy = settings.intrinsics(1, 2);
    const Eigen::Matrix3f r = settings.pose.topLeftCorner<3, 3>();
    const Eigen::Vector3f t = settings.pose.topRightCorner<3, 1>();
    const float trunc = settings.truncation;
    const int maxWeight = settings.maxWeight;

    float* tsdf = volumes.tsdf->typedData();
    unsigned char* weights = volumes.weight->typedData();
    unsigned char* colors = volumes.color ? volumes.color->typedData() : nullptr;
    const unsigned short* rayDistance = frame.rayDistance->typedData();
    const unsigned char* reliable = frame.reliable->typedData();
    const unsigned char* colorImage = colors ? frame.color->typedData() : nullptr;
    const float* normals = colors ? frame.normals->typedData() : nullptr;
    const float inverseTrunc = 1.0f / trunc;
    // 1 / (w + 1) for every weight w a voxel can hold.
    float inverseCount[256];
    for (int weight = 0; weight < 256; ++weight)
        inverseCount[weight] = 1.0f / static_cast<float>(weight + 1);

    // One z-slab per task: a slab is one contiguous block of each volume, so
    // every thread streams through memory; inside it the walk runs over y,
    // then x, and the y and z parts of the camera point are computed once per
    // row. Only the part of a row in view is visited.
#pragma omp parallel for schedule(dynamic, 1)
    for (int k = 0; k < nz; ++k) {
        const float z = static_cast<float>(k) * sz + (0.5f - nz / 2.0f) * sz;
        for (int j = 0; j < ny; ++j) {
            const float y = (static_cast<float>(j) + 0.5f - ny / 2.0f) * sy;
            const Eigen::Vector3f rowPart = r.col(1) * y + r.col(2) * z + t;
            const std::size_t rowStart = static_cast<std::size_t>(nx) * (j + static_cast<std::size_t>(ny) * k);
            int first, last;
            visibleRange(r.col(0) * ((0.5f - nx / 2.0f) * sx) + rowPart, r.col(0) * sx, fx, fy, cx, cy, w, h, nx,
                         first, last);
            for (int i = first; i <= last; ++i) {
                const float x = (static_cast<float>(i) + 0.5f - nx / 2.0f) * sx;
                const Eigen::Vector3f p = r.col(0) * x + rowPart;
                if (p.z() <= 0.0f)
                    continue;
                // Rounded by truncation toward zero, so (-1, 0) still maps to 0.
                const float inverseZ = 1.0f / p.z();
                const float uf = p.x() * fx * inverseZ + cx + 0.5f;
                const float vf = p.y() * fy * inverseZ + cy + 0.5f;
                if (!(uf > -1.0f && uf < w && vf > -1.0f && vf < h))
                    continue;
                const std::size_t pixel = static_cast<std::size_t>(static_cast<int>(vf)) * w + static_cast<int>(uf);
                if (reliable[pixel] == 0 || rayDistance[pixel] == 0)
                    continue;
                const float sdf = static_cast<float>(rayDistance[pixel]) - std::sqrt(p.squaredNorm());
                if (sdf < -trunc)
                    continue;
                const float observed = std::min(sdf * inverseTrunc, 1.0f);

                const std::size_t voxel = rowStart + i;
                const float old = tsdf[voxel];
                const int weight = weights[voxel];
                const float fused = std::isnan(old) ? observed : (weight * old + observed) * inverseCount[weight];
                tsdf[voxel] = fused;
                if (volumes.bricks && fused <= 0.0f)
                    volumes.bricks->mark(i, j, k);
                weights[voxel] = static_cast<unsigned char>(std::min(weight + 1, maxWeight));
                if (colors)
                    blendColour(colorImage + 3 * pixel, normals[3 * pixel + 2], colors + 4 * voxel);
            }
        }
    }
}

}  // namespace Veltrane::VolumeIntegration
