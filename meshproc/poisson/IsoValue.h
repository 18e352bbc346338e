#pragma once

#include "meshproc/poisson/CubeIndexing.h"
#include "meshproc/poisson/IsoSurfaceTables.h"
#include "meshproc/poisson/NeighborCache.h"
#include "meshproc/poisson/Octree.h"
#include "platform/AtomicBits.h"

#include <array>
#include <cstdint>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Position indices (half cells of the deepest spline depth D) of a point of
/// the finest grid, with its key x + y * 2^15 + z * 2^30.
struct GridPoint {
    std::array<int, 3> index{};
    VertexKey key = 0;
};

/// Corner c of `node`: per axis (offset + corner bit) << (D - depth + 1).
template <class Node>
GridPoint cornerKey(const Node* node, int corner, int splineDepth)
{
    int d, o[3];
    node->position(d, o);
    GridPoint point;
    for (int axis = 0; axis < 3; ++axis) {
        point.index[size_t(axis)] = (o[axis] + ((corner >> axis) & 1)) << (splineDepth - d + 1);
        point.key |= VertexKey(point.index[size_t(axis)]) << (15 * axis);
    }
    return point;
}

/// Centre of `node`: per axis (2 offset + 1) << (D - depth).
template <class Node>
GridPoint centreKey(const Node* node, int splineDepth)
{
    int d, o[3];
    node->position(d, o);
    GridPoint point;
    for (int axis = 0; axis < 3; ++axis) {
        point.index[size_t(axis)] = (2 * o[axis] + 1) << (splineDepth - d);
        point.key |= VertexKey(point.index[size_t(axis)]) << (15 * axis);
    }
    return point;
}

/// Evaluates the implicit function (the nodes' B-splines weighted by their
/// coefficients) from the neighbours a key holds around a node. Needs the
/// value tables of the tree's spline data (and the derivative table for
/// gradients).
template <class Data>
class SplineEvaluator {
public:
    using Node = OctNode<Data>;

    explicit SplineEvaluator(const Octree<Data>& tree)
        : tree_(tree), functionCount_(tree.splineData.functionCount), splineDepth_(tree.splineData.depth)
    {
    }

    int splineDepth() const { return splineDepth_; }

    /// The function at the node's centre. `key` holds the node's neighbours.
    float EvaluateCentreValue(NeighborCache3<Node>& key, const Node* node) const
    {
        const GridPoint p = centreKey(node, splineDepth_);
        const int d = node->depth;
        float value = 0;
        const int firstDepth = std::max(0, std::min(d - 1, int(tree_.minDepth)));
        for (int e = firstDepth; e <= d; ++e) {
            const auto& level = key.level(e);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    for (int k = 0; k < 3; ++k)
                        if (const Node* n = level.neighbors[i][j][k])
                            value += term(p, n, n->nodeData.solution);
        }
        if (node->children) {
            // Finer functions that do not vanish at the centre: the children
            // and their descendants towards the centre.
            for (int c = 0; c < 8; ++c) {
                const Node* n = &node->children[c];
                value += term(p, n, n->nodeData.solution);
                while (n->children) {
                    n = &n->children[7 - c];
                    value += term(p, n, n->nodeData.solution);
                }
            }
        }
        return value;
    }

    /// The function at corner c of the node (minus 0.5 for boundary type -1):
    /// the node's own depth from the solution, the coarser depths through
    /// `accumulated` at the parent's depth. `key` holds the node's neighbours.
    float EvaluateCornerValue(NeighborCache3<Node>& key, const Node* node, int corner,
                              const std::vector<float>& accumulated) const
    {
        float value = tree_.boundaryType == -1 ? -0.5f : 0.0f;
        const GridPoint p = cornerKey(node, corner, splineDepth_);
        const int d = node->depth;
        int start[3], end[3];
        for (int axis = 0; axis < 3; ++axis) {
            const int bit = (corner >> axis) & 1;
            start[axis] = bit;
            end[axis] = bit + 2;
        }
        const auto& level = key.level(d);
        for (int i = start[0]; i < end[0]; ++i)
            for (int j = start[1]; j < end[1]; ++j)
                for (int k = start[2]; k < end[2]; ++k)
                    if (const Node* n = level.neighbors[i][j][k])
                        value += term(p, n, n->nodeData.solution);
        if (d > 0 && d > tree_.minDepth) {
            const int child = node->childIndex();
            for (int axis = 0; axis < 3; ++axis) {
                const int bit = (corner >> axis) & 1;
                if (bit != ((child >> axis) & 1)) {
                    // The corner lies on the parent's middle plane.
                    start[axis] = 0;
                    end[axis] = 3;
                }
            }
            const auto& parentLevel = key.level(d - 1);
            for (int i = start[0]; i < end[0]; ++i)
                for (int j = start[1]; j < end[1]; ++j)
                    for (int k = start[2]; k < end[2]; ++k)
                        if (const Node* n = parentLevel.neighbors[i][j][k])
                            value += term(p, n, accumulated[size_t(n->nodeData.tableIndex)]);
        }
        return value;
    }

