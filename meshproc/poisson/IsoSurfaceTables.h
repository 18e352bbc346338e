#pragma once

#include "meshproc/poisson/OnceCache.h"
#include "meshproc/poisson/SortedNodeTable.h"

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Key of a point of the finest grid (a corner or centre position): x + y *
/// 2^15 + z * 2^30 in half cells of the deepest depth.
using VertexKey = uint64_t;
/// Key of one octree edge at its own depth (see edgeKey()).
using EdgeKey = uint64_t;

/// Value and gradient of the implicit function at one corner.
struct CornerSample {
    float value = 0;
    std::array<float, 3> gradient{};
};

/// The tables of one extraction stage: corner and edge numbering of the nodes
/// it covers, the caches of corner values and gradients, and where the
/// iso-vertices went. Two sets exist during an extraction: the block tables
/// (rebuilt per block) and the coarse tables (no edge table, no
/// edgeVertices).
struct IsoSurfaceTables {
    CornerTable cornerTable;
    EdgeTable edgeTable;
    /// Edge key -> index of its iso-vertex among the in-core points.
    std::unordered_map<EdgeKey, int32_t> boundaryVertices;
    /// Out-of-core index of the iso-vertex of each numbered edge, once it
    /// exists (block tables only).
    bool hasEdgeVertices = false;
    OnceCache<int32_t> edgeVertices;
    OnceCache<float> cornerValues;
    OnceCache<std::array<float, 3>> cornerGradients;

    /// Depths that cornerTable and edgeTable number.
    int firstDepth = 0;
    int lastDepth = -1;

    /// Index of corner c of `node` in cornerTable, or -1 when the tables do not
    /// number the node.
    template <class Node>
    int32_t cornerIndex(const Node* node, int corner) const
    {
        const CornerIndices* record = recordOf(cornerTable, node);
        return record ? (*record)[corner] : -1;
    }

    /// Index of edge e of `node` in edgeTable, or -1 when not numbered.
    template <class Node>
    int32_t edgeIndex(const Node* node, int edge) const
    {
        const EdgeIndices* record = recordOf(edgeTable, node);
        return record ? (*record)[edge] : -1;
    }

private:
    template <class Indices, class Node>
    const Indices* recordOf(const IndexTable<Indices>& table, const Node* node) const
    {
        if (node->depth < firstDepth || node->depth > lastDepth || node->nodeData.tableIndex < 0 ||
            size_t(node->depth) >= table.depthOffset.size())
            return nullptr;
        const int64_t record = int64_t(table.depthOffset[size_t(node->depth)]) + node->nodeData.tableIndex;
        if (record < 0 || record >= int64_t(table.indices.size()))
            return nullptr;
        return &table.indices[size_t(record)];
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
