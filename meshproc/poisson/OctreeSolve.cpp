#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <algorithm>
#include <cmath>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

bool inLowerHalf(int i, int j, int k)
{
    return i < 2 || (i == 2 && (j < 2 || (j == 2 && k <= 2)));
}

}  // namespace

namespace {

/// The Laplacian inner product of the functions with index triples a and b.
float laplacian(const BSplineData& data, const int a[3], const int b[3])
{
    const auto at = [](const std::vector<float>& table, int x, int y) {
        return table[static_cast<size_t>(BSplineData::symmetricIndex(x, y))];
    };
    return (at(data.ddTable, a[0], b[0]) + at(data.ddTable, a[1], b[1]) + at(data.ddTable, a[2], b[2])) *
           at(data.vvTable, a[0], b[0]) * at(data.vvTable, a[1], b[1]) * at(data.vvTable, a[2], b[2]);
}

}  // namespace

template <class Data>
float Octree<Data>::LaplacianTerm(const Node* a, const Node* b) const
{
    const int x[3] = {a->offset[0], a->offset[1], a->offset[2]};
    const int y[3] = {b->offset[0], b->offset[1], b->offset[2]};
    return laplacian(splineData, x, y);
}

template <class Data>
void Octree<Data>::SameDepthLaplacianStencil(int d, LaplacianStencil& stencil) const
{
    stencil = LaplacianStencil();
    if (d < 2)
        return;
    OctreeDetail::forEachSameDepthPair(d, [&](int i, int j, int k, const int* centre, const int* neighbour) {
        stencil(i, j, k) = double(laplacian(splineData, centre, neighbour));
    });
}

template <class Data>
void Octree<Data>::ChildLaplacianStencils(int d, ChildStencils<double>& stencils) const
{
    stencils = ChildStencils<double>();
    if (d < 2)
        return;
    OctreeDetail::forEachChildPair(d, [&](int c, int i, int j, int k, const int* child, const int* parent) {
        stencils.forChild(c)(i, j, k) = double(laplacian(splineData, child, parent));
    });
}

template <class Data>
bool Octree<Data>::isActive(const Node* node) const
{
    if (boundaryType != 0 || node->depth < 2)
        return true;
    const int d = node->depth;
    return OctreeDetail::offsetsWithin(node, (1 << (d - 2)) - 1, (1 << d) - (1 << (d - 2)) + 1);
}

template <class Data>
int Octree<Data>::FillMatrixRow(const Level5& level, uint64_t& mask, float* values, const LaplacianStencil& stencil,
                                const StencilWindow& window) const
{
    const Node* c = level.centre();
    const int d = c->depth;
    // Screening: sums over the samples in the 27 cells around c of the products
    // of c's function with each function overlapping that cell.
    float screen[5][5][5] = {};
    float diagonal = 0;
    if (screening) {
        const int firstFunction = (1 << d) - 1;
        const int endFunction = (1 << (d + 1)) - 1;
        OctreeDetail::forEachSampleAround(level, samples, [&](int a, int b, int e, const PointSample& sample) {
            const int shift[3] = {a, b, e};
            float values[3][3];
            for (int axis = 0; axis < 3; ++axis)
                for (int k = 0; k < 3; ++k) {
                    const int f = c->offset[axis] + shift[axis] + 1 - k;
                    values[axis][k] =
                        f >= firstFunction && f < endFunction ? float(piece(f, k, sample.position[axis])) : 0.0f;
                }
            const float w = sample.weight;
            const float own = values[0][a + 1] * values[1][b + 1] * values[2][e + 1];
            diagonal += w * own * own;
            for (int kx = 0; kx < 3; ++kx)
                for (int ky = 0; ky < 3; ++ky)
                    for (int kz = 0; kz < 3; ++kz)
                        screen[a + 3 - kx][b + 3 - ky][e + 3 - kz] +=
                            w * own * values[0][kx] * values[1][ky] * values[2][kz];
        });
    }

    const bool interior2 = OctreeDetail::isInterior(c, 2, boundaryType);
    int written = 0;
    mask = 0;
    for (int i = window.start[0]; i < std::min(window.end[0], 3); ++i)
        for (int j = window.start[1]; j < window.end[1]; ++j)
            for (int k = window.start[2]; k < window.end[2]; ++k) {
                const Node* n = level.neighbors[i][j][k];
                if (!inLowerHalf(i, j, k) || !n || n->nodeData.tableIndex < 0)
                    continue;
                const bool centre = i == 2 && j == 2 && k == 2;
                float value = interior2 ? float(stencil(i, j, k)) : LaplacianTerm(c, n);
                if (screening)
                    value += centre ? diagonal : screen[i][j][k];
                if (centre)
                    value *= 0.5f;
                if (std::fabs(value) > 0) {
                    mask |= uint64_t(1) << (i * 25 + j * 5 + k);
                    values[written++] = value;
                }
            }
    return written;
}

