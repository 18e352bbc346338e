#include "meshproc/poisson/IsoValue.h"
#include "meshproc/poisson/tests/PoissonTestTrees.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace Veltrane::PoissonReconstruction;
using namespace Veltrane::PoissonReconstruction::TestTrees;

namespace {

/// Sum over `nodes` of their B-spline at grid position p times coeff(node).
template <class Coefficient>
double bruteForce(const Tree& tree, const std::vector<Node*>& nodes, const GridPoint& p, Coefficient coeff)
{
    const auto& values = tree.splineData.valueTable;
    const size_t F = size_t(tree.splineData.functionCount);
    double sum = 0;
    for (const Node* n : nodes)
        sum += double(values[size_t(p.index[0]) * F + size_t(n->offset[0])]) *
               values[size_t(p.index[1]) * F + size_t(n->offset[1])] *
               values[size_t(p.index[2]) * F + size_t(n->offset[2])] * coeff(n);
    return sum;
}

std::vector<Node*> nodesOfDepth(Tree& tree, int depth)
{
    std::vector<Node*> nodes;
    for (Node* n : allNodes(tree))
        if (n->depth == depth)
            nodes.push_back(n);
    return nodes;
}

/// A complete tree of depth 3 with random coefficients on every node.
void randomTree(Tree& tree, int boundary, int minDepth)
{
    buildTree(tree, 3, boundary, [](double, double, double) { return 0.0; }, [](const Node*) { return false; });
    tree.minDepth = minDepth;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coefficient(-1, 1);
    for (Node* n : allNodes(tree))
        n->nodeData.solution = coefficient(random);
    tree.splineData.computeValueTables(BSplineData::Values | BSplineData::Derivatives, 0.0);
}

}  // namespace

// The key-based evaluation must equal the sum over every node of the depths
// it covers: the neighbours it skips have no support at the point.
TEST(IsoValue, CornerValuesMatchTheFullSum)
{
    for (int boundary : {-1, 0, 1}) {
        SCOPED_TRACE(boundary);
        Tree tree;
        randomTree(tree, boundary, 1);
        std::vector<float> accumulated(size_t(tree.sortedNodes.depthStart[3]));
        std::mt19937 random(3);
        std::uniform_real_distribution<float> coefficient(-1, 1);
        for (float& a : accumulated)
            a = coefficient(random);
        const SplineEvaluator<NodeData> evaluator(tree);
        NeighborCache3<Node> key;
        key.set(3);
        for (int depth : {1, 2, 3}) {
            const std::vector<Node*> same = nodesOfDepth(tree, depth);
            const std::vector<Node*> parents = nodesOfDepth(tree, depth - 1);
            for (Node* n : same) {
                key.get(n);
                for (int c = 0; c < 8; ++c) {
                    const GridPoint p = cornerKey(n, c, 3);
                    double expected = boundary == -1 ? -0.5 : 0.0;
                    expected += bruteForce(tree, same, p, [](const Node* m) { return m->nodeData.solution; });
                    if (depth > tree.minDepth)
                        expected += bruteForce(tree, parents, p, [&](const Node* m) {
                            return accumulated[size_t(m->nodeData.tableIndex)];
                        });
                    ASSERT_NEAR(evaluator.EvaluateCornerValue(key, n, c, accumulated), expected, 1e-5)
                        << "depth " << depth << " corner " << c;
                }
            }
        }
    }
}

TEST(IsoValue, CornerGradientsMatchTheFullSum)
{
    Tree tree;
    randomTree(tree, 1, 1);
    std::vector<float> accumulated(size_t(tree.sortedNodes.depthStart[3]), 0.25f);
    const SplineEvaluator<NodeData> evaluator(tree);
    NeighborCache5<Node> key;
    key.set(3);
    const auto& values = tree.splineData.valueTable;
    const auto& derivatives = tree.splineData.derivativeTable;
    const size_t F = size_t(tree.splineData.functionCount);
    for (Node* n : nodesOfDepth(tree, 3)) {
        key.get(n);
        for (int c : {0, 5, 7}) {
            const GridPoint p = cornerKey(n, c, 3);
            double expected[3] = {0, 0, 0};
            for (int depth : {2, 3})
                for (const Node* m : nodesOfDepth(tree, depth)) {
                    const double w = depth == 3 ? m->nodeData.solution : accumulated[size_t(m->nodeData.tableIndex)];
                    double v[3], dv[3];
                    for (int axis = 0; axis < 3; ++axis) {
                        v[axis] = values[size_t(p.index[size_t(axis)]) * F + size_t(m->offset[axis])];
                        dv[axis] = derivatives[size_t(p.index[size_t(axis)]) * F + size_t(m->offset[axis])];
                    }
                    expected[0] += dv[0] * v[1] * v[2] * w;
                    expected[1] += v[0] * dv[1] * v[2] * w;
                    expected[2] += v[0] * v[1] * dv[2] * w;
                }
            const auto gradient = evaluator.EvaluateCornerGradient(key, n, c, accumulated);
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_NEAR(gradient[size_t(axis)], expected[axis], 1e-3 * (1 + std::abs(expected[axis])));
        }
    }
}

