#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

class ClEnvironment;
class ClImage;
class ClKernel;
class ClProgram;
class Mesh;

/// Marching cubes on an OpenCL device, over a distance volume held in device
/// memory (a float buffer, NaN = unobserved voxel) and optionally its colour
/// volume (RGBA bytes), with the per-cell rules of `marchingCubes`: the same
/// case tables, corner positions (voxel (i, j, k) at (i, j, k) times the
/// volume's spacing), edge interpolation and colours.
///
/// The volume is processed in slabs of whole slices: per slab one kernel
/// classifies the cells, the host turns the counts into offsets, a second
/// kernel lists the cells that emit triangles and a third writes their
/// corners. Used by one thread at a time; all work goes to the environment's
/// queue.
class ClMarchingCubes {
public:
    /// Voxels per slab of `computeMesh`, unless one slice is larger.
    static constexpr std::uint32_t defaultSlabVoxels = 1u << 24;

    /// Builds both program variants and the tables on `environment` (null:
    /// the default environment). Throws std::runtime_error "Couldn't
    /// initialize OpenCL context for Marching Cubes" when that fails.
    explicit ClMarchingCubes(ClEnvironment* environment = nullptr);
    ~ClMarchingCubes();
    ClMarchingCubes(const ClMarchingCubes&) = delete;
    ClMarchingCubes& operator=(const ClMarchingCubes&) = delete;

    /// The welded mesh of the whole volume, with per-vertex normals and, when
    /// `colors` is given, colours; null when there is no surface or after a
    /// failure (logged). Slabs hold at most `slabVoxels` voxels (at least one
    /// slice); the copies of vertices on the faces between slabs are welded.
    std::unique_ptr<Mesh> computeMesh(const ClImage* volume, const ClImage* colors, float isoValue,
                                      std::uint32_t slabVoxels = defaultSlabVoxels);

    /// The triangle corners of the cells of slices firstSlice to firstSlice +
    /// sliceCount - 1 (0: to the last slice), four floats each, three corners
    /// per triangle. `positions` is required; `normals` and `outColors` are
    /// filled when given (colours need `colors`). The buffers stay owned by
    /// this object until its next `run`; all are null and the count 0 when
    /// the slab has no surface. False after a failure (logged), and for a
    /// volume that is not one float channel, a colour volume that is not four
    /// bytes per voxel of the same size, or slices outside the volume.
    bool run(const ClImage* volume, const ClImage* colors, float isoValue, ClImage** positions,
             ClImage** normals, ClImage** outColors, int* vertexCount, int firstSlice,
             int sliceCount);

    /// A mesh of the first `count` corners of `run`'s buffers, triangle k
    /// being the face (3k + 2, 3k + 1, 3k); null for no positions, a count
    /// below 1, or a failed read (logged).
    std::unique_ptr<Mesh> downloadMesh(ClImage* positions, ClImage* normals, ClImage* colors,
                                       int count);

private:
    /// One build of the program with its three kernels.
    struct Kernels {
        std::unique_ptr<ClProgram> program;
        std::unique_ptr<ClKernel> classifyVoxels;
        std::unique_ptr<ClKernel> compactVoxels;
        std::unique_ptr<ClKernel> generateTriangles;
        void create();
    };

    /// One `run`: the slices firstSlice to firstSlice + sliceCount - 1 of
    /// `volume` (sliceCount 0: to the last slice), with `colors` when colours
    /// are asked for and given.
    struct Slab {
        const ClImage* volume;
        const ClImage* colors;
        float isoValue;
        int firstSlice;
        int sliceCount;
        bool withNormals;
    };

    int init();
    Kernels* kernelsFor(const std::string& options);
    /// The program variant that writes what `slab` asks for.
    Kernels* kernelsFor(const Slab& slab);
    /// Checks the volumes and the slices (resolving a count of 0) and sizes
    /// the per-voxel buffers for the slab; false when they do not fit.
    bool prepareSlab(Slab& slab);
    /// Counts each cell's corners and occupancy and scans the occupancy into
    /// offsets, giving `m_activeVoxelCount`.
    bool classify(Kernels& kernels, const Slab& slab);
    /// Lists the occupied cells and scans their corner counts into offsets,
    /// giving `m_totalVertices`.
    bool compact(Kernels& kernels);
    /// Writes the triangle corners of the occupied cells into the output buffers.
    bool generate(Kernels& kernels, const Slab& slab);
    /// Gives the per-voxel kernels of `kernels` the current slab's size.
    bool setSlabWorkSizes(Kernels& kernels);
    bool allocateBuffers(const std::array<int, 3>& slabSize, const std::array<float, 3>& extent);
    void releaseBuffers();
    void releaseOutputBuffers();
    bool allocateOutputBuffers(bool normals, bool colors);
    /// Reads `counts` back, writes their exclusive prefix sums into `offsets`
    /// and gives the total; false when a transfer fails or the total does not
    /// fit a signed 32-bit count.
    bool scan(ClImage& counts, ClImage& offsets, std::uint32_t& total);

    ClEnvironment* m_environment;
    Kernels m_plain;
    Kernels m_color;
    std::unique_ptr<ClImage> m_triangleTable;
    std::unique_ptr<ClImage> m_vertexCountTable;

    std::unique_ptr<ClImage> m_vertexCounts;
    std::unique_ptr<ClImage> m_vertexOffsets;
    std::unique_ptr<ClImage> m_occupancy;
    std::unique_ptr<ClImage> m_occupancyOffsets;
    std::unique_ptr<ClImage> m_activeVoxels;
    std::unique_ptr<ClImage> m_outPositions;
    std::unique_ptr<ClImage> m_outNormals;
    std::unique_ptr<ClImage> m_outColors;

    std::array<int, 4> m_slabSize{0, 0, 0, 0};
    std::array<float, 4> m_voxelSpacing{0, 0, 0, 0};
    std::uint32_t m_voxelCount = 0;
    std::uint32_t m_vertexCapacity = 0;
    std::uint32_t m_activeVoxelCount = 0;
    std::uint32_t m_totalVertices = 0;
    std::vector<std::uint32_t> m_hostCounts;
    std::vector<std::uint32_t> m_hostOffsets;
};

}  // namespace Veltrane
