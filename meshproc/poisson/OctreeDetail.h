#pragma once

// Helpers shared by the octree's tree-building, constraint and solver steps.

#include "meshproc/poisson/NeighborCache.h"
#include "meshproc/poisson/Point3D.h"
#include "meshproc/poisson/ReconstructionError.h"
#include "meshproc/poisson/SortedNodeTable.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {
namespace OctreeDetail {

/// Positions [first + n*t/T, first + n*(t+1)/T) of n positions for thread t.
inline void chunk(int32_t first, int32_t count, int t, int threads, int32_t& from, int32_t& to)
{
    from = first + static_cast<int32_t>(int64_t(count) * t / threads);
    to = first + static_cast<int32_t>(int64_t(count) * (t + 1) / threads);
}

/// Splits the table positions [first, first + count) into `threads`
/// contiguous chunks and runs body(t, from, to) for chunk t on thread t.
template <class Body>
void forEachChunk(int threads, int32_t first, int32_t count, Body body)
{
    NodeTableDetail::forEachThread(threads, [&](int t) {
        int32_t from, to;
        chunk(first, count, t, threads, from, to);
        body(t, from, to);
    });
}

/// Quadratic B-spline weights of position p for the three nodes around `node`
/// along each axis (offsets -1, 0, +1): weights[axis][slot]. With `density`
/// the weight of the -1 slot is boosted by 32/19.
template <class Node>
void splatWeights(const Node* node, const Point3D<float>& p, double weights[3][3], bool density)
{
    Point3D<float> centre;
    float width;
    node->template cell<float>(centre, width);
    for (int axis = 0; axis < 3; ++axis) {
        const float difference = centre[axis] - p[axis];
        const double s = double(difference) / width;
        const double t = (double(difference) - width) / width;
        double* w = weights[axis];
        w[0] = 0.5 * t * t + 1.5 * t + 1.125;
        w[1] = 0.75 - s * s;
        w[2] = 1.0 - w[1] - w[0];
        if (density)
            w[0] *= 32.0 / 19.0;
    }
}

/// Local offsets (0 <= o < 2^depth) of a node.
template <class Node>
void localOffsets(const Node* node, int o[3])
{
    int d;
    node->position(d, o);
}

/// Whether every local offset of node lies in [low, high).
template <class Node>
bool offsetsWithin(const Node* node, int low, int high)
{
    int o[3];
    localOffsets(node, o);
    for (int axis = 0; axis < 3; ++axis)
        if (o[axis] < low || o[axis] >= high)
            return false;
    return true;
}

/// Cells of depth d kept out of the solve at each end for the free boundary.
inline int insetOf(int d, int boundaryType)
{
    return boundaryType == 0 && d >= 2 ? 1 << (d - 2) : 0;
}

/// Whether a node of depth d lies `margin` cells inside the solved region on
/// every axis, so that the translation-invariant stencils apply.
template <class Node>
bool isInterior(const Node* node, int margin, int boundaryType)
{
    const int d = node->depth;
    const int s = insetOf(d, boundaryType);
    return offsetsWithin(node, s + margin, (1 << d) - s - margin);
}

/// Calls f(parentDepthNode, weight) for the 2 x 2 x 2 nodes of the parent's
/// 3 x 3 x 3 neighbourhood that a node's function refines from, skipping
/// missing and unnumbered nodes. `cornerWeight` is the weight at the ends.
template <class Node, class F>
void forEachParentTap(const Node* node, const NeighborLevel<Node, 3>& parentLevel, double cornerWeight, F f)
{
    int o[3];
    localOffsets(node, o);
    const int last = (1 << node->depth) - 1;
    int first[3];
    double w[3][2];
    for (int axis = 0; axis < 3; ++axis) {
        if (o[axis] == 0) {
            first[axis] = 1;
            w[axis][0] = cornerWeight;
            w[axis][1] = 0;
        } else if (o[axis] == last) {
            first[axis] = 0;
            w[axis][0] = 0;
            w[axis][1] = cornerWeight;
        } else if ((o[axis] & 1) == 0) {
            first[axis] = 0;
            w[axis][0] = 0.25;
            w[axis][1] = 0.75;
        } else {
            first[axis] = 1;
            w[axis][0] = 0.75;
            w[axis][1] = 0.25;
        }
    }
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) {
                Node* other = parentLevel.neighbors[first[0] + i][first[1] + j][first[2] + k];
                if (!other || other->nodeData.tableIndex < 0)
                    continue;
                f(other, w[0][i] * w[1][j] * w[2][k]);
            }
}

/// Calls f(x, y, z, p) for the nodes p of the parent's 5 x 5 x 5
/// neighbourhood inside the parent window of a child: [0, 4) on an axis whose
/// child bit is 0, [1, 5) where it is 1. Missing and unnumbered nodes are
/// skipped.
template <class Node, class F>
void forEachInParentWindow(const NeighborLevel<Node, 5>& parentLevel, int childIndex, F f)
{
    int start[3];
    for (int axis = 0; axis < 3; ++axis)
        start[axis] = (childIndex >> axis) & 1;
    for (int x = start[0]; x < start[0] + 4; ++x)
        for (int y = start[1]; y < start[1] + 4; ++y)
            for (int z = start[2]; z < start[2] + 4; ++z) {
                Node* p = parentLevel.neighbors[x][y][z];
                if (p && p->nodeData.tableIndex >= 0)
                    f(x, y, z, p);
            }
}

