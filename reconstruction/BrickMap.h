#pragma once

#include <Eigen/Core>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace Veltrane {

/// Coarse map of where a distance volume may hold a surface.
///
/// The volume is split into bricks of `brickSize`^3 voxels. A brick is marked
/// once any of its voxels may hold a distance at or behind a surface (a value
/// <= 0); every voxel of an unmarked brick is unobserved (NaN) or in front of
/// a surface (> 0). Integration marks bricks as it writes, and marks are only
/// cleared with the volume, so the map may hold more marks than needed but
/// never misses one.
///
/// For the ray cast the map also keeps, per brick, its clearance: the number
/// of rings of unmarked bricks around it (0 for a marked brick, 1 for an
/// unmarked brick with a marked neighbour, ...). `updateClearance` recomputes
/// it from the marks.
class BrickMap {
public:
    static constexpr int brickShift = 3;
    static constexpr int brickSize = 1 << brickShift;

    BrickMap() = default;
    /// A map of a volume of `resolution` voxels with no brick marked.
    explicit BrickMap(const std::array<int, 3>& resolution);

    /// Unmarks every brick (for a cleared volume).
    void clear();
    /// Marks exactly the bricks that hold a voxel <= 0 of `tsdf`, a volume of
    /// this map's resolution (for a volume not written by integration).
    void markFrom(const float* tsdf);
    /// Marks the brick of voxel (i, j, k); safe to call from several threads.
    void mark(int i, int j, int k)
    {
        m_marks[brickIndex(i / brickSize, j / brickSize, k / brickSize)].store(1, std::memory_order_relaxed);
    }
    bool isMarked(int i, int j, int k) const
    {
        return m_marks[brickIndex(i / brickSize, j / brickSize, k / brickSize)].load(std::memory_order_relaxed) != 0;
    }

    /// Recomputes the clearance of every brick from the marks; not to overlap
    /// `mark`.
    void updateClearance();

    /// How many of the samples u, u + step v, u + 2 step v, ... (voxel
    /// positions, v a unit vector, step = 1 / `inverseStep` > 0), starting
    /// with u, have their nearest voxel (clamped to the volume) in an unmarked
    /// brick, as far as the clearance tells; a lower bound, 0 when u's brick
    /// is marked. Inline: the ray cast asks at nearly every sample.
    int unmarkedSamples(const Eigen::Vector3f& u, float inverseStep) const
    {
        int brick[3];
        float position[3];
        for (int a = 0; a < 3; ++a) {
            // The nearest voxel is the floor of u + 0.5, clamped to the volume.
            position[a] = u[a] + 0.5f;
            const int voxel = static_cast<int>(std::clamp(position[a], 0.0f, static_cast<float>(m_resolution[a] - 1)));
            brick[a] = voxel >> brickShift;
        }
        const int rings = m_clearance[brickIndex(brick[0], brick[1], brick[2])];
        if (rings == 0)
            return 0;
        // Every voxel of the cube of bricks within rings - 1 of this one lies
        // in an unmarked brick; a sample stays in it while it moves less than
        // the distance to the cube's faces inside the volume (per axis a
        // sample moves at most a step). Faces on or beyond the volume's edge
        // do not count: samples beyond them are clamped back into the cube.
        float distance = 1e6f;
        for (int a = 0; a < 3; ++a) {
            const int low = (brick[a] - (rings - 1)) * brickSize;
            const int high = (brick[a] + rings) * brickSize;
            if (low > 0)
                distance = std::min(distance, position[a] - static_cast<float>(low));
            if (high < m_resolution[a])
                distance = std::min(distance, static_cast<float>(high) - position[a]);
        }
        return 1 + static_cast<int>(std::max(distance - positionMargin, 0.0f) * inverseStep);
    }

    const std::array<int, 3>& bricks() const { return m_bricks; }

private:
    /// Distances below this margin (voxels) are not trusted to skip a sample:
    /// it covers the rounding of positions accumulated step by step along a ray.
    static constexpr float positionMargin = 0.05f;

    std::size_t brickIndex(int bx, int by, int bz) const
    {
        return static_cast<std::size_t>(bx) +
               static_cast<std::size_t>(m_bricks[0]) * (by + static_cast<std::size_t>(m_bricks[1]) * bz);
    }

    std::array<int, 3> m_resolution{0, 0, 0};
    std::array<int, 3> m_bricks{0, 0, 0};
    std::unique_ptr<std::atomic<std::uint8_t>[]> m_marks;
    std::unique_ptr<std::uint8_t[]> m_clearance;
};

}  // namespace Veltrane
