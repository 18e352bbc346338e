#pragma once

#include "meshproc/poisson/IsoPolygons.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// True when the node lies inside the region of a free-boundary tree where the
/// data lives: at least a quarter of the domain away from its border on every
/// axis. Nodes of depth 0 and 1 never do.
template <class Node>
bool insideFreeBoundaryRegion(const Node* node)
{
    int d, o[3];
    node->position(d, o);
    if (d < 2)
        return false;
    const int margin = 1 << (d - 2);
    for (int axis = 0; axis < 3; ++axis)
        if (o[axis] < margin || o[axis] >= (1 << d) - margin)
            return false;
    return true;
}

/// Extracts the iso-surface of a solved tree into `context.mesh`: marching
/// cubes on the leaves, crack-free across depth changes. The tree is cut into
/// blocks (the subtrees of the nodes of `blockDepth` that have children),
/// extracted one after another deepest leaves first, then the leaves not
/// deeper than the block depth. Needs the tree's node table and the
/// coefficients of the coarser depths (`context.accumulatedSolution`).
template <class Data>
class IsoSurfaceExtractor {
public:
    using Node = OctNode<Data>;
    using Worker = IsoSurfaceWorker<Node>;

    IsoSurfaceExtractor(IsoSurfaceContext<Data>& context, int blockDepth, bool addBarycentres)
        : context_(context), tree_(context.tree), blockDepth_(blockDepth), addBarycentres_(addBarycentres),
          threads_(std::max(1, int(context.tree.threads)))
    {
    }

    void run()
    {
        auto& table = tree_.sortedNodes;
        tree_.splineData.computeValueTables(BSplineData::Values | BSplineData::Derivatives, 0.0,
                                            double(tree_.normalSmooth));
        maxLeafDepth_ = Node::height(&tree_.root);
        clearCases();

        const int cornerCapacity = table.maxBlockCornerCount(blockDepth_, maxLeafDepth_, threads_);
        const int edgeCapacity = table.maxBlockEdgeCount(blockDepth_, threads_);
        blockTables_.hasEdgeVertices = true;
        blockTables_.cornerValues.reserve(size_t(cornerCapacity));
        blockTables_.cornerGradients.reserve(size_t(cornerCapacity));
        blockTables_.edgeVertices.reserve(size_t(edgeCapacity));
        table.setCornerTable(coarseTables_.cornerTable, nullptr, blockDepth_, threads_);
        coarseTables_.firstDepth = 0;
        coarseTables_.lastDepth = blockDepth_;
        coarseTables_.cornerValues.reserve(size_t(coarseTables_.cornerTable.count));
        coarseTables_.cornerGradients.reserve(size_t(coarseTables_.cornerTable.count));

        workers_.clear();
        for (int t = 0; t < threads_; ++t)
            workers_.emplace_back(maxLeafDepth_);

        extractBlocks();
        for (const auto& entry : blockTables_.boundaryVertices)
            coarseTables_.boundaryVertices[entry.first] = entry.second;
        extractCoarseLeaves();
    }

private:
    void clearCases()
    {
        auto& table = tree_.sortedNodes;
        const int64_t count = table.depthStart[size_t(maxLeafDepth_) + 1];
        NodeTableDetail::forEachThread(threads_, [&](int t) {
            for (int64_t i = count * t / threads_; i < count * (t + 1) / threads_; ++i)
                table.nodes[size_t(i)]->nodeData.normalIndex = 0;
        });
    }

    bool producesSurface(const Node* node) const
    {
        return tree_.boundaryType != 0 || insideFreeBoundaryRegion(node);
    }

