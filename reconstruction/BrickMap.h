#pragma once

#include "reconstruction/VolumeGeometry.h"

#include <Eigen/Core>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
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
        return isBrickMarked(i / brickSize, j / brickSize, k / brickSize);
    }
    /// Whether brick (bx, by, bz), of voxels bx * `brickSize` ..., is marked.
    bool isBrickMarked(int bx, int by, int bz) const
    {
        return m_marks[brickIndex(bx, by, bz)].load(std::memory_order_relaxed) != 0;
    }

    /// Recomputes the clearance of every brick from the marks; not to overlap
    /// `mark`.
    void updateClearance();

    /// The step between the samples of a ray as `unmarkedSamples` takes it:
    /// per axis, the direction of travel and the inverse of the distance
    /// travelled in one step.
    struct SampleStep {
        explicit SampleStep(const Eigen::Vector3f& step) : SampleStep(step, step.cwiseInverse()) {}
        /// With `inverseStep` = 1 / `step` per axis (infinite where it is 0),
        /// when the caller has it.
        SampleStep(const Eigen::Vector3f& step, const Eigen::Vector3f& inverseStep)
        {
            for (int a = 0; a < 3; ++a) {
                forward[a] = step[a] >= 0.0f;
                // Capped, so that an axis the ray hardly moves along gives a
                // large but finite count.
                inverse[a] = std::min(std::abs(inverseStep[a]), 1e6f);
            }
        }
        bool forward[3];
        float inverse[3];
    };

    /// How many of the samples u, u + s, u + 2 s, ... (voxel positions, s the
    /// ray's step), starting with u, have their nearest voxel (clamped to the
    /// volume) in an unmarked brick, as far as the clearance tells; a lower
    /// bound, 0 when u's brick is marked.
    int unmarkedSamples(const Eigen::Vector3f& u, const SampleStep& step) const
    {
        return unmarkedSamples(u, clampedNearestVoxel(m_resolution, u).data(), step);
    }
    /// The same, for a caller that has u's nearest voxel, clamped to the volume.
    int unmarkedSamples(const Eigen::Vector3f& u, const int voxel[3], const SampleStep& step) const
    {
        const int brick[3] = {voxel[0] >> brickShift, voxel[1] >> brickShift, voxel[2] >> brickShift};
        const int rings = m_clearance[brickIndex(brick[0], brick[1], brick[2])];
        return rings == 0 ? 0 : samplesInCube(brick, rings, u, step);
    }

    const std::array<int, 3>& bricks() const { return m_bricks; }

private:
    /// Distances below this margin (voxels) are not trusted to skip a sample:
    /// it covers the rounding of sample positions.
    static constexpr float positionMargin = 0.05f;

    /// Samples from u that stay in the cube of bricks within `rings` - 1 of
    /// `brick`.
    int samplesInCube(const int brick[3], int rings, const Eigen::Vector3f& u, const SampleStep& step) const;

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
