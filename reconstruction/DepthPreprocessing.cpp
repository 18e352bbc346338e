#include "reconstruction/DepthPreprocessing.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorMap.h"

#include <Eigen/LU>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace Veltrane::DepthPreprocessing {

namespace {

using FusionConstants::filterSpatialSigma;
using FusionConstants::normalNeighbourhood;
using FusionConstants::tangentSpan;
constexpr float rangeSigma = FusionConstants::filterDepthSigma;
constexpr int radius = 2;  // the 5 x 5 window

/// Euclidean length. A float square root is correctly rounded, so it equals
/// the root taken in double and rounded back.
float length(const Eigen::Vector3f& v)
{
    return std::sqrt(v.squaredNorm());
}

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
    float range(int dd) const { return dd < rangeEntries ? m_range[dd] : 0.0f; }

private:
    static float weight(float scaledSquare)
    {
        return static_cast<float>(std::exp(-0.5 * static_cast<double>(scaledSquare)));
    }

    /// exp(-0.5 (dd / 30)^2) is below the smallest float from dd = 430 on.
    static constexpr int rangeEntries = 450;
    float m_spatial[2 * radius + 1][2 * radius + 1];
    float m_range[rangeEntries];
};

/// The stages, one output row at a time, so that they can share one team of
/// threads (see `computePyramid`) as well as run on their own.

void bilateralRow(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& filtered, int y)
{
    static const BilateralWeights weights;
    const int w = depth.width;
    const int h = depth.height;
    const unsigned short* in = depth.typedData();
    unsigned short* out = filtered.typedData();
    const bool interiorRow = y >= radius && y < h - radius;
    for (int x = 0; x < w; ++x) {
        const int d0 = in[y * w + x];
        if (d0 == 0) {
            out[y * w + x] = 0;
            continue;
        }
        float weightSum = 0.0f;
        float valueSum = 0.0f;
        const auto add = [&](int dx, int dy) {
            const int d = in[(y + dy) * w + x + dx];
            const float weight = weights.spatial(dx, dy) * weights.range(std::abs(d - d0));
            weightSum += weight;
            valueSum += weight * static_cast<float>(d);
        };
        if (interiorRow && x >= radius && x < w - radius) {
            // The whole window, in the same order as the clipped one below.
#pragma GCC unroll 5
            for (int dy = -radius; dy <= radius; ++dy)
#pragma GCC unroll 5
                for (int dx = -radius; dx <= radius; ++dx)
                    add(dx, dy);
        } else {
            for (int yy = std::max(y - radius, 0); yy <= std::min(h - 1, y + radius); ++yy)
                for (int xx = std::max(x - radius, 0); xx <= std::min(w - 1, x + radius); ++xx)
                    add(xx - x, yy - y);
        }
        out[y * w + x] = static_cast<unsigned short>(valueSum / weightSum + 0.5f);
    }
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

void normalRow(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
               const TypedImage<float>& tangentY, TypedImage<float>& normals, int y)
{
    static const ShorterThan inNeighbourhood(normalNeighbourhood);
    const int w = vertices.width;
    const int h = vertices.height;
    for (int x = 0; x < w; ++x) {
        Eigen::Map<Eigen::Vector3f> out = VectorMap::at(normals, x, y);
        out = VectorMap::invalid();
        if (x < 1 || y < 1 || x >= w - 1 || y >= h - 1)
            continue;
        const Eigen::Vector3f centre = VectorMap::at(vertices, x, y);
        if (VectorMap::isInvalid(centre))
            continue;
        Eigen::Vector3f sumX = Eigen::Vector3f::Zero();
        Eigen::Vector3f sumY = Eigen::Vector3f::Zero();
        int count = 0;
        // The window starts two pixels before the centre; in the first
        // interior row and column that is outside the image: no sample.
        for (int yy = std::max(y - 2, 0); yy <= y + 1; ++yy) {
            for (int xx = std::max(x - 2, 0); xx <= x + 1; ++xx) {
                const Eigen::Vector3f sample = VectorMap::at(vertices, xx, yy);
                if (!inNeighbourhood(sample - centre))
                    continue;
                sumX += VectorMap::at(tangentX, xx, yy);
                sumY += VectorMap::at(tangentY, xx, yy);
                ++count;
            }
        }
        if (count < 4)
            continue;
        const Eigen::Vector3f n(sumY.y() * sumX.z() - sumY.z() * sumX.y(),
                                sumY.z() * sumX.x() - sumY.x() * sumX.z(),
                                sumY.x() * sumX.y() - sumY.y() * sumX.x());
        out = n / length(n);
    }
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
#pragma omp parallel for schedule(static)
    for (int y = 0; y < vertices.height; ++y)
        normalRow(vertices, tangentX, tangentY, normals, y);
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
#pragma omp for schedule(static)
            for (int y = 0; y < h; ++y)
                normalRow(*level.vertices, *level.tangentX, *level.tangentY, *level.normals, y);
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
