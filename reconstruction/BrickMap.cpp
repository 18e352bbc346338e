#include "reconstruction/BrickMap.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace Veltrane {

namespace {

/// Clearance beyond which the map does not look: enough to cross 256 voxels
/// at once, and it bounds the passes of `updateClearance`.
constexpr std::uint8_t maxClearance = 32;

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

}  // namespace Veltrane
