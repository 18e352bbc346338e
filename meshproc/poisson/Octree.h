#pragma once

#include "meshproc/poisson/BSplineData.h"
#include "meshproc/poisson/NeighborCache.h"
#include "meshproc/poisson/OctNode.h"
#include "meshproc/poisson/Point3D.h"
#include "meshproc/poisson/PointStream.h"
#include "meshproc/poisson/SortedNodeTable.h"
#include "meshproc/poisson/SparseMatrix.h"
#include "meshproc/poisson/Stencil.h"
#include "meshproc/poisson/WindowMatrix.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

namespace OctreeDetail {
class PointTransform;
}

/// Average position and weight of the input points that fell into one node,
/// with the value the solved function takes there.
struct PointSample {
    Point3D<float> position;
    float value = 0;
    float weight = 0;
};

/// The state of one surface reconstruction: its depths and switches, the
/// reconstruction cube (a point p of the unit cube stands for cubeOrigin +
/// cubeWidth * p), the splatted normals and point samples, the B-spline data,
/// and the tree. The octree owns all nodes through its allocator, so a run
/// that ends early, normally or by an exception, releases every node.
template <class Data>
class Octree {
public:
    using Node = OctNode<Data>;
    using Level3 = NeighborLevel<Node, 3>;
    using Level5 = NeighborLevel<Node, 5>;

    /// Deepest tree depth a run may reach: the corner and centre position keys
    /// of the extraction hold 15 bits per axis, and the inner-product tables
    /// grow with the square of the function count (about 2 GB at this depth).
    static constexpr int maxTreeDepth = 13;

    Octree() = default;
    Octree(const Octree&) = delete;
    Octree& operator=(const Octree&) = delete;

    SortedNodeTable<Node> sortedNodes;
    float samplesPerNode = 0;
    int32_t kernelDepth = 0;
    int32_t minDepth = 0;
    bool screening = false;
    int32_t boundaryType = 0;
    float cubeWidth = 0;
    Point3D<float> cubeOrigin;
    std::vector<PointSample> samples;
    float splineRadius = 0;
    int32_t splineWidth = 0;
    int32_t threads = 1;
    /// One normal per node whose normalIndex >= 0; null once consumed.
    std::unique_ptr<std::vector<Point3D<float>>> normals;
    float normalSmooth = 0;
    /// Every node below the root comes from here.
    Allocator<Node> allocator;
    Node root;
    BSplineData splineData;

    // ---- Tree building and sample splatting ----

    /// Reads the oriented points (three passes over the stream), fits them into
    /// the unit cube, refines the tree where they lie, estimates the sample
    /// density at the kernel depth and splats every normal. With pointWeight > 0
    /// it also collects one PointSample per node the points pass through.
    /// `transform` (column-major 4 x 4) is applied to the positions; normals
    /// get its inverse transpose. Returns the number of points splatted. Fails
    /// the run for a depth beyond maxTreeDepth or the B-spline depth, a
    /// singular transform, or points that span no volume.
    int32_t BuildTree(PointStream& stream, int maxDepth, int minDepth, int kernelDepth, float samplesPerNode,
                      float scale, bool confidence, float pointWeight, int adaptiveExp,
                      const std::array<float, 16>& transform);

    /// Adds sampleWeight times the (boundary-boosted) spline weights of p to the
    /// density of the 3 x 3 x 3 nodes around node, creating them.
    void SplatDensity(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key, float sampleWeight);
    /// 1 / (density around node interpolated at p).
    float InverseDensityAt(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key);
    /// Splat depth and weight of a point from the density at kernel-depth node.
    void AdaptiveDepth(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key, float samplesPerNode,
                       float& depth, float& weight);
    /// Adds n times the spline weights of p to the normals of the 3 x 3 x 3
    /// nodes around node, creating nodes and normals where missing.
    void SplatNormalAtNode(Node* node, const Point3D<float>& p, const Point3D<float>& n, NeighborCache3<Node>& key);
    /// Splats n at the point's adaptive depth (split between two depths);
    /// returns the sample weight, -1 when the kernel-depth path is missing.
    float SplatOrientedPoint(const Point3D<float>& p, const Point3D<float>& n, NeighborCache3<Node>& key,
                             int kernelDepth, float samplesPerNode, int minDepth, int maxDepth);

    // ---- Pruning, finalising and block-boundary refinement ----

    /// Detaches, below minDepth, the children of nodes whose subtrees hold no
    /// non-zero normal.
    void PruneEmptyChildren();
    /// Balances the tree for the solver's 5 x 5 x 5 neighbourhoods, refines the
    /// block faces for isoDivide and builds sortedNodes.
    void FinalizeTree(int isoDivide);
    /// Gives leaves on the faces of the extraction blocks same-depth neighbours
    /// across those faces, rebuilds sortedNodes and returns the block depth.
    int RefineBlockBoundaries(int isoDivide);
    /// Whether node or any node below it holds a normal with a non-zero
    /// component.
    bool HasNormals(const Node* node) const;

