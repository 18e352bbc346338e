#include "reconstruction/SurfacePrediction.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorMap.h"

#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace Veltrane::SurfacePrediction {

namespace {

using FusionConstants::numericGuard;

inline std::size_t voxelIndex(const std::array<int, 3>& n, const int voxel[3])
{
    return static_cast<std::size_t>(voxel[0]) +
           static_cast<std::size_t>(n[0]) * (voxel[1] + static_cast<std::size_t>(n[1]) * voxel[2]);
}

/// Index of the voxel nearest to the continuous position `u`, which lies in
/// the volume box (-0.5 .. n - 0.5 per axis, give or take rounding); the
/// voxel's coordinates in `voxel`.
inline std::size_t nearestVoxel(const std::array<int, 3>& n, const Eigen::Vector3f& u, int voxel[3])
{
    // Above -1 the truncating conversion of u + 0.5 is the floor clamped at
    // 0; only the box's far faces need clamping.
    for (int a = 0; a < 3; ++a)
        voxel[a] = std::min(static_cast<int>(u[a] + 0.5f), n[a] - 1);
    return voxelIndex(n, voxel);
}

inline std::size_t nearestVoxel(const std::array<int, 3>& n, const Eigen::Vector3f& u)
{
    int voxel[3];
    return nearestVoxel(n, u, voxel);
}

/// Whether the position u and the `extra` grid cells beyond it along each
/// axis lie inside the voxel grid, so that the floor of u is its truncation
/// and no corner needs clamping.
inline bool insideCells(const std::array<int, 3>& n, const Eigen::Vector3f& u, int extra)
{
    return u[0] >= 0.0f && u[1] >= 0.0f && u[2] >= 0.0f && u[0] < static_cast<float>(n[0] - extra) &&
           u[1] < static_cast<float>(n[1] - extra) && u[2] < static_cast<float>(n[2] - extra);
}

/// Trilinear blend of the cell whose first corner is `v`, with `dx`, `dy`
/// and `dz` the offsets to its neighbours and `f` the weights along x, y and z.
inline float blendCell(const float* v, std::size_t dx, std::size_t dy, std::size_t dz, const float f[3])
{
    // The weights of a plane's four corners, the same in both planes.
    const float w00 = (1 - f[0]) * (1 - f[1]), w10 = f[0] * (1 - f[1]);
    const float w01 = (1 - f[0]) * f[1], w11 = f[0] * f[1];
    const auto plane = [&](const float* p) {
        return (p[0] * w00 + p[dx] * w10) + (p[dy] * w01 + p[dx + dy] * w11);
    };
    return plane(v) * (1 - f[2]) + plane(v + dz) * f[2];
}

/// The body of `interpolateTsdf`, inlined where the ray cast refines.
inline float trilinear(const float* tsdf, const std::array<int, 3>& n, const Eigen::Vector3f& u)
{
    const std::size_t rowStride = static_cast<std::size_t>(n[0]);
    const std::size_t sliceStride = rowStride * static_cast<std::size_t>(n[1]);
    float f[3];
    // Inside the voxel grid, where most positions are, the floor is the
    // truncation and neither neighbour needs clamping; the general path gives
    // the same corners there.
    if (insideCells(n, u, 1)) {
        const int i = static_cast<int>(u[0]), j = static_cast<int>(u[1]), k = static_cast<int>(u[2]);
        f[0] = u[0] - static_cast<float>(i);
        f[1] = u[1] - static_cast<float>(j);
        f[2] = u[2] - static_cast<float>(k);
        return blendCell(tsdf + i + rowStride * j + sliceStride * k, 1, rowStride, sliceStride, f);
    }
    int lo[3];
    std::size_t step[3];  // from a corner to its neighbour, 0 at the volume's edge
    const std::size_t strides[3] = {1, rowStride, sliceStride};
    for (int a = 0; a < 3; ++a) {
        // Clamped to -1 .. n first, the truncating conversion and one
        // correction give the floor without a library call.
        const float clamped = std::clamp(u[a], -1.0f, static_cast<float>(n[a]));
        int below = static_cast<int>(clamped);
        below -= static_cast<float>(below) > clamped;
        lo[a] = std::clamp(below, 0, n[a] - 1);
        step[a] = (std::clamp(below + 1, 0, n[a] - 1) - lo[a]) * strides[a];
        f[a] = u[a] - static_cast<float>(lo[a]);
    }
    return blendCell(tsdf + lo[0] + rowStride * lo[1] + sliceStride * lo[2], step[0], step[1], step[2], f);
}

/// The part of a ray c + t d inside the volume box, in voxel positions.
struct RaySegment {
    Eigen::Vector3f start;             ///< c + tStart d
    Eigen::Vector3f direction;         ///< d
    Eigen::Vector3f inverseDirection;  ///< 1 / d per axis, infinite where d is 0
    float tStart;
    float tEnd;
};

/// Slab test of the ray c + t d against the box `low` .. `high`; no segment
/// when it misses or the limits are undefined. A ray from inside the box
/// starts at c.
bool clipToBox(const Eigen::Vector3f& c, const Eigen::Vector3f& d, const Eigen::Vector3f& low,
               const Eigen::Vector3f& high, RaySegment& segment)
{
    float tNear = -std::numeric_limits<float>::infinity();
    float tFar = std::numeric_limits<float>::infinity();
    for (int a = 0; a < 3; ++a) {
        const float inv = 1.0f / d[a];
        const float t1 = (low[a] - c[a]) * inv;
        const float t2 = (high[a] - c[a]) * inv;
        if (std::isnan(t1) || std::isnan(t2))
            return false;
        tNear = std::max(tNear, std::min(t1, t2));
        tFar = std::min(tFar, std::max(t1, t2));
        segment.inverseDirection[a] = inv;
    }
    // An infinite far end only comes from a zero direction.
    if (tFar <= tNear || tFar <= 0.0f || std::isinf(tFar))
        return false;
    segment.tStart = std::max(tNear, 0.0f);
    segment.tEnd = tFar;
    segment.start = tNear < 0.0f ? c : Eigen::Vector3f(c + tNear * d);
    segment.direction = d;
    return true;
}

/// Per tile of 8 x 8 pixels, a camera depth (mm) in front of which no ray of
/// the tile meets a brick marked in the map: the march of those rays can
/// start there. The depth is the nearest corner of the marked bricks whose
/// projection may cover the tile; 0 everywhere when a marked brick comes
/// within a millimetre of the camera plane. Bricks wholly behind the camera
/// do not count. The bricks are projected in parallel.
class MarkedBrickDepth {
public:
    /// For pixels (x, y) of `width` x `height` that see the point p of the
    /// volume at a p + b = depth (x, y, 1).
    MarkedBrickDepth(const BrickMap& bricks, const VolumeGeometry& volume, const Eigen::Matrix3f& a,
                     const Eigen::Vector3f& b, int width, int height)
        : m_tilesX((width + tileSize - 1) >> tileShift),
          m_depth(static_cast<std::size_t>(m_tilesX) * ((height + tileSize - 1) >> tileShift),
                  std::numeric_limits<float>::infinity())
    {
        const std::array<int, 3>& n = bricks.bricks();
        bool nearCamera = false;
#pragma omp parallel
        {
            // Each thread's bricks lower its own copy; the copies' minimum
            // is the same whoever projected which brick.
            std::vector<float> depth(m_depth.size(), std::numeric_limits<float>::infinity());
            bool near = false;
#pragma omp for schedule(dynamic, 8) nowait
            for (int row = 0; row < n[1] * n[2]; ++row) {
                const int by = row % n[1], bz = row / n[1];
                for (int bx = 0; bx < n[0] && !near; ++bx)
                    near = bricks.isBrickMarked(bx, by, bz) &&
                           !addBrick({bx, by, bz}, volume, a, b, width, height, depth);
            }
#pragma omp critical
            {
                nearCamera = nearCamera || near;
                for (std::size_t t = 0; t < depth.size(); ++t)
                    m_depth[t] = std::min(m_depth[t], depth[t]);
            }
        }
        if (nearCamera)
            std::fill(m_depth.begin(), m_depth.end(), 0.0f);
    }

