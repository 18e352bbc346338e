#include "RandomTree.h"

#include <gtest/gtest.h>

#include <set>

using namespace Veltrane::PoissonReconstruction;

TEST(AllocatorTest, HandsOutNodesFromBlocks)
{
    Allocator<TreeNode> allocator(4096);
    EXPECT_EQ(allocator.currentBlock(), -1);
    TreeNode* first = allocator.take(8);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(allocator.blockCount(), 1);
    EXPECT_EQ(allocator.currentBlock(), 0);
    EXPECT_EQ(allocator.freeInBlock(), 4088);
    for (int call = 2; call <= 512; ++call)
        EXPECT_EQ(allocator.take(8), first + 8 * (call - 1));
    EXPECT_EQ(allocator.blockCount(), 1);
    allocator.take(8);
    EXPECT_EQ(allocator.blockCount(), 2);
    EXPECT_EQ(allocator.currentBlock(), 1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(allocator.take(5000), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Allocator Error, elements bigger than block-size: 5000>4096\n");

    allocator.reset(11);
    EXPECT_EQ(allocator.blockCount(), 0);
    TreeNode* block0 = allocator.take(8);
    EXPECT_EQ(allocator.freeInBlock(), 3);
    TreeNode* block1 = allocator.take(8);  // the 3 nodes left are skipped
    EXPECT_EQ(allocator.blockCount(), 2);
    EXPECT_EQ(allocator.freeInBlock(), 3);
    EXPECT_NE(block1, block0 + 8);
}

TEST(OctNodeTest, LoneRoot)
{
    TreeOctree tree;
    TreeNode& root = tree.root;
    EXPECT_EQ(TreeNode::height(&root), 0);
    EXPECT_EQ(TreeNode::subtreeSize(&root), 1);
    EXPECT_EQ(TreeNode::nextInTree(&root, &root), nullptr);
    EXPECT_EQ(TreeNode::nextLeafInTree(&root, nullptr), &root);
    EXPECT_EQ(TreeNode::nextLeafInTree(&root, &root), nullptr);
    EXPECT_EQ(root.nodeData.tableIndex, -1);
    EXPECT_EQ(root.nodeData.normalIndex, -1);
    EXPECT_EQ(root.nodeData.sampleIndex, -1);
    EXPECT_EQ(tree.threads, 1);
    EXPECT_EQ(tree.normals, nullptr);
}

TEST(OctNodeTest, ChildrenOffsetsAndCells)
{
    TreeOctree tree;
    tree.root.initChildren(tree.allocator);
    for (int c = 0; c < 8; ++c) {
        const TreeNode& child = tree.root.children[c];
        EXPECT_EQ(child.parent, &tree.root);
        EXPECT_EQ(child.depth, 1);
        EXPECT_EQ(child.childIndex(), c);
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_EQ(child.offset[axis], ((c >> axis) & 1) + 1);
    }

    TreeNode stored;
    stored.depth = 3;
    stored.offset[0] = 12;
    int d, o[3];
    stored.position(d, o);
    EXPECT_EQ(d, 3);
    EXPECT_EQ(o[0], 5);
    TreeNode root;
    root.position(d, o);
    EXPECT_EQ(o[0], 0);

    Point3D<float> centre;
    float width;
    stored.cell(centre, width);
    EXPECT_EQ(width, 0.125f);
    EXPECT_EQ(centre[0], 5.5f * 0.125f);
    Point3D<double> exactCentre;
    double exactWidth;
    tree.root.children[7].cell(exactCentre, exactWidth);
    EXPECT_EQ(exactWidth, 0.5);
    EXPECT_EQ(exactCentre[2], 0.75);
}

TEST(OctNodeTest, TraversalsOfARefinedTree)
{
    TreeOctree tree;
    TreeNode::refineToDepth(&tree.root, 2, tree.allocator);
    EXPECT_EQ(TreeNode::subtreeSize(&tree.root), 73);
    EXPECT_EQ(TreeNode::height(&tree.root), 2);

    // Pre-order: every node once, each parent before its children, children in order.
    std::set<TreeNode*> seen;
    TreeNode* previous = nullptr;
    for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node)) {
        EXPECT_TRUE(seen.insert(node).second);
        if (node->parent) {
            EXPECT_TRUE(seen.count(node->parent));
        }
        if (node->childIndex() > 0) {
            EXPECT_TRUE(seen.count(node - 1));
        }
        previous = node;
    }
    EXPECT_EQ(seen.size(), 73u);
    EXPECT_EQ(previous, &tree.root.children[7].children[7]);

    int leaves = 0;
    for (TreeNode* leaf = TreeNode::nextLeafInTree(&tree.root, nullptr); leaf;
         leaf = TreeNode::nextLeafInTree(&tree.root, leaf)) {
        EXPECT_EQ(leaf->children, nullptr);
        ++leaves;
    }
    EXPECT_EQ(leaves, 64);

    TreeNode* subtree = &tree.root.children[7];
    EXPECT_EQ(TreeNode::nextAfterSubtree(subtree, &subtree->children[7]), nullptr);
    EXPECT_EQ(TreeNode::nextAfterSubtree(&tree.root, &tree.root.children[3].children[7]), &tree.root.children[4]);
    EXPECT_EQ(TreeNode::nextLeafInTree(&tree.root, &tree.root.children[2]), &tree.root.children[2].children[0]);
    EXPECT_EQ(TreeNode::nextInTree(subtree, subtree), &subtree->children[0]);
}

TEST(OctNodeTest, RefusesToGrowPastTheOffsetRange)
{
    TreeOctree tree;
    TreeNode* node = &tree.root;
    for (int d = 0; d < TreeNode::maxDepth; ++d) {
        node->initChildren(tree.allocator);
        node = &node->children[7];
    }
    int d, o[3];
    node->position(d, o);
    EXPECT_EQ(o[0], (1 << TreeNode::maxDepth) - 1);
    testing::internal::CaptureStderr();
    EXPECT_THROW(node->initChildren(tree.allocator), ReconstructionError);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}
