#pragma once

#include "meshproc/poisson/OctNode.h"
#include "meshproc/poisson/ReconstructionError.h"

#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// The nodes of one depth around a centre node: slot [i][j][k] holds the node
/// whose offsets differ from the centre's by (i - R, j - R, k - R) along x, y, z,
/// or null. R = 1 for 3 x 3 x 3 and R = 2 for 5 x 5 x 5 neighbourhoods.
template <class Node, int Size>
struct NeighborLevel {
    static constexpr int radius = Size / 2;
    Node* neighbors[Size][Size][Size];

    Node* centre() const { return neighbors[radius][radius][radius]; }
    void clear()
    {
        for (auto& plane : neighbors)
            for (auto& row : plane)
                for (Node*& slot : row)
                    slot = nullptr;
    }
};

namespace NeighborCacheDetail {

/// Parent-level slot and child bit of slot `i` along one axis, for a node whose
/// child bit along that axis is `c`.
template <int Size>
inline void parentSlot(int i, int c, int& slot, int& bit)
{
    if (Size == 3) {
        const int u = i + c + 1;
        slot = u >> 1;
        bit = u & 1;
    } else {
        const int u = i + c;
        slot = (u >> 1) + 1;
        bit = u & 1;
    }
}

/// Fills `level` (already cleared) for `node` from its parent's level. For every
/// slot whose parent-level node exists, `fill(parentNode, a, b, e, i, j, k)`
/// returns whether the slot may take that node's child (creating children if it
/// wishes); the child then goes into the slot when the parent node has children.
template <class Node, int Size, class Fill>
void fillFromParent(NeighborLevel<Node, Size>& level, const NeighborLevel<Node, Size>& parentLevel,
                    const Node* node, Fill fill)
{
    const int child = node->childIndex();
    const int cx = child & 1, cy = (child >> 1) & 1, cz = (child >> 2) & 1;
    for (int i = 0; i < Size; ++i) {
        int a, bx;
        parentSlot<Size>(i, cx, a, bx);
        for (int j = 0; j < Size; ++j) {
            int b, by;
            parentSlot<Size>(j, cy, b, by);
            for (int k = 0; k < Size; ++k) {
                int e, bz;
                parentSlot<Size>(k, cz, e, bz);
                Node* parentNode = parentLevel.neighbors[a][b][e];
                if (!parentNode || !fill(parentNode, a, b, e, i, j, k) || !parentNode->children)
                    continue;
                level.neighbors[i][j][k] = &parentNode->children[bx | (by << 1) | (bz << 2)];
            }
        }
    }
}

}  // namespace NeighborCacheDetail

/// Levels 0..D of one neighbourhood size, one per depth, for one thread. A
/// level is derived from the parent's level, so a depth-first walk recomputes
/// only the levels below the last common ancestor. A cached level is reused as
/// long as its centre is the node asked for (the creating queries also ask
/// that no slot they could fill is null); it is not refreshed when nodes are
/// created elsewhere.
template <class Node, int Size>
class NeighborCacheLevels {
public:
    using Level = NeighborLevel<Node, Size>;

    /// Levels for depths 0..maxDepth, all slots null; none for maxDepth < 0.
    void set(int maxDepth)
    {
        Level empty;
        empty.clear();
        levels_.assign(maxDepth >= 0 ? size_t(maxDepth) + 1 : 0, empty);
    }
    void release() { std::vector<Level>().swap(levels_); }
    /// Deepest depth the key holds (-1 when it holds none).
    int depth() const { return static_cast<int>(levels_.size()) - 1; }
    Level& level(int d) { return levels_[static_cast<size_t>(d)]; }

    /// The node's neighbours as they exist; creates nothing.
    Level& get(Node* node)
    {
        Level& level = levelOf(node);
        if (level.centre() == node || restart(level, node, !node->parent))
            return level;
        NeighborCacheDetail::fillFromParent(level, get(node->parent), node,
                                            [](Node*, int, int, int, int, int, int) { return true; });
        return level;
    }

protected:
    Level& levelOf(const Node* node)
    {
        if (node->depth >= static_cast<int>(levels_.size()))
            failReconstruction(formatMessage("[ERROR] Neighbour key holds %d levels, node depth is %d\n",
                                             static_cast<int>(levels_.size()), int(node->depth)));
        return levels_[static_cast<size_t>(node->depth)];
    }