    float at(int x, int y) const
    {
        return m_depth[static_cast<std::size_t>(y >> tileShift) * m_tilesX + (x >> tileShift)];
    }

private:
    static constexpr int tileShift = 3;
    static constexpr int tileSize = 1 << tileShift;
    /// Widens the brick's box against the rounding of sample positions (voxels).
    static constexpr float boxMargin = 0.05f;
    /// Bricks nearer to the camera plane than this (mm) may cover the whole
    /// frame.
    static constexpr float nearestDepth = 1.0f;

    /// Lowers the depth of the tiles the brick's projection may cover in
    /// `tileDepths`; false when the brick comes nearer to the camera plane
    /// than `nearestDepth` without lying wholly behind it.
    bool addBrick(const std::array<int, 3>& brick, const VolumeGeometry& volume, const Eigen::Matrix3f& a,
                  const Eigen::Vector3f& b, int width, int height, std::vector<float>& tileDepths) const
    {
        // The voxel positions whose nearest voxel lies in the brick.
        Eigen::Vector3f low, high;
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = static_cast<float>(brick[axis] * BrickMap::brickSize) - 0.5f - boxMargin;
            high[axis] = static_cast<float>(std::min((brick[axis] + 1) * BrickMap::brickSize, volume.resolution[axis])) -
                         0.5f + boxMargin;
        }
        Eigen::Vector3f corners[8];  // depth times (x, y, 1)
        float depth = std::numeric_limits<float>::infinity();
        float farthest = -depth;
        for (int corner = 0; corner < 8; ++corner) {
            const Eigen::Vector3f u(corner & 1 ? high[0] : low[0], corner & 2 ? high[1] : low[1],
                                    corner & 4 ? high[2] : low[2]);
            corners[corner] = a * volume.toVolume(u) + b;
            depth = std::min(depth, corners[corner].z());
            farthest = std::max(farthest, corners[corner].z());
        }
        if (farthest < 0.0f)
            return true;  // behind the camera, out of every ray's reach
        if (!(depth > nearestDepth))
            return false;
        Eigen::Vector2f pixelLow = Eigen::Vector2f::Constant(std::numeric_limits<float>::infinity());
        Eigen::Vector2f pixelHigh = -pixelLow;
        for (const Eigen::Vector3f& q : corners) {
            const Eigen::Vector2f pixel = q.head<2>() / q.z();
            pixelLow = pixelLow.cwiseMin(pixel);
            pixelHigh = pixelHigh.cwiseMax(pixel);
        }
        // A pixel of margin against rounding; the clamp keeps the conversion
        // to int defined.
        const auto tile = [](float pixel, int size) {
            return static_cast<int>(std::clamp(pixel, 0.0f, static_cast<float>(size - 1))) >> tileShift;
        };
        if (pixelHigh.x() < -1.0f || pixelHigh.y() < -1.0f || pixelLow.x() > width || pixelLow.y() > height)
            return true;  // outside the frame
        const int x0 = tile(pixelLow.x() - 1.0f, width), x1 = tile(pixelHigh.x() + 1.0f, width);
        const int y0 = tile(pixelLow.y() - 1.0f, height), y1 = tile(pixelHigh.y() + 1.0f, height);
        for (int ty = y0; ty <= y1; ++ty)
            for (int tx = x0; tx <= x1; ++tx) {
                float& tileDepth = tileDepths[static_cast<std::size_t>(ty) * m_tilesX + tx];
                tileDepth = std::min(tileDepth, depth);
            }
        return true;
    }

