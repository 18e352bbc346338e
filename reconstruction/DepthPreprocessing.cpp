#include "reconstruction/DepthPreprocessing.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorMap.h"

#include <Eigen/LU>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace Veltrane::DepthPreprocessing {

namespace {

using FusionConstants::filterSpatialSigma;
using FusionConstants::normalNeighbourhood;
using FusionConstants::tangentSpan;
constexpr float rangeSigma = FusionConstants::filterDepthSigma;
constexpr int radius = 2;  // the 5 x 5 window

/// The test length(v) < limit without the square root: since the float root
/// is correctly rounded and never decreases, length(v) < limit holds exactly
/// for the squared lengths below the smallest float whose root reaches the
/// limit. NaN components fail the test, as they fail the comparison of the
/// root.
class ShorterThan {
public:
    explicit ShorterThan(float limit) : m_squareLimit(limit * limit)
    {
        while (std::sqrt(m_squareLimit) >= limit)
            m_squareLimit = std::nextafter(m_squareLimit, 0.0f);
        while (std::sqrt(m_squareLimit) < limit)
            m_squareLimit = std::nextafter(m_squareLimit, std::numeric_limits<float>::infinity());
    }
    bool operator()(const Eigen::Vector3f& v) const { return v.squaredNorm() < m_squareLimit; }
    float squareLimit() const { return m_squareLimit; }

private:
    float m_squareLimit;  ///< the smallest squared length whose root is not below the limit
};

/// Weights of the bilateral filter, exp(-0.5 (r^2 / spatialSigma^2 + dd^2 /
/// rangeSigma^2)) split into a spatial table over the window and a range table
/// over whole-millimetre depth differences (beyond its end the weight is 0 in
/// float).
class BilateralWeights {
public:
    BilateralWeights()
    {
        for (int dy = -radius; dy <= radius; ++dy)
            for (int dx = -radius; dx <= radius; ++dx)
                m_spatial[dy + radius][dx + radius] = weight(static_cast<float>(dx * dx + dy * dy) /
                                                             (filterSpatialSigma * filterSpatialSigma));
        for (int dd = 0; dd < rangeEntries; ++dd)
            m_range[dd] = weight(static_cast<float>(dd) * static_cast<float>(dd) / (rangeSigma * rangeSigma));
    }

    float spatial(int dx, int dy) const { return m_spatial[dy + radius][dx + radius]; }
    float range(int dd) const { return m_range[std::min(dd, rangeEntries)]; }

private:
    static float weight(float scaledSquare)
    {
        return static_cast<float>(std::exp(-0.5 * static_cast<double>(scaledSquare)));
    }

