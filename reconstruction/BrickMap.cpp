#include "reconstruction/BrickMap.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Veltrane {

namespace {

/// Clearance beyond which the map does not look: enough to cross 64 voxels
/// at once, and it bounds the passes of `updateClearance`.
constexpr std::uint8_t maxClearance = 8;

/// Distances below this margin (voxels) are not trusted to skip a sample: it
/// covers the rounding of positions accumulated step by step along a ray.
constexpr float positionMargin = 0.05f;

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
    std::vector<std::uint8_t> smallest(count);
    const std::size_t strides[3] = {1, static_cast<std::size_t>(bx), static_cast<std::size_t>(bx) * by};
    for (int pass = 0; pass < maxClearance; ++pass) {
        std::copy(clearance, clearance + count, smallest.begin());
        for (int axis = 0; axis < 3; ++axis) {
            // The minimum over three neighbours along one axis, axis by axis:
            // together the 3 x 3 x 3 block.
            const std::vector<std::uint8_t> source = smallest;
#pragma omp parallel for schedule(static)
            for (int z = 0; z < bz; ++z)
                for (int y = 0; y < by; ++y)
                    for (int x = 0; x < bx; ++x) {
                        const int position[3] = {x, y, z};
                        const std::size_t b = x + strides[1] * y + strides[2] * z;
                        std::uint8_t value = source[b];
                        if (position[axis] > 0)
                            value = std::min(value, source[b - strides[axis]]);
                        if (position[axis] + 1 < m_bricks[axis])
                            value = std::min(value, source[b + strides[axis]]);
                        smallest[b] = value;
                    }
        }
        bool changed = false;
        for (std::size_t b = 0; b < count; ++b) {
            const std::uint8_t value =
                clearance[b] == 0 ? 0 : static_cast<std::uint8_t>(std::min<int>(smallest[b] + 1, maxClearance));
            changed = changed || value != clearance[b];
            clearance[b] = value;
        }
        if (!changed)
            break;
    }
}

int BrickMap::unmarkedSamples(const Eigen::Vector3f& u, float step) const
{
    int brick[3];
    float position[3];
    for (int a = 0; a < 3; ++a) {
        // The nearest voxel is the floor of u + 0.5, clamped to the volume.
        position[a] = u[a] + 0.5f;
        const int voxel = static_cast<int>(std::clamp(position[a], 0.0f, static_cast<float>(m_resolution[a] - 1)));
        brick[a] = voxel / brickSize;
    }
    const int rings = m_clearance[brickIndex(brick[0], brick[1], brick[2])];
    if (rings == 0)
        return 0;
    // Every voxel of the cube of bricks within rings - 1 of this one lies in an
    // unmarked brick; a sample stays in it while it moves less than the
    // distance to the cube's faces inside the volume (per axis a sample moves
    // at most `step`). Faces on or beyond the volume's edge do not count:
    // samples beyond them are clamped back into the cube.
    float distance = 1e6f;
    for (int a = 0; a < 3; ++a) {
        const int low = (brick[a] - (rings - 1)) * brickSize;
        const int high = (brick[a] + rings) * brickSize;
        if (low > 0)
            distance = std::min(distance, position[a] - static_cast<float>(low));
        if (high < m_resolution[a])
            distance = std::min(distance, static_cast<float>(high) - position[a]);
    }
    return 1 + static_cast<int>(std::max(distance - positionMargin, 0.0f) / step);
}

}  // namespace Veltrane