    int m_tilesX;
    std::vector<float> m_depth;
};

struct Hit {
    Eigen::Vector3f position;  ///< voxel position of the zero crossing
    Eigen::Vector3f normal;    ///< unit, towards free space
};

class RayCaster {
public:
    RayCaster(const VolumeGeometry& volume, const float* tsdf, const BrickMap* bricks, float coarseStep,
              float fineStep)
        : m_volume(volume),
          m_tsdf(tsdf),
          m_bricks(bricks),
          m_rowStride(static_cast<std::size_t>(volume.resolution[0])),
          m_sliceStride(m_rowStride * static_cast<std::size_t>(volume.resolution[1])),
          m_coarseStep(coarseStep),
          m_inverseCoarseStep(1.0f / coarseStep),
          m_fineStep(fineStep)
    {
    }

    /// First crossing from positive to negative along `ray`, sampled at the
    /// nearest voxels of start + k step (steps of the coarse length) for k = 0,
    /// 1, ... while k step is shorter than the segment by at least a step.
    /// With the brick map, `clearDepth` is a ray parameter before which no
    /// sample lies in a marked brick.
    bool cast(const RaySegment& ray, float clearDepth, Hit& hit) const
    {
        const float speed = ray.direction.norm();  // voxels per unit of the ray parameter
        const int steps = static_cast<int>((ray.tEnd - ray.tStart) * speed * m_inverseCoarseStep);
        if (steps < 2)
            return false;
        const Eigen::Vector3f step = (m_coarseStep / speed) * ray.direction;
        const auto position = [&](int k) { return Eigen::Vector3f(ray.start + static_cast<float>(k) * step); };
        const BrickMap::SampleStep brickStep(step, (speed * m_inverseCoarseStep) * ray.inverseDirection);
        // Samples before the first one that may be in a marked brick.
        const float clearSamples = ((clearDepth - ray.tStart) * speed - depthMargin) * m_inverseCoarseStep;
        const int firstUnknown =
            clearSamples > 0.0f ? static_cast<int>(std::min(clearSamples, static_cast<float>(steps))) + 1 : 0;

        float previous = m_tsdf[nearestVoxel(m_volume.resolution, ray.start)];
        for (int k = 1; k < steps;) {
            const Eigen::Vector3f p = position(k);
            int voxel[3];
            const std::size_t index = nearestVoxel(m_volume.resolution, p, voxel);
            if (m_bricks && !(previous < 0.0f)) {
                // The samples before the clear depth and those in unmarked
                // bricks are unobserved or positive: from a previous value
                // that is not negative none of them ends the march, and only
                // the last one matters. When they reach the last sample,
                // nothing is left to find.
                const int run = k < firstUnknown ? firstUnknown - k : m_bricks->unmarkedSamples(p, voxel, brickStep);
                if (run > 0) {
                    const int last = lastUnmarkedSample(k + run, steps, brickStep, position);
                    if (last >= steps - 1)
                        return false;
                    previous = m_tsdf[nearestVoxel(m_volume.resolution, position(last))];
                    k = last + 1;
                    continue;
                }
            }
            const float f = m_tsdf[index];
            if (previous >= 0.0f && f <= 0.0f) {
                hit.position = refine(position(k - 1), p);
                return normalAt(hit.position, hit.normal);
            }
            if (previous < 0.0f && f > 0.0f)
                return false;  // left the back of a surface
            previous = f;
            ++k;
        }
        return false;
    }

private:
    /// Margin (voxels) of the clear part of a ray against rounding.
    static constexpr float depthMargin = 0.1f;