    /// The gradient at corner c of the node. `key` holds the node's 5 x 5 x 5
    /// neighbours.
    std::array<float, 3> EvaluateCornerGradient(NeighborCache5<Node>& key, const Node* node, int corner,
                                                const std::vector<float>& accumulated) const
    {
        std::array<float, 3> gradient{};
        const GridPoint p = cornerKey(node, corner, splineDepth_);
        const int d = node->depth;
        auto addLevel = [&](const auto& level, bool useAccumulated) {
            for (int i = 0; i < 5; ++i)
                for (int j = 0; j < 5; ++j)
                    for (int k = 0; k < 5; ++k) {
                        const Node* n = level.neighbors[i][j][k];
                        if (!n)
                            continue;
                        const float w = useAccumulated ? accumulated[size_t(n->nodeData.tableIndex)]
                                                       : n->nodeData.solution;
                        addGradientTerm(p, n, w, gradient);
                    }
        };
        addLevel(key.level(d), false);
        if (d > 0 && d > tree_.minDepth)
            addLevel(key.level(d - 1), true);
        return gradient;
    }

private:
    size_t tableIndex(int position, int function) const
    {
        return size_t(position) * size_t(functionCount_) + size_t(function);
    }

    float term(const GridPoint& p, const Node* n, float coefficient) const
    {
        const std::vector<float>& values = tree_.splineData.valueTable;
        return values[tableIndex(p.index[0], n->offset[0])] * values[tableIndex(p.index[1], n->offset[1])] *
               values[tableIndex(p.index[2], n->offset[2])] * coefficient;
    }

    void addGradientTerm(const GridPoint& p, const Node* n, float coefficient, std::array<float, 3>& gradient) const
    {
        const std::vector<float>& values = tree_.splineData.valueTable;
        const std::vector<float>& derivatives = tree_.splineData.derivativeTable;
        double v[3], dv[3];
        for (int axis = 0; axis < 3; ++axis) {
            const size_t index = tableIndex(p.index[size_t(axis)], n->offset[axis]);
            v[axis] = values[index];
            dv[axis] = derivatives[index];
        }
        gradient[0] += float(dv[0] * v[1] * v[2] * double(coefficient));
        gradient[1] += float(v[0] * dv[1] * v[2] * double(coefficient));
        gradient[2] += float(v[0] * v[1] * dv[2] * double(coefficient));
    }

    const Octree<Data>& tree_;
    int functionCount_;
    int splineDepth_;
};

/// The iso-value: the mean of the function at the centres of the nodes that
/// received a normal, weighted by the normal's length (`weight`), minus 0.5 for
/// boundary type -1. NaN when no node has a weight. Computes the value tables
/// of the tree's spline data.
template <class Data>
float ComputeIsoValue(Octree<Data>& tree)
{
    using Node = OctNode<Data>;
    tree.splineData.computeValueTables(BSplineData::Values, 0.0);
    const SplineEvaluator<Data> evaluator(tree);
    const auto& table = tree.sortedNodes;
    const int64_t nodeCount = table.depthStart[size_t(table.levels)];
    const int threads = std::max(1, int(tree.threads));
    std::vector<float> valueSums(size_t(threads), 0.0f);
    std::vector<float> weightSums(size_t(threads), 0.0f);
    NodeTableDetail::forEachThread(threads, [&](int t) {
        NeighborCache3<Node> key;
        key.set(table.levels - 1);
        const int64_t first = nodeCount * t / threads;
        const int64_t end = nodeCount * (t + 1) / threads;
        float valueSum = 0, weightSum = 0;
        for (int64_t i = first; i < end; ++i) {
            Node* node = table.nodes[size_t(i)];
            key.get(node);
            const float w = node->nodeData.weight;
            if (w != 0) {
                valueSum += evaluator.EvaluateCentreValue(key, node) * w;
                weightSum += w;
            }
        }
        valueSums[size_t(t)] = valueSum;
        weightSums[size_t(t)] = weightSum;
    });
    float valueSum = 0, weightSum = 0;
    for (int t = 0; t < threads; ++t) {
        valueSum += valueSums[size_t(t)];
        weightSum += weightSums[size_t(t)];
    }
    float isoValue = valueSum / weightSum;
    if (tree.boundaryType == -1)
        isoValue -= 0.5f;
    return isoValue;
}

