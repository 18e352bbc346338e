#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <cmath>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

float scaled(float value, double weight)
{
    return float(value * weight);
}

Point3D<float> scaled(const Point3D<float>& value, double weight)
{
    Point3D<float> result;
    for (int axis = 0; axis < 3; ++axis)
        result[axis] = float(value[axis] * weight);
    return result;
}

float dot(const Point3D<float>& n, const Point3D<double>& s)
{
    return float(n[0] * s[0] + n[1] * s[1] + n[2] * s[2]);
}

bool isZero(const Point3D<float>& n)
{
    return n[0] == 0 && n[1] == 0 && n[2] == 0;
}

/// Adds to every node of depth d the weighted values of its parent-depth
/// nodes; nothing at the depths that have no coarser functions to refine.
template <class Data, class Value>
void prolong(const Octree<Data>& tree, int d, std::vector<Value>& values)
{
    using Node = OctNode<Data>;
    if ((tree.boundaryType == 0 && d <= 2) || (tree.boundaryType != 0 && d == 0))
        return;
    const SortedNodeTable<Node>& table = tree.sortedNodes;
    const int32_t start = table.depthStart[d];
    const double cornerWeight = tree.boundaryCornerWeight();
    const int threads = tree.threads > 0 ? tree.threads : 1;
    OctreeDetail::forEachChunk(threads, start, table.depthStart[d + 1] - start, [&](int, int32_t from, int32_t to) {
        NeighborCache3<Node> key;
        key.set(d - 1);
        for (int32_t i = from; i < to; ++i) {
            const Node* node = table.nodes[i];
            Value& value = values[static_cast<size_t>(i)];
            OctreeDetail::forEachParentTap(node, key.get(node->parent), cornerWeight, [&](const Node* p, double w) {
                value += scaled(values[static_cast<size_t>(p->nodeData.tableIndex)], w);
            });
        }
    });
}

}  // namespace

template <class Data>
double Octree<Data>::boundaryCornerWeight() const
{
    return boundaryType == -1 ? 0.5 : boundaryType == 1 ? 1.0 : 0.75;
}

template <class Data>
float Octree<Data>::DivergenceTerm(const Node* holder, const Node* receiver, const Point3D<float>& normal) const
{
    const int16_t* n = holder->offset;
    const int16_t* c = receiver->offset;
    const float derivative = dv(c[0], n[0]) * normal[0] + dv(c[1], n[1]) * normal[1] + dv(c[2], n[2]) * normal[2];
    const float values = vv(c[0], n[0]) * vv(c[1], n[1]) * vv(c[2], n[2]);
    return float(double(derivative) * double(values));
}

template <class Data>
void Octree<Data>::SameDepthDivergenceStencil(int d, DivergenceStencil& stencil) const
{
    stencil = DivergenceStencil();
    if (d < 2)
        return;
    OctreeDetail::forEachSameDepthPair(d, [&](int i, int j, int k, const int* f, const int* n) {
        const float product = vv(f[0], n[0]) * vv(f[1], n[1]) * vv(f[2], n[2]);
        for (int axis = 0; axis < 3; ++axis)
            stencil(i, j, k)[axis] = double(dv(f[axis], n[axis])) * product;
    });
}

template <class Data>
void Octree<Data>::ChildDivergenceStencils(int d, ChildStencils<Point3D<double>>& stencils, bool scatter) const
{
    stencils = ChildStencils<Point3D<double>>();
    if (d < 2)
        return;
    OctreeDetail::forEachChildPair(d, [&](int c, int i, int j, int k, const int* child, const int* p) {
        const float product = vv(child[0], p[0]) * vv(child[1], p[1]) * vv(child[2], p[2]);
        for (int axis = 0; axis < 3; ++axis)
            stencils.forChild(c)(i, j, k)[axis] =
                double(scatter ? dv(p[axis], child[axis]) : dv(child[axis], p[axis])) * product;
    });
}

template <class Data>
void Octree<Data>::RestrictToParents(int d, std::vector<float>& values) const
{
    if (d == 0)
        return;
    const int threads = threadCount();
    const int32_t start = sortedNodes.depthStart[d];
    const int32_t parentStart = sortedNodes.depthStart[d - 1];
    const int32_t parentCount = start - parentStart;
    const double cornerWeight = boundaryCornerWeight();
    std::vector<std::vector<float>> sums(static_cast<size_t>(threads));
    OctreeDetail::forEachChunk(threads, start, sortedNodes.depthStart[d + 1] - start, [&](int t, int32_t from, int32_t to) {
        std::vector<float>& sum = sums[static_cast<size_t>(t)];
        sum.assign(static_cast<size_t>(parentCount), 0.0f);
        NeighborCache3<Node> key;
        key.set(d - 1);
        for (int32_t i = from; i < to; ++i) {
            const Node* node = sortedNodes.nodes[i];
            const float value = values[static_cast<size_t>(i)];
            OctreeDetail::forEachParentTap(node, key.get(node->parent), cornerWeight, [&](const Node* p, double w) {
                sum[static_cast<size_t>(p->nodeData.tableIndex - parentStart)] += float(value * w);
            });
        }
    });
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int32_t j = 0; j < parentCount; ++j) {
        float total = 0;
        for (const std::vector<float>& sum : sums)
            total += sum[static_cast<size_t>(j)];
        values[static_cast<size_t>(parentStart + j)] += total;
    }
}