    /// exp(-0.5 (dd / 30)^2) is below the smallest float from dd = 430 on;
    /// one more entry, 0, stands for every larger difference.
    static constexpr int rangeEntries = 450;
    float m_spatial[2 * radius + 1][2 * radius + 1];
    float m_range[rangeEntries + 1] = {};
};

/// The stages, one output row at a time, so that they can share one team of
/// threads (see `computePyramid`) as well as run on their own.

__attribute__((target_clones("avx2", "default")))
void bilateralRow(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& filtered, int y)
{
    static const BilateralWeights weights;
    const int w = depth.width;
    const int h = depth.height;
    const unsigned short* in = depth.typedData();
    unsigned short* out = filtered.typedData();
    // The window clipped at the border, one pixel at a time.
    const auto clippedPixel = [&](int x) {
        const int d0 = in[y * w + x];
        float weightSum = 0.0f;
        float valueSum = 0.0f;
        for (int yy = std::max(y - radius, 0); yy <= std::min(h - 1, y + radius); ++yy)
            for (int xx = std::max(x - radius, 0); xx <= std::min(w - 1, x + radius); ++xx) {
                const int d = in[yy * w + xx];
                const float weight = weights.spatial(xx - x, yy - y) * weights.range(std::abs(d - d0));
                weightSum += weight;
                valueSum += weight * static_cast<float>(d);
            }
        out[y * w + x] = d0 == 0 ? 0 : static_cast<unsigned short>(valueSum / weightSum + 0.5f);
    };
    const bool interiorRow = y >= radius && y < h - radius;
    const int interiorBegin = interiorRow ? std::min(radius, w) : w;
    const int interiorEnd = std::max(interiorBegin, w - radius);
    for (int x = 0; x < interiorBegin; ++x)
        clippedPixel(x);
    // The whole window, in the same order as the clipped one, for several
    // pixels at once.
#pragma omp simd
    for (int x = interiorBegin; x < interiorEnd; ++x) {
        const int d0 = in[y * w + x];
        float weightSum = 0.0f;
        float valueSum = 0.0f;
#pragma GCC unroll 5
        for (int dy = -radius; dy <= radius; ++dy)
#pragma GCC unroll 5
            for (int dx = -radius; dx <= radius; ++dx) {
                const int d = in[(y + dy) * w + x + dx];
                const float weight = weights.spatial(dx, dy) * weights.range(std::abs(d - d0));
                weightSum += weight;
                valueSum += weight * static_cast<float>(d);
            }
        // The rounded mean lies within 0 .. 65535: its int is the same.
        const int mean = static_cast<int>(valueSum / weightSum + 0.5f);
        out[y * w + x] = static_cast<unsigned short>(d0 == 0 ? 0 : mean);
    }
    for (int x = interiorEnd; x < w; ++x)
        clippedPixel(x);
}

void downsampleRow(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& half, int y)
{
    const int w = depth.width;
    const int h = depth.height;
    const int hw = half.width;
    const unsigned short* in = depth.typedData();
    unsigned short* out = half.typedData();
    for (int x = 0; x < hw; ++x) {
        const int centre = in[2 * y * w + 2 * x];
        int sum = 0;
        int count = 0;
        for (int yy = std::max(2 * y - radius, 0); yy <= std::min(h - 1, 2 * y + radius); ++yy) {
            for (int xx = std::max(2 * x - radius, 0); xx <= std::min(w - 1, 2 * x + radius); ++xx) {
                const int d = in[yy * w + xx];
                if (static_cast<float>(std::abs(d - centre)) < 3.0f * rangeSigma) {
                    sum += d;
                    ++count;
                }
            }
        }
        out[y * hw + x] = static_cast<unsigned short>(static_cast<float>(sum) / count + 0.5f);
    }
}

void vertexRow(const TypedImage<unsigned short>& depth, const Eigen::Matrix3f& inverseIntrinsics,
               TypedImage<float>& vertices, int v)
{
    const int w = depth.width;
    const Eigen::Matrix3f& k = inverseIntrinsics;
    for (int u = 0; u < w; ++u) {
        const float d = depth.typedData()[v * w + u];
        Eigen::Map<Eigen::Vector3f> out = VectorMap::at(vertices, u, v);
        if (d > 0.0f) {
            const float du = d * static_cast<float>(u);
            const float dv = d * static_cast<float>(v);
            for (int i = 0; i < 3; ++i)
                out[i] = k(i, 0) * du + k(i, 1) * dv + k(i, 2) * d;
        } else {
            out = VectorMap::invalid();
        }
    }
}

void tangentRow(const TypedImage<float>& vertices, TypedImage<float>& tangentX, TypedImage<float>& tangentY,
                int y)
{
    static const ShorterThan shortSpan(tangentSpan);
    const int w = vertices.width;
    const int h = vertices.height;
    for (int x = 0; x < w; ++x) {
        Eigen::Map<Eigen::Vector3f> tx = VectorMap::at(tangentX, x, y);
        Eigen::Map<Eigen::Vector3f> ty = VectorMap::at(tangentY, x, y);
        tx = ty = VectorMap::invalid();
        if (x < 1 || y < 1 || x >= w - 1 || y >= h - 1)
            continue;
        const Eigen::Vector3f centre = VectorMap::at(vertices, x, y);
        const Eigen::Vector3f left = VectorMap::at(vertices, x - 1, y);
        const Eigen::Vector3f right = VectorMap::at(vertices, x + 1, y);
        const Eigen::Vector3f up = VectorMap::at(vertices, x, y - 1);
        const Eigen::Vector3f down = VectorMap::at(vertices, x, y + 1);
        if (VectorMap::isInvalid(centre) || VectorMap::isInvalid(left) || VectorMap::isInvalid(right) ||
            VectorMap::isInvalid(up) || VectorMap::isInvalid(down))
            continue;
        const Eigen::Vector3f spanX = right - left;
        const Eigen::Vector3f spanY = down - up;
        if (shortSpan(spanX) && shortSpan(spanY)) {
            tx = 0.5f * spanX;
            ty = 0.5f * spanY;
        }
    }
}

/// The components of a pyramid level's vertices and tangents, split into one
/// array per component for the four rows of the normal window, so that the
/// normals of a row can be computed for several pixels at once. Each array
/// starts one pixel before the image, and the row above the image is there
/// too: both hold invalid vertices, which never lie within the neighbourhood
/// and so stand for the part of the window that the image clips.
class NormalWindowRows {
public:
    /// Three components of vertices, tangentX and tangentY.
    static constexpr int arraysPerRow = 9;
    static constexpr int rows = 4;

    explicit NormalWindowRows(int width)
        : m_stride(width + 1), m_values(static_cast<std::size_t>(rows * arraysPerRow) * m_stride)
    {
    }

