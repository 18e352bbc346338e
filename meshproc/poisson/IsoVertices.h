#pragma once

#include "meshproc/poisson/IsoSurfaceContext.h"
#include "meshproc/poisson/OctreeNeighbors.h"
#include "meshproc/poisson/Polynomial.h"

#include <cmath>
#include <mutex>

namespace Veltrane {
namespace PoissonReconstruction {

/// The octree edge that carries an iso-vertex: the node, the edge (numbered on
/// the node's cube) and the edge's key.
template <class Node>
struct EdgeRoot {
    const Node* node = nullptr;
    int edge = -1;
    EdgeKey key = 0;
};

/// Key of edge e of a node: axis + 2^5 q1 + 2^25 q2 + 2^45 g, q1 and q2 the
/// edge line's positions on the other axes (half cells of the spline depth),
/// g the node's stored offset along the edge. Edges of different depths on one
/// line get different keys.
template <class Node>
EdgeKey edgeKey(const Node* node, int edge, int splineDepth)
{
    int d, o[3];
    node->position(d, o);
    const int axis = edge >> 2;
    const int lowerAxis = axis == 0 ? 1 : 0;
    const int upperAxis = axis == 2 ? 1 : 2;
    const int shift = splineDepth - d + 1;
    const EdgeKey q1 = EdgeKey(o[lowerAxis] + (edge & 1)) << shift;
    const EdgeKey q2 = EdgeKey(o[upperAxis] + ((edge >> 1) & 1)) << shift;
    const EdgeKey g = EdgeKey(uint16_t(node->offset[axis]));
    return EdgeKey(axis) | (q1 << 5) | (q2 << 25) | (g << 45);
}

/// Locates the iso-vertex of edge e of `node`: on the finest edge that carries
/// the crossing, looking into a refined neighbour when the node is a leaf.
/// False when the node's case has no crossing on e or none can be found.
template <class Node>
bool GetRootIndex(const Node* node, int edge, int splineDepth, EdgeRoot<Node>& root, IsoSurfaceAnomalies& anomalies)
{
    if (node->nodeData.tableIndex == -1) {
        ++anomalies.unindexedNodes;
        return false;
    }
    if (!((CubeIndexing::caseEdgeMask(nodeCase(node)) >> edge) & 1))
        return false;

    const Node* finer = node;
    int finerEdge = edge;
    if (!node->children && node->depth < splineDepth) {
        auto refined = [](const Node* n) { return n && n->nodeData.tableIndex >= 0 && n->children; };
        const auto faces = CubeIndexing::edgeFaces(edge);
        const Node* across = faceNeighbor(node, faces.first >> 1, faces.first & 1);
        if (refined(across)) {
            finer = across;
            finerEdge = CubeIndexing::faceReflectEdge(edge, faces.first);
        } else if (refined(across = faceNeighbor(node, faces.second >> 1, faces.second & 1))) {
            finer = across;
            finerEdge = CubeIndexing::faceReflectEdge(edge, faces.second);
        } else if (refined(across = edgeNeighbor(node, edge))) {
            finer = across;
            finerEdge = CubeIndexing::edgeReflectEdge(edge);
        }
    }
    if (!finer->children) {
        root.node = finer;
        root.edge = finerEdge;
        root.key = edgeKey(finer, finerEdge, splineDepth);
        return true;
    }
    const auto corners = CubeIndexing::edgeCorners(finerEdge);
    if (GetRootIndex(&finer->children[corners.first], finerEdge, splineDepth, root, anomalies) ||
        GetRootIndex(&finer->children[corners.second], finerEdge, splineDepth, root, anomalies))
        return true;
    ++anomalies.missingRoots;
    return false;
}

/// Parameter in [0, 1] of the iso-crossing along an edge from the values u1,
/// u2 and the derivatives d1, d2 along the edge (scaled to the edge length) at
/// its two ends: the root of the quadratic through both values whose end
/// slopes are the derivatives rescaled by one common factor, averaged over the
/// roots inside the edge; linear interpolation when the quadratic has no root
/// there or cannot be formed. `clamped` tells whether the result had to be
/// clamped into the edge.
inline float edgeRootParameter(float u1, float u2, float d1, float d2, float isoValue, bool averageRoots,
                               bool& clamped)
{
    const double delta = double(u2) - double(u1);
    const double meanSlope = (double(d1) + double(d2)) * 0.5;
    double t = 0;
    bool found = false;
    if (meanSlope != 0) {
        const double q = delta / meanSlope;
        Polynomial<2> p;
        p.coefficients[0] = u1;
        p.coefficients[1] = q * d1;
        p.coefficients[2] = 3 * delta - q * d2 - 2 * p.coefficients[1];
        std::vector<double> roots;
        p.getSolutions(isoValue, roots, double(1e-6f));
        if (averageRoots) {
            float sum = 0;
            int count = 0;
            for (double r : roots)
                if (r >= 0 && r <= 1) {
                    sum += float(r);
                    ++count;
                }
            if (count > 0) {
                t = sum / float(count);
                found = true;
            }
        }
    }
    if (!found)
        t = float((double(u1) - double(isoValue)) / (double(u1) - double(u2)));
    clamped = !(t >= 0 && t <= 1);
    if (clamped)
        t = t > 1 ? 1.0 : 0.0;
    return float(t);
}

/// Places the iso-vertex on the root's edge, in the unit cube: fits a
/// quadratic to the corner values and the gradients along the edge. Corner
/// values come from the tables; gradients are computed once per corner (for
/// corners on block borders once per run, through the shared corner map).
template <class Data>
bool ComputeRootPosition(IsoSurfaceContext<Data>& context, const EdgeRoot<OctNode<Data>>& root,
                         NeighborCache5<OctNode<Data>>& key, Point3D<float>& position, IsoSurfaceTables& tables,
                         int blockDepth, bool averageRoots)
{
    using Node = OctNode<Data>;
    const Node* node = root.node;
    const int cubeCase = nodeCase(node);
    const int edge = root.edge;
    if (cubeCase == 0 || cubeCase == 255 || !CubeIndexing::edgeHasRoot(cubeCase, edge))
        return false;

    const auto ends = CubeIndexing::edgeCorners(edge);
    const int corners[2] = {ends.first, ends.second};
    const int axis = edge >> 2;
    const int i = edge & 1;
    const int j = (edge >> 1) & 1;
    const bool onBoundary = isBoundaryEdge(node, axis, i, j, blockDepth);
    float values[2];
    std::array<float, 3> gradients[2];
    bool haveGradient[2] = {false, false};
    int32_t indices[2];
    for (int k = 0; k < 2; ++k) {
        indices[k] = tables.cornerIndex(node, corners[k]);
        if (indices[k] < 0 || !tables.cornerValues.get(size_t(indices[k]), values[k])) {
            ++context.anomalies.missingVertices;
            return false;
        }
    }
    const int splineDepth = context.splineDepth();
    VertexKey cornerKeys[2];
    for (int k = 0; k < 2; ++k)
        cornerKeys[k] = cornerKey(node, corners[k], splineDepth).key;
    if (onBoundary) {
        std::lock_guard<std::mutex> lock(context.locks.boundaryCorner);
        for (int k = 0; k < 2; ++k) {
            const auto found = context.boundaryCorners.find(cornerKeys[k]);
            if (found != context.boundaryCorners.end()) {
                values[k] = found->second.value;
                gradients[k] = found->second.gradient;
                haveGradient[k] = true;
            }
        }
    } else {
        for (int k = 0; k < 2; ++k)
            haveGradient[k] = tables.cornerGradients.get(size_t(indices[k]), gradients[k]);
    }
    if (!haveGradient[0] || !haveGradient[1]) {
        Node* mutableNode = const_cast<Node*>(node);
        key.get(mutableNode);
        for (int k = 0; k < 2; ++k) {
            if (haveGradient[k])
                continue;
            gradients[k] = context.evaluator.EvaluateCornerGradient(key, node, corners[k], context.accumulatedSolution);
            if (onBoundary) {
                std::lock_guard<std::mutex> lock(context.locks.boundaryCorner);
                CornerSample& sample = context.boundaryCorners[cornerKeys[k]];
                sample.value = values[k];
                sample.gradient = gradients[k];
            } else {
                tables.cornerGradients.put(size_t(indices[k]), gradients[k]);
            }
        }
    }

    Point3D<float> centre;
    float width;
    node->cell(centre, width);
    const int lowerAxis = axis == 0 ? 1 : 0;
    const int upperAxis = axis == 2 ? 1 : 2;
    position[lowerAxis] = centre[lowerAxis] - width / 2 + float(i) * width;
    position[upperAxis] = centre[upperAxis] - width / 2 + float(j) * width;

    bool clamped = false;
    const float t = edgeRootParameter(values[0], values[1], gradients[0][size_t(axis)] * width,
                                      gradients[1][size_t(axis)] * width, context.isoValue, averageRoots, clamped);
    if (clamped)
        ++context.anomalies.clampedRoots;
    position[axis] = centre[axis] - width / 2 + width * t;
    return true;
}

/// Maps a unit-cube position to the input's coordinates.
template <class Data>
PlyVertex inputVertex(const Octree<Data>& tree, const Point3D<float>& position)
{
    PlyVertex vertex;
    for (int axis = 0; axis < 3; ++axis)
        vertex.point[axis] = tree.cubeOrigin[axis] + tree.cubeWidth * position[axis];
    return vertex;
}

/// Creates the missing iso-vertices on the twelve edges of a leaf: in memory
/// (found by key) when the edge lies on a block border or the tables keep no
/// edge vertices, streamed out otherwise. Returns how many it created.
template <class Data>
int AddEdgeVertices(IsoSurfaceContext<Data>& context, OctNode<Data>* leaf, int blockDepth,
                    NeighborCache5<OctNode<Data>>& key, IsoSurfaceTables& tables,
                    std::vector<Point3D<float>>* blockPositions, bool averageRoots)
{
    using Node = OctNode<Data>;
    const int cubeCase = nodeCase(leaf);
    if (cubeCase == 0 || cubeCase == 255)
        return 0;
    int created = 0;
    for (int axis = 0; axis < 3; ++axis)
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                const int edge = 4 * axis + 2 * j + i;
                EdgeRoot<Node> root;
                if (!GetRootIndex<Node>(leaf, edge, context.splineDepth(), root, context.anomalies))
                    continue;
                if (!tables.hasEdgeVertices || isBoundaryEdge(leaf, axis, i, j, blockDepth)) {
                    {
                        std::lock_guard<std::mutex> lock(context.locks.boundaryVertex);
                        if (tables.boundaryVertices.count(root.key))
                            continue;
                    }
                    Point3D<float> position;
                    if (!ComputeRootPosition(context, root, key, position, tables, blockDepth, averageRoots))
                        continue;
                    const PlyVertex vertex = inputVertex(context.tree, position);
                    std::lock_guard<std::mutex> lock(context.locks.boundaryVertex);
                    if (tables.boundaryVertices.count(root.key))
                        continue;
                    tables.boundaryVertices[root.key] = int32_t(context.mesh.inCorePoints.size());
                    context.mesh.inCorePoints.push_back(vertex);
                    ++created;
                } else {
                    const int32_t index = tables.edgeIndex(root.node, root.edge);
                    if (index < 0) {
                        ++context.anomalies.missingVertices;
                        continue;
                    }
                    if (tables.edgeVertices.isSet(size_t(index)))
                        continue;
                    Point3D<float> position;
                    if (!ComputeRootPosition(context, root, key, position, tables, blockDepth, averageRoots))
                        continue;
                    const PlyVertex vertex = inputVertex(context.tree, position);
                    std::lock_guard<std::mutex> lock(context.locks.outOfCore);
                    if (tables.edgeVertices.isSet(size_t(index)))
                        continue;
                    tables.edgeVertices.put(size_t(index), context.mesh.appendOutOfCorePoint(vertex));
                    if (blockPositions)
                        blockPositions->push_back(vertex.point);
                    ++created;
                }
            }
    return created;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
