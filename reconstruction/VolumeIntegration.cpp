#include "reconstruction/VolumeIntegration.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorClones.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace Veltrane::VolumeIntegration {

namespace {

using FusionConstants::discontinuityStep;
using FusionConstants::maxColorWeight;
constexpr int windowRadius = 2;
/// Voxels in the widest vector of floats the loops use (AVX-512). Each pass
/// covers whole blocks of this many voxels of a row, so that short stretches
/// do not end in a slow scalar remainder; voxels a block adds are tested (or
/// left alone) like any other.
constexpr int vectorBlock = 16;

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

/// The part of each row of voxels (along x) that may lie in view.
///
/// Voxel i of row (j, k) has the camera point origin + i step + j yStep +
/// k zStep. Lying in front of the camera and projecting into the w x h image
/// (-1 < x fx / z + cx + 0.5 < w, multiplied by z > 0; likewise for y) are
/// five conditions c0 + c1 i > 0, where c1 is the same for every row and c0
/// is linear in j and k: per row they cost a few multiply-adds.
class ViewRows {
public:
    /// `axes` holds step, yStep and zStep as columns; rows have n voxels.
    ViewRows(const Eigen::Matrix3d& axes, const Eigen::Vector3d& origin, const Eigen::Matrix3f& intrinsics, int w,
             int h, int n)
        : m_n(n)
    {
        const double fx = intrinsics(0, 0), fy = intrinsics(1, 1), cx = intrinsics(0, 2), cy = intrinsics(1, 2);
        // Each condition as the functional of the camera point it tests.
        const Eigen::Vector3d conditions[sideCount] = {{0.0, 0.0, 1.0},
                                                       {fx, 0.0, cx + 1.5},
                                                       {-fx, 0.0, -(cx + 0.5 - w)},
                                                       {0.0, fy, cy + 1.5},
                                                       {0.0, -fy, -(cy + 0.5 - h)}};
        for (int c = 0; c < sideCount; ++c)
            m_sides[c] = {conditions[c].dot(origin), conditions[c].dot(axes.col(1)), conditions[c].dot(axes.col(2)),
                          conditions[c].dot(axes.col(0))};
    }

    /// The voxels first..last of row (j, k) that may be in view (first >
    /// last when none), widened by a voxel on each side so that rounding
    /// never drops one; every voxel in it is still tested on its own.
    void range(int j, int k, int& first, int& last) const
    {
        double lo = 0.0, hi = m_n - 1.0;
        for (const Side& side : m_sides)
            keepPositive(side.base + side.perRow * j + side.perSlab * k, side.perVoxel, lo, hi);
        if (hi < lo) {
            first = 0;
            last = -1;
            return;
        }
        first = static_cast<int>(std::max(std::floor(lo) - 1.0, 0.0));
        last = static_cast<int>(std::min(std::ceil(hi) + 1.0, m_n - 1.0));
    }

private:
    static constexpr int sideCount = 5;
    /// One condition: c0 = base + perRow j + perSlab k, c1 = perVoxel.
    struct Side {
        double base, perRow, perSlab, perVoxel;
    };
    Side m_sides[sideCount];
    int m_n;
};

/// Colours are handled as 32-bit words: bytes 0, 1, 2, 3 are R, G, B and,
/// in a colour voxel, the colour weight. A pixel's colour sample adds its
/// |normal z| (a float) in the upper word of 64 bits.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "colour words assume little-endian bytes");

/// A pixel's colour sample.
inline std::uint64_t colorSample(const unsigned char* rgb, float normalZ)
{
    const float facing = std::abs(normalZ);
    std::uint32_t facingBits;
    std::memcpy(&facingBits, &facing, sizeof(facingBits));
    const std::uint32_t color = rgb[0] | rgb[1] << 8 | static_cast<std::uint32_t>(rgb[2]) << 16;
    return color | static_cast<std::uint64_t>(facingBits) << 32;
}

/// The colour word of a colour sample.
inline std::uint32_t sampleColor(std::uint64_t sample)
{
    return static_cast<std::uint32_t>(sample);
}

/// The |normal z| of a colour sample.
inline float sampleFacing(std::uint64_t sample)
{
    const auto facingBits = static_cast<std::uint32_t>(sample >> 32);
    float facing;
    std::memcpy(&facing, &facingBits, sizeof(facing));
    return facing;
}

/// What the voxel loops read from one frame.
struct FrameView {
    const float* distance;
    const std::uint64_t* color;  ///< null without colour
    int width;
    float widthLimit, heightLimit;  ///< the width and height as floats
    float fx, fy, cx, cy;
    float truncation, inverseTruncation;
};

/// The voxel centres i = first..last of one row in camera coordinates:
/// part + axis * ((i + 0.5 - count / 2) * voxelSize).
struct Row {
    float axis[3];
    float part[3];
    float halfCount;
    float voxelSize;
    int first, last;
};

/// One thread's buffers for a row of voxels, indexed by the voxel's x.
///
/// A row goes through a few simple loops, each of which vectorises: the
/// projection, the look-ups of the pixels (gathers, kept apart from any
/// condition so that no load depends on one), the distances, the colours.
struct RowBuffers {
    explicit RowBuffers(int count)
        : pixel(count),
          rayLength(count),
          observed(count),
          pixelColor(count),
          nonPositive((count + BrickMap::brickSize - 1) & ~(BrickMap::brickSize - 1))
    {
    }

