#pragma once

#include "meshproc/poisson/CoredMeshData.h"
#include "meshproc/poisson/IsoSurfaceAnomalies.h"
#include "meshproc/poisson/IsoSurfaceTables.h"
#include "meshproc/poisson/IsoValue.h"

#include <array>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// What every step of one iso-surface extraction shares: the solved tree, the
/// function evaluator, the iso-value, the coefficients of the coarser depths,
/// the output, the corner map of block borders and the anomaly counts.
///
/// Parallel passes read the shared state only; each thread collects what it
/// creates in its IsoSurfaceWorker, and the workers are merged in thread order
/// after the pass, so the output does not depend on thread scheduling.
template <class Data>
struct IsoSurfaceContext {
    using Node = OctNode<Data>;

    IsoSurfaceContext(Octree<Data>& tree, float isoValue, const std::vector<float>& accumulatedSolution,
                      CoredMeshData<PlyVertex>& mesh)
        : tree(tree), evaluator(tree), isoValue(isoValue), accumulatedSolution(accumulatedSolution), mesh(mesh)
    {
    }

    /// Depth of the spline set: positions and keys are counted at this depth.
    int splineDepth() const { return evaluator.splineDepth(); }

    Octree<Data>& tree;
    SplineEvaluator<Data> evaluator;
    float isoValue;
    const std::vector<float>& accumulatedSolution;
    CoredMeshData<PlyVertex>& mesh;
    IsoSurfaceAnomalies anomalies;
    /// Values and gradients of corners on block borders, for the whole run.
    std::unordered_map<VertexKey, CornerSample> boundaryCorners;
};

/// An iso-vertex a worker placed and has not handed to the output yet: either
/// found by edge key (in core) or by its edge's index in the tables.
struct PendingVertex {
    bool inCore = false;
    EdgeKey key = 0;
    int32_t edgeIndex = -1;
    PlyVertex vertex;
};

/// A triangle a worker produced; `centre` >= 0 names the worker's centre
/// vertex that stands for corner 2.
struct PendingTriangle {
    std::array<PolygonCorner, 3> corners;
    int centre = -1;
};

/// One thread's neighbour keys and what it computed and created during one
/// pass of the extraction.
template <class Node>
struct IsoSurfaceWorker {
    explicit IsoSurfaceWorker(int maxDepth)
    {
        key3.set(maxDepth);
        key5.set(maxDepth);
    }

    NeighborCache3<Node> key3;
    NeighborCache5<Node> key5;
    /// Gradients of interior corners (by corner index) computed this pass.
    std::unordered_map<int32_t, std::array<float, 3>> cornerGradients;
    /// Samples of block-border corners computed this pass.
    std::unordered_map<VertexKey, CornerSample> boundaryCorners;
    std::vector<PendingVertex> vertices;
    std::unordered_set<EdgeKey> pendingKeys;
    std::unordered_set<int32_t> pendingEdges;
    std::vector<PendingTriangle> triangles;
    std::vector<PlyVertex> centres;
};

/// The marching-cubes case a node holds during extraction.
template <class Node>
int nodeCase(const Node* node)
{
    return node->nodeData.normalIndex & 0xFF;
}

/// Whether a grid line at `position` (in cells of depth d) of a node of depth
/// d lies on a face of its block: never without blocks (negative block depth),
/// always for nodes not deeper than the block depth.
inline bool onBlockFace(int position, int d, int blockDepth)
{
    if (blockDepth < 0)
        return false;
    return d <= blockDepth || position % (1 << (d - blockDepth)) == 0;
}

/// True when edge (axis, i, j) of the node lies on a face of its block.
template <class Node>
bool isBoundaryEdge(const Node* node, int axis, int i, int j, int blockDepth)
{
    int d, o[3];
    node->position(d, o);
    const int lowerAxis = axis == 0 ? 1 : 0;
    const int upperAxis = axis == 2 ? 1 : 2;
    return onBlockFace(o[lowerAxis] + i, d, blockDepth) || onBlockFace(o[upperAxis] + j, d, blockDepth);
}

/// True when face f of the node lies on a face of its block.
template <class Node>
bool isBoundaryFace(const Node* node, int face, int blockDepth)
{
    int d, o[3];
    node->position(d, o);
    return onBlockFace(o[face >> 1] + (face & 1), d, blockDepth);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