using CornerValues = std::array<float, CubeIndexing::cornerCount>;

/// The eight corner values of a leaf: those the tables' cache holds, the rest
/// evaluated. Returns the bits of the corners it evaluated. Reads the cache
/// only, so leaves can run in parallel while nothing writes it.
template <class Data>
unsigned leafCornerValues(const SplineEvaluator<Data>& evaluator, OctNode<Data>* leaf, const IsoSurfaceTables& tables,
                          NeighborCache3<OctNode<Data>>& key, const std::vector<float>& accumulated,
                          CornerValues& values)
{
    key.get(leaf);
    unsigned evaluated = 0;
    for (int c = 0; c < CubeIndexing::cornerCount; ++c) {
        const int32_t k = tables.cornerIndex(leaf, c);
        if (k >= 0 && tables.cornerValues.get(size_t(k), values[size_t(c)]))
            continue;
        values[size_t(c)] = evaluator.EvaluateCornerValue(key, leaf, c, accumulated);
        evaluated |= 1u << c;
    }
    return evaluated;
}

/// Stores the evaluated corner values of a leaf in the tables' cache unless a
/// corner has a value already, and replaces `values` by the cached ones, so
/// that every leaf sharing a corner uses one value.
template <class Node>
void storeLeafCornerValues(const Node* leaf, IsoSurfaceTables& tables, unsigned evaluated, CornerValues& values)
{
    for (int c = 0; c < CubeIndexing::cornerCount; ++c) {
        const int32_t k = tables.cornerIndex(leaf, c);
        if (k < 0)
            continue;
        if (evaluated & (1u << c))
            tables.cornerValues.put(size_t(k), values[size_t(c)]);
        tables.cornerValues.get(size_t(k), values[size_t(c)]);
    }
}

/// Stores the leaf's marching-cubes case in its normalIndex and passes the bit
/// of the corner it shares with its parent up: to the parent, and on to each
/// ancestor of depth at least `minDepth` reached through the same child index.
template <class Node>
void setLeafCase(Node* leaf, const CornerValues& values, float isoValue, int minDepth)
{
    const int cubeCase = CubeIndexing::cubeCase(values, isoValue);
    leaf->nodeData.normalIndex = cubeCase;
    if (!leaf->parent)
        return;
    const int child = leaf->childIndex();
    const int32_t bit = 1 << CubeIndexing::caseCornerBit[size_t(child)];
    if (!(cubeCase & bit))
        return;
    Node* node = leaf->parent;
    atomicOr(node->nodeData.normalIndex, bit);
    while (node->parent && node->childIndex() == child && node->parent->depth >= minDepth) {
        node = node->parent;
        atomicOr(node->nodeData.normalIndex, bit);
    }
}

/// Evaluates (or takes from the tables' cache) the eight corner values of a
/// leaf, caches them, sets the leaf's case and passes its shared corner's bit
/// up to its ancestors.
template <class Data>
void ComputeLeafCorners(const SplineEvaluator<Data>& evaluator, int minDepth, OctNode<Data>* leaf,
                        IsoSurfaceTables& tables, NeighborCache3<OctNode<Data>>& key,
                        const std::vector<float>& accumulated, float isoValue)
{
    CornerValues values;
    const unsigned evaluated = leafCornerValues(evaluator, leaf, tables, key, accumulated, values);
    storeLeafCornerValues(leaf, tables, evaluated, values);
    setLeafCase(leaf, values, isoValue, minDepth);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
