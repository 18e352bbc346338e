#include "reconstruction/BrickMap.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Veltrane {

namespace {

/// Clearance beyond which the map does not look: enough to cross 256 voxels
/// at once, and it bounds the passes of `updateClearance`.
constexpr std::uint8_t maxClearance = 32;

/// Runs of samples longer than any ray, for rays along an axis.
constexpr float maxRun = 1 << 20;

/// out[i] = the smallest of a[i], b[i] and c[i], for i < n.
void minOfThree(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c, std::uint8_t* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = std::min(std::min(a[i], b[i]), c[i]);
}

/// For each of the `count` values of `in`, the smallest of itself and its
/// neighbours `stride` before and after along an axis of `extent` values
/// (`stride` * `extent` values to a block); at the axis' ends a value stands
/// in for its missing neighbour.
void minAlongAxis(const std::uint8_t* in, std::uint8_t* out, std::size_t count, std::size_t stride, int extent)
{
    if (extent == 1) {
        std::copy(in, in + count, out);
        return;
    }
    const std::size_t block = stride * static_cast<std::size_t>(extent);
    if (stride == 1) {
        // Blocks are short rows: the whole volume at once, then the rows' ends.
        minOfThree(in, in + 1, in + 2, out + 1, count - 2);
        for (std::size_t row = 0; row < count; row += block) {
            out[row] = std::min(in[row], in[row + 1]);
            out[row + block - 1] = std::min(in[row + block - 2], in[row + block - 1]);
        }
        return;
    }
    for (std::size_t first = 0; first < count; first += block) {
        const std::uint8_t* b = in + first;
        std::uint8_t* o = out + first;
        minOfThree(b, b, b + stride, o, stride);
        minOfThree(b, b + stride, b + 2 * stride, o + stride, block - 2 * stride);
        minOfThree(b + block - 2 * stride, b + block - stride, b + block - stride, o + block - stride, stride);
    }
}

}  // namespace

BrickMap::BrickMap(const std::array<int, 3>& resolution) : m_resolution(resolution)
{
    for (int a = 0; a < 3; ++a)
        m_bricks[a] = (resolution[a] + brickSize - 1) / brickSize;
    const std::size_t count = static_cast<std::size_t>(m_bricks[0]) * m_bricks[1] * m_bricks[2];
    m_marks = std::make_unique<std::atomic<std::uint8_t>[]>(count);
    m_clearance = std::make_unique<std::uint8_t[]>(count);
    clear();
}

void BrickMap::clear()
{
    const std::size_t count = static_cast<std::size_t>(m_bricks[0]) * m_bricks[1] * m_bricks[2];
    for (std::size_t b = 0; b < count; ++b)
        m_marks[b].store(0, std::memory_order_relaxed);
    std::fill(m_clearance.get(), m_clearance.get() + count, maxClearance);
}

void BrickMap::markFrom(const float* tsdf)
{
    clear();
    const int nx = m_resolution[0], ny = m_resolution[1], nz = m_resolution[2];
#pragma omp parallel for schedule(static)
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i)
                if (tsdf[i + static_cast<std::size_t>(nx) * (j + static_cast<std::size_t>(ny) * k)] <= 0.0f)
                    mark(i, j, k);
    updateClearance();
}

void BrickMap::updateClearance()
{
    const int bx = m_bricks[0], by = m_bricks[1], bz = m_bricks[2];
    const std::size_t count = static_cast<std::size_t>(bx) * by * bz;
    std::uint8_t* clearance = m_clearance.get();
    for (std::size_t b = 0; b < count; ++b)
        clearance[b] = m_marks[b].load(std::memory_order_relaxed) ? 0 : maxClearance;

    // Each pass moves the clearance one ring outwards from the marked bricks:
    // a brick's clearance is one more than the smallest among itself and its
    // 26 neighbours (bricks outside the volume do not count), 0 when marked.
    // The minimum over the 3 x 3 x 3 block is taken axis by axis. The map is
    // small: one thread does it.
    if (count == 0)
        return;
    std::vector<std::uint8_t> alongX(count), alongY(count), alongZ(count);
    const std::size_t row = static_cast<std::size_t>(bx);
    const std::size_t plane = row * by;
    for (int pass = 0; pass < maxClearance; ++pass) {
        minAlongAxis(clearance, alongX.data(), count, 1, bx);
        minAlongAxis(alongX.data(), alongY.data(), count, row, by);
        minAlongAxis(alongY.data(), alongZ.data(), count, plane, bz);
        std::uint8_t changed = 0;
        for (std::size_t b = 0; b < count; ++b) {
            const std::uint8_t grown = std::min<std::uint8_t>(alongZ[b] + 1, maxClearance);
            const std::uint8_t value = clearance[b] == 0 ? 0 : grown;
            changed |= value ^ clearance[b];
            clearance[b] = value;
        }
        if (!changed)
            break;
    }
}

int BrickMap::samplesInCube(const int brick[3], int rings, const Eigen::Vector3f& u, const SampleStep& step) const
{
    // Every voxel of the cube of bricks within rings - 1 of this one lies in
    // an unmarked brick. Along each axis a sample stays in it until it passes
    // the face it moves towards; faces on or beyond the volume's edge do not
    // count: samples beyond them are clamped back into the cube.
    float samples = maxRun;
    for (int a = 0; a < 3; ++a) {
        // Nearest voxels change at the voxel edges, half a voxel from u.
        const float position = u[a] + 0.5f;
        if (step.forward[a]) {
            const int high = (brick[a] + rings) * brickSize;
            if (high < m_resolution[a])
                samples = std::min(samples, (static_cast<float>(high) - position - positionMargin) * step.inverse[a]);
        } else {
            const int low = (brick[a] - (rings - 1)) * brickSize;
            if (low > 0)
                samples = std::min(samples, (position - static_cast<float>(low) - positionMargin) * step.inverse[a]);
        }
    }
    return 1 + static_cast<int>(std::max(samples, 0.0f));
}

}  // namespace Veltrane
