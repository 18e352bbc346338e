#pragma once

#include "meshproc/poisson/NeighborCache.h"
#include "meshproc/poisson/ReconstructionError.h"

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Indices of a node's 8 corners; corner c lies at the corner with bits
/// (c & 1, (c >> 1) & 1, (c >> 2) & 1). -1: unindexed.
struct CornerIndices {
    static constexpr int count = 8;
    int32_t idx[count] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int32_t& operator[](int i) { return idx[i]; }
    int32_t operator[](int i) const { return idx[i]; }
};

/// Indices of a node's 12 edges. Edge e runs along axis o = e >> 2 (x, y, z)
/// at side e & 1 of the first and side (e >> 1) & 1 of the second of the two
/// other axes, taken in x, y, z order. -1: unindexed.
struct EdgeIndices {
    static constexpr int count = 12;
    int32_t idx[count] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    int32_t& operator[](int i) { return idx[i]; }
    int32_t operator[](int i) const { return idx[i]; }
};

/// Shared numbering of the corners (or edges) of the nodes of a range of
/// depths: `count` distinct items, one record per node; the record of a node
/// of depth d is indices[depthOffset[d] + node.tableIndex] (depthOffset[d] is
/// -1 outside the numbered depths).
template <class Indices>
struct IndexTable {
    int32_t count = 0;
    std::vector<Indices> indices;
    std::vector<int32_t> depthOffset;

    template <class Node>
    Indices& at(const Node* node)
    {
        return indices[static_cast<size_t>(depthOffset[node->depth] + node->nodeData.tableIndex)];
    }
};

using CornerTable = IndexTable<CornerIndices>;
using EdgeTable = IndexTable<EdgeIndices>;