    void extractBlocks()
    {
        auto& table = tree_.sortedNodes;
        int outOfCoreBase = 0;
        const int32_t first = table.depthStart[size_t(blockDepth_)];
        const int32_t end = table.depthStart[size_t(blockDepth_) + 1];
        for (int32_t b = first; b < end; ++b) {
            Node* block = table.nodes[size_t(b)];
            if (!block->children)
                continue;
            table.setCornerTable(blockTables_.cornerTable, block, table.levels - 1, threads_);
            table.setEdgeTable(blockTables_.edgeTable, block, table.levels - 1, threads_);
            blockTables_.firstDepth = blockDepth_;
            blockTables_.lastDepth = table.levels - 1;
            blockTables_.cornerValues.reserve(size_t(blockTables_.cornerTable.count));
            blockTables_.cornerGradients.reserve(size_t(blockTables_.cornerTable.count));
            blockTables_.edgeVertices.reserve(size_t(blockTables_.edgeTable.count));
            std::vector<Point3D<float>> blockPositions;
            const std::vector<std::vector<Node*>> leaves = blockLeavesByDepth(block);
            for (int depth = maxLeafDepth_; depth > blockDepth_; --depth) {
                vertexPass(leaves[size_t(depth)], blockPositions);
                polygonPass(leaves[size_t(depth)], blockPositions, outOfCoreBase);
            }
            outOfCoreBase = context_.mesh.outOfCorePointTotal();
        }
    }

    // The indexed leaves of the block's subtree per depth, in depth-first order.
    std::vector<std::vector<Node*>> blockLeavesByDepth(Node* block) const
    {
        std::vector<std::vector<Node*>> leaves(size_t(maxLeafDepth_) + 1);
        for (Node* leaf = Node::nextLeafInTree(block, nullptr); leaf; leaf = Node::nextLeafInTree(block, leaf))
            if (leaf->nodeData.tableIndex >= 0)
                leaves[size_t(leaf->depth)].push_back(leaf);
        return leaves;
    }

    /// body(worker, i) for the leaves i from first to end, split over the threads.
    template <class Body>
    void forEachLeaf(size_t first, size_t end, Body body)
    {
        const int64_t n = int64_t(end - first);
        NodeTableDetail::forEachThread(threads_, [&](int t) {
            for (int64_t i = n * t / threads_; i < n * (t + 1) / threads_; ++i)
                body(workers_[size_t(t)], first + size_t(i));
        });
    }

    // Corner values are evaluated in parallel from what earlier depths cached;
    // a corner first evaluated at this depth takes the value of the first leaf
    // (in leaf order) that touches it.
    void vertexPass(const std::vector<Node*>& leaves, std::vector<Point3D<float>>& blockPositions)
    {
        // A batch of leaves at a time, so that only one batch's values are
        // held: a batch's leaves find the corners earlier batches stored, the
        // values they would have been given in place of their own anyway.
        const size_t batchSize = size_t(1) << 16;
        std::vector<CornerValues> values;
        std::vector<unsigned> evaluated;
        for (size_t first = 0; first < leaves.size(); first += batchSize) {
            const size_t end = std::min(leaves.size(), first + batchSize);
            values.resize(end - first);
            evaluated.resize(end - first);
            forEachLeaf(first, end, [&](Worker& worker, size_t i) {
                evaluated[i - first] = leafCornerValues(context_.evaluator, leaves[i], blockTables_, worker.key3,
                                                        context_.accumulatedSolution, values[i - first]);
            });
            for (size_t i = first; i < end; ++i) {
                storeLeafCornerValues(leaves[i], blockTables_, evaluated[i - first], values[i - first]);
                handOverBlockCorner(leaves[i]);
            }
            forEachLeaf(first, end, [&](Worker&, size_t i) {
                setLeafCase(leaves[i], values[i - first], context_.isoValue, tree_.minDepth);
            });
        }
        forEachLeaf(0, leaves.size(), [&](Worker& worker, size_t i) {
            if (producesSurface(leaves[i]))
                AddEdgeVertices(context_, leaves[i], blockDepth_, worker, blockTables_, true);
        });
        for (Worker& worker : workers_)
            mergeWorkerVertices(context_, worker, blockTables_, &blockPositions);
    }

    void polygonPass(const std::vector<Node*>& leaves, std::vector<Point3D<float>>& blockPositions,
                     int outOfCoreBase)
    {
        forEachLeaf(0, leaves.size(), [&](Worker& worker, size_t i) {
            if (producesSurface(leaves[i]))
                AddLeafPolygons(context_, worker, leaves[i], blockTables_, &blockPositions, outOfCoreBase,
                                blockDepth_, addBarycentres_);
        });
        for (Worker& worker : workers_)
            mergeWorkerPolygons(context_, worker, &blockPositions);
    }

