#pragma once

#include <Eigen/Core>

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
    static constexpr int brickSize = 8;

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
    /// positions, v a unit vector, `step` > 0), starting with u, have their
    /// nearest voxel (clamped to the volume) in an unmarked brick, as far as
    /// the clearance tells; a lower bound, 0 when u's brick is marked.
    int unmarkedSamples(const Eigen::Vector3f& u, float step) const;

    const std::array<int, 3>& bricks() const { return m_bricks; }

private:
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