    // ---- Divergence constraints ----

    /// Sets every node's constraint to the divergence of the splatted normal
    /// field against its function and its weight to its normal's length, then
    /// releases the normals. Needs sortedNodes.
    void ComputeConstraints();
    /// The term of the normal held by holder against receiver's function.
    float DivergenceTerm(const Node* holder, const Node* receiver, const Point3D<float>& normal) const;
    /// Divergence terms of interior nodes of depth d (zero below depth 2).
    void SameDepthDivergenceStencil(int d, DivergenceStencil& stencil) const;
    /// Terms between the children of depth d and their parent-depth
    /// neighbours; scatter: received by the parent-depth node, else by the child.
    void ChildDivergenceStencils(int d, ChildStencils<Point3D<double>>& stencils, bool scatter) const;
    /// Adds the weighted values of the nodes of depth d to their parent-depth
    /// nodes (two taps per axis). Vectors are indexed by tableIndex.
    void RestrictToParents(int d, std::vector<float>& values) const;
    /// Adds to each node of depth d the weighted values of its parent-depth
    /// nodes.
    void ProlongNormals(int d, std::vector<Point3D<float>>& values) const;
    void ProlongToDepth(int d, std::vector<float>& values) const;
    /// Weight of the transfer at a local offset 0 or 2^d - 1.
    double boundaryCornerWeight() const;

    // ---- Multigrid solve ----

    /// Solves for every node's solution, depth by depth from the root; depths
    /// deeper than solverDivide in slices. Returns the iterations over all depths.
    int SolveSystem(int solverDivide, bool showResidual, int minIters, int maxSolveDepth, int iters,
                    double accuracy);
    /// Solves the system of depth d; returns its iterations.
    int SolveDepth(int d, std::vector<float>& accumulatedSolution, bool showResidual, int minIters, bool skipSolve,
                   int iters, double accuracy);
    /// The matrix of depth d (lower half of each row), with the coarser
    /// solutions subtracted from the constraints.
    void BuildDepthMatrix(WindowMatrix& matrix, int d, const std::vector<float>& accumulatedSolution);
    /// Writes the row of level's centre node (Laplacian plus screening) for the
    /// lower-half neighbours inside window: the neighbourhood positions with an
    /// entry into mask, their values in position order into values; returns
    /// the entries written.
    int FillMatrixRow(const Level5& level, uint64_t& mask, float* values, const LaplacianStencil& stencil,
                      const StencilWindow& window) const;
    /// Subtracts the coarser depths' terms from node's constraint.
    void SubtractCoarserTerms(NeighborCache5<Node>& key, Node* node, const std::vector<float>& accumulatedSolution,
                              const LaplacianStencil& childStencil);
    /// The weighted value of the coarser depths' function at node's sample.
    float CoarserValueAtSample(NeighborCache3<Node>& key, Node* node,
                               const std::vector<float>& accumulatedSolution) const;
    void ComputeSampleValues(int d, const std::vector<float>& accumulatedSolution);
    /// Start vector of depth d prolonged from the parent depth, whose
    /// solutions then become 0.
    void InitialGuessFromParents(int d, FloatVector& x);
    float LaplacianTerm(const Node* a, const Node* b) const;
    void SameDepthLaplacianStencil(int d, LaplacianStencil& stencil) const;
    void ChildLaplacianStencils(int d, ChildStencils<double>& stencils) const;
    /// Whether a node takes part in the solve (boundary type 0 solves only the
    /// middle of the cube).
    bool isActive(const Node* node) const;

    // ---- Solving a depth in slices ----

    /// Solves depth d one subtree of depth d - solverDivide at a time, each
    /// widened by two cells; hands over to SolveDepth when d <= solverDivide.
    int SolveDepthInSlices(int d, std::vector<float>& accumulatedSolution, int solverDivide, bool showResidual,
                           int minIters, bool skipSolve, int iters, double accuracy);
    /// Nodes of depth d in q's subtree near r's cube: counted, or appended by
    /// tableIndex.
    void CountSliceNeighbors(const Node* r, const Node* q, int d, int& count) const;
    void CollectSliceNeighbors(const Node* r, const Node* q, int d, std::vector<int32_t>& list) const;
    /// The slice's matrix over the listed nodes (numbered by list position).
    void BuildSliceMatrix(WindowMatrix& matrix, int d, const std::vector<int32_t>& list, int length, const Node* r,
                          const std::vector<float>& accumulatedSolution);
    /// Window of a listed node: the whole neighbourhood for a node inside the
    /// slice root's cube; for one outside, clipped so that no neighbour lies
    /// more than two cells outside that cube.
    static StencilWindow sliceRowWindow(const Node* node, int rootDepth, const int rootOffset[3]);

private:
    int threadCount() const { return threads > 0 ? threads : 1; }

