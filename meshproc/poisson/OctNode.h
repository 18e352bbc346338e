#pragma once

#include "meshproc/poisson/Point3D.h"
#include "meshproc/poisson/ReconstructionError.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Per-node payload of the reconstruction.
struct NodeData {
    int32_t tableIndex = -1;   ///< position in the breadth-first node table
    int32_t normalIndex = -1;  ///< index into the splatted normals, -1 for none
    float weight = 0;          ///< sample density, later the centre weight
    float constraint = 0;      ///< right-hand side of the node's equation
    float solution = 0;        ///< coefficient of the node's function
    int32_t sampleIndex = -1;  ///< index into the point samples, -1 for none
};

/// Payload of the variant that also keeps a density value per node.
struct DensityNodeData {
    int32_t tableIndex = -1;
    int32_t normalIndex = -1;
    float weight = 0;
    float constraint = 0;
    float density = 0;
    float solution = 0;
    int32_t sampleIndex = -1;
};

/// Hands out nodes in contiguous runs taken from blocks of `blockSize`
/// default-constructed nodes. Nodes are never released one by one: all of
/// them go at once with reset() or the allocator's destruction.
template <class Node>
class Allocator {
public:
    explicit Allocator(int blockSize = 4096) { reset(blockSize); }
    Allocator(const Allocator&) = delete;
    Allocator& operator=(const Allocator&) = delete;

    /// Releases every block (and with it every node handed out) and starts
    /// over with blocks of `blockSize` nodes.
    void reset(int blockSize)
    {
        blocks_.clear();
        blockSize_ = blockSize;
        currentBlock_ = -1;
        freeInBlock_ = 0;
    }

    /// `n` contiguous nodes, or null (with a message) when n exceeds the block
    /// size. Nodes left at the end of a block too small for n are skipped.
    Node* take(int n)
    {
        if (n > blockSize_) {
            std::fprintf(stderr, "Allocator Error, elements bigger than block-size: %d>%d\n", n, blockSize_);
            return nullptr;
        }
        if (freeInBlock_ < n) {
            if (currentBlock_ == static_cast<int>(blocks_.size()) - 1) {
                try {
                    blocks_.emplace_back(new Node[static_cast<size_t>(blockSize_)]);
                } catch (const std::bad_alloc&) {
                    failReconstruction("Failed to allocate memory\n");
                }
            }
            ++currentBlock_;
            freeInBlock_ = blockSize_;
        }
        Node* nodes = &blocks_[static_cast<size_t>(currentBlock_)][static_cast<size_t>(blockSize_ - freeInBlock_)];
        freeInBlock_ -= n;
        return nodes;
    }

    int blockSize() const { return blockSize_; }
    int currentBlock() const { return currentBlock_; }
    int freeInBlock() const { return freeInBlock_; }
    int blockCount() const { return static_cast<int>(blocks_.size()); }

private:
    int blockSize_ = 0;
    int currentBlock_ = -1;
    int freeInBlock_ = 0;
    std::vector<std::unique_ptr<Node[]>> blocks_;
};

/// Node of the adaptive octree over the unit cube. Child c covers the octant
/// with x bit c & 1, y bit (c >> 1) & 1, z bit (c >> 2) & 1 (bit 1: upper half).
/// Offsets are stored as true offset + 2^depth - 1, which is also the index of
/// the node's B-spline along that axis. Nodes come from an Allocator, which
/// owns them; a node frees nothing.
template <class Data>
class OctNode {
public:
    /// Deepest depth whose offsets fit the 16-bit storage.
    static constexpr int maxDepth = 14;

    OctNode* parent = nullptr;
    OctNode* children = nullptr;
    int16_t depth = 0;
    int16_t offset[3] = {0, 0, 0};
    Data nodeData;

