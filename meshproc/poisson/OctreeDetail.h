#pragma once

// Helpers shared by the octree's tree-building, constraint and solver steps.

#include "meshproc/poisson/NeighborCache.h"
#include "meshproc/poisson/Point3D.h"
#include "meshproc/poisson/SortedNodeTable.h"

#include <algorithm>
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

/// The parent window of a child: [0, 4) on an axis whose child bit is 0,
/// [1, 5) where it is 1.
inline void parentWindow(int childIndex, int start[3], int end[3])
{
    for (int axis = 0; axis < 3; ++axis) {
        start[axis] = (childIndex >> axis) & 1;
        end[axis] = start[axis] + 4;
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