    std::vector<int> pixel;         ///< the pixel the voxel projects onto; 0 outside the view
    std::vector<float> rayLength;   ///< distance of the voxel from the camera; NaN outside the view
    std::vector<float> observed;    ///< the distance to fuse, NaN where the voxel is left alone
    std::vector<std::uint64_t> pixelColor;  ///< the pixel's colour sample
    /// 1 where a distance <= 0 is written, 0 elsewhere; one byte per voxel of
    /// every brick the row touches, so a brick reads as one 64-bit word.
    std::vector<unsigned char> nonPositive;
};
static_assert(BrickMap::brickSize == sizeof(std::uint64_t), "a brick's row of flags is read as one word");

/// Projects every voxel of `row` into the frame: its pixel and its distance
/// from the camera, or pixel 0 and NaN where it is behind the camera or
/// outside the image.
KORVASTEL_VECTOR_CLONES
void projectRow(const FrameView frame, const Row row, int* pixels, float* rayLengths)
{
    const float ax = row.axis[0], ay = row.axis[1], az = row.axis[2];
    const float bx = row.part[0], by = row.part[1], bz = row.part[2];
#pragma omp simd
    for (int i = row.first; i <= row.last; ++i) {
        const float x = (static_cast<float>(i) + 0.5f - row.halfCount) * row.voxelSize;
        const float px = ax * x + bx, py = ay * x + by, pz = az * x + bz;
        const float inverseZ = 1.0f / pz;
        const float uf = px * frame.fx * inverseZ + frame.cx + 0.5f;
        const float vf = py * frame.fy * inverseZ + frame.cy + 0.5f;
        const bool inView =
            (pz > 0.0f) & (uf > -1.0f) & (uf < frame.widthLimit) & (vf > -1.0f) & (vf < frame.heightLimit);
        // Rounded by truncation toward zero, so (-1, 0) still maps to 0.
        pixels[i] = inView ? static_cast<int>(vf) * frame.width + static_cast<int>(uf) : 0;
        rayLengths[i] = inView ? std::sqrt(px * px + (py * py + pz * pz)) : std::numeric_limits<float>::quiet_NaN();
    }
}

/// The truncated distance the frame measures for voxels first..last of a
/// row, or NaN where the voxel is outside the view, its pixel unreliable or
/// without depth, or it lies more than the truncation distance behind the
/// measured surface. Returns the range of voxels with a distance, empty
/// (first > last) when there is none.
KORVASTEL_VECTOR_CLONES
std::pair<int, int> observeRow(const FrameView frame, int first, int last, const int* pixels,
                               const float* rayLengths, float* observed)
{
    int firstFused = std::numeric_limits<int>::max(), lastFused = -1;
#pragma omp simd reduction(min : firstFused) reduction(max : lastFused)
    for (int i = first; i <= last; ++i) {
        const float distance = frame.distance[pixels[i]];
        const float sdf = distance - rayLengths[i];  // NaN outside the view
        const bool fuse = (distance != 0.0f) & (sdf >= -frame.truncation);
        observed[i] = fuse ? std::min(sdf * frame.inverseTruncation, 1.0f) : std::numeric_limits<float>::quiet_NaN();
        firstFused = std::min(firstFused, fuse ? i : std::numeric_limits<int>::max());
        lastFused = std::max(lastFused, fuse ? i : -1);
    }
    return {firstFused, lastFused};
}

/// The colour samples of the pixels of voxels first..last of a row.
KORVASTEL_VECTOR_CLONES
void lookUpColors(const FrameView frame, int first, int last, const int* pixels, std::uint64_t* pixelColors)
{
#pragma omp simd
    for (int i = first; i <= last; ++i)
        pixelColors[i] = frame.color[pixels[i]];
}

/// Moves the distances of voxels first..last of a row (`tsdf` and `weights`
/// start at the row) towards `observed` where it is not NaN, as a running
/// average whose weight stops at `maxWeight`; sets `nonPositive`.
KORVASTEL_VECTOR_CLONES
void fuseRow(const float* observed, int first, int last, int maxWeight, float* tsdf, unsigned char* weights,
             unsigned char* nonPositive)
{
#pragma omp simd simdlen(vectorBlock)
    for (int i = first; i <= last; ++i) {
        const float sample = observed[i];
        const bool fuse = !std::isnan(sample);
        const float old = tsdf[i];
        const int weight = weights[i];
        const float inverseCount = 1.0f / static_cast<float>(weight + 1);
        const float average = (weight * old + sample) * inverseCount;
        const float fused = std::isnan(old) ? sample : average;
        tsdf[i] = fuse ? fused : old;
        weights[i] = static_cast<unsigned char>(fuse ? std::min(weight + 1, maxWeight) : weight);
        nonPositive[i] = fuse & (fused <= 0.0f);
    }
}

/// One channel (byte `shift` / 8) of a colour blend: the pixel's value
/// weighted by `pixelWeight` against the voxel's weighted by `voxelWeight`,
/// truncated; `inverseSum` is 1 / (pixelWeight + voxelWeight).
inline std::uint32_t blendChannel(std::uint32_t pixel, std::uint32_t voxel, int shift, float pixelWeight,
                                  float voxelWeight, float inverseSum)
{
    const auto channel = [shift](std::uint32_t word) { return static_cast<int>((word >> shift) & 255); };
    return static_cast<std::uint32_t>((channel(pixel) * pixelWeight + channel(voxel) * voxelWeight) * inverseSum)
           << shift;
}

/// Blends the pixels' colours into the colour voxels first..last of a row
/// (`colors` starts at the row) wherever `observed` is not NaN: a voxel
/// without colour takes the pixel's; otherwise, unless the surface normal is
/// unknown, each channel moves towards the pixel's by how directly the
/// surface faces the camera (|normal z|) against the colour weight, which
/// grows up to its cap.
KORVASTEL_VECTOR_CLONES
void blendRow(const float* observed, const std::uint64_t* pixelColors, int first, int last, unsigned char* colors)
{
#pragma omp simd
    for (int i = first; i <= last; ++i) {
        const std::uint32_t pixel = sampleColor(pixelColors[i]);
        const float facing = sampleFacing(pixelColors[i]);
        std::uint32_t voxel;
        std::memcpy(&voxel, colors + 4 * i, sizeof(voxel));
        const int colorWeight = static_cast<int>(voxel >> 24);
        const bool fresh = colorWeight == 0;
        const bool blend = (!std::isnan(observed[i])) & (fresh | (!std::isnan(facing)));
        // Every lane computes the blend; where it is not taken, weights that
        // keep it finite.
        const bool average = blend & !fresh;
        const float pixelWeight = average ? facing : 0.0f;
        const float voxelWeight = average ? static_cast<float>(colorWeight) : 1.0f;
        const float inverseSum = 1.0f / (pixelWeight + voxelWeight);
        const std::uint32_t blended =
            blendChannel(pixel, voxel, 0, pixelWeight, voxelWeight, inverseSum) |
            blendChannel(pixel, voxel, 8, pixelWeight, voxelWeight, inverseSum) |
            blendChannel(pixel, voxel, 16, pixelWeight, voxelWeight, inverseSum) |
            static_cast<std::uint32_t>(std::min(colorWeight + 1, maxColorWeight)) << 24;
        const std::uint32_t result = blend ? (fresh ? pixel | 1u << 24 : blended) : voxel;
        std::memcpy(colors + 4 * i, &result, sizeof(result));
    }
}

/// Widens first..last to whole blocks of `vectorBlock` voxels of a row of n.
void widenToBlocks(int n, int& first, int& last)
{
    first &= ~(vectorBlock - 1);
    last = std::min(last | (vectorBlock - 1), n - 1);
}

/// Marks the bricks of row (j, k) that got a distance <= 0 among voxels
/// first..last, from the row's `nonPositive` flags. Most of them are marked
/// already: only a brick not yet marked is written, so that the threads
/// working in one layer of bricks do not keep taking its marks' cache lines
/// from each other.
void markBricks(unsigned char* nonPositive, int first, int last, int j, int k, BrickMap& bricks)
{
    constexpr int size = BrickMap::brickSize;
    const int begin = first & ~(size - 1), end = (last | (size - 1)) + 1;
    std::fill(nonPositive + begin, nonPositive + first, 0);
    std::fill(nonPositive + last + 1, nonPositive + end, 0);
    for (int i = begin; i < end; i += size) {
        std::uint64_t flags;
        std::memcpy(&flags, nonPositive + i, sizeof(flags));
        if (flags != 0 && !bricks.isMarked(i, j, k))
            bricks.mark(i, j, k);
    }
}

/// The factor from depth to ray distance of each pixel: its square is
/// (a^2 + 1) + b^2, with a depending on the column only and b on the row only.
class RayFactors {
public:
    RayFactors(int width, const Eigen::Matrix3f& intrinsics)
        : m_columnPart(width), m_fy(intrinsics(1, 1)), m_cy(intrinsics(1, 2))
    {
        const float fx = intrinsics(0, 0), cx = intrinsics(0, 2);
        for (int u = 0; u < width; ++u) {
            const float a = (static_cast<float>(u) - cx) / fx;
            m_columnPart[u] = a * a + 1.0f;
        }
    }