    /// Makes image rows y - 2 .. y + 1 available, splitting those not yet held.
    void moveTo(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                const TypedImage<float>& tangentY, int y)
    {
        for (int row = std::max(y - 2, m_nextRow); row <= y + 1; ++row)
            split(vertices, tangentX, tangentY, row);
        m_nextRow = y + 2;
    }

    /// Component `array` (vertex x, y, z, tangentX x, y, z, tangentY x, y, z)
    /// of image row `y`, indexed by the image column.
    const float* at(int y, int array) const
    {
        return m_values.data() + (static_cast<std::size_t>(slot(y) * arraysPerRow + array) * m_stride) + 1;
    }

private:
    static int slot(int y) { return (y + rows) % rows; }

    void split(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
               const TypedImage<float>& tangentY, int y)
    {
        const int w = m_stride - 1;
        float* values = m_values.data() + static_cast<std::size_t>(slot(y) * arraysPerRow) * m_stride;
        const TypedImage<float>* maps[3] = {&vertices, &tangentX, &tangentY};
        for (int map = 0; map < 3; ++map)
            for (int c = 0; c < 3; ++c) {
                float* out = values + (map * 3 + c) * m_stride;
                out[0] = std::numeric_limits<float>::quiet_NaN();
                if (y < 0) {
                    std::fill(out + 1, out + m_stride, std::numeric_limits<float>::quiet_NaN());
                    continue;
                }
                const float* in = maps[map]->typedData() + 3 * static_cast<std::size_t>(y) * w + c;
#pragma omp simd
                for (int x = 0; x < w; ++x)
                    out[x + 1] = in[3 * x];
            }
    }

    int m_stride;
    int m_nextRow = -1;
    std::vector<float> m_values;
};

/// x^2 + y^2 + z^2, added in the order of Eigen's squaredNorm.
inline float squaredLength(float x, float y, float z)
{
    return x * x + (y * y + z * z);
}

/// The normals of rows begin .. end - 1: the window sums of every pixel of a
/// row are formed side by side, each in the order of its own window, so that
/// a vectorised loop gives the same sums as one pixel at a time.
__attribute__((target_clones("avx2", "default")))
void normalRows(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                const TypedImage<float>& tangentY, TypedImage<float>& normals, int begin, int end)
{
    static const ShorterThan inNeighbourhood(normalNeighbourhood);
    const float squareLimit = inNeighbourhood.squareLimit();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const int w = vertices.width;
    const int h = vertices.height;
    NormalWindowRows window(w);
    for (int y = begin; y < end; ++y) {
        float* out = normals.typedData() + 3 * static_cast<std::size_t>(y) * w;
        if (y < 1 || y >= h - 1 || w < 3) {
            std::fill(out, out + 3 * w, nan);
            continue;
        }
        window.moveTo(vertices, tangentX, tangentY, y);
        // Window row r is image row y - 2 + r.
        const float* v[4][3];
        const float* tx[4][3];
        const float* ty[4][3];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) {
                v[r][c] = window.at(y - 2 + r, c);
                tx[r][c] = window.at(y - 2 + r, 3 + c);
                ty[r][c] = window.at(y - 2 + r, 6 + c);
            }
        out[0] = out[1] = out[2] = nan;
#pragma omp simd
        for (int x = 1; x < w - 1; ++x) {
            const float cx = v[2][0][x], cy = v[2][1][x], cz = v[2][2][x];
            float sumX0 = 0.0f, sumX1 = 0.0f, sumX2 = 0.0f;
            float sumY0 = 0.0f, sumY1 = 0.0f, sumY2 = 0.0f;
            int count = 0;
#pragma GCC unroll 4
            for (int r = 0; r < 4; ++r)
#pragma GCC unroll 4
                for (int dx = -2; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    const bool near = squaredLength(v[r][0][xx] - cx, v[r][1][xx] - cy, v[r][2][xx] - cz) <
                                      squareLimit;
                    // Adding +0 leaves a sum unchanged: it starts at +0 and
                    // only a rounding of x + (-x) gives 0 again, +0 as well.
                    const float t[6] = {tx[r][0][xx], tx[r][1][xx], tx[r][2][xx],
                                        ty[r][0][xx], ty[r][1][xx], ty[r][2][xx]};
                    sumX0 += near ? t[0] : 0.0f;
                    sumX1 += near ? t[1] : 0.0f;
                    sumX2 += near ? t[2] : 0.0f;
                    sumY0 += near ? t[3] : 0.0f;
                    sumY1 += near ? t[4] : 0.0f;
                    sumY2 += near ? t[5] : 0.0f;
                    count += near ? 1 : 0;
                }
            const float n0 = sumY1 * sumX2 - sumY2 * sumX1;
            const float n1 = sumY2 * sumX0 - sumY0 * sumX2;
            const float n2 = sumY0 * sumX1 - sumY1 * sumX0;
            const float length = std::sqrt(squaredLength(n0, n1, n2));
            const float unit[3] = {n0 / length, n1 / length, n2 / length};
            // An invalid centre has no vertex near it, so its count is 0.
            const bool valid = count >= 4;
            out[3 * x] = valid ? unit[0] : nan;
            out[3 * x + 1] = valid ? unit[1] : nan;
            out[3 * x + 2] = valid ? unit[2] : nan;
        }
        out[3 * (w - 1)] = out[3 * (w - 1) + 1] = out[3 * (w - 1) + 2] = nan;
    }
}

