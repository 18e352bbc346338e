#include "meshproc/poisson/OctreeNeighbors.h"
#include "meshproc/poisson/tests/PoissonTestTrees.h"

#include <gtest/gtest.h>

using namespace Veltrane::PoissonReconstruction;
using namespace Veltrane::PoissonReconstruction::TestTrees;

namespace {

std::array<int, 3> offsets(const Node* n)
{
    int d, o[3];
    n->position(d, o);
    return {o[0], o[1], o[2]};
}

// The neighbour must be the cube at `expected` of the node's depth, or null
// when that lies outside the root cube.
void expectNeighbourAt(const Node* neighbour, const Node* node, const std::array<int, 3>& expected)
{
    const int size = 1 << node->depth;
    bool outside = false;
    for (int v : expected)
        outside = outside || v < 0 || v >= size;
    if (outside) {
        EXPECT_EQ(neighbour, nullptr);
        return;
    }
    ASSERT_NE(neighbour, nullptr);
    EXPECT_EQ(neighbour->depth, node->depth);
    EXPECT_EQ(offsets(neighbour), expected);
}

}  // namespace

TEST(OctreeNeighbors, CompleteTreeNeighboursAreTheAdjacentCubes)
{
    Tree tree;
    Node::refineToDepth(&tree.root, 3, tree.allocator);
    for (Node* n : allNodes(tree)) {
        const auto o = offsets(n);
        for (int axis = 0; axis < 3; ++axis)
            for (int side = 0; side < 2; ++side) {
                std::array<int, 3> expected = o;
                expected[size_t(axis)] += side ? 1 : -1;
                expectNeighbourAt(faceNeighbor(n, axis, side), n, expected);
            }
        for (int edge = 0; edge < 12; ++edge) {
            const int axis = edge >> 2;
            const int lowerAxis = axis == 0 ? 1 : 0;
            const int upperAxis = axis == 2 ? 1 : 2;
            std::array<int, 3> expected = o;
            expected[size_t(lowerAxis)] += (edge & 1) ? 1 : -1;
            expected[size_t(upperAxis)] += ((edge >> 1) & 1) ? 1 : -1;
            expectNeighbourAt(edgeNeighbor(n, edge), n, expected);
        }
    }
}

TEST(OctreeNeighbors, CoarserRegionsGiveTheLeafOrNothing)
{
    // Only child 0 of the root is refined; its children see the other root
    // children as coarser leaves.
    Tree tree;
    tree.root.initChildren(tree.allocator);
    tree.root.children[0].initChildren(tree.allocator);
    const Node* fine = &tree.root.children[0].children[1];  // x high inside child 0
    EXPECT_EQ(faceNeighbor(fine, 0, 1), &tree.root.children[1]);
    EXPECT_EQ(faceNeighbor(fine, 0, 0), &tree.root.children[0].children[0]);
    EXPECT_EQ(faceNeighbor(fine, 1, 0), nullptr);
    // Across edge (x high, y high) of child 1 of child 0: the region lies in
    // root child 3, a leaf, so there is no neighbour at this depth.
    EXPECT_EQ(edgeNeighbor(fine, 4 * 2 + 2 * 1 + 1), nullptr);
    // Across edge (y high, z high) of child 6 of child 0 the region lies in
    // root child 6, a coarser leaf, which is returned.
    const Node* inner = &tree.root.children[0].children[6];  // y high, z high
    EXPECT_EQ(edgeNeighbor(inner, 3), &tree.root.children[6]);
    EXPECT_EQ(faceNeighbor(&tree.root, 0, 0), nullptr);
    EXPECT_EQ(edgeNeighbor(&tree.root, 0), nullptr);
}