    /// Ray distances of row v of a depth image, `in` and `out` at the row.
    void convertRow(int v, const unsigned short* in, unsigned short* out) const
    {
        const float b = (static_cast<float>(v) - m_cy) / m_fy;
        const float rowPart = b * b;
        const float* columnPart = m_columnPart.data();
        const int w = static_cast<int>(m_columnPart.size());
#pragma omp simd
        for (int u = 0; u < w; ++u) {
            const float factor = std::sqrt(columnPart[u] + rowPart);
            // Rounded: truncation would pull every fused surface half a
            // millimetre towards the camera. Far depths at the image corners
            // would exceed 16 bits; the clamp still marks everything nearer
            // than 65535 mm as free space.
            out[u] = static_cast<unsigned short>(std::min(factor * static_cast<float>(in[u]) + 0.5f, 65535.0f));
        }
    }

private:
    std::vector<float> m_columnPart;
    float m_fy, m_cy;
};

/// One thread's window for the discontinuity mask, row by row.
///
/// A pixel passes when both the smallest and the largest depth of its window
/// lie within the step of its own: the window's extremes come from those of
/// its columns, taken row by row. The column extremes are padded with values
/// that never win, so the window is clipped at the border.
class MaskWindow {
public:
    explicit MaskWindow(int width)
        : m_lowest(width + 2 * windowRadius, neverLowest), m_highest(width + 2 * windowRadius, neverHighest)
    {
    }