    // The passes of BuildTree.
    /// Bounding pass: the reconstruction cube around the transformed points,
    /// `scale` times their largest extent (twice that for boundary type 0);
    /// false when the stream holds no point.
    bool fitCube(PointStream& stream, const OctreeDetail::PointTransform& toCube, float scale);
    /// A point's position in the unit cube; false when it lies outside the
    /// region the tree covers.
    bool unitCubePosition(const OctreeDetail::PointTransform& toCube, const float position[3],
                          Point3D<float>& p) const;
    /// Density pass: splats every point's weight at every depth down to kd.
    void splatDensities(PointStream& stream, const OctreeDetail::PointTransform& toCube, NeighborCache3<Node>& key,
                        int kd, bool confidence);
    /// Normal pass: splats every point with a usable normal, adding its sample
    /// weight to weightSum and, when screening, its sample; returns the points
    /// splatted.
    int32_t splatNormals(PointStream& stream, const OctreeDetail::PointTransform& toCube, NeighborCache3<Node>& key,
                         int kd, int maxDepth, bool confidence, double& weightSum);
    /// Adds p to the sample of every node from the root down to the leaf that
    /// holds it.
    void addSample(const Point3D<float>& p);
    /// Turns the sample sums into mean positions and screening weights.
    void weightSamples(double weightSum, int32_t used, float pointWeight, int adaptiveExp, int maxDepth);
    /// Boundary type 1: clears the normal components across the cube's faces.
    void clearBoundaryNormals();

    // The phases of ComputeConstraints.
    /// Adds to every node of depth d the terms of its same-depth neighbours'
    /// normals, and sets parentConstraints of the parent depth to the terms
    /// of the normals of depth d.
    void addSameDepthAndFinerTerms(int d, std::vector<float>& parentConstraints);
    /// The normal of every node above the finest depth (zero where it has none).
    std::vector<Point3D<float>> coarseNormalField() const;
    /// Adds to every node of depth d >= 1 the terms of the coarse normals of
    /// its parent-depth neighbours.
    void addCoarserTerms(int d, const std::vector<Point3D<float>>& coarseNormals);
    void addCoarserTermsOf(Node* c, NeighborCache5<Node>& key, const ChildStencils<Point3D<double>>& childStencils,
                           const std::vector<Point3D<float>>& coarseNormals);
    /// Every node's weight: the length of its normal, 0 without one.
    void setWeightsFromNormals();
    const Point3D<float>& normalOf(const Node* node) const
    {
        return (*normals)[static_cast<size_t>(node->nodeData.normalIndex)];
    }

    /// The matrix rows of `count` nodes of depth d, row h for rowNode(h) over
    /// the lower-half neighbours in rowWindow(node), a node's column being
    /// columnOf(node), -1 for a node outside the matrix (the identity row for
    /// an inactive node); each node's coarser terms are taken off its
    /// constraint. Siblings must have consecutive columns in child order.
    void buildRows(WindowMatrix& matrix, int d, int32_t count, const std::function<Node*(int32_t)>& rowNode,
                   const std::function<StencilWindow(const Node*)>& rowWindow,
                   const std::function<int32_t(const Node*)>& columnOf, const std::vector<float>& accumulatedSolution);
    /// Columns of the children of the neighbours of `parent` (of the root
    /// itself when parent is null, `node` being the root).
    SiblingColumns siblingColumns(NeighborCache5<Node>& key, const Node* parent, const Node* node,
                                  const std::function<int32_t(const Node*)>& columnOf);
    bool nearSlice(const Node* r, const Node* node) const;
    template <class Visit>
    void visitSliceNeighbors(const Node* r, const Node* node, int d, Visit& visit) const;
    static int childIndexContaining(const Node* node, const Point3D<float>& p);
    // Inner-product table entries of function indices a and b.
    float vv(int a, int b) const { return splineData.vvTable[static_cast<size_t>(BSplineData::symmetricIndex(a, b))]; }
    float dv(int a, int b) const
    {
        return splineData.dvTable[static_cast<size_t>(a) * static_cast<size_t>(splineData.functionCount) +
                                  static_cast<size_t>(b)];
    }
    /// Value of piece k (0: the cell before the function's own, 1: its own,
    /// 2: the one after) of function f at t.
    double piece(int f, int k, float t) const
    {
        return splineData.functionComponents[static_cast<size_t>(f)][k](double(t));
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
