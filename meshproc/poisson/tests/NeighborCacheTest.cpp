#include "RandomTree.h"

#include "meshproc/poisson/NeighborCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace Veltrane::PoissonReconstruction;

namespace {

std::vector<TreeNode*> allNodes(TreeNode* root)
{
    std::vector<TreeNode*> nodes;
    for (TreeNode* node = root; node; node = TreeNode::nextInTree(root, node))
        nodes.push_back(node);
    return nodes;
}

TreeNode* ancestorAt(TreeNode* node, int depth)
{
    while (node->depth > depth)
        node = node->parent;
    return node;
}

// Checks every slot of a level against the brute-force map: the node at the
// centre's offsets plus the slot's displacement, or null where none exists or
// where `visible` rejects it.
template <int Size, class Visible>
void expectLevelMatches(const NeighborLevel<TreeNode, Size>& level, TreeNode* centre,
                        const std::map<NodeKey, TreeNode*>& nodes, Visible visible)
{
    const NodeKey key = keyOf(centre);
    const int r = Size / 2;
    for (int i = 0; i < Size; ++i)
        for (int j = 0; j < Size; ++j)
            for (int k = 0; k < Size; ++k) {
                const auto found = nodes.find({key[0], key[1] + i - r, key[2] + j - r, key[3] + k - r});
                TreeNode* expected = found == nodes.end() || !visible(found->second) ? nullptr : found->second;
                ASSERT_EQ(level.neighbors[i][j][k], expected)
                    << "centre " << key[0] << " [" << key[1] << " " << key[2] << " " << key[3] << "] slot " << i
                    << j << k;
            }
}

const auto everyNode = [](const TreeNode*) { return true; };

bool insideCube(const NodeKey& key)
{
    for (int axis = 1; axis <= 3; ++axis)
        if (key[axis] < 0 || key[axis] >= (1 << key[0]))
            return false;
    return true;
}

// A tree complete to depth 2 whose depth-2 node at offsets (1, 1, 1) has
// children: `fine`, its last child, has neighbours in the unrefined depth-2
// nodes on its +x, +y and +z sides.
class NeighborCacheRefinedTest : public testing::Test {
protected:
    NeighborCacheRefinedTest()
    {
        TreeNode::refineToDepth(&tree.root, 2, tree.allocator);
        refined = &tree.root.children[0].children[7];
        refined->initChildren(tree.allocator);
        fine = &refined->children[7];
    }
    int nodeCount() { return TreeNode::subtreeSize(&tree.root); }

    TreeOctree tree;
    TreeNode* refined = nullptr;
    TreeNode* fine = nullptr;
};

}  // namespace

TEST(NeighborCacheTest, GetMatchesBruteForceInAnyQueryOrder)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        TreeOctree tree;
        growRandomTree(tree, 1, 5, 0.35, seed);
        const std::map<NodeKey, TreeNode*> nodes = nodesByPosition(&tree.root);
        std::vector<TreeNode*> order = allNodes(&tree.root);
        std::shuffle(order.begin(), order.end(), std::mt19937(seed));
        const int height = TreeNode::height(&tree.root);
        NeighborCache3<TreeNode> key3;
        NeighborCache5<TreeNode> key5;
        key3.set(height);
        key5.set(height);
        for (TreeNode* node : order) {
            expectLevelMatches(key3.get(node), node, nodes, everyNode);
            expectLevelMatches(key5.get(node), node, nodes, everyNode);
        }
        // A key serves one subtree depth: its cached levels belong to that depth.
        for (int subtreeDepth = 0; subtreeDepth <= 2; ++subtreeDepth) {
            NeighborCache3<TreeNode> subtreeKey;
            subtreeKey.set(height);
            for (TreeNode* node : order) {
                if (node->depth < subtreeDepth)
                    continue;
                TreeNode* subtree = ancestorAt(node, subtreeDepth);
                expectLevelMatches(subtreeKey.getInSubtree(node, subtreeDepth), node, nodes,
                                   [&](TreeNode* other) { return ancestorAt(other, subtreeDepth) == subtree; });
            }
        }
    }
}