    /// Row y of the mask of `depth` into `out` (at the row).
    void maskRow(const TypedImage<unsigned short>& depth, int y, unsigned char* out)
    {
        const int w = depth.width, h = depth.height;
        const unsigned short* d = depth.typedData();
        unsigned short* low = m_lowest.data() + windowRadius;
        unsigned short* high = m_highest.data() + windowRadius;
        const int firstRow = std::max(y - windowRadius, 0), lastRow = std::min(y + windowRadius, h - 1);
        std::copy(d + firstRow * w, d + (firstRow + 1) * w, low);
        std::copy(d + firstRow * w, d + (firstRow + 1) * w, high);
        for (int row = firstRow + 1; row <= lastRow; ++row) {
            const unsigned short* line = d + row * w;
#pragma omp simd
            for (int x = 0; x < w; ++x) {
                low[x] = std::min(low[x], line[x]);
                high[x] = std::max(high[x], line[x]);
            }
        }
        const unsigned short* line = d + y * w;
#pragma omp simd
        for (int x = 0; x < w; ++x) {
            unsigned short windowLow = low[x - windowRadius], windowHigh = high[x - windowRadius];
            for (int dx = 1 - windowRadius; dx <= windowRadius; ++dx) {
                windowLow = std::min(windowLow, low[x + dx]);
                windowHigh = std::max(windowHigh, high[x + dx]);
            }
            const int d0 = line[x];
            const bool reliable = (d0 != 0) & (static_cast<float>(windowHigh - d0) <= discontinuityStep) &
                                  (static_cast<float>(d0 - windowLow) <= discontinuityStep);
            out[x] = reliable ? 255 : 0;
        }
    }

private:
    static constexpr unsigned short neverLowest = std::numeric_limits<unsigned short>::max();
    static constexpr unsigned short neverHighest = 0;
    std::vector<unsigned short> m_lowest, m_highest;
};

/// Samples of the n pixels from `rayDistance`, `reliable`, `rgb` and
/// `normals` (each at the first of them; the last two null without colour).
void sampleRow(int n, const unsigned short* rayDistance, const unsigned char* reliable, const unsigned char* rgb,
               const float* normals, float* distance, std::uint64_t* color)
{
    for (int p = 0; p < n; ++p)
        distance[p] = reliable[p] != 0 ? rayDistance[p] : 0.0f;
    if (color)
        for (int p = 0; p < n; ++p)
            color[p] = colorSample(rgb + 3 * p, normals[3 * p + 2]);
}

}  // namespace