template <class Data>
void Octree<Data>::SubtractCoarserTerms(NeighborCache5<Node>& key, Node* node,
                                        const std::vector<float>& accumulatedSolution,
                                        const LaplacianStencil& childStencil)
{
    const int d = node->depth;
    if (d <= minDepth)
        return;
    float& constraint = node->nodeData.constraint;
    const bool interior4 = OctreeDetail::isInterior(node, 4, boundaryType);
    OctreeDetail::forEachInParentWindow(key.get(node->parent), node->childIndex(),
                                        [&](int x, int y, int z, const Node* p) {
                                            const float coefficient =
                                                accumulatedSolution[static_cast<size_t>(p->nodeData.tableIndex)];
                                            constraint -= interior4
                                                              ? float(double(coefficient) * childStencil(x, y, z))
                                                              : LaplacianTerm(p, node) * coefficient;
                                        });
    if (!screening)
        return;
    double sum = 0;
    OctreeDetail::forEachSampleAround(key.get(node), samples, [&](int a, int b, int e, const PointSample& sample) {
        sum += piece(node->offset[0], a + 1, sample.position[0]) * piece(node->offset[1], b + 1, sample.position[1]) *
               piece(node->offset[2], e + 1, sample.position[2]) * sample.value;
    });
    constraint -= float(sum);
}

template <class Data>
float Octree<Data>::CoarserValueAtSample(NeighborCache3<Node>& key, Node* node,
                                         const std::vector<float>& accumulatedSolution) const
{
    const int d = node->depth;
    if (node->nodeData.sampleIndex < 0)
        return 0;
    const float w = samples[static_cast<size_t>(node->nodeData.sampleIndex)].weight;
    if (boundaryType == -1 && d == 0)
        return w * -0.5f;
    if ((boundaryType == 0 && d <= 2) || (boundaryType != 0 && d == 0))
        return 0;
    const Point3D<float>& t = samples[static_cast<size_t>(node->nodeData.sampleIndex)].position;
    const Level3& parentLevel = key.get(node->parent);
    const int16_t* g = node->parent->offset;
    const int endFunction = (1 << d) - 1;
    double sum = 0;
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b)
            for (int e = -1; e <= 1; ++e) {
                const Node* q = parentLevel.neighbors[1 + a][1 + b][1 + e];
                if (!q || q->nodeData.tableIndex < 0)
                    continue;
                const int f[3] = {g[0] + a, g[1] + b, g[2] + e};
                if (f[0] < 0 || f[0] >= endFunction || f[1] < 0 || f[1] >= endFunction || f[2] < 0 ||
                    f[2] >= endFunction)
                    continue;
                sum += accumulatedSolution[static_cast<size_t>(q->nodeData.tableIndex)] * piece(f[0], 1 - a, t[0]) *
                       piece(f[1], 1 - b, t[1]) * piece(f[2], 1 - e, t[2]);
            }
    return float(boundaryType == -1 ? w * (sum - 0.5) : w * sum);
}

