#include "PoissonFixture.h"
#include "RandomTree.h"

#include "meshproc/poisson/OctreeDetail.h"
#include "meshproc/poisson/ReconstructionError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>

using namespace Veltrane::PoissonReconstruction;

namespace {

/// A solved-for tree: built, finalised and with its constraints.
struct PreparedTree {
    TreeOctree tree;

    explicit PreparedTree(const RunSettings& settings, int pointCount = 600, unsigned seed = 21)
    {
        VectorPointStream points = spherePoints(pointCount, 1, seed);
        buildTree(tree, points, settings);
        tree.ComputeConstraints();
    }

    std::vector<float> solutions() const
    {
        std::vector<float> values;
        for (const TreeNode* node : tree.sortedNodes.nodes)
            values.push_back(node->nodeData.solution);
        return values;
    }
};

void computeSolverTables(TreeOctree& tree)
{
    tree.splineData.computeInnerProductTables(BSplineData::DerivativeValue | BSplineData::DerivativeDerivative,
                                              tree.boundaryType == 0);
}

/// |b - A x| with A the symmetric matrix whose lower half the rows hold.
double residual(const WindowMatrix& matrix, const FloatVector& b, const FloatVector& x)
{
    std::vector<double> ax(b.size(), 0.0);
    for (int32_t i = 0; i < matrix.rowCount(); ++i)
        matrix.forEachEntry(i, [&](int32_t column, float value) {
            ax[static_cast<size_t>(i)] += value * x[static_cast<size_t>(column)];
            ax[static_cast<size_t>(column)] += value * x[static_cast<size_t>(i)];
        });
    double sum = 0;
    for (size_t i = 0; i < b.size(); ++i)
        sum += (b[i] - ax[i]) * (b[i] - ax[i]);
    return std::sqrt(sum);
}

}  // namespace

TEST(OctreeSolveTest, MatrixRowsAreLaplacianPlusScreening)
{
    for (const int boundary : {-1, 1}) {
        SCOPED_TRACE(boundary);
        RunSettings settings;
        settings.boundaryType = boundary;
        settings.depth = 4;
        settings.minDepth = 2;
        PreparedTree prepared(settings);
        TreeOctree& tree = prepared.tree;
        computeSolverTables(tree);
        const std::vector<float> noCoarserSolution(tree.sortedNodes.nodes.size(), 0.0f);
        const auto nodes = nodesByPosition(&tree.root);
        for (int d = 1; d < tree.sortedNodes.levels; ++d) {
            SCOPED_TRACE(d);
            WindowMatrix matrix;
            tree.BuildDepthMatrix(matrix, d, noCoarserSolution);
            const int32_t start = tree.sortedNodes.depthStart[d];
            std::map<std::pair<int, int>, double> stored;
            double largest = 0;
            for (int32_t row = 0; row < matrix.rowCount(); ++row)
                matrix.forEachEntry(row, [&](int32_t column, float value) {
                    stored[{row, column}] += value;
                    stored[{column, row}] += value;
                    largest = std::max(largest, double(std::fabs(value)));
                });
            for (int32_t row = 0; row < matrix.rowCount(); ++row) {
                const TreeNode* c = tree.sortedNodes.nodes[start + row];
                const NodeKey key = keyOf(c);
                // Screening of c with its neighbour at offset (a, b, e): the
                // sum over the samples of this depth in the 27 cells around c
                // of weight * B_c * B_n, from the functions' values per axis.
                std::vector<std::array<std::array<double, 5>, 3>> valuesAtSamples;
                std::vector<double> weights;
                for (int a = -1; a <= 1; ++a)
                    for (int b = -1; b <= 1; ++b)
                        for (int e = -1; e <= 1; ++e) {
                            const auto found = nodes.find({d, key[1] + a, key[2] + b, key[3] + e});
                            if (found == nodes.end() || found->second->nodeData.sampleIndex < 0)
                                continue;
                            const PointSample& sample =
                                tree.samples[static_cast<size_t>(found->second->nodeData.sampleIndex)];
                            std::array<std::array<double, 5>, 3> values{};
                            for (int axis = 0; axis < 3; ++axis)
                                for (int shift = -2; shift <= 2; ++shift) {
                                    const int f = c->offset[axis] + shift;
                                    if (f >= (1 << d) - 1 && f < (2 << d) - 1)
                                        values[axis][shift + 2] =
                                            tree.splineData.functions[static_cast<size_t>(f)](double(sample.position[axis]));
                                }
                            valuesAtSamples.push_back(values);
                            weights.push_back(sample.weight);
                        }
                for (int a = -2; a <= 2; ++a)
                    for (int b = -2; b <= 2; ++b)
                        for (int e = -2; e <= 2; ++e) {
                            const auto found = nodes.find({d, key[1] + a, key[2] + b, key[3] + e});
                            if (found == nodes.end())
                                continue;
                            const TreeNode* n = found->second;
                            double expected = tree.LaplacianTerm(c, n);
                            for (size_t i = 0; i < weights.size(); ++i) {
                                const auto& v = valuesAtSamples[i];
                                expected += weights[i] * v[0][2] * v[1][2] * v[2][2] * v[0][a + 2] * v[1][b + 2] *
                                            v[2][e + 2];
                            }
                            const auto entry = stored.find({row, n->nodeData.tableIndex - start});
                            const double actual = entry == stored.end() ? 0.0 : entry->second;
                            ASSERT_NEAR(actual, expected, 1e-5 * largest)
                                << "row " << row << " neighbour " << a << " " << b << " " << e;
                        }
            }
        }
    }
}

