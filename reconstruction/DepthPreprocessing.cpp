#include "reconstruction/DepthPreprocessing.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorClones.h"

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

/// x^2 + y^2 + z^2, added in the order of Eigen's squaredNorm.
inline float squaredLength(float x, float y, float z)
{
    return x * x + (y * y + z * z);
}

/// The test length(v) < limit without the square root, as squaredLength(v) <
/// squareLimit(): since the float root is correctly rounded and never
/// decreases, length(v) < limit holds exactly for the squared lengths below
/// the smallest float whose root reaches the limit. NaN components fail the
/// test, as they fail the comparison of the root.
class ShorterThan {
public:
    explicit ShorterThan(float limit) : m_squareLimit(limit * limit)
    {
        while (std::sqrt(m_squareLimit) >= limit)
            m_squareLimit = std::nextafter(m_squareLimit, 0.0f);
        while (std::sqrt(m_squareLimit) < limit)
            m_squareLimit = std::nextafter(m_squareLimit, std::numeric_limits<float>::infinity());
    }
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

/// The window of an output pixel: offsets from its centre pixel in the input
/// (within -2 .. 2), clipped at the border.
struct Window {
    int left, right, top, bottom;
};

/// Runs `pixel(x, window)` for the `outputWidth` pixels of output row y,
/// whose centres are the input pixels (step x, step y) of the width x height
/// input. The pixels whose whole window lies inside the input run side by
/// side, in a loop that the compiler vectorises.
template <typename Pixel>
__attribute__((always_inline)) inline void forEachPixel(int width, int height, int outputWidth, int y, int step,
                                                        Pixel pixel)
{
    const auto clipped = [&](int x) {
        const int cx = step * x;
        const int cy = step * y;
        pixel(x, Window{std::max(-radius, -cx), std::min(radius, width - 1 - cx), std::max(-radius, -cy),
                        std::min(radius, height - 1 - cy)});
    };
    const bool interiorRow = step * y >= radius && step * y < height - radius;
    const int interiorBegin = interiorRow ? std::min((radius + step - 1) / step, outputWidth) : outputWidth;
    const int interiorEnd = std::max(interiorBegin, std::min(outputWidth, (width - 1 - radius) / step + 1));
    for (int x = 0; x < interiorBegin; ++x)
        clipped(x);
#pragma omp simd
    for (int x = interiorBegin; x < interiorEnd; ++x)
        pixel(x, Window{-radius, radius, -radius, radius});
    for (int x = interiorEnd; x < outputWidth; ++x)
        clipped(x);
}

/// The depth stages, one output row at a time, so that they can share one
/// team of threads (see `computePyramid`) as well as run on their own.

KORVASTEL_VECTOR_CLONES
void bilateralRow(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& filtered, int y)
{
    static const BilateralWeights weights;
    const int w = depth.width;
    const unsigned short* in = depth.typedData();
    unsigned short* out = filtered.typedData();
    forEachPixel(w, depth.height, w, y, 1, [&](int x, const Window& window) __attribute__((always_inline)) {
        const int d0 = in[y * w + x];
        float weightSum = 0.0f;
        float valueSum = 0.0f;
#pragma GCC unroll 5
        for (int dy = window.top; dy <= window.bottom; ++dy)
#pragma GCC unroll 5
            for (int dx = window.left; dx <= window.right; ++dx) {
                const int d = in[(y + dy) * w + x + dx];
                const float weight = weights.spatial(dx, dy) * weights.range(std::abs(d - d0));
                weightSum += weight;
                valueSum += weight * static_cast<float>(d);
            }
        // The rounded mean lies within 0 .. 65535: its int is the same.
        const int mean = static_cast<int>(valueSum / weightSum + 0.5f);
        out[y * w + x] = static_cast<unsigned short>(d0 == 0 ? 0 : mean);
    });
}

KORVASTEL_VECTOR_CLONES
void downsampleRow(const TypedImage<unsigned short>& depth, TypedImage<unsigned short>& half, int y)
{
    const int w = depth.width;
    const unsigned short* in = depth.typedData();
    unsigned short* out = half.typedData();
    // Depths are whole numbers: the 90 mm test on them is exact in int.
    constexpr int nearDepth = static_cast<int>(3.0f * rangeSigma);
    static_assert(static_cast<float>(nearDepth) == 3.0f * rangeSigma);
    forEachPixel(w, depth.height, half.width, y, 2, [&](int x, const Window& window) __attribute__((always_inline)) {
        const int centre = in[2 * y * w + 2 * x];
        int sum = 0;
        int count = 0;
#pragma GCC unroll 5
        for (int dy = window.top; dy <= window.bottom; ++dy)
#pragma GCC unroll 5
            for (int dx = window.left; dx <= window.right; ++dx) {
                const int d = in[(2 * y + dy) * w + 2 * x + dx];
                const bool near = std::abs(d - centre) < nearDepth;
                sum += near ? d : 0;
                count += near ? 1 : 0;
            }
        // The rounded mean lies within 0 .. 65535: its int is the same.
        out[y * half.width + x] =
            static_cast<unsigned short>(static_cast<int>(static_cast<float>(sum) / count + 0.5f));
    });
}

constexpr float invalidValue = std::numeric_limits<float>::quiet_NaN();

/// Rows of a vector map with each of the three components in its own array,
/// so that loops along a row work on several pixels at once. The rows form a
/// ring of `slots` (a power of two): image row y lives in slot y mod slots.
/// Each array starts one pixel before the image with an invalid (NaN) entry,
/// and row -1, above the image, can be held all invalid: both stand for the
/// part of a window that the image clips, since an invalid vertex lies in no
/// neighbourhood.
class SplitRows {
public:
    SplitRows(int width, int slots)
        : m_width(width), m_slotMask(slots - 1),
          m_values(static_cast<std::size_t>(slots) * 3 * (width + 1), invalidValue)
    {
    }