template <class Data>
void Octree<Data>::ComputeSampleValues(int d, const std::vector<float>& accumulatedSolution)
{
    const int32_t start = sortedNodes.depthStart[d];
    OctreeDetail::forEachChunk(threadCount(), start, sortedNodes.depthStart[d + 1] - start,
                               [&](int, int32_t from, int32_t to) {
                                   NeighborCache3<Node> key;
                                   key.set(d);
                                   for (int32_t i = from; i < to; ++i) {
                                       Node* node = sortedNodes.nodes[i];
                                       if (node->nodeData.sampleIndex == -1)
                                           continue;
                                       samples[static_cast<size_t>(node->nodeData.sampleIndex)].value =
                                           CoarserValueAtSample(key, node, accumulatedSolution);
                                   }
                               });
}

template <class Data>
void Octree<Data>::InitialGuessFromParents(int d, FloatVector& x)
{
    const int32_t start = sortedNodes.depthStart[d];
    const int32_t count = sortedNodes.depthStart[d + 1] - start;
    x.resize(static_cast<size_t>(count));
    if ((boundaryType == 0 && d <= 2) || (boundaryType != 0 && d == 0))
        return;
    const double cornerWeight = boundaryCornerWeight();
    OctreeDetail::forEachChunk(threadCount(), start, count, [&](int, int32_t from, int32_t to) {
        NeighborCache3<Node> key;
        key.set(d - 1);
        for (int32_t i = from; i < to; ++i) {
            const Node* node = sortedNodes.nodes[i];
            float& value = x[static_cast<size_t>(i - start)];
            OctreeDetail::forEachParentTap(node, key.get(node->parent), cornerWeight, [&](const Node* p, double w) {
                value += float(p->nodeData.solution * w);
            });
        }
    });
    for (int32_t i = sortedNodes.depthStart[d - 1]; i < start; ++i)
        sortedNodes.nodes[i]->nodeData.solution = 0;
}

template <class Data>
void Octree<Data>::BuildDepthMatrix(WindowMatrix& matrix, int d, const std::vector<float>& accumulatedSolution)
{
    const int32_t start = sortedNodes.depthStart[d];
    const int32_t count = sortedNodes.depthStart[d + 1] - start;
    const auto rowNode = [&](int32_t h) { return sortedNodes.nodes[start + h]; };
    const auto wholeWindow = [](const Node*) { return StencilWindow(); };
    const auto columnOf = [&](const Node* node) {
        return node->nodeData.tableIndex >= 0 ? node->nodeData.tableIndex - start : -1;
    };
    buildRows(matrix, d, count, rowNode, wholeWindow, columnOf, accumulatedSolution);
}

template <class Data>
SiblingColumns Octree<Data>::siblingColumns(NeighborCache5<Node>& key, const Node* parent, const Node* node,
                                            const std::function<int32_t(const Node*)>& columnOf)
{
    SiblingColumns columns;
    if (!parent) {
        columns.first[13] = columnOf(node);
        columns.numbered[13] = columns.first[13] >= 0 ? 1 : 0;
        return columns;
    }
    const Level5& level = key.get(const_cast<Node*>(parent));
    for (int neighbour = 0; neighbour < 27; ++neighbour) {
        const Node* q = level.neighbors[1 + neighbour / 9][1 + neighbour / 3 % 3][1 + neighbour % 3];
        if (!q || !q->children)
            continue;
        int32_t next = -1;
        for (int child = 0; child < 8; ++child) {
            const int32_t column = columnOf(&q->children[child]);
            if (column < 0)
                continue;
            if (next < 0)
                columns.first[neighbour] = column;
            else if (column != next)
                failReconstruction(formatMessage("[ERROR] Matrix columns of siblings %d and %d do not follow\n",
                                                 next - 1, column));
            columns.numbered[neighbour] |= static_cast<uint8_t>(1u << child);
            next = column + 1;
        }
    }
    return columns;
}