TEST(IsoValue, CentreValuesAddTheFinerFunctionsAtTheCentre)
{
    Tree tree;
    randomTree(tree, 1, 1);
    const SplineEvaluator<NodeData> evaluator(tree);
    NeighborCache3<Node> key;
    key.set(3);
    std::vector<Node*> all = allNodes(tree);
    for (Node* n : all) {
        key.get(n);
        const GridPoint p = centreKey(n, 3);
        const int firstDepth = std::max(0, std::min(int(n->depth) - 1, int(tree.minDepth)));
        std::vector<Node*> counted;
        for (Node* m : all)
            if (m->depth >= firstDepth)
                counted.push_back(m);
        const double expected = bruteForce(tree, counted, p, [](const Node* m) { return m->nodeData.solution; });
        ASSERT_NEAR(evaluator.EvaluateCentreValue(key, n), expected, 1e-5) << int(n->depth);
    }
}

TEST(IsoValue, WeightedMeanOfCentreValues)
{
    for (int boundary : {-1, 1}) {
        SCOPED_TRACE(boundary);
        Tree tree;
        randomTree(tree, boundary, 1);
        const SplineEvaluator<NodeData> evaluator(tree);
        NeighborCache3<Node> key;
        key.set(3);
        double valueSum = 0, weightSum = 0;
        int k = 0;
        for (Node* n : allNodes(tree)) {
            const float weight = (k++ % 3) * 0.5f;
            n->nodeData.weight = weight;
            if (weight == 0) {
                n->nodeData.solution += 100;  // must not count
                continue;
            }
        }
        for (Node* n : allNodes(tree)) {
            if (n->nodeData.weight == 0)
                continue;
            key.get(n);
            valueSum += double(evaluator.EvaluateCentreValue(key, n)) * n->nodeData.weight;
            weightSum += n->nodeData.weight;
        }
        const double expected = valueSum / weightSum - (boundary == -1 ? 0.5 : 0.0);
        EXPECT_NEAR(ComputeIsoValue(tree), expected, 1e-3 * (1 + std::abs(expected)));
    }
    Tree empty;
    randomTree(empty, 1, 1);
    EXPECT_TRUE(std::isnan(ComputeIsoValue(empty)));
}

TEST(IsoValue, LeafCaseAndBitsPassedUp)
{
    Tree tree;
    randomTree(tree, 1, 1);
    IsoSurfaceTables tables;
    tree.sortedNodes.setCornerTable(tables.cornerTable, nullptr, 3, 1);
    tables.lastDepth = 3;
    tables.cornerValues.reserve(size_t(tables.cornerTable.count));
    for (Node* n : allNodes(tree))
        n->nodeData.normalIndex = 0;
    const SplineEvaluator<NodeData> evaluator(tree);
    NeighborCache3<Node> key;
    key.set(3);
    const std::vector<float> accumulated(size_t(tree.sortedNodes.depthStart[3]), 0.0f);

    // Child 3 of child 3 of child 3: only its corner 3 lies below. The bit
    // goes to the parent, and further up while the ancestor is deep enough and
    // the path keeps going through child 3.
    Node* leaf = &tree.root.children[3].children[3].children[3];
    for (int c = 0; c < 8; ++c)
        tables.cornerValues.put(size_t(tables.cornerIndex(leaf, c)), c == 3 ? -1.0f : 1.0f);
    for (int minDepth : {1, 2}) {
        for (Node* n : allNodes(tree))
            n->nodeData.normalIndex = 0;
        ComputeLeafCorners(evaluator, minDepth, leaf, tables, key, accumulated, 0.0f);
        EXPECT_EQ(leaf->nodeData.normalIndex, 1 << 2);
        EXPECT_EQ(tree.root.children[3].children[3].nodeData.normalIndex, 1 << 2);
        EXPECT_EQ(tree.root.children[3].nodeData.normalIndex, minDepth <= 1 ? 1 << 2 : 0);
        EXPECT_EQ(tree.root.nodeData.normalIndex, 0);
    }

    // A value equal to the iso-value counts as above; the cached value wins
    // over the function.
    Node* other = &tree.root.children[0].children[0].children[0];
    for (int c = 0; c < 8; ++c)
        tables.cornerValues.put(size_t(tables.cornerIndex(other, c)), 0.5f);
    ComputeLeafCorners(evaluator, 2, other, tables, key, accumulated, 0.5f);
    EXPECT_EQ(other->nodeData.normalIndex, 0);
    ComputeLeafCorners(evaluator, 2, other, tables, key, accumulated, 0.75f);
    EXPECT_EQ(other->nodeData.normalIndex, 255);
    EXPECT_EQ(tree.root.children[0].children[0].nodeData.normalIndex, 1);
}
