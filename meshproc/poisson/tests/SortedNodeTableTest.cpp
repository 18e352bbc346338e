#include "RandomTree.h"

#include "meshproc/poisson/SortedNodeTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

using namespace Veltrane::PoissonReconstruction;

namespace {

using ItemKey = std::array<int64_t, 5>;

// Corner c of a node as a point of the grid of depth `finest`.
ItemKey cornerKey(const TreeNode* node, int c, int finest)
{
    int d, o[3];
    node->position(d, o);
    ItemKey key{};
    for (int axis = 0; axis < 3; ++axis)
        key[axis] = int64_t(o[axis] + ((c >> axis) & 1)) << (finest - d);
    return key;
}

// Edge e of a node: its depth, its axis, and its cell and sides.
ItemKey edgeKey(const TreeNode* node, int e)
{
    int d, o[3];
    node->position(d, o);
    const int axis = e >> 2;
    const int first = axis == 0 ? 1 : 0;
    const int second = axis == 2 ? 1 : 2;
    ItemKey key{d, axis, o[axis], o[first] + (e & 1), o[second] + ((e >> 1) & 1)};
    return key;
}

// The nodes of the subtree (whole tree for null) from its depth to maxDepth.
std::vector<TreeNode*> rangeNodes(TreeNode* root, TreeNode* subtree, int maxDepth)
{
    TreeNode* top = subtree ? subtree : root;
    std::vector<TreeNode*> nodes;
    for (TreeNode* node = top; node; node = TreeNode::nextInTree(top, node))
        if (node->depth <= maxDepth)
            nodes.push_back(node);
    return nodes;
}

// Two entries of the table share an index exactly when their items coincide,
// and the count is the number of distinct items.
template <class Table, class Key>
void expectNumberingMatchesItems(Table& table, const std::vector<TreeNode*>& nodes, int itemsPerNode, Key key)
{
    std::map<ItemKey, int32_t> indexOfItem;
    std::map<int32_t, ItemKey> itemOfIndex;
    for (TreeNode* node : nodes) {
        for (int item = 0; item < itemsPerNode; ++item) {
            const int32_t index = table.at(node)[item];
            ASSERT_GE(index, 0);
            ASSERT_LT(index, table.count);
            const ItemKey k = key(node, item);
            const auto known = indexOfItem.emplace(k, index);
            ASSERT_EQ(known.first->second, index) << "one item, two indices";
            const auto owner = itemOfIndex.emplace(index, k);
            ASSERT_EQ(owner.first->second, k) << "one index, two items";
        }
    }
    EXPECT_EQ(size_t(table.count), indexOfItem.size());
}

}  // namespace

TEST(SortedNodeTableTest, BreadthFirstOrder)
{
    TreeOctree tree;
    growRandomTree(tree, 1, 4, 0.4, 3);
    SortedNodeTable<TreeNode>& table = tree.sortedNodes;
    table.build(&tree.root);
    EXPECT_EQ(table.levels, TreeNode::height(&tree.root) + 1);
    ASSERT_EQ(table.depthStart.size(), size_t(table.levels) + 1);
    EXPECT_EQ(table.depthStart[table.levels], TreeNode::subtreeSize(&tree.root));
    EXPECT_EQ(table.nodes[0], &tree.root);
    for (int d = 0; d < table.levels; ++d)
        for (int i = table.depthStart[d]; i < table.depthStart[d + 1]; ++i) {
            TreeNode* node = table.nodes[i];
            EXPECT_EQ(node->depth, d);
            EXPECT_EQ(node->nodeData.tableIndex, i);
            if (i > table.depthStart[d] && d > 0) {
                // Children of one parent are consecutive; parents keep their order.
                TreeNode* previous = table.nodes[i - 1];
                if (previous->parent == node->parent) {
                    EXPECT_EQ(previous + 1, node);
                } else {
                    EXPECT_LT(previous->parent->nodeData.tableIndex, node->parent->nodeData.tableIndex);
                    EXPECT_EQ(node->childIndex(), 0);
                }
            }
        }
}