/// Calls f(a, b, e, sample) for the point samples of the 27 nodes around the
/// centre of a 5 x 5 x 5 level, (a, b, e) in {-1, 0, 1}^3 their offsets.
template <class Node, class Sample, class F>
void forEachSampleAround(const NeighborLevel<Node, 5>& level, const std::vector<Sample>& samples, F f)
{
    for (int a = -1; a <= 1; ++a)
        for (int b = -1; b <= 1; ++b)
            for (int e = -1; e <= 1; ++e) {
                const Node* n = level.neighbors[2 + a][2 + b][2 + e];
                if (n && n->nodeData.sampleIndex != -1)
                    f(a, b, e, samples[static_cast<size_t>(n->nodeData.sampleIndex)]);
            }
}

/// Calls f(i, j, k, centre, neighbour) with the function index triples of
/// the same-depth stencil entries of depth d >= 2: the centre function at
/// offset 2^(d-1) and its neighbour (i - 2, j - 2, k - 2) away.
template <class F>
void forEachSameDepthPair(int d, F f)
{
    const int c = (1 << d) - 1 + (1 << (d - 1));
    const int centre[3] = {c, c, c};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 5; ++k) {
                const int neighbour[3] = {c - 2 + i, c - 2 + j, c - 2 + k};
                f(i, j, k, centre, neighbour);
            }
}

/// Calls f(childIndex, i, j, k, child, parent) with the function index
/// triples of the child stencil entries of depth d >= 2: each child of the
/// centre node of depth d - 1 and that node's neighbour (i - 2, j - 2, k - 2)
/// away.
template <class F>
void forEachChildPair(int d, F f)
{
    const int parentFirst = (1 << (d - 1)) - 1 + (1 << (d - 2)) - 2;
    for (int c = 0; c < 8; ++c) {
        int child[3];
        for (int axis = 0; axis < 3; ++axis)
            child[axis] = (1 << d) - 1 + (1 << (d - 1)) + ((c >> axis) & 1);
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j)
                for (int k = 0; k < 5; ++k) {
                    const int parent[3] = {parentFirst + i, parentFirst + j, parentFirst + k};
                    f(c, i, j, k, child, parent);
                }
    }
}

/// Gives the listed nodes their position in the list as tableIndex for as long
/// as it lives, and their own index back when it goes, also on an exception.
template <class Node>
class LocalNumbering {
public:
    LocalNumbering(const std::vector<Node*>& nodes, const std::vector<int32_t>& list, int length)
        : nodes_(nodes), list_(list), length_(length)
    {
        for (int j = 0; j < length_; ++j)
            nodes_[static_cast<size_t>(list_[static_cast<size_t>(j)])]->nodeData.tableIndex = j;
    }
    ~LocalNumbering()
    {
        for (int j = 0; j < length_; ++j)
            nodes_[static_cast<size_t>(list_[static_cast<size_t>(j)])]->nodeData.tableIndex = list_[static_cast<size_t>(j)];
    }
    LocalNumbering(const LocalNumbering&) = delete;
    LocalNumbering& operator=(const LocalNumbering&) = delete;

private:
    const std::vector<Node*>& nodes_;
    const std::vector<int32_t>& list_;
    int length_;
};

/// Affine part of a column-major 4 x 4 matrix and the inverse transpose of its
/// upper-left 3 x 3 block.
class PointTransform {
public:
    explicit PointTransform(const std::array<float, 16>& m) : m_(m)
    {
        const auto a = [&](int r, int c) { return double(m[4 * c + r]); };
        double cofactor[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
                cofactor[r][c] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
            }
        const double determinant = a(0, 0) * cofactor[0][0] + a(0, 1) * cofactor[0][1] + a(0, 2) * cofactor[0][2];
        if (!(std::fabs(determinant) > 0) || !std::isfinite(determinant))
            failReconstruction("[ERROR] The transform of the points is singular\n");
        // (A^-1)^T = cofactor matrix / determinant.
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                normalMatrix_[r][c] = float(cofactor[r][c] / determinant);
    }

    Point3D<float> position(const float x[3]) const
    {
        Point3D<float> result;
        for (int r = 0; r < 3; ++r)
            result[r] = m_[r] * x[0] + m_[4 + r] * x[1] + m_[8 + r] * x[2] + m_[12 + r];
        return result;
    }

    Point3D<float> normal(const float n[3]) const
    {
        Point3D<float> result;
        for (int r = 0; r < 3; ++r)
            result[r] = normalMatrix_[r][0] * n[0] + normalMatrix_[r][1] * n[1] + normalMatrix_[r][2] * n[2];
        return result;
    }

private:
    std::array<float, 16> m_;
    float normalMatrix_[3][3];
};

/// Iteration limit and tolerance of the conjugate gradients for `rows`
/// unknowns: with iters < 0 the cube root of the row count (at least
/// minIters) and a tolerance that grows with the rows, else iters steps.
inline void solverLimits(int32_t rows, int minIters, int iters, double accuracy, int& iterations, double& eps)
{
    if (iters < 0) {
        iterations = std::max(minIters, int(std::pow(double(rows), 0.3333333333333333)));
        eps = double(float(accuracy / 100000) * float(rows));
    } else {
        iterations = iters;
        eps = double(1e-10f);
    }
}

}  // namespace OctreeDetail
}  // namespace PoissonReconstruction
}  // namespace Veltrane