template <class Data>
void Octree<Data>::buildRows(WindowMatrix& matrix, int d, int32_t count, const std::function<Node*(int32_t)>& rowNode,
                             const std::function<StencilWindow(const Node*)>& rowWindow,
                             const std::function<int32_t(const Node*)>& columnOf,
                             const std::vector<float>& accumulatedSolution)
{
    LaplacianStencil stencil;
    ChildStencils<double> childStencils;
    SameDepthLaplacianStencil(d, stencil);
    ChildLaplacianStencils(d, childStencils);

    // Each thread builds runs of rowsPerBlock consecutive rows of its chunk,
    // writing the values into one block for the chunk.
    constexpr int32_t rowsPerBlock = 256;
    constexpr int32_t mostEntriesPerRow = WindowMatrix::CentrePosition + 1;
    matrix.resize(count);
    OctreeDetail::forEachChunk(threadCount(), 0, count, [&](int, int32_t from, int32_t to) {
        NeighborCache5<Node> key;
        key.set(d);
        WindowMatrix::Run run;
        float* next = matrix.valueBlock(static_cast<size_t>(to - from) * mostEntriesPerRow);
        for (int32_t runStart = from; runStart < to; runStart += rowsPerBlock) {
            const int32_t runEnd = std::min(to, runStart + rowsPerBlock);
            run.clear();
            const float* runValues = next;
            const Node* groupParent = nullptr;
            for (int32_t h = runStart; h < runEnd; ++h) {
                Node* node = rowNode(h);
                const int child = node->childIndex();
                if (h == runStart || node->parent != groupParent) {
                    groupParent = node->parent;
                    run.groupStarts.push_back(h - runStart);
                    run.groups.push_back(siblingColumns(key, groupParent, node, columnOf));
                }
                uint64_t mask = uint64_t(1) << WindowMatrix::CentrePosition;
                int size = 1;
                next[0] = 1.0f;
                const Level5& level = key.get(node);
                if (isActive(node)) {
                    size = FillMatrixRow(level, mask, next, stencil, rowWindow(node));
                    SubtractCoarserTerms(key, node, accumulatedSolution, childStencils.forChild(child));
                }
                // The columns the group gives must be the neighbours' own.
                int e = 0;
                for (uint64_t bits = mask; bits; bits &= bits - 1, ++e) {
                    const int p = __builtin_ctzll(bits);
                    const Node* neighbour = level.neighbors[p / 25][p / 5 % 5][p % 5];
                    const int32_t column = WindowMatrix::column(run.groups.back(), child, p);
                    if (!neighbour || column < 0 || column != columnOf(neighbour))
                        failReconstruction(formatMessage("[ERROR] Matrix row %d has no column for neighbour %d\n", h, p));
                }
                run.childIndices.push_back(static_cast<uint8_t>(child));
                run.masks.push_back(mask);
                next += size;
            }
            matrix.setRows(runStart, run, runValues);
        }
    });
}

template <class Data>
int Octree<Data>::SolveDepth(int d, std::vector<float>& accumulatedSolution, bool, int minIters, bool skipSolve,
                             int iters, double accuracy)
{
    const int threads = threadCount();
    const int32_t start = sortedNodes.depthStart[d];
    const int32_t count = sortedNodes.depthStart[d + 1] - start;
    FloatVector x(static_cast<size_t>(count));
    if (d > minDepth) {
        ProlongToDepth(d - 1, accumulatedSolution);
        const int32_t parentStart = sortedNodes.depthStart[d - 1];
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int32_t i = parentStart; i < start; ++i)
            accumulatedSolution[static_cast<size_t>(i)] += sortedNodes.nodes[i]->nodeData.solution;
    } else {
        InitialGuessFromParents(d, x);
    }
    if (screening)
        ComputeSampleValues(d, accumulatedSolution);

    WindowMatrix matrix;
    BuildDepthMatrix(matrix, d, accumulatedSolution);
    FloatVector b(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const Node* node = sortedNodes.nodes[start + i];
        b[static_cast<size_t>(i)] = isActive(node) ? node->nodeData.constraint : 0.0f;
    }

    int iterations = 0;
    if (!skipSolve) {
        const int32_t rows = matrix.rowCount();
        int maxIterations;
        double eps;
        OctreeDetail::solverLimits(rows, minIters, iters, accuracy, maxIterations, eps);
        int64_t k = int64_t(1) << d;
        if (boundaryType == 0 && d > 3)
            k -= int64_t(1) << (d - 2);
        const bool addMean = int64_t(rows) == k * k * k && !screening && boundaryType != -1;
        ThreadScratch scratch;
        scratch.resize(threads, rows);
        iterations = WindowMatrix::solveConjugateGradient(matrix, b, maxIterations, x, scratch, eps, addMean);
    }
    for (int32_t i = 0; i < count; ++i)
        sortedNodes.nodes[start + i]->nodeData.solution = x[static_cast<size_t>(i)];
    return iterations;
}

