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
    // The minimum over the 3 x 3 x 3 block is taken axis by axis, each time
    // over whole rows of bricks; at the volume's edges a brick stands in for
    // its missing neighbour. The map is small: one thread does it.
    std::vector<std::uint8_t> alongX(count), alongY(count), alongZ(count);
    const std::size_t row = static_cast<std::size_t>(bx);
    const std::size_t plane = row * by;
    for (int pass = 0; pass < maxClearance; ++pass) {
        for (std::size_t r = 0; r < count; r += row) {
            const std::uint8_t* in = clearance + r;
            std::uint8_t* out = alongX.data() + r;
            out[0] = std::min(in[0], in[std::min(1, bx - 1)]);
            if (bx > 1) {
                minOfThree(in, in + 1, in + 2, out + 1, row - 2);
                out[bx - 1] = std::min(in[bx - 2], in[bx - 1]);
            }
        }
        for (int z = 0; z < bz; ++z)
            for (int y = 0; y < by; ++y) {
                const std::uint8_t* rows = alongX.data() + z * plane;
                minOfThree(rows + std::max(y - 1, 0) * row, rows + y * row, rows + std::min(y + 1, by - 1) * row,
                           alongY.data() + z * plane + y * row, row);
            }
        for (int z = 0; z < bz; ++z)
            minOfThree(alongY.data() + std::max(z - 1, 0) * plane, alongY.data() + z * plane,
                       alongY.data() + std::min(z + 1, bz - 1) * plane, alongZ.data() + z * plane, plane);
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