    /// Component c of image row y, indexed by the column (from -1).
    float* row(int y, int c)
    {
        return m_values.data() + static_cast<std::size_t>((y & m_slotMask) * 3 + c) * (m_width + 1) + 1;
    }
    const float* row(int y, int c) const { return const_cast<SplitRows*>(this)->row(y, c); }

    /// Row y of the interleaved `map`.
    void split(const TypedImage<float>& map, int y)
    {
        for (int c = 0; c < 3; ++c) {
            float* out = row(y, c);
            const float* in = map.typedData() + 3 * static_cast<std::size_t>(y) * m_width + c;
#pragma omp simd
            for (int x = 0; x < m_width; ++x)
                out[x] = in[3 * x];
        }
    }

    /// Row y all invalid.
    void invalidate(int y)
    {
        for (int c = 0; c < 3; ++c)
            std::fill(row(y, c), row(y, c) + m_width, invalidValue);
    }

private:
    int m_width;
    int m_slotMask;
    std::vector<float> m_values;
};

/// The stages, one row at a time, each on split rows (written to the split
/// rows and to the interleaved row `out`). Their loops along the row are
/// vectorised, with AVX-512 or AVX2 where the processor has them; each pixel's values are
/// formed in the same order as one pixel at a time.

KORVASTEL_VECTOR_CLONES
void vertexRow(const unsigned short* depth, int w, int v, const Eigen::Matrix3f& inverseIntrinsics,
               SplitRows& vertices, float* out)
{
    float k[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            k[i][j] = inverseIntrinsics(i, j);
    float* split[3] = {vertices.row(v, 0), vertices.row(v, 1), vertices.row(v, 2)};
#pragma omp simd
    for (int u = 0; u < w; ++u) {
        const float d = depth[u];
        const float du = d * static_cast<float>(u);
        const float dv = d * static_cast<float>(v);
#pragma GCC unroll 3
        for (int i = 0; i < 3; ++i) {
            const float value = d > 0.0f ? k[i][0] * du + k[i][1] * dv + k[i][2] * d : invalidValue;
            split[i][u] = value;
            out[3 * u + i] = value;
        }
    }
}

/// Tangents of an interior row y from vertex rows y - 1 .. y + 1.
KORVASTEL_VECTOR_CLONES
void tangentRow(const SplitRows& vertices, int w, int y, SplitRows& tangentX, SplitRows& tangentY, float* outX,
                float* outY)
{
    static const ShorterThan shortSpan(tangentSpan);
    const float squareLimit = shortSpan.squareLimit();
    const float* up[3] = {vertices.row(y - 1, 0), vertices.row(y - 1, 1), vertices.row(y - 1, 2)};
    const float* centre[3] = {vertices.row(y, 0), vertices.row(y, 1), vertices.row(y, 2)};
    const float* down[3] = {vertices.row(y + 1, 0), vertices.row(y + 1, 1), vertices.row(y + 1, 2)};
    float* splitX[3] = {tangentX.row(y, 0), tangentX.row(y, 1), tangentX.row(y, 2)};
    float* splitY[3] = {tangentY.row(y, 0), tangentY.row(y, 1), tangentY.row(y, 2)};
    for (const int x : {0, w - 1})
        for (int c = 0; c < 3; ++c)
            splitX[c][x] = splitY[c][x] = outX[3 * x + c] = outY[3 * x + c] = invalidValue;
#pragma omp simd
    for (int x = 1; x < w - 1; ++x) {
        float spanX[3], spanY[3];
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            spanX[c] = centre[c][x + 1] - centre[c][x - 1];
            spanY[c] = down[c][x] - up[c][x];
        }
        // An invalid neighbour makes its span NaN, which is not short.
        const bool valid = !std::isnan(centre[0][x]) && !std::isnan(centre[1][x]) && !std::isnan(centre[2][x]) &&
                           squaredLength(spanX[0], spanX[1], spanX[2]) < squareLimit &&
                           squaredLength(spanY[0], spanY[1], spanY[2]) < squareLimit;
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c) {
            const float tx = valid ? 0.5f * spanX[c] : invalidValue;
            const float ty = valid ? 0.5f * spanY[c] : invalidValue;
            splitX[c][x] = tx;
            splitY[c][x] = ty;
            outX[3 * x + c] = tx;
            outY[3 * x + c] = ty;
        }
    }
}