    /// The last sample before the first one from `next` on that may lie in a
    /// marked brick, as the map tells; samples before `next` are known not to;
    /// at most `steps` - 1.
    template <typename Position>
    int lastUnmarkedSample(int next, int steps, const BrickMap::SampleStep& brickStep, const Position& position) const
    {
        while (next < steps) {
            const int run = m_bricks->unmarkedSamples(position(next), brickStep);
            if (run == 0)
                break;
            next += run;
        }
        return std::min(next, steps) - 1;
    }

    float at(const Eigen::Vector3f& u) const
    {
        return trilinear(m_tsdf, m_volume.resolution, u);
    }

    /// The zero crossing between `a` (in front) and `b` (behind): three
    /// bisections, then linear interpolation.
    Eigen::Vector3f refine(Eigen::Vector3f a, Eigen::Vector3f b) const
    {
        float fa = at(a);
        float fb = at(b);
        for (int i = 0; i < 3; ++i) {
            const Eigen::Vector3f m = 0.5f * (a + b);
            const float fm = at(m);
            if (fm < 0.0f) {
                b = m;
                fb = fm;
            } else {
                a = m;
                fa = fm;
            }
        }
        const double difference = static_cast<double>(fb) - static_cast<double>(fa);
        const float t = std::abs(difference) > numericGuard ? -fa / (fb - fa) : 0.5f;
        return a + t * (b - a);
    }

    /// Unit gradient of the distance at `u`, by forward differences over the
    /// fine step.
    bool normalAt(const Eigen::Vector3f& u, Eigen::Vector3f& normal) const
    {
        float f[4];  // at u and a fine step beyond it along x, y and z
        if (!(m_fineStep == 1.0f && distancesOnGrid(u, f))) {
            f[0] = at(u);
            for (int a = 0; a < 3; ++a)
                f[1 + a] = at(u + m_fineStep * Eigen::Vector3f::Unit(a));
        }
        const Eigen::Vector3f g(f[1] - f[0], f[2] - f[0], f[3] - f[0]);
        const float length = g.norm();
        if (VectorMap::isInvalid(g) || !(length >= numericGuard))
            return false;
        normal = g / length;
        return true;
    }