template <class Data>
void Octree<Data>::ProlongNormals(int d, std::vector<Point3D<float>>& values) const
{
    prolong(*this, d, values);
}

template <class Data>
void Octree<Data>::ProlongToDepth(int d, std::vector<float>& values) const
{
    prolong(*this, d, values);
}

template <class Data>
void Octree<Data>::ComputeConstraints()
{
    if (!normals)
        failReconstruction("[ERROR] Constraints need the splatted normals\n");
    const std::vector<Node*>& nodes = sortedNodes.nodes;
    const std::vector<int32_t>& depthStart = sortedNodes.depthStart;
    const int D = sortedNodes.levels - 1;
    const int m = boundaryType == 0 ? 2 : 0;
    const int threads = threadCount();

    splineData.computeInnerProductTables(BSplineData::ValueValue | BSplineData::DerivativeValue, boundaryType == 0);
    const int32_t nodeCount = static_cast<int32_t>(nodes.size());
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int32_t i = 0; i < nodeCount; ++i)
        nodes[i]->nodeData.constraint = 0;

    // Terms of same-depth holders, and of finer holders one depth up.
    std::vector<float> parentConstraints(static_cast<size_t>(depthStart[D]), 0.0f);
    for (int d = D; d >= m; --d)
        addSameDepthAndFinerTerms(d, parentConstraints);

    // Coarse holders: their normals, expressed at every finer depth.
    std::vector<Point3D<float>> coarseNormals = coarseNormalField();
    for (int d = D - 1; d >= m; --d)
        RestrictToParents(d, parentConstraints);
    for (int d = m; d < D; ++d)
        ProlongNormals(d, coarseNormals);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int32_t i = 0; i < depthStart[D]; ++i)
        nodes[i]->nodeData.constraint += parentConstraints[static_cast<size_t>(i)];
    for (int d = 1; d <= D; ++d)
        addCoarserTerms(d, coarseNormals);
    splineData.releaseInnerProductTables(BSplineData::DerivativeValue);

    setWeightsFromNormals();
    normals.reset();
}

template <class Data>
void Octree<Data>::addSameDepthAndFinerTerms(int d, std::vector<float>& parentConstraints)
{
    const std::vector<Node*>& nodes = sortedNodes.nodes;
    const std::vector<int32_t>& depthStart = sortedNodes.depthStart;
    const int threads = threadCount();
    DivergenceStencil sameDepth;
    ChildStencils<Point3D<double>> childStencils;
    SameDepthDivergenceStencil(d, sameDepth);
    ChildDivergenceStencils(d, childStencils, true);
    const int32_t start = depthStart[d];
    const int32_t parentStart = d > 0 ? depthStart[d - 1] : 0;
    const int32_t parentCount = start - parentStart;
    // Each thread scatters into its own array; the arrays are summed in
    // thread order, so the result does not depend on the scheduling.
    std::vector<std::vector<float>> sums(static_cast<size_t>(threads));
    OctreeDetail::forEachChunk(threads, start, depthStart[d + 1] - start, [&](int t, int32_t from, int32_t to) {
        std::vector<float>& sum = sums[static_cast<size_t>(t)];
        sum.assign(static_cast<size_t>(parentCount), 0.0f);
        NeighborCache5<Node> key;
        key.set(d);
        for (int32_t i = from; i < to; ++i) {
            Node* c = nodes[i];
            const Level5& level = key.get(c);
            const bool interior2 = OctreeDetail::isInterior(c, 2, boundaryType);
            for (int x = 0; x < 5; ++x)
                for (int y = 0; y < 5; ++y)
                    for (int z = 0; z < 5; ++z) {
                        const Node* n = level.neighbors[x][y][z];
                        if (!n || n->nodeData.normalIndex < 0)
                            continue;
                        c->nodeData.constraint +=
                            interior2 ? dot(normalOf(n), sameDepth(x, y, z)) : DivergenceTerm(n, c, normalOf(n));
                    }
            if (d == 0 || c->nodeData.tableIndex < 0 || c->nodeData.normalIndex < 0 || isZero(normalOf(c)))
                continue;
            const Point3D<float>& normal = normalOf(c);
            const DivergenceStencil& stencil = childStencils.forChild(c->childIndex());
            const bool interior4 = OctreeDetail::isInterior(c, 4, boundaryType);
            OctreeDetail::forEachInParentWindow(
                key.get(c->parent), c->childIndex(), [&](int x, int y, int z, const Node* p) {
                    sum[static_cast<size_t>(p->nodeData.tableIndex - parentStart)] +=
                        interior4 ? dot(normal, stencil(x, y, z)) : DivergenceTerm(c, p, normal);
                });
        }
    });
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int32_t j = 0; j < parentCount; ++j) {
        float total = 0;
        for (const std::vector<float>& sum : sums)
            total += sum[static_cast<size_t>(j)];
        parentConstraints[static_cast<size_t>(parentStart + j)] = total;
    }
}

