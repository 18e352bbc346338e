#include "PoissonFixture.h"
#include "RandomTree.h"

#include <gtest/gtest.h>

using namespace Veltrane::PoissonReconstruction;

namespace {

/// A tree complete to `depth` with an empty normal field.
void completeTree(TreeOctree& tree, int depth, int minDepth)
{
    tree.boundaryType = 1;
    tree.minDepth = minDepth;
    tree.normals.reset(new std::vector<Point3D<float>>());
    TreeNode::refineToDepth(&tree.root, depth, tree.allocator);
}

void giveNormal(TreeOctree& tree, TreeNode* node, float x)
{
    node->nodeData.normalIndex = static_cast<int32_t>(tree.normals->size());
    Point3D<float> n;
    n[0] = x;
    tree.normals->push_back(n);
}

}  // namespace

TEST(OctreeRefineTest, PruningDropsSubtreesWithoutNormals)
{
    struct Case {
        const char* name;
        float deepNormal;  // x of the normal of one depth-4 node
        int minDepth;
        int expectedHeight;
    };
    for (const Case& test : {Case{"non-zero normal deep down", 1.0f, 1, 4}, Case{"only zero normals", 0.0f, 1, 1},
                             Case{"not a number counts", std::nanf(""), 1, 4},
                             Case{"complete part kept", 0.0f, 3, 3}}) {
        SCOPED_TRACE(test.name);
        TreeOctree tree;
        completeTree(tree, 3, test.minDepth);
        const auto nodes = nodesByPosition(&tree.root);
        TreeNode* parent = nodes.at({3, 5, 2, 6});
        parent->initChildren(tree.allocator);
        giveNormal(tree, &parent->children[6], test.deepNormal);
        giveNormal(tree, nodes.at({2, 0, 0, 0}), 0.0f);
        tree.PruneEmptyChildren();
        EXPECT_EQ(TreeNode::height(&tree.root), test.expectedHeight);
        if (test.expectedHeight == 4) {
            // Only the path to the normal stays below minDepth.
            for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node)) {
                if (node->depth >= test.minDepth && node->children) {
                    EXPECT_TRUE(tree.HasNormals(node));
                }
            }
        }
    }
}

TEST(OctreeRefineTest, FinalizingCreatesTheNeighbourhoodsOfEveryParent)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        TreeOctree tree;
        tree.boundaryType = 1;
        growRandomTree(tree, 2, 6, 0.15, seed);
        tree.FinalizeTree(10);
        const auto nodes = nodesByPosition(&tree.root);
        ASSERT_EQ(tree.sortedNodes.nodes.size(), nodes.size());
        for (const auto& entry : nodes) {
            const NodeKey& key = entry.first;
            if (!entry.second->children || key[0] == 0)
                continue;
            const int size = 1 << key[0];
            for (int dx = -2; dx <= 1; ++dx)
                for (int dy = -2; dy <= 1; ++dy)
                    for (int dz = -2; dz <= 1; ++dz) {
                        const NodeKey other = {key[0], key[1] + dx, key[2] + dy, key[3] + dz};
                        if (other[1] < 0 || other[1] >= size || other[2] < 0 || other[2] >= size || other[3] < 0 ||
                            other[3] >= size)
                            continue;
                        EXPECT_TRUE(nodes.count(other)) << "seed " << seed << " depth " << key[0];
                    }
        }
    }
}

TEST(OctreeRefineTest, BlockDepth)
{
    struct Case {
        int height;
        int isoDivide;
        int boundary;
        int blockDepth;
    };
    for (const Case test : {Case{0, 3, 1, 0}, Case{3, 3, 1, 0}, Case{3, 5, -1, 0}, Case{4, 1, 1, 3},
                            Case{4, -2, 1, 4}, Case{3, 2, 0, 2}, Case{5, 1, 0, 2}, Case{5, 0, 0, 3}}) {
        SCOPED_TRACE(testing::Message() << test.height << " " << test.isoDivide << " " << test.boundary);
        TreeOctree tree;
        tree.boundaryType = test.boundary;
        TreeNode::refineToDepth(&tree.root, test.height, tree.allocator);
        EXPECT_EQ(tree.RefineBlockBoundaries(test.isoDivide), test.blockDepth);
        EXPECT_EQ(tree.sortedNodes.levels, test.height + 1);
    }
}

TEST(OctreeRefineTest, BlockFacesGetSameDepthNeighbours)
{
    // Blocks of depth 2; the depth-2 nodes (1, 1, 1) and (0, 0, 0) are
    // refined. Their children on block faces that have no neighbour across the
    // face get one, with the edges and corners between the missing faces;
    // nothing is created across the faces of the cube.
    TreeOctree tree;
    tree.boundaryType = 1;
    TreeNode::refineToDepth(&tree.root, 2, tree.allocator);
    nodesByPosition(&tree.root).at({2, 1, 1, 1})->initChildren(tree.allocator);
    nodesByPosition(&tree.root).at({2, 0, 0, 0})->initChildren(tree.allocator);
    EXPECT_EQ(tree.RefineBlockBoundaries(1), 2);
    const auto nodes = nodesByPosition(&tree.root);
    for (const NodeKey& created : {NodeKey{3, 1, 2, 2}, NodeKey{3, 2, 1, 2}, NodeKey{3, 1, 1, 2}, NodeKey{3, 1, 1, 1},
                                   NodeKey{3, 4, 3, 3}, NodeKey{3, 3, 4, 4}, NodeKey{3, 4, 4, 4}})
        EXPECT_TRUE(nodes.count(created)) << created[1] << created[2] << created[3];
    // Only same-depth neighbours are created: no leaf gets deeper.
    for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node))
        EXPECT_LE(node->depth, 3);
    EXPECT_EQ(tree.sortedNodes.nodes.size(), nodes.size());
}