TEST(OctreeSolveTest, ResidualFallsAtEveryDepth)
{
    // The depths are solved here step by step as the system solve does it,
    // measuring the residual before and after the conjugate gradients; the
    // result must equal the system solve's.
    for (const int boundary : {-1, 0, 1}) {
        SCOPED_TRACE(boundary);
        RunSettings settings;
        settings.boundaryType = boundary;
        settings.depth = 5;
        settings.minDepth = 3;
        PreparedTree stepwise(settings);
        PreparedTree whole(settings);
        whole.tree.SolveSystem(20, false, 24, 5, -1, 0.001);

        TreeOctree& tree = stepwise.tree;
        computeSolverTables(tree);
        std::vector<float> accumulated(tree.sortedNodes.nodes.size(), 0.0f);
        for (int d = boundary == 0 ? 2 : 0; d < tree.sortedNodes.levels; ++d) {
            SCOPED_TRACE(d);
            const int32_t start = tree.sortedNodes.depthStart[d];
            const int32_t count = tree.sortedNodes.depthStart[d + 1] - start;
            FloatVector x(static_cast<size_t>(count));
            if (d > tree.minDepth) {
                tree.ProlongToDepth(d - 1, accumulated);
                for (int32_t i = tree.sortedNodes.depthStart[d - 1]; i < start; ++i)
                    accumulated[static_cast<size_t>(i)] += tree.sortedNodes.nodes[i]->nodeData.solution;
            } else {
                tree.InitialGuessFromParents(d, x);
            }
            tree.ComputeSampleValues(d, accumulated);
            WindowMatrix matrix;
            tree.BuildDepthMatrix(matrix, d, accumulated);
            FloatVector b(static_cast<size_t>(count));
            for (int32_t i = 0; i < count; ++i) {
                const TreeNode* node = tree.sortedNodes.nodes[start + i];
                b[static_cast<size_t>(i)] = tree.isActive(node) ? node->nodeData.constraint : 0.0f;
            }
            const double before = residual(matrix, b, x);
            ThreadScratch scratch;
            scratch.resize(1, matrix.rowCount());
            int iterations;
            double eps;
            iterations = std::max(24, int(std::pow(double(count), 1.0 / 3)));
            eps = double(float(0.001 / 100000) * float(count));
            const int steps = WindowMatrix::solveConjugateGradient(matrix, b, iterations, x, scratch, eps, false);
            const double after = residual(matrix, b, x);
            if (steps > 0) {
                EXPECT_LT(after, 0.5 * before);
            }
            for (int32_t i = 0; i < count; ++i)
                tree.sortedNodes.nodes[start + i]->nodeData.solution = x[static_cast<size_t>(i)];
        }
        const std::vector<float> expected = whole.solutions();
        const std::vector<float> actual = stepwise.solutions();
        ASSERT_EQ(actual.size(), expected.size());
        for (size_t i = 0; i < actual.size(); ++i)
            ASSERT_EQ(actual[i], expected[i]) << i << " depth " << stepwise.tree.sortedNodes.nodes[i]->depth;
    }
}

namespace {

/// The implicit function at the first `count` input points.
std::vector<double> valuesAtPoints(const TreeOctree& tree, const VectorPointStream& points, size_t count)
{
    std::vector<double> values;
    for (size_t i = 0; i < count && i < points.positions.size(); ++i)
        values.push_back(implicitFunction(tree, (points.positions[i] - tree.cubeOrigin) / tree.cubeWidth));
    return values;
}

struct SolveCase {
    int boundary;
    int threads;
    int solverDivide;
};

/// Solves a sphere with the case's settings; returns the tree's
/// solutions and the function at 48 of the points.
std::pair<std::vector<float>, std::vector<double>> solveSphere(const SolveCase& test, int depth = 5, int iters = -1)
{
    RunSettings settings;
    settings.boundaryType = test.boundary;
    settings.threads = test.threads;
    settings.depth = depth;
    settings.minDepth = 2;
    VectorPointStream points = spherePoints(600, 1, 31);
    TreeOctree tree;
    buildTree(tree, points, settings);
    tree.ComputeConstraints();
    tree.SolveSystem(test.solverDivide, false, 24, depth, iters, 0.001);
    std::vector<float> solutions;
    for (const TreeNode* node : tree.sortedNodes.nodes)
        solutions.push_back(node->nodeData.solution);
    return {solutions, valuesAtPoints(tree, points, 48)};
}

}  // namespace