namespace NodeTableDetail {

template <class Node>
using Level3 = NeighborLevel<Node, 3>;

/// Slot q = a + 2b + 4g of the 8 nodes around corner c of the level's centre.
template <class Node>
Node* cornerSlot(const Level3<Node>& level, int c, int q)
{
    return level.neighbors[(c & 1) + (q & 1)][((c >> 1) & 1) + ((q >> 1) & 1)][((c >> 2) & 1) + ((q >> 2) & 1)];
}

/// Slot q = a + 2b of the 4 nodes around edge e of the level's centre.
template <class Node>
Node* edgeSlot(const Level3<Node>& level, int e, int q)
{
    const int o = e >> 2;
    const int u = (e & 1) + (q & 1);
    const int v = ((e >> 1) & 1) + ((q >> 1) & 1);
    switch (o) {
    case 0: return level.neighbors[1][u][v];
    case 1: return level.neighbors[u][1][v];
    default: return level.neighbors[u][v][1];
    }
}

template <class Node>
bool indexed(const Node* node)
{
    return node && node->nodeData.tableIndex >= 0;
}

/// Whether the centre of `level` (a leaf, or at maxDepth) numbers its corner c:
/// no indexed node around the corner comes before it in slot order, and, above
/// maxDepth, no node around it has finer nodes that will number it.
template <class Node>
bool ownsCorner(const Level3<Node>& level, int c, int maxDepth)
{
    const Node* node = level.centre();
    for (int q = 0; q < 8; ++q) {
        const Node* other = cornerSlot(level, c, q);
        if (!indexed(other))
            continue;
        if (q < 7 - c || (node->depth < maxDepth && other->children))
            return false;
    }
    return true;
}

/// Whether the centre of `level` numbers its edge e: no indexed node around the
/// edge comes before it in slot order.
template <class Node>
bool ownsEdge(const Level3<Node>& level, int e)
{
    const int self = 3 - ((e & 1) + 2 * ((e >> 1) & 1));
    for (int q = 0; q < self; ++q)
        if (indexed(edgeSlot(level, e, q)))
            return false;
    return true;
}

/// Runs body(t) for t in [0, threads) as an OpenMP team and rethrows the first
/// exception a thread raised once the team has joined.
template <class Body>
void forEachThread(int threads, Body body)
{
    std::exception_ptr failure;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int t = 0; t < threads; ++t) {
        try {
            body(t);
        } catch (...) {
#pragma omp critical(poissonThreadFailure)
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace NodeTableDetail

/// All nodes of the tree in breadth-first order: depth by depth, the children
/// of each parent at consecutive positions, parents in table order. Gives every
/// node its tableIndex. The nodes of a subtree at one depth form one contiguous
/// range.
template <class Node>
class SortedNodeTable {
public:
    std::vector<Node*> nodes;
    /// Nodes of depth d are nodes[depthStart[d]] .. nodes[depthStart[d + 1] - 1].
    std::vector<int32_t> depthStart;
    int32_t levels = 0;

    void build(Node* root)
    {
        release();
        levels = Node::height(root) + 1;
        depthStart.assign(static_cast<size_t>(levels) + 1, 0);
        nodes.reserve(static_cast<size_t>(Node::subtreeSize(root)));
        for (Node* node = root; node; node = Node::nextInTree(root, node))
            node->nodeData.tableIndex = -1;
        nodes.push_back(root);
        depthStart[1] = 1;
        for (int d = 1; d < levels; ++d) {
            depthStart[d + 1] = depthStart[d];
            for (int i = depthStart[d - 1]; i < depthStart[d]; ++i) {
                Node* parent = nodes[static_cast<size_t>(i)];
                if (!parent->children)
                    continue;
                for (int c = 0; c < 8; ++c)
                    nodes.push_back(&parent->children[c]);
                depthStart[d + 1] += 8;
            }
        }
        for (size_t i = 0; i < nodes.size(); ++i)
            nodes[i]->nodeData.tableIndex = static_cast<int32_t>(i);
    }

    void release()
    {
        std::vector<Node*>().swap(nodes);
        std::vector<int32_t>().swap(depthStart);
        levels = 0;
    }

    /// Numbers the corners of the nodes of subtreeRoot's subtree (the whole
    /// tree when null) from its depth down to maxDepth: every node of the range
    /// that has a corner at one point carries the same index, whatever its depth.
    void setCornerTable(CornerTable& table, Node* subtreeRoot, int maxDepth, int threads) const
    {
        numberItems(table, subtreeRoot, maxDepth, threads, [maxDepth](const Level3& level, int c) {
            return NodeTableDetail::ownsCorner(level, c, maxDepth);
        });
    }

    /// Numbers the edges in the same way: nodes of one depth that share an
    /// edge carry the same index; edges of different depths never share one.
    void setEdgeTable(EdgeTable& table, Node* subtreeRoot, int maxDepth, int threads) const
    {
        numberItems(table, subtreeRoot, maxDepth, threads,
                    [](const Level3& level, int e) { return NodeTableDetail::ownsEdge(level, e); });
    }

    /// The largest number of corners numbered inside one block (the subtree of
    /// a node of depth blockDepth) when each block is numbered down to maxDepth.
    int32_t maxBlockCornerCount(int blockDepth, int maxDepth, int threads) const
    {
        maxDepth = std::min(maxDepth, levels - 1);
        return maxBlockCount<CornerIndices>(blockDepth, maxDepth, depthStart[static_cast<size_t>(maxDepth) + 1],
                                            threads, [maxDepth](const Level3& level, int c) {
                                                return NodeTableDetail::ownsCorner(level, c, maxDepth);
                                            });
    }

    /// The largest number of edges numbered inside one block, over all depths
    /// from blockDepth down.
    int32_t maxBlockEdgeCount(int blockDepth, int threads) const
    {
        return maxBlockCount<EdgeIndices>(blockDepth, levels - 1, depthStart[static_cast<size_t>(levels)], threads,
                                          [](const Level3& level, int e) { return NodeTableDetail::ownsEdge(level, e); });
    }

private:
    using Level3 = NeighborLevel<Node, 3>;

    struct Span {
        int32_t first = 0;
        int32_t end = 0;
    };

    template <class Indices>
    static constexpr bool numbersCorners = std::is_same<Indices, CornerIndices>::value;

    // Whether `node` numbers items of the kind of `Indices` at all: corners
    // belong to leaves and nodes at maxDepth, edges to every node.
    template <class Indices>
    static bool takesPart(const Node* node, int maxDepth)
    {
        return !numbersCorners<Indices> || !node->children || node->depth == maxDepth;
    }

    // Positions [first + n*t/T, first + n*(t+1)/T) of a span of n positions.
    static void threadPart(int32_t first, int32_t end, int t, int threads, int32_t& from, int32_t& to)
    {
        const int64_t n = end - first;
        from = first + static_cast<int32_t>(n * t / threads);
        to = first + static_cast<int32_t>(n * (t + 1) / threads);
    }

    template <class Indices, class Owns>
    void numberItems(IndexTable<Indices>& table, Node* subtreeRoot, int maxDepth, int threads, Owns owns) const
    {
        constexpr int R = Indices::count;
        constexpr bool corners = numbersCorners<Indices>;
        threads = std::max(threads, 1);
        maxDepth = std::min(maxDepth, levels - 1);
        std::vector<Span> spans(static_cast<size_t>(levels));
        table.depthOffset.assign(static_cast<size_t>(levels), -1);
        const int d0 = subtreeRoot ? subtreeRoot->depth : 0;
        int32_t first = subtreeRoot ? subtreeRoot->nodeData.tableIndex : 0;
        int32_t last = first;
        int64_t recordCount = 0;
        int endDepth = d0;
        for (int d = d0; d <= maxDepth; ++d) {
            spans[d] = {first, last + 1};
            table.depthOffset[d] = static_cast<int32_t>(recordCount - first);
            recordCount += last + 1 - first;
            endDepth = d;
            if (d == maxDepth)
                break;
            while (first < last && !nodes[first]->children)
                ++first;
            while (last > first && !nodes[last]->children)
                --last;
            if (first == last && !nodes[first]->children)
                break;
            first = nodes[first]->children[0].nodeData.tableIndex;
            last = nodes[last]->children[7].nodeData.tableIndex;
        }
        if (recordCount * R > std::numeric_limits<int32_t>::max())
            failReconstruction(formatMessage("[ERROR] Too many nodes to number: %lld\n",
                                             static_cast<long long>(recordCount)));
        table.indices.assign(static_cast<size_t>(recordCount), Indices());

        // Pass 1: each thread numbers the items its nodes own with provisional
        // indices from its own range, which starts at R times the records of
        // the threads before it.
        std::vector<int32_t> base(static_cast<size_t>(threads) + 1, 0);
        for (int t = 0; t < threads; ++t) {
            int64_t records = 0;
            for (int d = d0; d <= endDepth; ++d) {
                int32_t from, to;
                threadPart(spans[d].first, spans[d].end, t, threads, from, to);
                records += to - from;
            }
            base[t + 1] = static_cast<int32_t>(base[t] + R * records);
        }
        std::vector<int32_t> counts(static_cast<size_t>(threads), 0);
        NodeTableDetail::forEachThread(threads, [&](int t) {
            NeighborCache3<Node> key;
            key.set(maxDepth);
            int32_t& k = counts[t];
            for (int d = d0; d <= endDepth; ++d) {
                int32_t from, to;
                threadPart(spans[d].first, spans[d].end, t, threads, from, to);
                for (int32_t i = from; i < to; ++i) {
                    Node* node = nodes[i];
                    if (!takesPart<Indices>(node, maxDepth))
                        continue;
                    const Level3& level = key.getInSubtree(node, d0);
                    for (int item = 0; item < R; ++item) {
                        if (!owns(level, item))
                            continue;
                        const int32_t provisional = base[t] + k++;
                        if constexpr (corners)
                            spreadCorner(table, key, node, item, d0, provisional);
                        else
                            spreadEdge(table, level, item, provisional);
                    }
                }
            }
        });

        // Pass 2: final index = items of the threads before the owner + its
        // own count.
        std::vector<int32_t> prefix(static_cast<size_t>(threads) + 1, 0);
        for (int t = 0; t < threads; ++t)
            prefix[t + 1] = prefix[t] + counts[t];
        table.count = prefix[threads];
        NodeTableDetail::forEachThread(threads, [&](int t) {
            for (int d = d0; d <= endDepth; ++d) {
                int32_t from, to;
                threadPart(spans[d].first, spans[d].end, t, threads, from, to);
                for (int32_t i = from; i < to; ++i) {
                    Indices& record = table.at(nodes[i]);
                    for (int item = 0; item < R; ++item) {
                        const int32_t v = record[item];
                        if (v < 0)
                            reportUnindexed(corners, i, item, v, d0, maxDepth, subtreeRoot, nodes[i], spans[d0]);
                        const int owner = static_cast<int>(std::upper_bound(base.begin(), base.end(), v) - base.begin()) - 1;
                        record[item] = prefix[owner] + (v - base[owner]);
                    }
                }
            }
        });
    }

    // Writes `index` into corner 7 - q of the nodes around corner c of node,
    // and of the nodes around the same point at every coarser depth down to d0
    // where the point is still a corner of the ancestor.
    static void spreadCorner(CornerTable& table, NeighborCache3<Node>& key, Node* node, int c, int d0, int32_t index)
    {
        for (;;) {
            const Level3& level = key.level(node->depth);
            for (int q = 0; q < 8; ++q) {
                Node* other = NodeTableDetail::cornerSlot(level, c, q);
                if (NodeTableDetail::indexed(other))
                    table.at(other)[7 - q] = index;
            }
            if (node->depth <= d0 || !node->parent || node->childIndex() != c)
                return;
            node = node->parent;
        }
    }

    static void spreadEdge(EdgeTable& table, const Level3& level, int e, int32_t index)
    {
        const int o = e >> 2;
        for (int q = 0; q < 4; ++q) {
            Node* other = NodeTableDetail::edgeSlot(level, e, q);
            if (NodeTableDetail::indexed(other))
                table.at(other)[o * 4 + (1 - (q >> 1)) * 2 + (1 - (q & 1))] = index;
        }
    }

    [[noreturn]] static void reportUnindexed(bool corners, int32_t position, int item, int32_t value, int d0,
                                             int maxDepth, const Node* subtreeRoot, const Node* node, Span span)
    {
        if (!corners)
            failReconstruction(formatMessage("[ERROR] Found unindexed edge %d (%d,%d)\n", value, d0, maxDepth));
        std::string message = formatMessage("[ERROR] Found unindexed corner nodes[%d][%d] = %d (%d,%d)\n", position,
                                            item, value, d0, maxDepth);
        int d, o[3];
        node->position(d, o);
        if (subtreeRoot) {
            int rd, ro[3];
            subtreeRoot->position(rd, ro);
            message += formatMessage("(%d [%d %d %d]) <-> (%d [%d %d %d])\n", rd, ro[0], ro[1], ro[2], d, o[0], o[1], o[2]);
        } else {
            message += formatMessage("NULL <-> (%d [%d %d %d])\n", d, o[0], o[1], o[2]);
        }
        message += formatMessage("[%d %d]\n", span.first, span.end);
        failReconstruction(message);
    }

    template <class Indices, class Owns>
    int32_t maxBlockCount(int blockDepth, int maxDepth, int32_t end, int threads, Owns owns) const
    {
        threads = std::max(threads, 1);
        const int64_t perAxis = int64_t(1) << blockDepth;
        const size_t blockCount = static_cast<size_t>(perAxis * perAxis * perAxis);
        std::vector<std::vector<int32_t>> counts(static_cast<size_t>(threads));
        const int32_t first = depthStart[static_cast<size_t>(blockDepth)];
        NodeTableDetail::forEachThread(threads, [&](int t) {
            std::vector<int32_t>& blockCounts = counts[t];
            blockCounts.assign(blockCount, 0);
            NeighborCache3<Node> key;
            key.set(maxDepth);
            int32_t from, to;
            threadPart(first, end, t, threads, from, to);
            for (int32_t i = from; i < to; ++i) {
                Node* node = nodes[i];
                if (!takesPart<Indices>(node, maxDepth))
                    continue;
                const Level3& level = key.getInSubtree(node, blockDepth);
                int d, o[3];
                node->position(d, o);
                const int s = d - blockDepth;
                const size_t block = static_cast<size_t>(((o[0] >> s) * perAxis + (o[1] >> s)) * perAxis + (o[2] >> s));
                for (int item = 0; item < Indices::count; ++item)
                    if (owns(level, item))
                        ++blockCounts[block];
            }
        });
        int32_t largest = 0;
        for (size_t block = 0; block < blockCount; ++block) {
            int32_t sum = 0;
            for (const std::vector<int32_t>& blockCounts : counts)
                sum += blockCounts[block];
            largest = std::max(largest, sum);
        }
        return largest;
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