TEST(SortedNodeTableTest, SingleNodeTree)
{
    TreeOctree tree;
    SortedNodeTable<TreeNode>& table = tree.sortedNodes;
    table.build(&tree.root);
    EXPECT_EQ(table.levels, 1);
    EXPECT_EQ(table.depthStart, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(tree.root.nodeData.tableIndex, 0);
    CornerTable corners;
    table.setCornerTable(corners, nullptr, 0, 2);
    EXPECT_EQ(corners.count, 8);
    EdgeTable edges;
    table.setEdgeTable(edges, nullptr, 0, 2);
    EXPECT_EQ(edges.count, 12);
    expectNumberingMatchesItems(corners, {&tree.root}, 8, [](const TreeNode* n, int c) { return cornerKey(n, c, 0); });
    expectNumberingMatchesItems(edges, {&tree.root}, 12, edgeKey);
}

TEST(SortedNodeTableTest, RootWithEightLeaves)
{
    TreeOctree tree;
    tree.root.initChildren(tree.allocator);
    tree.sortedNodes.build(&tree.root);
    CornerTable corners;
    tree.sortedNodes.setCornerTable(corners, nullptr, 1, 1);
    EXPECT_EQ(corners.count, 27);
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(corners.at(&tree.root)[c], corners.at(&tree.root.children[c])[c]);
        EXPECT_EQ(corners.at(&tree.root.children[c])[7 - c], corners.at(&tree.root.children[0])[7]);
    }
    // With one thread the indices count up in table order from 0.
    std::set<int32_t> all;
    for (int i = 0; i < 9; ++i)
        for (int c = 0; c < 8; ++c)
            all.insert(corners.at(tree.sortedNodes.nodes[i])[c]);
    EXPECT_EQ(*all.begin(), 0);
    EXPECT_EQ(*all.rbegin(), 26);
}

TEST(SortedNodeTableTest, CornerAndEdgeNumberingMatchesGeometry)
{
    for (unsigned seed : {4u, 5u}) {
        TreeOctree tree;
        growRandomTree(tree, 1, 5, 0.35, seed);
        SortedNodeTable<TreeNode>& table = tree.sortedNodes;
        table.build(&tree.root);
        const int finest = table.levels - 1;
        for (int maxDepth : {finest, 3}) {
            for (int threads : {1, 3}) {
                SCOPED_TRACE(testing::Message() << "seed " << seed << " maxDepth " << maxDepth << " threads " << threads);
                const std::vector<TreeNode*> nodes = rangeNodes(&tree.root, nullptr, maxDepth);
                CornerTable corners;
                table.setCornerTable(corners, nullptr, maxDepth, threads);
                expectNumberingMatchesItems(corners, nodes, 8,
                                            [&](const TreeNode* n, int c) { return cornerKey(n, c, finest); });
                EdgeTable edges;
                table.setEdgeTable(edges, nullptr, maxDepth, threads);
                expectNumberingMatchesItems(edges, nodes, 12, edgeKey);
            }
        }
    }
}

TEST(SortedNodeTableTest, SubtreeNumberingAndBlockCounts)
{
    TreeOctree tree;
    growRandomTree(tree, 2, 5, 0.4, 9);
    SortedNodeTable<TreeNode>& table = tree.sortedNodes;
    table.build(&tree.root);
    const int finest = table.levels - 1;
    for (int blockDepth : {1, 2}) {
        int32_t largestCorners = 0, largestEdges = 0;
        for (int i = table.depthStart[blockDepth]; i < table.depthStart[blockDepth + 1]; ++i) {
            TreeNode* block = table.nodes[i];
            SCOPED_TRACE(testing::Message() << "block " << i);
            const std::vector<TreeNode*> nodes = rangeNodes(&tree.root, block, finest);
            CornerTable corners;
            table.setCornerTable(corners, block, finest, 2);
            expectNumberingMatchesItems(corners, nodes, 8,
                                        [&](const TreeNode* n, int c) { return cornerKey(n, c, finest); });
            EdgeTable edges;
            table.setEdgeTable(edges, block, finest, 2);
            expectNumberingMatchesItems(edges, nodes, 12, edgeKey);
            largestCorners = std::max(largestCorners, corners.count);
            largestEdges = std::max(largestEdges, edges.count);
            for (int d = 0; d < blockDepth; ++d)
                EXPECT_EQ(corners.depthOffset[d], -1);
        }
        for (int threads : {1, 4}) {
            EXPECT_EQ(table.maxBlockCornerCount(blockDepth, finest, threads), largestCorners);
            EXPECT_EQ(table.maxBlockEdgeCount(blockDepth, threads), largestEdges);
        }
    }
}

TEST(SortedNodeTableTest, SpanStopsWhereTheSubtreeEnds)
{
    TreeOctree tree;
    TreeNode::refineToDepth(&tree.root, 2, tree.allocator);
    TreeNode::refineToDepth(&tree.root.children[7].children[7], 2, tree.allocator);
    tree.sortedNodes.build(&tree.root);
    ASSERT_EQ(tree.sortedNodes.levels, 5);
    CornerTable corners;
    tree.sortedNodes.setCornerTable(corners, &tree.root.children[0], 4, 2);
    // Depth 1: the subtree root alone (table position 1, record 0); depth 2:
    // its children (positions 9..16, records 1..8); nothing deeper.
    EXPECT_EQ(corners.depthOffset, (std::vector<int32_t>{-1, 0 - 1, 1 - 9, -1, -1}));
    EXPECT_EQ(corners.indices.size(), 9u);
    EXPECT_EQ(corners.count, 27);
}
