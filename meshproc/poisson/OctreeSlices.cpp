#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

template <class Node>
const Node* ancestorAt(const Node* node, int depth)
{
    while (node->depth > depth)
        node = node->parent;
    return node;
}

/// Calls visit(node) for every node of depth d below `node`, depth first with
/// children in child order.
template <class Node, class Visit>
void forEachAtDepth(Node* node, int d, Visit& visit)
{
    if (node->depth == d) {
        visit(node);
        return;
    }
    if (node->children)
        for (int c = 0; c < 8; ++c)
            forEachAtDepth(&node->children[c], d, visit);
}

}  // namespace

template <class Data>
bool Octree<Data>::nearSlice(const Node* r, const Node* node) const
{
    const int M = splineData.depth;
    int rd, ro[3], nd, no[3];
    r->position(rd, ro);
    node->position(nd, no);
    const int64_t rHalf = int64_t(1) << (M - rd);
    const int64_t nHalf = int64_t(1) << (M - nd);
    for (int axis = 0; axis < 3; ++axis) {
        const int64_t rCentre = (2 * int64_t(ro[axis]) + 1) * rHalf;
        const int64_t nCentre = (2 * int64_t(no[axis]) + 1) * nHalf;
        if (std::llabs(rCentre - nCentre) >= rHalf + (2 * splineWidth - 1) * nHalf)
            return false;
    }
    return true;
}

template <class Data>
template <class Visit>
void Octree<Data>::visitSliceNeighbors(const Node* r, const Node* node, int d, Visit& visit) const
{
    if (!nearSlice(r, node))
        return;
    if (node->depth == d) {
        visit(node);
        return;
    }
    if (node->children)
        for (int c = 0; c < 8; ++c)
            visitSliceNeighbors(r, &node->children[c], d, visit);
}

template <class Data>
void Octree<Data>::CountSliceNeighbors(const Node* r, const Node* q, int d, int& count) const
{
    auto visit = [&](const Node*) { ++count; };
    visitSliceNeighbors(r, q, d, visit);
}

template <class Data>
void Octree<Data>::CollectSliceNeighbors(const Node* r, const Node* q, int d, std::vector<int32_t>& list) const
{
    auto visit = [&](const Node* node) { list.push_back(node->nodeData.tableIndex); };
    visitSliceNeighbors(r, q, d, visit);
}

template <class Data>
StencilWindow Octree<Data>::sliceRowWindow(const Node* node, int rootDepth, const int rootOffset[3])
{
    int d, o[3];
    node->position(d, o);
    StencilWindow window;
    const int width = 1 << (d - rootDepth);
    for (int axis = 0; axis < 3; ++axis) {
        const int q = o[axis] - (rootOffset[axis] << (d - rootDepth));
        if (q < 0)
            window.start[axis] = -q;
        if (q >= width)
            window.end[axis] = width - q + 4;
    }
    return window;
}

template <class Data>
void Octree<Data>::BuildSliceMatrix(WindowMatrix& matrix, int d, const std::vector<int32_t>& list, int length,
                                    const Node* r, const std::vector<float>& accumulatedSolution)
{
    const OctreeDetail::LocalNumbering<Node> numbering(sortedNodes.nodes, list, length);
    int e, rootOffset[3];
    r->position(e, rootOffset);
    // Nodes inside the slice keep the whole window.
    const auto rowNode = [&](int32_t j) {
        return sortedNodes.nodes[static_cast<size_t>(list[static_cast<size_t>(j)])];
    };
    const auto rowWindow = [&](const Node* node) { return sliceRowWindow(node, e, rootOffset); };
    // A node's column is its place in the list, which it holds as tableIndex
    // while the numbering lives; other nodes keep their table index.
    const auto columnOf = [&](const Node* node) {
        const int32_t j = node->nodeData.tableIndex;
        return j >= 0 && j < length && sortedNodes.nodes[static_cast<size_t>(list[static_cast<size_t>(j)])] == node
                   ? j
                   : -1;
    };
    buildRows(matrix, d, length, rowNode, rowWindow, columnOf, accumulatedSolution);
}

