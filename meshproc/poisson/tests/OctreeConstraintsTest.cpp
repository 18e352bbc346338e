#include "PoissonFixture.h"
#include "RandomTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace Veltrane::PoissonReconstruction;

namespace {

/// Whether the supports of the two nodes' functions (three cells wide)
/// overlap on every axis.
bool supportsOverlap(const TreeNode* a, const TreeNode* b)
{
    Point3D<double> ca, cb;
    double wa, wb;
    a->cell<double>(ca, wa);
    b->cell<double>(cb, wb);
    for (int axis = 0; axis < 3; ++axis)
        if (std::fabs(ca[axis] - cb[axis]) >= 1.5 * (wa + wb))
            return false;
    return true;
}

}  // namespace

TEST(OctreeConstraintsTest, ConstraintsEqualSumOfDivergenceTerms)
{
    // Boundary types whose functions refine exactly into the finer ones, so
    // that carrying terms between depths loses nothing.
    for (const int boundary : {-1, 1}) {
        SCOPED_TRACE(boundary);
        RunSettings settings;
        settings.boundaryType = boundary;
        settings.depth = 5;
        settings.minDepth = 2;
        VectorPointStream points = spherePoints(600, 1, 11);
        TreeOctree tree;
        buildTree(tree, points, settings);
        const std::vector<Point3D<float>> normals = *tree.normals;
        tree.ComputeConstraints();
        EXPECT_FALSE(tree.normals);

        tree.splineData.computeInnerProductTables(BSplineData::ValueValue | BSplineData::DerivativeValue, false);
        std::vector<const TreeNode*> holders;
        for (const TreeNode* node : tree.sortedNodes.nodes)
            if (node->nodeData.normalIndex >= 0)
                holders.push_back(node);
        float largest = 0;
        for (const TreeNode* node : tree.sortedNodes.nodes)
            largest = std::max(largest, std::fabs(node->nodeData.constraint));
        ASSERT_GT(largest, 0);
        int checked = 0;
        for (const TreeNode* receiver : tree.sortedNodes.nodes) {
            double expected = 0;
            for (const TreeNode* holder : holders)
                if (supportsOverlap(holder, receiver))
                    expected += tree.DivergenceTerm(holder, receiver,
                                                    normals[static_cast<size_t>(holder->nodeData.normalIndex)]);
            ASSERT_NEAR(receiver->nodeData.constraint, expected, 2e-5 * largest)
                << "depth " << receiver->depth << " offsets " << receiver->offset[0] << " " << receiver->offset[1]
                << " " << receiver->offset[2];
            ++checked;
        }
        EXPECT_GT(checked, 1000);

        // Each node's weight became the length of its normal.
        for (const TreeNode* node : tree.sortedNodes.nodes) {
            const float length = node->nodeData.normalIndex >= 0
                                     ? std::sqrt(normals[static_cast<size_t>(node->nodeData.normalIndex)].squareLength())
                                     : 0.0f;
            EXPECT_FLOAT_EQ(node->nodeData.weight, length);
        }
    }
}

TEST(OctreeConstraintsTest, TransfersKeepConstantFunctionsAndSums)
{
    // With the even boundary the functions of every depth sum to 1, so
    // prolonging the coefficients 1 gives 1 again; restriction passes each
    // value on with weights that sum to 2 per axis away from the border.
    TreeOctree tree;
    tree.boundaryType = 1;
    tree.threads = 3;
    TreeNode::refineToDepth(&tree.root, 4, tree.allocator);
    tree.sortedNodes.build(&tree.root);
    const std::vector<int32_t>& start = tree.sortedNodes.depthStart;
    std::vector<float> values(static_cast<size_t>(start[5]), 0.0f);
    std::fill(values.begin() + start[2], values.begin() + start[3], 1.0f);
    tree.ProlongToDepth(3, values);
    for (int32_t i = start[3]; i < start[4]; ++i)
        ASSERT_FLOAT_EQ(values[static_cast<size_t>(i)], 1.0f);

    std::fill(values.begin(), values.end(), 0.0f);
    const auto nodes = nodesByPosition(&tree.root);
    const TreeNode* fine = nodes.at({4, 6, 9, 7});
    values[static_cast<size_t>(fine->nodeData.tableIndex)] = 8.0f;
    tree.RestrictToParents(4, values);
    struct Expected {
        NodeKey key;
        float value;
    };
    // Offsets 6, 9, 7 relate to parent-depth offsets (2, 3), (4, 5), (3, 4)
    // with weights (0.25, 0.75), (0.75, 0.25), (0.75, 0.25).
    for (const Expected& e : {Expected{{3, 2, 4, 3}, 8 * 0.25f * 0.75f * 0.75f},
                              Expected{{3, 3, 4, 3}, 8 * 0.75f * 0.75f * 0.75f},
                              Expected{{3, 3, 5, 4}, 8 * 0.75f * 0.25f * 0.25f},
                              Expected{{3, 2, 5, 4}, 8 * 0.25f * 0.25f * 0.25f}})
        EXPECT_FLOAT_EQ(values[static_cast<size_t>(nodes.at(e.key)->nodeData.tableIndex)], e.value);
    float total = 0;
    for (int32_t i = start[3]; i < start[4]; ++i)
        total += values[static_cast<size_t>(i)];
    EXPECT_FLOAT_EQ(total, 8.0f);
}

TEST(OctreeConstraintsTest, ThreadCountDoesNotChangeConstraints)
{
    std::vector<float> reference;
    for (const int threads : {1, 4}) {
        RunSettings settings;
        settings.threads = threads;
        settings.boundaryType = 0;
        settings.depth = 4;
        VectorPointStream points = spherePoints(400, 1, 12);
        TreeOctree tree;
        buildTree(tree, points, settings);
        tree.ComputeConstraints();
        std::vector<float> constraints;
        for (const TreeNode* node : tree.sortedNodes.nodes)
            constraints.push_back(node->nodeData.constraint);
        if (reference.empty()) {
            reference = constraints;
            continue;
        }
        ASSERT_EQ(constraints.size(), reference.size());
        for (size_t i = 0; i < constraints.size(); ++i)
            EXPECT_NEAR(constraints[i], reference[i], 1e-5f * (1 + std::fabs(reference[i])));
    }
}
