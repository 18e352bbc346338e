#pragma once

#include "meshproc/poisson/IsoSurfaceContext.h"
#include "meshproc/poisson/OctreeNeighbors.h"
#include "meshproc/poisson/Polynomial.h"

#include <cmath>

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

/// The gradient at corner c of `node` from its 5 x 5 x 5 neighbours.
template <class Data>
std::array<float, 3> cornerGradient(IsoSurfaceContext<Data>& context, IsoSurfaceWorker<OctNode<Data>>& worker,
                                    const OctNode<Data>* node, int corner)
{
    worker.key5.get(const_cast<OctNode<Data>*>(node));
    return context.evaluator.EvaluateCornerGradient(worker.key5, node, corner, context.accumulatedSolution);
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
/// values come from the tables. Gradients come from what earlier passes left in
/// the tables (interior corners) or the shared corner map (block-border
/// corners, whose stored value also replaces the table's), else from the
/// worker's own results of this pass, else they are computed and kept in the
/// worker.
template <class Data>
bool ComputeRootPosition(IsoSurfaceContext<Data>& context, const EdgeRoot<OctNode<Data>>& root,
                         IsoSurfaceWorker<OctNode<Data>>& worker, Point3D<float>& position,
                         const IsoSurfaceTables& tables, int blockDepth, bool averageRoots)
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
    const int splineDepth = context.splineDepth();
    float values[2];
    std::array<float, 3> gradients[2];
    for (int k = 0; k < 2; ++k) {
        const int32_t index = tables.cornerIndex(node, corners[k]);
        if (index < 0 || !tables.cornerValues.get(size_t(index), values[k])) {
            ++context.anomalies.missingVertices;
            return false;
        }
        if (onBoundary) {
            const VertexKey cornerKeyValue = cornerKey(node, corners[k], splineDepth).key;
            auto shared = context.boundaryCorners.find(cornerKeyValue);
            if (shared == context.boundaryCorners.end()) {
                shared = worker.boundaryCorners.find(cornerKeyValue);
                if (shared == worker.boundaryCorners.end()) {
                    CornerSample sample;
                    sample.value = values[k];
                    sample.gradient = cornerGradient(context, worker, node, corners[k]);
                    shared = worker.boundaryCorners.emplace(cornerKeyValue, sample).first;
                }
            }
            values[k] = shared->second.value;
            gradients[k] = shared->second.gradient;
        } else if (!tables.cornerGradients.get(size_t(index), gradients[k])) {
            auto own = worker.cornerGradients.find(index);
            if (own == worker.cornerGradients.end())
                own = worker.cornerGradients.emplace(index, cornerGradient(context, worker, node, corners[k])).first;
            gradients[k] = own->second;
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

/// Places the missing iso-vertices on the twelve edges of a leaf and keeps
/// them in the worker: vertices on block borders (or of tables without edge
/// vertices) are to be found by edge key, the others by edge index. Returns
/// how many it placed.
template <class Data>
int AddEdgeVertices(IsoSurfaceContext<Data>& context, OctNode<Data>* leaf, int blockDepth,
                    IsoSurfaceWorker<OctNode<Data>>& worker, const IsoSurfaceTables& tables, bool averageRoots)
{
    using Node = OctNode<Data>;
    const int cubeCase = nodeCase(leaf);
    if (cubeCase == 0 || cubeCase == 255)
        return 0;
    int placed = 0;
    for (int axis = 0; axis < 3; ++axis)
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                const int edge = 4 * axis + 2 * j + i;
                EdgeRoot<Node> root;
                if (!GetRootIndex<Node>(leaf, edge, context.splineDepth(), root, context.anomalies))
                    continue;
                PendingVertex pending;
                pending.inCore = !tables.hasEdgeVertices || isBoundaryEdge(leaf, axis, i, j, blockDepth);
                if (pending.inCore) {
                    pending.key = root.key;
                    if (tables.boundaryVertices.count(root.key) || worker.pendingKeys.count(root.key))
                        continue;
                } else {
                    pending.edgeIndex = tables.edgeIndex(root.node, root.edge);
                    if (pending.edgeIndex < 0) {
                        ++context.anomalies.missingVertices;
                        continue;
                    }
                    if (tables.edgeVertices.isSet(size_t(pending.edgeIndex)) ||
                        worker.pendingEdges.count(pending.edgeIndex))
                        continue;
                }
                Point3D<float> position;
                if (!ComputeRootPosition(context, root, worker, position, tables, blockDepth, averageRoots))
                    continue;
                pending.vertex = inputVertex(context.tree, position);
                if (pending.inCore)
                    worker.pendingKeys.insert(pending.key);
                else
                    worker.pendingEdges.insert(pending.edgeIndex);
                worker.vertices.push_back(pending);
                ++placed;
            }
    return placed;
}

/// Hands a worker's vertices and corner gradients of one pass to the output
/// and the tables; what an earlier worker (or pass) already created wins.
/// Out-of-core vertices also go to `blockPositions` when given.
template <class Data>
void mergeWorkerVertices(IsoSurfaceContext<Data>& context, IsoSurfaceWorker<OctNode<Data>>& worker,
                         IsoSurfaceTables& tables, std::vector<Point3D<float>>* blockPositions)
{
    for (const PendingVertex& pending : worker.vertices) {
        if (pending.inCore) {
            if (tables.boundaryVertices.emplace(pending.key, int32_t(context.mesh.inCorePoints.size())).second)
                context.mesh.inCorePoints.push_back(pending.vertex);
        } else if (!tables.edgeVertices.isSet(size_t(pending.edgeIndex))) {
            tables.edgeVertices.put(size_t(pending.edgeIndex), context.mesh.appendOutOfCorePoint(pending.vertex));
            if (blockPositions)
                blockPositions->push_back(pending.vertex.point);
        }
    }
    for (const auto& gradient : worker.cornerGradients)
        if (!tables.cornerGradients.isSet(size_t(gradient.first)))
            tables.cornerGradients.put(size_t(gradient.first), gradient.second);
    for (const auto& sample : worker.boundaryCorners)
        context.boundaryCorners.emplace(sample.first, sample.second);
    worker.vertices.clear();
    worker.pendingKeys.clear();
    worker.pendingEdges.clear();
    worker.cornerGradients.clear();
    worker.boundaryCorners.clear();
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
