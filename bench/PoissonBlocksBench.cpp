// Cost of the Poisson building blocks at the depths a hole-filling run uses.
#include "meshproc/poisson/BSplineData.h"
#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/SparseMatrix.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace Veltrane::PoissonReconstruction;

static void innerProductTables(benchmark::State& state)
{
    BSplineData data;
    data.build(static_cast<int>(state.range(0)), -1);
    for (auto _ : state) {
        data.computeInnerProductTables(BSplineData::ValueValue | BSplineData::DerivativeValue |
                                           BSplineData::DerivativeDerivative,
                                       false);
        benchmark::DoNotOptimize(data.vvTable.data());
    }
}
BENCHMARK(innerProductTables)->Arg(8)->Arg(9)->Unit(benchmark::kMillisecond);

static void valueTables(benchmark::State& state)
{
    BSplineData data;
    const int depth = static_cast<int>(state.range(0));
    data.build(depth, -1);
    for (auto _ : state) {
        data.computeValueTables(BSplineData::Values | BSplineData::Derivatives, 0.0, 1.0 / (1 << depth));
        benchmark::DoNotOptimize(data.valueTable.data());
    }
}
BENCHMARK(valueTables)->Arg(8)->Unit(benchmark::kMillisecond);

// A tree complete to depth 5 and refined to depth 8 along a sphere, like the
// shell of samples around a scanned surface.
static void growShell(Octree<NodeData>& tree)
{
    using Node = OctNode<NodeData>;
    Node::refineToDepth(&tree.root, 5, tree.allocator);
    for (Node* node = &tree.root; node; node = Node::nextInTree(&tree.root, node)) {
        if (node->children || node->depth >= 8)
            continue;
        Point3D<double> centre;
        double width;
        node->cell(centre, width);
        const Point3D<double> offset = centre - Point3D<double>{{0.5, 0.5, 0.5}};
        if (std::fabs(std::sqrt(offset.squareLength()) - 0.3) < width)
            node->initChildren(tree.allocator);
    }
    tree.sortedNodes.build(&tree.root);
}

static void cornerNumbering(benchmark::State& state)
{
    Octree<NodeData> tree;
    growShell(tree);
    CornerTable table;
    for (auto _ : state) {
        tree.sortedNodes.setCornerTable(table, nullptr, tree.sortedNodes.levels - 1, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(table.count);
    }
    state.counters["nodes"] = tree.sortedNodes.depthStart.back();
}
BENCHMARK(cornerNumbering)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

static void conjugateGradients(benchmark::State& state)
{
    const int n = 200000;
    SparseMatrix matrix;
    std::vector<int32_t> sizes;
    std::vector<SparseEntry> entries;
    std::mt19937 random(1);
    std::uniform_int_distribution<int> column(0, n - 1);
    for (int i = 0; i < n; ++i) {
        const int count = i >= 12 ? 13 : 1;
        sizes.push_back(count);
        entries.push_back({i, 14.0f});
        for (int e = 1; e < count; ++e)
            entries.push_back({column(random) % i, -0.5f});
    }
    matrix.resize(n);
    matrix.setRows(0, n, sizes.data(), entries.data());
    FloatVector b(n);
    for (int i = 0; i < n; ++i)
        b[i] = float(i % 17) - 8;
    ThreadScratch scratch;
    scratch.resize(static_cast<int>(state.range(0)), n);
    for (auto _ : state) {
        FloatVector x(n);
        benchmark::DoNotOptimize(SparseMatrix::solveConjugateGradient(matrix, b, 50, x, scratch, 1e-12, false));
    }
}
BENCHMARK(conjugateGradients)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