TEST(NeighborCacheTest, RootLevelHoldsOnlyTheRoot)
{
    TreeOctree tree;
    TreeNode::refineToDepth(&tree.root, 1, tree.allocator);
    const std::map<NodeKey, TreeNode*> nodes = nodesByPosition(&tree.root);
    NeighborCache3<TreeNode> key3;
    NeighborCache5<TreeNode> key5;
    key3.set(1);
    key5.set(1);
    bool flags[3][3][3];
    std::fill(&flags[0][0][0], &flags[0][0][0] + 27, true);
    expectLevelMatches(key3.get(&tree.root), &tree.root, nodes, everyNode);
    expectLevelMatches(key3.getCreate(&tree.root, tree.allocator), &tree.root, nodes, everyNode);
    expectLevelMatches(key3.getCreateFlagged(&tree.root, flags, tree.allocator), &tree.root, nodes, everyNode);
    expectLevelMatches(key3.getInSubtree(&tree.root, 0), &tree.root, nodes, everyNode);
    expectLevelMatches(key5.get(&tree.root), &tree.root, nodes, everyNode);
    expectLevelMatches(key5.getCreateInRanges(&tree.root, 0, 5, 0, 5, 0, 5, tree.allocator), &tree.root, nodes,
                       everyNode);
    EXPECT_EQ(TreeNode::subtreeSize(&tree.root), 9);
}

TEST(NeighborCacheTest, GetCreateFillsTheWholeBlockInsideTheCube)
{
    TreeOctree tree;
    growRandomTree(tree, 1, 4, 0.3, 11);
    std::vector<TreeNode*> order = allNodes(&tree.root);
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
    order.resize(order.size() / 2);
    NeighborCache3<TreeNode> key;
    key.set(4);
    for (TreeNode* node : order) {
        const NeighborLevel<TreeNode, 3> level = key.getCreate(node, tree.allocator);
        const std::map<NodeKey, TreeNode*> nodes = nodesByPosition(&tree.root);
        expectLevelMatches(level, node, nodes, everyNode);
        const NodeKey centre = keyOf(node);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    EXPECT_EQ(level.neighbors[i][j][k] != nullptr,
                              insideCube({centre[0], centre[1] + i - 1, centre[2] + j - 1, centre[3] + k - 1}));
    }
}

TEST_F(NeighborCacheRefinedTest, CachedLevelsAndRecomputation)
{
    NeighborCache3<TreeNode> key;
    key.set(3);
    // A coarser leaf next to the node: get leaves its slots null, getCreate
    // gives the leaf children and fills them.
    EXPECT_EQ(key.get(fine).neighbors[2][2][2], nullptr);
    EXPECT_EQ(key.get(fine).neighbors[1][1][1], fine);
    const NeighborLevel<TreeNode, 3>& created = key.getCreate(fine, tree.allocator);
    ASSERT_NE(created.neighbors[2][2][2], nullptr);
    EXPECT_EQ(created.neighbors[2][2][2]->parent, &tree.root.children[7].children[0]);
    // Every neighbour of fine now exists: a second getCreate creates nothing.
    const int size = nodeCount();
    key.getCreate(fine, tree.allocator);
    EXPECT_EQ(nodeCount(), size);

    // A border node keeps null outer slots and is recomputed on every call.
    TreeNode* border = &tree.root.children[0].children[0];
    EXPECT_EQ(key.getCreate(border, tree.allocator).neighbors[0][1][1], nullptr);
    key.level(2).neighbors[2][2][2] = nullptr;  // spoil the cached level
    EXPECT_NE(key.getCreate(border, tree.allocator).neighbors[2][2][2], nullptr);
    // get keeps a cached level whatever happened since.
    key.level(2).neighbors[2][2][2] = nullptr;
    EXPECT_EQ(key.get(border).neighbors[2][2][2], nullptr);
}