template <class Data>
int Octree<Data>::SolveSystem(int solverDivide, bool showResidual, int minIters, int maxSolveDepth, int iters,
                              double accuracy)
{
    splineData.computeInnerProductTables(BSplineData::DerivativeValue | BSplineData::DerivativeDerivative,
                                         boundaryType == 0);
    if (splineData.vvTable.empty())
        splineData.computeInnerProductTables(BSplineData::ValueValue, boundaryType == 0);
    if (boundaryType == 0) {
        ++solverDivide;
        ++maxSolveDepth;
    }
    root.nodeData.solution = 0;
    std::vector<float> accumulatedSolution(static_cast<size_t>(sortedNodes.depthStart[sortedNodes.levels]), 0.0f);
    int total = 0;
    for (int d = boundaryType == 0 ? 2 : 0; d < sortedNodes.levels; ++d) {
        const bool skipSolve = d > maxSolveDepth;
        total += solverDivide > 0
                     ? SolveDepthInSlices(d, accumulatedSolution, solverDivide, showResidual, minIters, skipSolve,
                                          iters, accuracy)
                     : SolveDepth(d, accumulatedSolution, showResidual, minIters, skipSolve, iters, accuracy);
    }
    splineData.releaseInnerProductTables(BSplineData::ValueValue | BSplineData::DerivativeValue |
                                         BSplineData::DerivativeDerivative);
    return total;
}

#define KORVASTEL_INSTANTIATE_SOLVE(Data)                                                                          \
    template float Octree<Data>::LaplacianTerm(const Node*, const Node*) const;                                    \
    template void Octree<Data>::SameDepthLaplacianStencil(int, LaplacianStencil&) const;                           \
    template void Octree<Data>::ChildLaplacianStencils(int, ChildStencils<double>&) const;                         \
    template bool Octree<Data>::isActive(const Node*) const;                                                       \
    template int Octree<Data>::FillMatrixRow(const Level5&, uint64_t&, float*, const LaplacianStencil&,           \
                                             const StencilWindow&) const;                                          \
    template void Octree<Data>::SubtractCoarserTerms(NeighborCache5<Node>&, Node*, const std::vector<float>&,     \
                                                     const LaplacianStencil&);                                     \
    template float Octree<Data>::CoarserValueAtSample(NeighborCache3<Node>&, Node*, const std::vector<float>&)     \
        const;                                                                                                     \
    template void Octree<Data>::ComputeSampleValues(int, const std::vector<float>&);                               \
    template void Octree<Data>::InitialGuessFromParents(int, FloatVector&);                                        \
    template void Octree<Data>::BuildDepthMatrix(WindowMatrix&, int, const std::vector<float>&);                   \
    template SiblingColumns Octree<Data>::siblingColumns(NeighborCache5<Node>&, const Node*, const Node*,          \
                                                         const std::function<int32_t(const Node*)>&);              \
    template void Octree<Data>::buildRows(WindowMatrix&, int, int32_t, const std::function<Node*(int32_t)>&,      \
                                          const std::function<StencilWindow(const Node*)>&,                        \
                                          const std::function<int32_t(const Node*)>&, const std::vector<float>&);  \
    template int Octree<Data>::SolveDepth(int, std::vector<float>&, bool, int, bool, int, double);                 \
    template int Octree<Data>::SolveSystem(int, bool, int, int, int, double);

KORVASTEL_INSTANTIATE_SOLVE(NodeData)
KORVASTEL_INSTANTIATE_SOLVE(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