    // A leaf at a corner of its block hands that corner's value to the coarse
    // leaves, so that both sides of the block border agree on it.
    void handOverBlockCorner(const Node* leaf)
    {
        int d, o[3];
        leaf->position(d, o);
        const int span = 1 << (d - blockDepth_);
        int corner = 0;
        for (int axis = 0; axis < 3; ++axis) {
            const int r = o[axis] % span;
            if (r != 0 && r != span - 1)
                return;
            if (r != 0)
                corner |= 1 << axis;
        }
        const Node* ancestor = leaf;
        while (ancestor->depth > blockDepth_)
            ancestor = ancestor->parent;
        const int32_t blockIndex = blockTables_.cornerIndex(leaf, corner);
        const int32_t coarseIndex = coarseTables_.cornerIndex(ancestor, corner);
        float value;
        if (blockIndex >= 0 && coarseIndex >= 0 && blockTables_.cornerValues.get(size_t(blockIndex), value))
            coarseTables_.cornerValues.overwrite(size_t(coarseIndex), value);
    }

    void extractCoarseLeaves()
    {
        auto& table = tree_.sortedNodes;
        Worker worker(maxLeafDepth_);
        for (int depth = std::min(blockDepth_, table.levels - 1); depth >= 0; --depth) {
            for (int32_t i = table.depthStart[size_t(depth)]; i < table.depthStart[size_t(depth) + 1]; ++i) {
                Node* leaf = table.nodes[size_t(i)];
                if (leaf->children)
                    continue;
                ComputeLeafCorners(context_.evaluator, tree_.minDepth, leaf, coarseTables_, worker.key3,
                                   context_.accumulatedSolution, context_.isoValue);
                if (!producesSurface(leaf))
                    continue;
                AddEdgeVertices(context_, leaf, 0, worker, coarseTables_, true);
                mergeWorkerVertices(context_, worker, coarseTables_, nullptr);
                AddLeafPolygons(context_, worker, leaf, coarseTables_, nullptr, 0, 0, addBarycentres_);
                mergeWorkerPolygons(context_, worker, nullptr);
            }
        }
    }

    IsoSurfaceContext<Data>& context_;
    Octree<Data>& tree_;
    int blockDepth_;
    bool addBarycentres_;
    int threads_;
    int maxLeafDepth_ = 0;
    IsoSurfaceTables blockTables_;
    IsoSurfaceTables coarseTables_;
    std::vector<Worker> workers_;
};

/// The coefficients of the depths above the deepest leaf depth with the
/// coarser depths folded in: entry i holds node i's solution plus the
/// prolongation of every coarser depth from minDepth on (0 above minDepth).
template <class Data>
std::vector<float> accumulateCoarserSolution(const Octree<Data>& tree)
{
    const auto& table = tree.sortedNodes;
    const int maxLeafDepth = OctNode<Data>::height(&tree.root);
    const int64_t first = table.depthStart[size_t(std::min(int(tree.minDepth), maxLeafDepth))];
    const int64_t end = table.depthStart[size_t(maxLeafDepth)];
    std::vector<float> accumulated(size_t(end), 0.0f);
    const int threads = std::max(1, int(tree.threads));
    NodeTableDetail::forEachThread(threads, [&](int t) {
        for (int64_t i = first + (end - first) * t / threads; i < first + (end - first) * (t + 1) / threads; ++i)
            accumulated[size_t(i)] = table.nodes[size_t(i)]->nodeData.solution;
    });
    for (int depth = tree.minDepth; depth < maxLeafDepth; ++depth)
        tree.ProlongToDepth(depth, accumulated);
    return accumulated;
}

/// Extracts the iso-surface of the solved tree into `mesh`: refines the faces
/// of the blocks of `isoDivide` levels, folds the coarser coefficients in, runs
/// the IsoSurfaceExtractor and logs one warning with the counts of the
/// inconsistencies it worked around. Returns their total.
template <class Data>
int ExtractIsoSurface(Octree<Data>& tree, float isoValue, int isoDivide, CoredMeshData<PlyVertex>& mesh,
                      bool addBarycentres)
{
    const int blockDepth = tree.RefineBlockBoundaries(isoDivide);
    const std::vector<float> accumulated = accumulateCoarserSolution(tree);
    IsoSurfaceContext<Data> context(tree, isoValue, accumulated, mesh);
    IsoSurfaceExtractor<Data>(context, blockDepth, addBarycentres).run();
    context.anomalies.log();
    return context.anomalies.total();
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
