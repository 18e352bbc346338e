#pragma once

#include "meshproc/poisson/Octree.h"

#include <array>
#include <map>
#include <random>

namespace Veltrane {
namespace PoissonReconstruction {

using TreeNode = OctNode<NodeData>;
using TreeOctree = Octree<NodeData>;
using NodeKey = std::array<int, 4>;  // depth, then the three true offsets

/// Complete down to `completeDepth`, then every leaf above `maxDepth` is
/// refined with probability `refine`.
inline void growRandomTree(TreeOctree& tree, int completeDepth, int maxDepth, double refine, unsigned seed)
{
    std::mt19937 random(seed);
    std::bernoulli_distribution split(refine);
    TreeNode::refineToDepth(&tree.root, completeDepth, tree.allocator);
    for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node))
        if (!node->children && node->depth >= completeDepth && node->depth < maxDepth && split(random))
            node->initChildren(tree.allocator);
}

inline NodeKey keyOf(const TreeNode* node)
{
    int d, o[3];
    node->position(d, o);
    return {d, o[0], o[1], o[2]};
}

/// Every node of the tree by depth and offsets, found by a plain walk.
inline std::map<NodeKey, TreeNode*> nodesByPosition(TreeNode* root)
{
    std::map<NodeKey, TreeNode*> nodes;
    for (TreeNode* node = root; node; node = TreeNode::nextInTree(root, node))
        nodes[keyOf(node)] = node;
    return nodes;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