    /// Gives a leaf its 8 children, taken from `allocator`. Fails the run when
    /// no nodes can be had or the children would be deeper than maxDepth.
    void initChildren(Allocator<OctNode>& allocator)
    {
        if (depth >= maxDepth)
            failReconstruction(formatMessage("[ERROR] Octree depth limit exceeded: %d\n", depth + 1));
        OctNode* nodes = allocator.take(8);
        if (!nodes)
            failReconstruction("Failed to initialize children in OctNode::initChildren\n");
        int d, o[3];
        position(d, o);
        const int childDepth = d + 1;
        for (int c = 0; c < 8; ++c) {
            OctNode& child = nodes[c];
            child.parent = this;
            child.children = nullptr;
            child.depth = static_cast<int16_t>(childDepth);
            for (int axis = 0; axis < 3; ++axis) {
                const int bit = (c >> axis) & 1;
                child.offset[axis] = static_cast<int16_t>(2 * o[axis] + bit + (1 << childDepth) - 1);
            }
        }
        children = nodes;
    }

    /// Depth and the three true offsets (0 <= o < 2^depth).
    void position(int& d, int o[3]) const
    {
        d = depth;
        for (int axis = 0; axis < 3; ++axis)
            o[axis] = (offset[axis] + 1) & ~(1 << d);
    }

    /// Centre and width of the node's cube in the unit cube: w = 1 / 2^depth
    /// and centre (o + 0.5) * w, each rounded to Real before the product.
    template <class Real>
    void cell(Point3D<Real>& centre, Real& width) const
    {
        int d, o[3];
        position(d, o);
        width = static_cast<Real>(1.0 / double(1 << d));
        for (int axis = 0; axis < 3; ++axis)
            centre[axis] = static_cast<Real>(double(o[axis]) + 0.5) * width;
    }

    /// Index of this node among its parent's children (the root: 0).
    int childIndex() const { return parent ? static_cast<int>(this - parent->children) : 0; }

    /// Number of nodes of the subtree, the node included.
    static int subtreeSize(const OctNode* node)
    {
        if (!node->children)
            return 1;
        int size = 1;
        for (int c = 0; c < 8; ++c)
            size += subtreeSize(&node->children[c]);
        return size;
    }

    /// 0 for a leaf, else 1 + the largest height of the children.
    static int height(const OctNode* node)
    {
        if (!node->children)
            return 0;
        int deepest = 0;
        for (int c = 0; c < 8; ++c) {
            const int h = height(&node->children[c]);
            if (h > deepest)
                deepest = h;
        }
        return deepest + 1;
    }

    /// The next node of the subtree after `node` and everything below it, in
    /// pre-order; null at the end of the subtree.
    static OctNode* nextAfterSubtree(const OctNode* subtreeRoot, OctNode* node)
    {
        while (node->parent && node != subtreeRoot) {
            if (node->childIndex() != 7)
                return node + 1;
            node = node->parent;
        }
        return nullptr;
    }

    /// Pre-order successor within the subtree: the first child, else
    /// nextAfterSubtree.
    static OctNode* nextInTree(const OctNode* subtreeRoot, OctNode* node)
    {
        return node->children ? &node->children[0] : nextAfterSubtree(subtreeRoot, node);
    }

    /// With null: the first leaf of the subtree. With a leaf: the first leaf
    /// after it (null at the end). With an inner node: its first leaf.
    static OctNode* nextLeafInTree(OctNode* subtreeRoot, OctNode* node)
    {
        if (!node)
            return firstLeaf(subtreeRoot);
        if (node->children)
            return firstLeaf(node);
        OctNode* next = nextAfterSubtree(subtreeRoot, node);
        return next ? firstLeaf(next) : nullptr;
    }

    /// Refines the subtree so that it is complete `levels` depths below node.
    static void refineToDepth(OctNode* node, int levels, Allocator<OctNode>& allocator)
    {
        if (levels <= 0)
            return;
        if (!node->children)
            node->initChildren(allocator);
        for (int c = 0; c < 8; ++c)
            refineToDepth(&node->children[c], levels - 1, allocator);
    }

private:
    static OctNode* firstLeaf(OctNode* node)
    {
        while (node->children)
            node = &node->children[0];
        return node;
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