void computeRayDistance(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& intrinsics,
                        TypedImage<unsigned short>& rayDistance)
{
    const int w = depth.width;
    const RayFactors factors(w, intrinsics);
#pragma omp parallel for schedule(static)
    for (int v = 0; v < depth.height; ++v)
        factors.convertRow(v, depth.typedData() + static_cast<std::size_t>(v) * w,
                           rayDistance.typedData() + static_cast<std::size_t>(v) * w);
}

void computeDiscontinuityMask(const TypedImage<unsigned short>& depth, TypedImage<unsigned char>& mask)
{
#pragma omp parallel
    {
        MaskWindow window(depth.width);
#pragma omp for schedule(static)
        for (int y = 0; y < depth.height; ++y)
            window.maskRow(depth, y, mask.typedData() + static_cast<std::size_t>(y) * depth.width);
    }
}

void FrameSamples::resize(int width, int height, bool withColor)
{
    const std::size_t count = static_cast<std::size_t>(width) * height;
    m_width = width;
    m_height = height;
    m_hasColor = withColor;
    m_distance.resize(count);
    if (withColor)
        m_color.resize(count);
}

void FrameSamples::sample(const FrameInput& frame)
{
    const int w = frame.rayDistance->width;
    resize(w, frame.rayDistance->height, frame.color != nullptr);
    const unsigned char* rgb = m_hasColor ? frame.color->typedData() : nullptr;
    const float* normals = m_hasColor ? frame.normals->typedData() : nullptr;
    std::uint64_t* color = m_hasColor ? m_color.data() : nullptr;
#pragma omp parallel for schedule(static)
    for (int v = 0; v < m_height; ++v) {
        const std::size_t p = static_cast<std::size_t>(v) * w;
        sampleRow(w, frame.rayDistance->typedData() + p, frame.reliable->typedData() + p, rgb ? rgb + 3 * p : nullptr,
                  normals ? normals + 3 * p : nullptr, m_distance.data() + p, color ? color + p : nullptr);
    }
}

void FrameSamples::sample(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& intrinsics,
                          const TypedImage<unsigned char>* color, const TypedImage<float>* normals,
                          TypedImage<unsigned char>& mask)
{
    const int w = depth.width;
    resize(w, depth.height, color != nullptr);
    const RayFactors factors(w, intrinsics);
    const unsigned char* rgb = m_hasColor ? color->typedData() : nullptr;
    const float* normalData = m_hasColor ? normals->typedData() : nullptr;
    std::uint64_t* colorSamples = m_hasColor ? m_color.data() : nullptr;
#pragma omp parallel
    {
        MaskWindow window(w);
        std::vector<unsigned short> rayDistance(w);
#pragma omp for schedule(static)
        for (int v = 0; v < m_height; ++v) {
            const std::size_t p = static_cast<std::size_t>(v) * w;
            factors.convertRow(v, depth.typedData() + p, rayDistance.data());
            window.maskRow(depth, v, mask.typedData() + p);
            sampleRow(w, rayDistance.data(), mask.typedData() + p, rgb ? rgb + 3 * p : nullptr,
                      normalData ? normalData + 3 * p : nullptr, m_distance.data() + p,
                      colorSamples ? colorSamples + p : nullptr);
        }
    }
}