/// The rows of `rows` split into `parts` nearly equal consecutive blocks:
/// the first row of block `part`.
int blockStart(int rows, int parts, int part)
{
    return static_cast<int>(static_cast<long long>(rows) * part / parts);
}

/// The normal map on the current team of threads, one block of consecutive
/// rows each, as every row costs the same. Ends in a barrier, as a
/// worksharing loop does.
void normalBlocks(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                  const TypedImage<float>& tangentY, TypedImage<float>& normals)
{
    const int parts = omp_get_num_threads();
    const int h = vertices.height;
#pragma omp for schedule(static)
    for (int part = 0; part < parts; ++part)
        normalRows(vertices, tangentX, tangentY, normals, blockStart(h, parts, part), blockStart(h, parts, part + 1));
}

}  // namespace

void bilateralFilter(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& filtered)
{
#pragma omp parallel for schedule(dynamic, 1)
    for (int y = 0; y < depth.height; ++y)
        bilateralRow(depth, filtered, y);
}

void downsampleDepth(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& half)
{
#pragma omp parallel for schedule(dynamic, 1)
    for (int y = 0; y < half.height; ++y)
        downsampleRow(depth, half, y);
}

void computeVertexMap(const TypedImage<unsigned short>& depth,
                      const Eigen::Matrix3f& inverseIntrinsics, TypedImage<float>& vertices)
{
#pragma omp parallel for schedule(static)
    for (int v = 0; v < depth.height; ++v)
        vertexRow(depth, inverseIntrinsics, vertices, v);
}

void computeTangentMaps(const TypedImage<float>& vertices, TypedImage<float>& tangentX,
                        TypedImage<float>& tangentY)
{
#pragma omp parallel for schedule(static)
    for (int y = 0; y < vertices.height; ++y)
        tangentRow(vertices, tangentX, tangentY, y);
}

void computeNormalMap(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                      const TypedImage<float>& tangentY, TypedImage<float>& normals)
{
#pragma omp parallel
    normalBlocks(vertices, tangentX, tangentY, normals);
}

void computePyramid(const TypedImage<unsigned short>& depth, const PyramidLevel* levels, int count)
{
    // One team for every stage: each worksharing loop ends in a barrier, so a
    // stage starts only once the rows it reads are complete, and the threads
    // wake once per frame instead of once per stage.
#pragma omp parallel
    {
#pragma omp for schedule(dynamic, 1)
        for (int y = 0; y < depth.height; ++y)
            bilateralRow(depth, *levels[0].filteredDepth, y);
        for (int l = 1; l < count; ++l) {
#pragma omp for schedule(dynamic, 1)
            for (int y = 0; y < levels[l].filteredDepth->height; ++y)
                downsampleRow(*levels[l - 1].filteredDepth, *levels[l].filteredDepth, y);
        }
        for (int l = 0; l < count; ++l) {
            const PyramidLevel& level = levels[l];
            const int h = level.filteredDepth->height;
#pragma omp for schedule(static)
            for (int y = 0; y < h; ++y)
                vertexRow(*level.filteredDepth, level.inverseIntrinsics, *level.vertices, y);
#pragma omp for schedule(static)
            for (int y = 0; y < h; ++y)
                tangentRow(*level.vertices, *level.tangentX, *level.tangentY, y);
            normalBlocks(*level.vertices, *level.tangentX, *level.tangentY, *level.normals);
        }
    }
}

void levelIntrinsics(const Eigen::Matrix3d& intrinsics, int levels, Eigen::Matrix3f* matrices,
                     Eigen::Matrix3f* inverses)
{
    for (int l = 0; l < levels; ++l) {
        const double scale = 1.0 / (1 << l);
        const Eigen::Matrix3d k = Eigen::Vector3d(scale, scale, 1.0).asDiagonal() * intrinsics;
        matrices[l] = k.cast<float>();
        inverses[l] = k.inverse().cast<float>();
    }
}

}  // namespace Veltrane::DepthPreprocessing