template <class Data>
std::vector<Point3D<float>> Octree<Data>::coarseNormalField() const
{
    const int32_t count = sortedNodes.depthStart[sortedNodes.levels - 1];
    std::vector<Point3D<float>> coarseNormals(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const Node* node = sortedNodes.nodes[i];
        if (node->nodeData.tableIndex >= 0 && node->nodeData.normalIndex >= 0 && !isZero(normalOf(node)))
            coarseNormals[static_cast<size_t>(i)] += normalOf(node);
    }
    return coarseNormals;
}

template <class Data>
void Octree<Data>::addCoarserTerms(int d, const std::vector<Point3D<float>>& coarseNormals)
{
    ChildStencils<Point3D<double>> childStencils;
    ChildDivergenceStencils(d, childStencils, false);
    const int32_t start = sortedNodes.depthStart[d];
    OctreeDetail::forEachChunk(threadCount(), start, sortedNodes.depthStart[d + 1] - start,
                               [&](int, int32_t from, int32_t to) {
                                   NeighborCache5<Node> key;
                                   key.set(d - 1);
                                   for (int32_t i = from; i < to; ++i)
                                       addCoarserTermsOf(sortedNodes.nodes[i], key, childStencils, coarseNormals);
                               });
}

template <class Data>
void Octree<Data>::addCoarserTermsOf(Node* c, NeighborCache5<Node>& key,
                                     const ChildStencils<Point3D<double>>& childStencils,
                                     const std::vector<Point3D<float>>& coarseNormals)
{
    const DivergenceStencil& stencil = childStencils.forChild(c->childIndex());
    const bool interior4 = OctreeDetail::isInterior(c, 4, boundaryType);
    float sum = 0;
    OctreeDetail::forEachInParentWindow(key.get(c->parent), c->childIndex(), [&](int x, int y, int z, const Node* p) {
        const Point3D<float>& normal = coarseNormals[static_cast<size_t>(p->nodeData.tableIndex)];
        sum += interior4 ? dot(normal, stencil(x, y, z)) : DivergenceTerm(p, c, normal);
    });
    c->nodeData.constraint += sum;
}

template <class Data>
void Octree<Data>::setWeightsFromNormals()
{
    const std::vector<Node*>& nodes = sortedNodes.nodes;
    const int32_t nodeCount = static_cast<int32_t>(nodes.size());
#pragma omp parallel for num_threads(threadCount()) schedule(static)
    for (int32_t i = 0; i < nodeCount; ++i) {
        Data& data = nodes[i]->nodeData;
        if (data.tableIndex >= 0 && data.normalIndex >= 0)
            data.weight = float(std::sqrt(double(normalOf(nodes[i]).squareLength())));
        else
            data.weight = 0;
    }
}

#define KORVASTEL_INSTANTIATE_CONSTRAINTS(Data)                                                                    \
    template double Octree<Data>::boundaryCornerWeight() const;                                                    \
    template float Octree<Data>::DivergenceTerm(const Node*, const Node*, const Point3D<float>&) const;            \
    template void Octree<Data>::SameDepthDivergenceStencil(int, DivergenceStencil&) const;                         \
    template void Octree<Data>::ChildDivergenceStencils(int, ChildStencils<Point3D<double>>&, bool) const;         \
    template void Octree<Data>::RestrictToParents(int, std::vector<float>&) const;                                 \
    template void Octree<Data>::ProlongNormals(int, std::vector<Point3D<float>>&) const;                           \
    template void Octree<Data>::ProlongToDepth(int, std::vector<float>&) const;                                    \
    template void Octree<Data>::ComputeConstraints();                                                              \
    template void Octree<Data>::addSameDepthAndFinerTerms(int, std::vector<float>&);                               \
    template std::vector<Point3D<float>> Octree<Data>::coarseNormalField() const;                                  \
    template void Octree<Data>::addCoarserTerms(int, const std::vector<Point3D<float>>&);                          \
    template void Octree<Data>::addCoarserTermsOf(Node*, NeighborCache5<Node>&, const ChildStencils<Point3D<double>>&, \
                                                  const std::vector<Point3D<float>>&);                             \
    template void Octree<Data>::setWeightsFromNormals();

KORVASTEL_INSTANTIATE_CONSTRAINTS(NodeData)
KORVASTEL_INSTANTIATE_CONSTRAINTS(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