TEST_F(NeighborCacheRefinedTest, FlaggedCreationOnlyInFlaggedDirections)
{
    NeighborCache3<TreeNode> key;
    key.set(3);

    bool flags[3][3][3] = {};
    flags[1][1][1] = true;
    const int size = nodeCount();
    key.getCreateFlagged(fine, flags, tree.allocator);
    EXPECT_EQ(nodeCount(), size);

    flags[2][1][1] = true;  // only +x
    const NeighborLevel<TreeNode, 3>& level = key.getCreateFlagged(fine, flags, tree.allocator);
    EXPECT_EQ(nodeCount(), size + 8);
    EXPECT_NE(level.neighbors[2][1][1], nullptr);
    EXPECT_EQ(level.neighbors[1][2][1], nullptr);
    expectLevelMatches(level, fine, nodesByPosition(&tree.root), everyNode);

    std::fill(&flags[0][0][0], &flags[0][0][0] + 27, true);
    const NeighborLevel<TreeNode, 3>& all = key.getCreateFlagged(fine, flags, tree.allocator);
    expectLevelMatches(all, fine, nodesByPosition(&tree.root), everyNode);
    EXPECT_EQ(nodeCount(), size + 7 * 8);
}

TEST_F(NeighborCacheRefinedTest, CreationInRangesAndItsCache)
{
    TreeNode* node = &refined->children[0];
    NeighborCache5<TreeNode> key;
    key.set(3);
    const NeighborLevel<TreeNode, 5>& level = key.getCreateInRanges(node, 1, 5, 2, 3, 2, 3, tree.allocator);
    const std::map<NodeKey, TreeNode*> nodes = nodesByPosition(&tree.root);
    const NodeKey centre = keyOf(node);
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k) {
                const bool inRanges = i >= 1 && j == 2 && k == 2;
                const auto found = nodes.find({3, centre[1] + i - 2, centre[2] + j - 2, centre[3] + k - 2});
                EXPECT_EQ(level.neighbors[i][j][k], inRanges ? found->second : nullptr) << i << j << k;
            }
    // The +x neighbours 1 and 2 away lie in a node that had to get children.
    EXPECT_NE(level.neighbors[4][2][2], nullptr);
    const int size = nodeCount();
    key.getCreateInRanges(node, 0, 5, 0, 5, 0, 5, tree.allocator);
    EXPECT_EQ(nodeCount(), size);
}

TEST(NeighborCacheTest, FiveByFiveAmongLeavesSeesOnlySiblings)
{
    TreeOctree tree;
    TreeNode::refineToDepth(&tree.root, 1, tree.allocator);
    tree.root.children[0].initChildren(tree.allocator);
    NeighborCache5<TreeNode> key;
    key.set(2);
    const NeighborLevel<TreeNode, 5>& level = key.get(&tree.root.children[0].children[3]);
    int filled = 0;
    for (int i = 0; i < 125; ++i)
        if ((&level.neighbors[0][0][0])[i]) {
            ++filled;
            EXPECT_EQ((&level.neighbors[0][0][0])[i]->parent, &tree.root.children[0]);
        }
    EXPECT_EQ(filled, 8);
}

TEST_F(NeighborCacheRefinedTest, QueriesOutsideTheKeyFail)
{
    NeighborCache3<TreeNode> key;
    key.set(1);
    TreeNode* deep = &tree.root.children[1].children[2];
    testing::internal::CaptureStderr();
    EXPECT_THROW(key.get(deep), ReconstructionError);
    testing::internal::GetCapturedStderr();

    key.set(2);
    TreeNode* shallow = &tree.root.children[1];
    testing::internal::CaptureStderr();
    EXPECT_THROW(key.getInSubtree(shallow, 2), ReconstructionError);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[ERROR] Node depth lower than min-depth: 1 < 2\n");
    const NeighborLevel<TreeNode, 3>& alone = key.getInSubtree(shallow, 1);
    for (int i = 0; i < 27; ++i)
        EXPECT_EQ((&alone.neighbors[0][0][0])[i], i == 13 ? shallow : nullptr);
}