/// Normals of an interior row y from the vertex and tangent rows y - 2 .. y + 1.
KORVASTEL_VECTOR_CLONES
void normalRow(const SplitRows& vertices, const SplitRows& tangentX, const SplitRows& tangentY, int w, int y,
               float* out)
{
    static const ShorterThan inNeighbourhood(normalNeighbourhood);
    const float squareLimit = inNeighbourhood.squareLimit();
    // Window row r is image row y - 2 + r.
    const float* v[4][3];
    const float* tx[4][3];
    const float* ty[4][3];
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) {
            v[r][c] = vertices.row(y - 2 + r, c);
            tx[r][c] = tangentX.row(y - 2 + r, c);
            ty[r][c] = tangentY.row(y - 2 + r, c);
        }
    for (const int x : {0, w - 1})
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = invalidValue;
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
                const bool near =
                    squaredLength(v[r][0][xx] - cx, v[r][1][xx] - cy, v[r][2][xx] - cz) < squareLimit;
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
#pragma GCC unroll 3
        for (int c = 0; c < 3; ++c)
            out[3 * x + c] = valid ? unit[c] : invalidValue;
    }
}

/// What the vertex, tangent and normal stages of one level read and write.
/// A stage runs when its outputs are set; the vertices and tangents that it
/// does not compute but the later stages need are read from the inputs.
struct LevelStages {
    int width;
    int height;
    const TypedImage<unsigned short>* depth;  ///< of computed vertices
    Eigen::Matrix3f inverseIntrinsics;        ///< of computed vertices
    const TypedImage<float>* vertexInput;
    const TypedImage<float>* tangentXInput;
    const TypedImage<float>* tangentYInput;
    TypedImage<float>* vertices;
    TypedImage<float>* tangentX;
    TypedImage<float>* tangentY;
    TypedImage<float>* normals;
};

float* interleavedRow(TypedImage<float>& map, int y)
{
    return map.typedData() + 3 * static_cast<std::size_t>(y) * map.width;
}

