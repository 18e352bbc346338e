#pragma once

#include "core/Mesh.h"
#include "meshproc/poisson/CoredMeshData.h"
#include "meshproc/poisson/PointStream.h"

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// The most conjugate-gradient iterations per depth that `iters` and
/// `minIters` may ask for; more never improve a single-precision solution.
constexpr int32_t maxIterations = 1000;
/// The largest `adaptiveExp`: larger exponents weight every sample below the
/// finest depth down to nothing.
constexpr int32_t maxAdaptiveExp = 32;

/// Settings of one screened Poisson surface reconstruction, with their
/// defaults and the values a run accepts; the caller changes fields before the
/// call.
struct Parameters {
    Parameters();

    int32_t depth = 8;          ///< maximum octree depth, 1 .. maxSupportedDepth(boundary)
    int32_t solverDivide = 8;   ///< depth from which the solver works in subtrees
    int32_t isoDivide = 8;      ///< depth from which the extraction works in blocks
    int32_t kernelDepth = -1;   ///< density estimation depth, at most depth; -1: depth - 2
    int32_t adaptiveExp = 1;    ///< exponent of the adaptive sample weights, 0 .. maxAdaptiveExp
    int32_t minIters = 24;      ///< least conjugate-gradient iterations per depth, 0 .. maxIterations
    int32_t iters = -1;         ///< fixed iterations per depth, 1 .. maxIterations; -1: none
    int32_t voxelDepth = -1;    ///< not used by the reconstruction
    int32_t minDepth = 5;       ///< depth down to which the tree is complete, 0 .. depth
    int32_t maxSolveDepth = -1; ///< deepest solved depth, 0 .. depth; -1: depth
    int32_t boundary = 1;       ///< < 0: function vanishes on the cube, 0: free, > 0: derivative vanishes
    int32_t threads;            ///< threads of every parallel loop, 1 .. maxThreads(); the processor count by default
    float samplesPerNode = 1.0f; ///< finite, above 0
    float scale = 1.1f;         ///< reconstruction cube edge / largest extent of the points; finite, above 0
    float accuracy = 0.001f;    ///< residual target of the conjugate gradients; finite, at least 0
    float pointWeight = 4.0f;   ///< weight of the screening term; finite, at least 0
    bool showResidual = false;
    bool confidence = false;
    bool density = false;       ///< run the octree variant that keeps a density per node
};

/// The deepest `depth` a run supports: every position of the finest grid must
/// fit its 15-bit key field (one depth less with the free boundary, whose
/// spline set is one depth deeper).
int maxSupportedDepth(int boundary);

/// The most `threads` a run accepts: the processor count, or 64 on machines
/// with fewer processors. More threads only cost memory (every thread keeps
/// scratch vectors of a whole depth) and may not be creatable at all.
int maxThreads();

/// The values a run derives from its parameters before it starts.
struct DerivedParameters {
    int maxSolveDepth = 0;  ///< depth when the parameter is -1
    int solverDivide = 0;   ///< at least minDepth
    int isoDivide = 0;      ///< at least minDepth
    int kernelDepth = 0;    ///< depth - 2 when the parameter is -1
    int boundaryType = 0;   ///< -1, 0 or 1 by the sign of `boundary`
    int splineDepth = 0;    ///< depth, one more for the free boundary
};

/// Derives the run's settings; false with `error` naming the first parameter
/// outside the values that Parameters lists.
bool deriveParameters(const Parameters& parameters, DerivedParameters& settings, std::string& error);

/// The oriented points of a mesh: position and normal of each vertex, as long
/// as both exist (a mesh with fewer normals than vertices yields only as many
/// points as it has normals). Does not own the vectors.
class MyPointStream : public PointStream {
public:
    MyPointStream(const std::vector<Mesh::Vector>& positions, const std::vector<Mesh::Vector>& normals);

    void rewind() override;
    bool readPoint(float position[3], float normal[3]) override;

private:
    int32_t cursor_ = 0;
    const std::vector<Mesh::Vector>* positions_;
    const std::vector<Mesh::Vector>* normals_;
};

/// Screened Poisson surface reconstruction of the oriented points (positions
/// with their normals, one normal per position): the closed surface that
/// fits them, as a triangle mesh in the points' coordinates (vertices and
/// faces only). Returns null after logging an error that says why when the
/// parameters are unusable, there are no points, no point carries a usable
/// normal, no point with one lies in the reconstruction cube, no surface is
/// found, or the run fails ("Error in Poisson Reconstruction"). Runs the
/// octree variant that `density` selects; each run owns its octree and nodes.
std::unique_ptr<Mesh> reconstruct(const std::vector<Mesh::Vector>& positions, const std::vector<Mesh::Vector>& normals,
                                  const Parameters& parameters);

/// The reconstruction pipeline on the octree variant with node payload `Data`;
/// throws on a failure inside the octree steps.
template <class Data>
std::unique_ptr<Mesh> runReconstruction(const std::vector<Mesh::Vector>& positions,
                                        const std::vector<Mesh::Vector>& normals, const Parameters& parameters);

/// The output mesh of an extraction: the in-core points, then the out-of-core
/// points in the order written, as vertices; every three-corner polygon as a
/// face in corner order (polygons with another corner count are dropped).
/// Vertices no face uses are left out. Rewinds `data` for reading.
std::unique_ptr<Mesh> meshFromCoredData(CoredMeshData<PlyVertex>& data);

}  // namespace PoissonReconstruction
}  // namespace Veltrane
