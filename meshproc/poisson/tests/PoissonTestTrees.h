#pragma once

#include "meshproc/poisson/Octree.h"

#include <functional>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {
namespace TestTrees {

using Node = OctNode<NodeData>;
using Tree = Octree<NodeData>;

inline Point3D<float> centreOf(const Node* n)
{
    Point3D<float> centre;
    float width;
    n->cell(centre, width);
    return centre;
}

inline float widthOf(const Node* n)
{
    Point3D<float> centre;
    float width;
    n->cell(centre, width);
    return width;
}

/// All nodes of the tree in pre-order.
inline std::vector<Node*> allNodes(Tree& tree)
{
    std::vector<Node*> nodes;
    for (Node* n = &tree.root; n; n = Node::nextInTree(&tree.root, n))
        nodes.push_back(n);
    return nodes;
}

/// A tree complete to `coarseDepth` with the coefficients of that depth set to
/// f at the node centres; leaves for which `refine` holds get one more depth
/// of children with zero coefficients, so that every leaf sees the same
/// function. The unit cube maps onto [-1, 1]^3; the spline set is built for
/// the deepest leaf depth and the node table is built.
inline void buildTree(Tree& tree, int coarseDepth, int boundary,
                      const std::function<double(double, double, double)>& f,
                      const std::function<bool(const Node*)>& refine)
{
    tree.boundaryType = boundary;
    tree.minDepth = coarseDepth;
    tree.cubeWidth = 2.0f;
    for (int axis = 0; axis < 3; ++axis)
        tree.cubeOrigin[axis] = -1;
    tree.threads = 2;
    Node::refineToDepth(&tree.root, coarseDepth, tree.allocator);
    std::vector<Node*> coarse;
    for (Node* n = Node::nextLeafInTree(&tree.root, nullptr); n; n = Node::nextLeafInTree(&tree.root, n))
        coarse.push_back(n);
    for (Node* n : coarse) {
        const Point3D<float> centre = centreOf(n);
        n->nodeData.solution = float(f(centre[0], centre[1], centre[2]));
        if (refine(n))
            n->initChildren(tree.allocator);
    }
    const int splineDepth = Node::height(&tree.root);
    tree.splineData.build(splineDepth, boundary);
    tree.normalSmooth = 1.0f / float(1 << splineDepth);
    tree.sortedNodes.build(&tree.root);
}

}  // namespace TestTrees
}  // namespace PoissonReconstruction
}  // namespace Veltrane