    /// The distances at u and one voxel beyond it along x, y and z, when all
    /// four cells lie inside the grid: with the same weights, from shared
    /// corners.
    bool distancesOnGrid(const Eigen::Vector3f& u, float values[4]) const
    {
        if (!insideCells(m_volume.resolution, u, 2))
            return false;
        const int i = static_cast<int>(u[0]), j = static_cast<int>(u[1]), k = static_cast<int>(u[2]);
        const float f[3] = {u[0] - static_cast<float>(i), u[1] - static_cast<float>(j), u[2] - static_cast<float>(k)};
        const float* corner = m_tsdf + i + m_rowStride * j + m_sliceStride * k;
        const std::size_t neighbours[4] = {0, 1, m_rowStride, m_sliceStride};
        for (int c = 0; c < 4; ++c)
            values[c] = blendCell(corner + neighbours[c], 1, m_rowStride, m_sliceStride, f);
        return true;
    }

    const VolumeGeometry& m_volume;
    const float* m_tsdf;
    const BrickMap* m_bricks;
    std::size_t m_rowStride;
    std::size_t m_sliceStride;
    float m_coarseStep;
    float m_inverseCoarseStep;
    float m_fineStep;
};

/// What an invalid vector in a downsampling window does.
enum class InvalidSample {
    VoidsTheWindow,  ///< the mean is invalid (vertices)
    IsSkipped,       ///< the mean is over the valid ones (normals)
};

/// Row y of the half-size map of `map`: per vector the mean of the 3 x 3
/// vectors around (2x, 2y), without re-normalising; invalid where the window
/// holds no valid vector, or by `rule` where it holds an invalid one.
void downsampleRow(const TypedImage<float>& map, TypedImage<float>& half, int y, InvalidSample rule)
{
    const int w = map.width;
    const int h = map.height;
    for (int x = 0; x < half.width; ++x) {
        Eigen::Vector3f sum = Eigen::Vector3f::Zero();
        int count = 0;
        bool valid = true;
        for (int yy = std::max(2 * y - 1, 0); valid && yy <= std::min(h - 1, 2 * y + 1); ++yy)
            for (int xx = std::max(2 * x - 1, 0); xx <= std::min(w - 1, 2 * x + 1); ++xx) {
                const Eigen::Vector3f s = VectorMap::at(map, xx, yy);
                if (VectorMap::isInvalid(s)) {
                    if (rule == InvalidSample::IsSkipped)
                        continue;
                    valid = false;
                    break;
                }
                sum += s;
                ++count;
            }
        VectorMap::at(half, x, y) = valid && count > 0 ? Eigen::Vector3f(sum * (1.0f / count)) : VectorMap::invalid();
    }
}

/// Grey of the background in row y of h rows: 55 at the top, 95 at the bottom.
unsigned char backgroundGrey(int y, int h)
{
    const float s = h > 1 ? static_cast<float>(y) / static_cast<float>(h - 1) : 0.0f;
    return static_cast<unsigned char>((1.0f - s) * 55.0f + s * 95.0f);
}

/// v / 255 for every byte value v: colour channels as fractions.
const std::array<float, 256>& channelFractions()
{
    static const std::array<float, 256> fractions = [] {
        std::array<float, 256> table{};
        for (int v = 0; v < 256; ++v)
            table[v] = static_cast<float>(v) / 255.0f;
        return table;
    }();
    return fractions;
}

}  // namespace

float interpolateTsdf(const float* tsdf, const std::array<int, 3>& n, const Eigen::Vector3f& u)
{
    return trilinear(tsdf, n, u);
}