template <class Data>
int Octree<Data>::SolveDepthInSlices(int d, std::vector<float>& accumulatedSolution, int solverDivide,
                                     bool showResidual, int minIters, bool skipSolve, int iters, double accuracy)
{
    if (solverDivide >= d)
        return SolveDepth(d, accumulatedSolution, showResidual, minIters, skipSolve, iters, accuracy);

    const int threads = threadCount();
    const std::vector<Node*>& nodes = sortedNodes.nodes;
    const int32_t start = sortedNodes.depthStart[d];
    const int32_t count = sortedNodes.depthStart[d + 1] - start;
    if (d > minDepth) {
        ProlongToDepth(d - 1, accumulatedSolution);
        const int32_t parentStart = sortedNodes.depthStart[d - 1];
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int32_t i = parentStart; i < start; ++i)
            accumulatedSolution[static_cast<size_t>(i)] += nodes[i]->nodeData.solution;
    }
    if (screening)
        ComputeSampleValues(d, accumulatedSolution);

    // The depth's right-hand side; the constraint fields then collect the
    // coarse corrections of one slice at a time.
    FloatVector rightHandSide(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        Node* node = nodes[start + i];
        rightHandSide[static_cast<size_t>(i)] = isActive(node) ? node->nodeData.constraint : 0.0f;
        node->nodeData.constraint = 0;
    }

    const int e = d - solverDivide + (boundaryType == 0 ? 1 : 0);
    const int32_t rootStart = sortedNodes.depthStart[e];
    const int32_t rootEnd = sortedNodes.depthStart[e + 1];
    std::vector<int> sliceSizes(static_cast<size_t>(rootEnd - rootStart), 0);
    int largest = 0;
    for (int32_t r = rootStart; r < rootEnd; ++r) {
        int& size = sliceSizes[static_cast<size_t>(r - rootStart)];
        auto countOwn = [&](Node*) { ++size; };
        forEachAtDepth(nodes[r], d, countOwn);
        for (int32_t q = rootStart; q < rootEnd; ++q)
            if (q != r)
                CountSliceNeighbors(nodes[r], nodes[q], d, size);
        largest = std::max(largest, size);
    }

    std::vector<int32_t> list;
    list.reserve(static_cast<size_t>(largest));
    FloatVector b, x;
    ThreadScratch scratch;
    scratch.resize(threads, largest);
    int total = 0;
    for (int32_t r = rootStart; r < rootEnd; ++r) {
        if (sliceSizes[static_cast<size_t>(r - rootStart)] == 0)
            continue;
        const Node* root = nodes[r];
        list.clear();
        auto collectOwn = [&](Node* node) {
            if (node->nodeData.tableIndex != -1)
                list.push_back(node->nodeData.tableIndex);
        };
        forEachAtDepth(nodes[r], d, collectOwn);
        for (int32_t q = rootStart; q < rootEnd; ++q)
            if (q != r)
                CollectSliceNeighbors(root, nodes[q], d, list);
        const int length = static_cast<int>(list.size());

        b.resize(static_cast<size_t>(length));
        x.resize(static_cast<size_t>(length));
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int j = 0; j < length; ++j) {
            b[static_cast<size_t>(j)] = rightHandSide[static_cast<size_t>(list[static_cast<size_t>(j)] - start)];
            x[static_cast<size_t>(j)] = nodes[list[static_cast<size_t>(j)]]->nodeData.solution;
        }
        WindowMatrix matrix;
        BuildSliceMatrix(matrix, d, list, length, root, accumulatedSolution);
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int j = 0; j < length; ++j) {
            float& constraint = nodes[list[static_cast<size_t>(j)]]->nodeData.constraint;
            b[static_cast<size_t>(j)] += constraint;
            constraint = 0;
        }
        if (!skipSolve) {
            int maxIterations;
            double eps;
            OctreeDetail::solverLimits(length, minIters, iters, accuracy, maxIterations, eps);
            total += WindowMatrix::solveConjugateGradient(matrix, b, maxIterations, x, scratch, eps, false);
        }
        // Nodes of slices solved before keep their values; this slice's and
        // later slices' nodes take the new ones as their start values.
        const int32_t rootIndex = root->nodeData.tableIndex;
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int j = 0; j < length; ++j) {
            Node* node = nodes[list[static_cast<size_t>(j)]];
            if (ancestorAt(static_cast<const Node*>(node), e)->nodeData.tableIndex >= rootIndex)
                node->nodeData.solution = x[static_cast<size_t>(j)];
        }
    }
    return total;
}

#define KORVASTEL_INSTANTIATE_SLICES(Data)                                                                         \
    template bool Octree<Data>::nearSlice(const Node*, const Node*) const;                                         \
    template void Octree<Data>::CountSliceNeighbors(const Node*, const Node*, int, int&) const;                    \
    template void Octree<Data>::CollectSliceNeighbors(const Node*, const Node*, int, std::vector<int32_t>&) const; \
    template StencilWindow Octree<Data>::sliceRowWindow(const Node*, int, const int[3]);                          \
    template void Octree<Data>::BuildSliceMatrix(WindowMatrix&, int, const std::vector<int32_t>&, int,            \
                                                 const Node*, const std::vector<float>&);                          \
    template int Octree<Data>::SolveDepthInSlices(int, std::vector<float>&, int, bool, int, bool, int, double);

KORVASTEL_INSTANTIATE_SLICES(NodeData)
KORVASTEL_INSTANTIATE_SLICES(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