    /// Clears the level. A node that sees no neighbours (`alone`: the root, or
    /// the root of the subtree looked at) gets only its centre slot, and then
    /// the level is complete (true).
    static bool restart(Level& level, Node* node, bool alone)
    {
        level.clear();
        if (!alone)
            return false;
        level.neighbors[Level::radius][Level::radius][Level::radius] = node;
        return true;
    }

private:
    std::vector<Level> levels_;
};

/// Per-depth cache of 3 x 3 x 3 neighbourhoods, with the queries that create
/// missing nodes while the tree is built and refined, and the query limited to
/// one subtree.
template <class Node>
class NeighborCache3 : public NeighborCacheLevels<Node, 3> {
    using Base = NeighborCacheLevels<Node, 3>;

public:
    using Level = typename Base::Level;

    /// Creates every missing neighbour inside the unit cube (giving coarser
    /// leaves children) and returns the complete neighbourhood.
    Level& getCreate(Node* node, Allocator<Node>& allocator)
    {
        Level& level = this->levelOf(node);
        if ((level.centre() == node && !hasNullSlot(level, nullptr)) || Base::restart(level, node, !node->parent))
            return level;
        NeighborCacheDetail::fillFromParent(level, getCreate(node->parent, allocator), node,
                                            [&](Node* parentNode, int, int, int, int, int, int) {
                                                if (!parentNode->children)
                                                    parentNode->initChildren(allocator);
                                                return true;
                                            });
        return level;
    }

    /// Like getCreate, but creates children only for parent-level nodes in the
    /// directions whose flag is set; flags[1 + dx][1 + dy][1 + dz] stands for
    /// direction (dx, dy, dz).
    Level& getCreateFlagged(Node* node, const bool flags[3][3][3], Allocator<Node>& allocator)
    {
        Level& level = this->levelOf(node);
        if ((level.centre() == node && !hasNullSlot(level, flags)) || Base::restart(level, node, !node->parent))
            return level;
        NeighborCacheDetail::fillFromParent(level, getCreateFlagged(node->parent, flags, allocator), node,
                                            [&](Node* parentNode, int a, int b, int e, int, int, int) {
                                                if (!parentNode->children && flags[a][b][e])
                                                    parentNode->initChildren(allocator);
                                                return true;
                                            });
        return level;
    }

    /// The node's neighbours inside the subtree that contains it at depth
    /// `subtreeDepth`; creates nothing. Fails the run for a node above that depth.
    Level& getInSubtree(Node* node, int subtreeDepth)
    {
        if (node->depth < subtreeDepth)
            failReconstruction(formatMessage("[ERROR] Node depth lower than min-depth: %d < %d\n",
                                             int(node->depth), subtreeDepth));
        Level& level = this->levelOf(node);
        if (level.centre() == node || Base::restart(level, node, node->depth == subtreeDepth))
            return level;
        NeighborCacheDetail::fillFromParent(level, getInSubtree(node->parent, subtreeDepth), node,
                                            [](Node*, int, int, int, int, int, int) { return true; });
        return level;
    }

private:
    // Whether a slot is null whose flag is set (every slot when flags is null).
    static bool hasNullSlot(const Level& level, const bool (*flags)[3][3])
    {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    if (!level.neighbors[i][j][k] && (!flags || flags[i][j][k]))
                        return true;
        return false;
    }
};

/// Per-depth cache of 5 x 5 x 5 neighbourhoods. Only the inner 3 x 3 x 3 of a
/// parent's level is consulted.
template <class Node>
class NeighborCache5 : public NeighborCacheLevels<Node, 5> {
    using Base = NeighborCacheLevels<Node, 5>;

public:
    using Level = typename Base::Level;

    /// Fills only the slots in [x0, x1) x [y0, y1) x [z0, z1), creating the
    /// missing ones. A level already cached for this node is returned at once,
    /// whatever ranges are asked.
    Level& getCreateInRanges(Node* node, int x0, int x1, int y0, int y1, int z0, int z1,
                             Allocator<Node>& allocator)
    {
        Level& level = this->levelOf(node);
        if (level.centre() == node || Base::restart(level, node, !node->parent))
            return level;
        NeighborCacheDetail::fillFromParent(
            level, getCreateInRanges(node->parent, x0, x1, y0, y1, z0, z1, allocator), node,
            [&](Node* parentNode, int, int, int, int i, int j, int k) {
                if (i < x0 || i >= x1 || j < y0 || j >= y1 || k < z0 || k >= z1)
                    return false;
                if (!parentNode->children)
                    parentNode->initChildren(allocator);
                return true;
            });
        return level;
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