TEST(OctreeSolveTest, SlicesAtOrBelowTheDividingDepthSolveWholeDepths)
{
    for (const int boundary : {-1, 1}) {
        SCOPED_TRACE(boundary);
        const std::vector<float> whole = solveSphere({boundary, 1, 0}).first;
        const std::vector<float> sliced = solveSphere({boundary, 1, 5}).first;
        ASSERT_EQ(sliced, whole);
    }
}

TEST(OctreeSolveTest, SlicedSolveAgreesWithWholeDepths)
{
    for (const int boundary : {-1, 0, 1}) {
        SCOPED_TRACE(boundary);
        const std::vector<double> whole = solveSphere({boundary, 1, 20}).second;
        const std::vector<double> sliced = solveSphere({boundary, 1, 4}).second;
        ASSERT_EQ(sliced.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i)
            EXPECT_NEAR(sliced[i], whole[i], 1e-3) << i;
    }
}

TEST(OctreeSolveTest, ThreadCountDoesNotChangeTheSolution)
{
    for (const SolveCase test : {SolveCase{-1, 2, 20}, SolveCase{0, 3, 20}, SolveCase{1, 2, 3}}) {
        SCOPED_TRACE(testing::Message() << test.boundary << " " << test.solverDivide);
        // Few iterations: the parallel products and sums are what is checked.
        const std::vector<double> one = solveSphere({test.boundary, 1, test.solverDivide}, 4, 4).second;
        const std::vector<double> many = solveSphere(test, 4, 4).second;
        for (size_t i = 0; i < one.size(); ++i)
            EXPECT_NEAR(many[i], one[i], 1e-4) << i;
    }
}

TEST(OctreeSolveTest, DepthsBeyondTheSolveDepthKeepTheirStartValues)
{
    // Depths 4 and 5 lie below the complete part (depth 2) and past the solve
    // depth 3: their corrections stay 0.
    RunSettings settings;
    settings.depth = 5;
    settings.minDepth = 2;
    VectorPointStream points = spherePoints(300, 1, 41);
    TreeOctree tree;
    buildTree(tree, points, settings);
    tree.ComputeConstraints();
    EXPECT_GT(tree.SolveSystem(20, false, 24, 3, -1, 0.001), 0);
    bool solvedAbove = false;
    for (const TreeNode* node : tree.sortedNodes.nodes) {
        if (node->depth > 3)
            ASSERT_EQ(node->nodeData.solution, 0.0f);
        else if (node->depth == 3)
            solvedAbove = solvedAbove || node->nodeData.solution != 0;
    }
    EXPECT_TRUE(solvedAbove);
}

TEST(OctreeSolveTest, SliceNumberingIsUndoneOnEveryExit)
{
    TreeOctree tree;
    TreeNode::refineToDepth(&tree.root, 2, tree.allocator);
    tree.sortedNodes.build(&tree.root);
    const std::vector<int32_t> list = {40, 12, 70, 9};
    const auto expectOwnIndices = [&] {
        for (size_t i = 0; i < tree.sortedNodes.nodes.size(); ++i)
            ASSERT_EQ(tree.sortedNodes.nodes[i]->nodeData.tableIndex, int32_t(i));
    };
    {
        const OctreeDetail::LocalNumbering<TreeNode> numbering(tree.sortedNodes.nodes, list, 4);
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(tree.sortedNodes.nodes[static_cast<size_t>(list[j])]->nodeData.tableIndex, j);
    }
    expectOwnIndices();
    EXPECT_THROW(
        {
            const OctreeDetail::LocalNumbering<TreeNode> numbering(tree.sortedNodes.nodes, list, 4);
            failReconstruction("[ERROR] interrupted\n");
        },
        ReconstructionError);
    expectOwnIndices();
}

TEST(OctreeSolveTest, TreeWithoutPointsSolvesToZero)
{
    for (const int boundary : {-1, 0, 1}) {
        for (const int minDepth : {0, 2}) {
            SCOPED_TRACE(testing::Message() << boundary << " " << minDepth);
            RunSettings settings;
            settings.boundaryType = boundary;
            settings.depth = 4;
            settings.minDepth = minDepth;
            VectorPointStream none;
            TreeOctree tree;
            buildTree(tree, none, settings);
            tree.ComputeConstraints();
            EXPECT_EQ(tree.SolveSystem(1, false, 24, 4, -1, 0.001), 0);
            for (const TreeNode* node : tree.sortedNodes.nodes)
                ASSERT_EQ(node->nodeData.solution, 0.0f);
        }
    }
}