void updateVolume(const VolumeGeometry& volume, const FrameInput& frame, const Settings& settings,
                  const Volumes& volumes)
{
    FrameInput sampled = frame;
    if (!volumes.color)
        sampled.color = nullptr;
    FrameSamples samples;
    samples.sample(sampled);
    updateVolume(volume, samples, settings, volumes);
}

void updateVolume(const VolumeGeometry& volume, const FrameSamples& samples, const Settings& settings,
                  const Volumes& volumes)
{
    const int nx = volume.resolution[0], ny = volume.resolution[1], nz = volume.resolution[2];
    const float sx = volume.voxelSize[0], sy = volume.voxelSize[1], sz = volume.voxelSize[2];
    const int w = samples.width();
    const int h = samples.height();
    const Eigen::Matrix3f r = settings.pose.topLeftCorner<3, 3>();
    const Eigen::Vector3f t = settings.pose.topRightCorner<3, 1>();
    unsigned char* colors = volumes.color && samples.color() ? volumes.color->typedData() : nullptr;
    const FrameView view{samples.distance(),
                         samples.color(),
                         w,
                         static_cast<float>(w),
                         static_cast<float>(h),
                         settings.intrinsics(0, 0),
                         settings.intrinsics(1, 1),
                         settings.intrinsics(0, 2),
                         settings.intrinsics(1, 2),
                         settings.truncation,
                         1.0f / settings.truncation};

    Eigen::Matrix3d axes;
    for (int a = 0; a < 3; ++a)
        axes.col(a) = r.col(a).cast<double>() * volume.voxelSize[a];
    const Eigen::Vector3d firstVoxel(0.5 - nx / 2.0, 0.5 - ny / 2.0, 0.5 - nz / 2.0);
    const ViewRows viewRows(axes, axes * firstVoxel + t.cast<double>(), settings.intrinsics, w, h, nx);

    // One z-slab per task: a slab is one contiguous block of each volume, so
    // every thread streams through memory; inside it the walk runs over y,
    // then x, and the y and z parts of the camera point are computed once per
    // row. Only the part of a row in view is visited, in passes over the row
    // that vectorise: projection, distances, colours, bricks.
#pragma omp parallel
    {
        RowBuffers buffers(nx);
#pragma omp for schedule(dynamic, 1)
        for (int k = 0; k < nz; ++k) {
            const float z = static_cast<float>(k) * sz + (0.5f - nz / 2.0f) * sz;
            for (int j = 0; j < ny; ++j) {
                int inViewFirst, inViewLast;
                viewRows.range(j, k, inViewFirst, inViewLast);
                if (inViewFirst > inViewLast)
                    continue;
                const float y = (static_cast<float>(j) + 0.5f - ny / 2.0f) * sy;
                const Eigen::Vector3f rowPart = r.col(1) * y + r.col(2) * z + t;
                Row row{{r(0, 0), r(1, 0), r(2, 0)}, {rowPart.x(), rowPart.y(), rowPart.z()}, nx / 2.0f, sx,
                        inViewFirst, inViewLast};
                widenToBlocks(nx, row.first, row.last);
                const std::size_t rowStart = static_cast<std::size_t>(nx) * (j + static_cast<std::size_t>(ny) * k);
                int* pixels = buffers.pixel.data();
                float* observed = buffers.observed.data();
                projectRow(view, row, pixels, buffers.rayLength.data());
                // Usually a row is fused from where it enters the view to a
                // little behind the surface; only that part is read and written.
                auto [first, last] =
                    observeRow(view, row.first, row.last, pixels, buffers.rayLength.data(), observed);
                if (first > last)
                    continue;
                widenToBlocks(nx, first, last);
                fuseRow(observed, first, last, settings.maxWeight, volumes.tsdf->typedData() + rowStart,
                        volumes.weight->typedData() + rowStart, buffers.nonPositive.data());
                if (colors) {
                    lookUpColors(view, first, last, pixels, buffers.pixelColor.data());
                    blendRow(observed, buffers.pixelColor.data(), first, last, colors + 4 * rowStart);
                }
                if (volumes.bricks)
                    markBricks(buffers.nonPositive.data(), first, last, j, k, *volumes.bricks);
            }
        }
    }
}

}  // namespace Veltrane::VolumeIntegration