void raycast(const VolumeGeometry& volume, const TypedImage<float>& tsdf,
             const TypedImage<unsigned char>* color, const RaycastSettings& settings,
             const RaycastOutput& output, const BrickMap* bricks)
{
    const Eigen::Matrix3f a = settings.intrinsics * settings.pose.topLeftCorner<3, 3>();
    const Eigen::Vector3f b = settings.intrinsics * settings.pose.topRightCorner<3, 1>();
    const Eigen::Matrix3f aInverse = a.inverse();
    const Eigen::Vector3f eye = -aInverse * b;  // camera centre, volume coordinates

    // Rays are followed in voxel positions, clipped to the volume box.
    const Eigen::Vector3f eyeVoxel = volume.toVoxel(eye);
    const Eigen::Matrix3f pixelToVoxelDirection = volume.voxelSize.cwiseInverse().asDiagonal() * aInverse;
    const Eigen::Vector3f boxLow = Eigen::Vector3f::Constant(-0.5f);
    const Eigen::Vector3f boxHigh(volume.resolution[0] - 0.5f, volume.resolution[1] - 0.5f,
                                  volume.resolution[2] - 0.5f);

    const float coarseStep = settings.stepFactor * settings.truncationFactor;
    const float fineStep = 4.0f * coarseStep / std::ceil(4.0f * coarseStep);
    const RayCaster caster(volume, tsdf.typedData(), bricks, coarseStep, fineStep);
    const bool colored = color && settings.showColor;
    const std::array<float, 256>& fractions = channelFractions();
    const int w = output.scene->width;
    const int h = output.scene->height;
    std::optional<MarkedBrickDepth> depthBound;
    if (bricks)
        depthBound.emplace(*bricks, volume, a, b, w, h);
    // Runs of neighbouring rows per thread, long at first and shorter towards
    // the end for the balance: neighbouring rays read neighbouring voxels,
    // which a thread finds in its cache when it has cast the rows before.
#pragma omp parallel for schedule(guided, 2)
    for (int y = 0; y < h; ++y) {
        const unsigned char grey = backgroundGrey(y, h);
        const Eigen::Vector3f rowDirection = pixelToVoxelDirection * Eigen::Vector3f(0.0f, static_cast<float>(y), 1.0f);
        for (int x = 0; x < w; ++x) {
            const Eigen::Vector3f d = rowDirection + static_cast<float>(x) * pixelToVoxelDirection.col(0);
            RaySegment ray;
            Hit hit;
            if (!clipToBox(eyeVoxel, d, boxLow, boxHigh, ray) ||
                !caster.cast(ray, depthBound ? depthBound->at(x, y) : 0.0f, hit)) {
                VectorMap::at(*output.vertices, x, y) = VectorMap::invalid();
                VectorMap::at(*output.normals, x, y) = VectorMap::invalid();
                std::memset(output.scene->typedData() + 3 * (static_cast<std::size_t>(y) * w + x), grey, 3);
                output.validMask->typedData()[static_cast<std::size_t>(y) * w + x] = 0;
                continue;
            }
            // A crossing extrapolated from noisy distances may lie outside
            // the volume.
            const Eigen::Vector3f q = volume.toVolume(hit.position);
            VectorMap::at(*output.vertices, x, y) = q;
            VectorMap::at(*output.normals, x, y) = hit.normal;

            const Eigen::Vector3f view = (q - eye).normalized();
            const float shade = 0.2f + 0.8f * std::abs(hit.normal.dot(view));
            Eigen::Vector3f rgb(1.0f, 1.0f, 0.0f);
            if (colored) {
                const std::array<int, 3> nearest = clampedNearestVoxel(volume.resolution, hit.position);
                const unsigned char* voxel = color->typedData() + 4 * voxelIndex(volume.resolution, nearest.data());
                rgb = Eigen::Vector3f(fractions[voxel[0]], fractions[voxel[1]], fractions[voxel[2]]);
            }
            unsigned char* pixel = output.scene->typedData() + 3 * (static_cast<std::size_t>(y) * w + x);
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<unsigned char>(255.0f * rgb[c] * shade);
            output.validMask->typedData()[static_cast<std::size_t>(y) * w + x] = 1;
        }
    }
}

void downsamplePyramid(TypedImage<float>* const* vertices, TypedImage<float>* const* normals, int count)
{
#pragma omp parallel
    for (int l = 1; l < count; ++l) {
        // The loop's closing barrier completes a level before the next reads it.
#pragma omp for schedule(dynamic, 1)
        for (int y = 0; y < vertices[l]->height; ++y) {
            downsampleRow(*vertices[l - 1], *vertices[l], y, InvalidSample::VoidsTheWindow);
            downsampleRow(*normals[l - 1], *normals[l], y, InvalidSample::IsSkipped);
        }
    }
}

}  // namespace Veltrane::SurfacePrediction
