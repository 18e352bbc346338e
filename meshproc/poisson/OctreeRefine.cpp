#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <algorithm>

namespace Veltrane {
namespace PoissonReconstruction {

template <class Data>
bool Octree<Data>::HasNormals(const Node* node) const
{
    const int32_t index = node->nodeData.normalIndex;
    if (index >= 0 && normals) {
        const Point3D<float>& n = (*normals)[static_cast<size_t>(index)];
        // A component that is not a number also compares unequal to 0.
        if (n[0] != 0 || n[1] != 0 || n[2] != 0)
            return true;
    }
    if (node->children)
        for (int c = 0; c < 8; ++c)
            if (HasNormals(&node->children[c]))
                return true;
    return false;
}

template <class Data>
void Octree<Data>::PruneEmptyChildren()
{
    for (Node* node = &root; node; node = Node::nextInTree(&root, node)) {
        if (!node->children || node->depth < minDepth)
            continue;
        bool keep = false;
        for (int c = 0; c < 8 && !keep; ++c)
            keep = HasNormals(&node->children[c]);
        // The detached nodes stay with the allocator until the tree goes.
        if (!keep)
            node->children = nullptr;
    }
}

template <class Data>
void Octree<Data>::FinalizeTree(int isoDivide)
{
    const int height = Node::height(&root);
    NeighborCache5<Node> key;
    key.set(height);
    for (int d = height; d >= 1; --d) {
        // Nodes below depth d play no part in this pass: skip their subtrees.
        for (Node* node = &root; node;) {
            if (node->depth < d) {
                node = Node::nextInTree(&root, node);
                continue;
            }
            const int c = node->childIndex();
            int start[3], end[3];
            for (int axis = 0; axis < 3; ++axis) {
                const bool upper = (c >> axis) & 1;
                start[axis] = upper ? 1 : 0;
                end[axis] = upper ? 5 : 4;
            }
            key.getCreateInRanges(node->parent, start[0], end[0], start[1], end[1], start[2], end[2], allocator);
            node = Node::nextAfterSubtree(&root, node);
        }
    }
    RefineBlockBoundaries(isoDivide);
}

template <class Data>
int Octree<Data>::RefineBlockBoundaries(int isoDivide)
{
    const int height = Node::height(&root);
    const int s = std::max(isoDivide, 0) + (boundaryType == 0 ? 2 : 0);
    int blockDepth = height - std::min(height, s);
    if (boundaryType == 0)
        blockDepth = std::max(blockDepth, 2);
    if (blockDepth == 0) {
        sortedNodes.build(&root);
        return 0;
    }

    NeighborCache3<Node> key;
    key.set(height);
    for (Node* leaf = Node::nextLeafInTree(&root, nullptr); leaf; leaf = Node::nextLeafInTree(&root, leaf)) {
        // A leaf refined by an earlier leaf's refinement is followed by its
        // own first leaf (nextLeafInTree).
        const int d = leaf->depth;
        if (d <= blockDepth)
            continue;
        int o[3];
        OctreeDetail::localOffsets(leaf, o);
        const int mask = (1 << (d - blockDepth)) - 1;
        const int last = (1 << d) - 1;
        bool low[3], high[3], any = false;
        for (int axis = 0; axis < 3; ++axis) {
            low[axis] = o[axis] != 0 && (o[axis] & mask) == 0;
            high[axis] = o[axis] != last && (o[axis] & mask) == mask;
            any = any || low[axis] || high[axis];
        }
        if (!any)
            continue;

        const Level3& level = key.get(leaf);
        int direction[3];
        for (int axis = 0; axis < 3; ++axis) {
            int lowSlot[3] = {1, 1, 1}, highSlot[3] = {1, 1, 1};
            lowSlot[axis] = 0;
            highSlot[axis] = 2;
            direction[axis] = 0;
            if (low[axis] && !level.neighbors[lowSlot[0]][lowSlot[1]][lowSlot[2]])
                direction[axis] = -1;
            else if (high[axis] && !level.neighbors[highSlot[0]][highSlot[1]][highSlot[2]])
                direction[axis] = 1;
        }
        if (!direction[0] && !direction[1] && !direction[2])
            continue;

        // The faces, edges and corner that the missing directions span.
        bool flags[3][3][3] = {};
        for (int mx = 0; mx < 2; ++mx)
            for (int my = 0; my < 2; ++my)
                for (int mz = 0; mz < 2; ++mz) {
                    const int dx = mx ? direction[0] : 0, dy = my ? direction[1] : 0, dz = mz ? direction[2] : 0;
                    if ((mx && !dx) || (my && !dy) || (mz && !dz) || (!dx && !dy && !dz))
                        continue;
                    flags[1 + dx][1 + dy][1 + dz] = true;
                }
        key.getCreateFlagged(leaf, flags, allocator);
    }
    sortedNodes.build(&root);
    return blockDepth;
}

#define KORVASTEL_INSTANTIATE_REFINEMENT(Data)                                                                     \
    template bool Octree<Data>::HasNormals(const Node*) const;                                                     \
    template void Octree<Data>::PruneEmptyChildren();                                                              \
    template void Octree<Data>::FinalizeTree(int);                                                                 \
    template int Octree<Data>::RefineBlockBoundaries(int);

KORVASTEL_INSTANTIATE_REFINEMENT(NodeData)
KORVASTEL_INSTANTIATE_REFINEMENT(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