/// The stages for rows begin .. end - 1 of a level, row after row: the
/// vertices and tangents that each row's normals need are held split, and
/// the few rows beyond the block that they read are computed here as well
/// (and not written), so that no thread waits for another between stages.
void levelRows(const LevelStages& stages, int begin, int end)
{
    const int w = stages.width;
    const int h = stages.height;
    if (w == 0 || begin >= end)
        return;
    constexpr int slots = 8;  // holds the vertex rows y - 2 .. y + 2 of row y's normals
    SplitRows vertices(w, slots), tangentX(w, slots), tangentY(w, slots);
    std::vector<float> unwritten(6 * static_cast<std::size_t>(w));
    // The interleaved row y of `map`, or a scratch row for rows outside the block.
    const auto target = [&](TypedImage<float>* map, int y, int scratch) {
        return map && y >= begin && y < end ? interleavedRow(*map, y) : unwritten.data() + 3 * scratch * w;
    };
    const bool tangentsNeeded = stages.tangentX || stages.normals;
    // Row y's normals read the vertices and tangents of rows y - 2 .. y + 1,
    // and row t's tangents the vertices of rows t - 1 .. t + 1.
    // Below the image are only the invalid tangents of the last row.
    for (int r = std::max(begin - 3, -1); r <= end + 1; ++r) {
        if (r < 0)
            vertices.invalidate(r);
        else if (r < h && stages.vertices)
            vertexRow(stages.depth->typedData() + static_cast<std::size_t>(r) * w, w, r, stages.inverseIntrinsics,
                      vertices, target(stages.vertices, r, 0));
        else if (r < h)
            vertices.split(*stages.vertexInput, r);

        const int t = r - 1;
        if (tangentsNeeded && t >= std::max(begin - 2, -1) && t < h) {
            if (!stages.tangentX && t >= 0) {
                tangentX.split(*stages.tangentXInput, t);
                tangentY.split(*stages.tangentYInput, t);
            } else if (t > 0 && t < h - 1) {
                tangentRow(vertices, w, t, tangentX, tangentY, target(stages.tangentX, t, 0),
                           target(stages.tangentY, t, 1));
            } else {
                tangentX.invalidate(t);
                tangentY.invalidate(t);
                if (t >= 0) {
                    std::fill_n(target(stages.tangentX, t, 0), 3 * w, invalidValue);
                    std::fill_n(target(stages.tangentY, t, 1), 3 * w, invalidValue);
                }
            }
        }

        const int y = r - 2;
        if (stages.normals && y >= begin && y < end) {
            if (y > 0 && y < h - 1)
                normalRow(vertices, tangentX, tangentY, w, y, interleavedRow(*stages.normals, y));
            else
                std::fill_n(interleavedRow(*stages.normals, y), 3 * w, invalidValue);
        }
    }
}

/// The rows of `rows` split into `parts` nearly equal consecutive blocks:
/// the first row of block `part`.
int blockStart(int rows, int parts, int part)
{
    return static_cast<int>(static_cast<long long>(rows) * part / parts);
}

/// A level's stages on the current team of threads, one block of
/// consecutive rows each, as every row costs the same.
void levelBlocks(const LevelStages& stages)
{
    const int parts = omp_get_num_threads();
#pragma omp for schedule(static) nowait
    for (int part = 0; part < parts; ++part)
        levelRows(stages, blockStart(stages.height, parts, part), blockStart(stages.height, parts, part + 1));
}

void runLevelStages(const LevelStages& stages)
{
#pragma omp parallel
    levelBlocks(stages);
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
    runLevelStages({depth.width, depth.height, &depth, inverseIntrinsics, nullptr, nullptr, nullptr, &vertices,
                    nullptr, nullptr, nullptr});
}

void computeTangentMaps(const TypedImage<float>& vertices, TypedImage<float>& tangentX,
                        TypedImage<float>& tangentY)
{
    runLevelStages({vertices.width, vertices.height, nullptr, Eigen::Matrix3f::Identity(), &vertices, nullptr,
                    nullptr, nullptr, &tangentX, &tangentY, nullptr});
}

void computeNormalMap(const TypedImage<float>& vertices, const TypedImage<float>& tangentX,
                      const TypedImage<float>& tangentY, TypedImage<float>& normals)
{
    runLevelStages({vertices.width, vertices.height, nullptr, Eigen::Matrix3f::Identity(), &vertices, &tangentX,
                    &tangentY, nullptr, nullptr, nullptr, &normals});
}

void computePyramid(const TypedImage<unsigned short>& depth, const PyramidLevel* levels, int count)
{
    // One team for every stage. The depth levels end in barriers, as each
    // is made from the one before; the vertex, tangent and normal maps of a
    // level need only its depth, so a thread goes on from its block of one
    // level to its block of the next without waiting.
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
            const TypedImage<unsigned short>& levelDepth = *level.filteredDepth;
            const LevelStages stages{levelDepth.width, levelDepth.height, &levelDepth, level.inverseIntrinsics,
                                     nullptr, nullptr, nullptr, level.vertices, level.tangentX, level.tangentY,
                                     level.normals};
            levelBlocks(stages);
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
