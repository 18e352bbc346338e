#pragma once

#include "core/Mesh.h"
#include "meshproc/poisson/CoredMeshData.h"
#include "meshproc/poisson/PointStream.h"

#include <memory>
#include <string>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Settings of one screened Poisson surface reconstruction, with their
/// defaults; the caller changes fields before the call.
struct Parameters {
    Parameters();

    int32_t depth = 8;          ///< maximum octree depth
    int32_t solverDivide = 8;   ///< depth from which the solver works in subtrees
    int32_t isoDivide = 8;      ///< depth from which the extraction works in blocks
    int32_t kernelDepth = -1;   ///< density estimation depth; -1: depth - 2
    int32_t adaptiveExp = 1;    ///< exponent of the adaptive sample weights
    int32_t minIters = 24;      ///< least conjugate-gradient iterations per depth
    int32_t iters = -1;         ///< fixed iterations per depth; -1: none
    int32_t voxelDepth = -1;    ///< not used by the reconstruction
    int32_t minDepth = 5;       ///< depth down to which the tree is complete
    int32_t maxSolveDepth = -1; ///< deepest solved depth; -1: depth
    int32_t boundary = 1;       ///< < 0: function vanishes on the cube, 0: free, > 0: derivative vanishes
    int32_t threads;            ///< threads of every parallel loop; the processor count by default
    float samplesPerNode = 1.0f;
    float scale = 1.1f;         ///< reconstruction cube edge / largest extent of the points
    float accuracy = 0.001f;    ///< residual target of the conjugate gradients
    float pointWeight = 4.0f;   ///< weight of the screening term
    bool showResidual = false;
    bool confidence = false;
    bool density = false;       ///< run the octree variant that keeps a density per node
};

/// The deepest `depth` a run supports: every position of the finest grid must
/// fit its 15-bit key field (one depth less with the free boundary, whose
/// spline set is one depth deeper).
int maxSupportedDepth(int boundary);

/// The values a run derives from its parameters before it starts.
struct DerivedParameters {
    int maxSolveDepth = 0;  ///< depth when the parameter is -1
    int solverDivide = 0;   ///< at least minDepth
    int isoDivide = 0;      ///< at least minDepth
    int kernelDepth = 0;    ///< depth - 2 when the parameter is -1
    int boundaryType = 0;   ///< -1, 0 or 1 by the sign of `boundary`
    int splineDepth = 0;    ///< depth, one more for the free boundary
};

/// Derives the run's settings; false with `error` set when the parameters
/// cannot be run (depth outside 1 .. maxSupportedDepth, no threads, a kernel
/// depth above the depth).
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
/// faces only). Returns null after logging an error when the parameters are
/// unusable, the points carry no usable normal, or the run fails
/// ("Error in Poisson Reconstruction"). Runs the octree variant that `density`
/// selects; each run owns its octree and nodes.
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
