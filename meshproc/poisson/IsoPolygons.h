#pragma once

#include "meshproc/poisson/AreaMinimizingTriangulator.h"
#include "meshproc/poisson/IsoEdgeChains.h"
#include "meshproc/poisson/IsoVertices.h"

#include <unordered_map>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// A directed segment of an iso-line on a cube face.
template <class Node>
struct IsoEdge {
    EdgeRoot<Node> from;
    EdgeRoot<Node> to;
};

/// The root an edge key was first seen with, and how many segments leave the
/// key minus how many arrive at it.
template <class Node>
struct RootBalance {
    EdgeRoot<Node> root;
    int balance = 0;
};

template <class Node>
using RootBalanceMap = std::unordered_map<EdgeKey, RootBalance<Node>>;

/// Appends the segment from -> to and books it in the balance map.
template <class Node>
void bookSegment(const EdgeRoot<Node>& from, const EdgeRoot<Node>& to, std::vector<IsoEdge<Node>>& segments,
                 RootBalanceMap<Node>& balances)
{
    segments.push_back({from, to});
    balances.emplace(from.key, RootBalance<Node>{from, 0}).first->second.balance += 1;
    balances.emplace(to.key, RootBalance<Node>{to, 0}).first->second.balance -= 1;
}

/// Books the segment between the iso-vertices of edges a and b of `leaf`
/// (turned round when `reversed`); a missing vertex drops it as a bad edge.
template <class Node>
void bookLeafSegment(const Node* leaf, int a, int b, bool reversed, int splineDepth,
                     std::vector<IsoEdge<Node>>& segments, RootBalanceMap<Node>& balances,
                     IsoSurfaceAnomalies& anomalies)
{
    EdgeRoot<Node> first, second;
    if (!GetRootIndex(leaf, a, splineDepth, first, anomalies) || !GetRootIndex(leaf, b, splineDepth, second, anomalies)) {
        ++anomalies.badEdges;
        return;
    }
    if (reversed)
        bookSegment(second, first, segments, balances);
    else
        bookSegment(first, second, segments, balances);
}

/// Calls visit(first edge, second edge) for every side of the case's triangles
/// that is an iso-line segment on `face`.
template <class Visit>
void forEachFaceSegment(int cubeCase, int face, Visit visit)
{
    int triangles[3 * CubeIndexing::maxCaseTriangles];
    const int count = CubeIndexing::caseTriangles(cubeCase, triangles);
    for (int t = 0; t < count; ++t)
        for (int k = 0; k < 3; ++k) {
            const int a = triangles[3 * t + k];
            const int b = triangles[3 * t + (k + 1) % 3];
            if (CubeIndexing::commonFace(a, b) == face)
                visit(a, b);
        }
}

/// Gathers the iso-line segments that the finer leaves of a refined neighbour
/// have on the face they share with a coarser leaf, turned round so that they
/// run as the coarser leaf traverses the face.
template <class Node>
class FaceEdgeCollector {
public:
    FaceEdgeCollector(int face, int splineDepth, std::vector<IsoEdge<Node>>& segments,
                      RootBalanceMap<Node>& balances, IsoSurfaceAnomalies& anomalies)
        : face_(face), splineDepth_(splineDepth), segments_(segments), balances_(balances), anomalies_(anomalies)
    {
    }

    void collect(const Node* node)
    {
        if (!node->children) {
            addLeafEdges(node);
            return;
        }
        const std::array<int, 4> corners = CubeIndexing::faceCorners(face_);
        for (int c : corners)
            if (!node->children[c].children)
                addLeafEdges(&node->children[c]);
        for (int c : corners)
            if (node->children[c].children)
                collect(&node->children[c]);
    }

    void addLeafEdges(const Node* leaf)
    {
        const int cubeCase = nodeCase(leaf);
        if (cubeCase == 0 || cubeCase == 255)
            return;
        forEachFaceSegment(cubeCase, face_, [&](int a, int b) {
            bookLeafSegment(leaf, a, b, true, splineDepth_, segments_, balances_, anomalies_);
        });
    }

private:
    int face_;
    int splineDepth_;
    std::vector<IsoEdge<Node>>& segments_;
    RootBalanceMap<Node>& balances_;
    IsoSurfaceAnomalies& anomalies_;
};

/// The second crossing on the coarser edge that contains the root's edge,
/// which the coarser side cannot see because its corners agree.
template <class Node>
bool FindPairedRoot(const EdgeRoot<Node>& root, int splineDepth, EdgeRoot<Node>& paired,
                    IsoSurfaceAnomalies& anomalies)
{
    const auto corners = CubeIndexing::edgeCorners(root.edge);
    const Node* node = root.node;
    while (node->parent) {
        const Node* parent = node->parent;
        const int child = node->childIndex();
        if (child != corners.first && child != corners.second)
            return false;
        const int parentCase = nodeCase(parent);
        const bool firstBelow = (parentCase >> CubeIndexing::caseCornerBit[size_t(corners.first)]) & 1;
        const bool secondBelow = (parentCase >> CubeIndexing::caseCornerBit[size_t(corners.second)]) & 1;
        if (firstBelow == secondBelow) {
            const int other = child == corners.first ? corners.second : corners.first;
            return GetRootIndex(&parent->children[other], root.edge, splineDepth, paired, anomalies);
        }
        node = parent;
    }
    return false;
}

/// The directed face segments of a leaf: its own case's on faces whose
/// neighbour is not refined, the refined neighbour's finer leaves' otherwise;
/// then ends that do not meet are closed along coarser edges without a
/// crossing.
template <class Data>
void AssembleIsoPolygons(IsoSurfaceContext<Data>& context, const OctNode<Data>* leaf, int blockDepth,
                         std::vector<IsoEdge<OctNode<Data>>>& segments)
{
    using Node = OctNode<Data>;
    const int splineDepth = context.splineDepth();
    IsoSurfaceAnomalies& anomalies = context.anomalies;
    RootBalanceMap<Node> balances;
    segments.clear();
    for (int face = 0; face < CubeIndexing::faceCount; ++face) {
        const Node* across = faceNeighbor(leaf, face >> 1, face & 1);
        if (across && across->nodeData.tableIndex >= 0 && across->children &&
            !isBoundaryFace(leaf, face, blockDepth)) {
            FaceEdgeCollector<Node>(face ^ 1, splineDepth, segments, balances, anomalies).collect(across);
            continue;
        }
        forEachFaceSegment(nodeCase(leaf), face, [&](int a, int b) {
            bookLeafSegment(leaf, a, b, false, splineDepth, segments, balances, anomalies);
        });
    }

    for (size_t s = 0; s < segments.size(); ++s) {
        for (int end = 0; end < 2; ++end) {
            const EdgeRoot<Node> root = end == 0 ? segments[s].from : segments[s].to;
            const auto entry = balances.find(root.key);
            if (entry == balances.end()) {
                ++anomalies.missingVertices;
                continue;
            }
            if (entry->second.balance == 0)
                continue;
            EdgeRoot<Node> paired;
            // Without a pair the end stays open; the loop is counted when chained.
            if (!FindPairedRoot(entry->second.root, splineDepth, paired, anomalies) || !balances.count(paired.key))
                continue;
            if (end == 0)
                bookSegment(paired, root, segments, balances);
            else
                bookSegment(root, paired, segments, balances);
        }
    }
}

/// The output corner of a root's iso-vertex: in core when the key is in the
/// boundary vertices, out of core when the tables hold a vertex for its edge.
template <class Node>
bool lookupEdgeVertex(const EdgeRoot<Node>& root, const IsoSurfaceTables& tables, PolygonCorner& corner)
{
    const auto found = tables.boundaryVertices.find(root.key);
    if (found != tables.boundaryVertices.end()) {
        corner.index = found->second;
        corner.inCore = true;
        return true;
    }
    if (!tables.hasEdgeVertices)
        return false;
    const int32_t index = tables.edgeIndex(root.node, root.edge);
    int32_t vertex;
    if (index < 0 || !tables.edgeVertices.get(size_t(index), vertex))
        return false;
    corner.index = vertex;
    corner.inCore = false;
    return true;
}

/// True when two corners that are not neighbours on the polygon have exactly
/// the same x, y or z.
inline bool hasAlignedCorners(const std::vector<AreaMinimizingTriangulator::Point>& points)
{
    const size_t n = points.size();
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < i; ++j) {
            if (j == (i + 1) % n || i == (j + 1) % n)
                continue;
            for (size_t axis = 0; axis < 3; ++axis)
                if (points[i][axis] == points[j][axis])
                    return true;
        }
    return false;
}

/// Turns the polygon into triangles kept in the worker: a fan around a new
/// centre vertex when two corners that are not neighbours share a coordinate
/// exactly (and centre vertices are wanted), the least-area triangulation
/// otherwise. Out-of-core corners are found in `blockPositions` at index -
/// outOfCoreBase. Returns the polygon's corner count.
template <class Data>
int OutputTriangulatedPolygon(IsoSurfaceContext<Data>& context, IsoSurfaceWorker<OctNode<Data>>& worker,
                              const std::vector<PolygonCorner>& polygon,
                              const std::vector<Point3D<float>>* blockPositions, int outOfCoreBase, bool addCentres)
{
    const int n = int(polygon.size());
    if (n < 3)
        return n;
    std::vector<AreaMinimizingTriangulator::Point> points;
    points.reserve(size_t(n));
    for (const PolygonCorner& corner : polygon) {
        Point3D<float> p;
        if (corner.inCore) {
            p = context.mesh.inCorePoints[size_t(corner.index)].point;
        } else {
            const int64_t local = int64_t(corner.index) - outOfCoreBase;
            if (!blockPositions || local < 0 || local >= int64_t(blockPositions->size())) {
                ++context.anomalies.missingVertices;
                return n;
            }
            p = (*blockPositions)[size_t(local)];
        }
        points.push_back({p[0], p[1], p[2]});
    }

    auto addTriangle = [&](const PolygonCorner& a, const PolygonCorner& b, const PolygonCorner& c, int centre) {
        PendingTriangle triangle;
        triangle.corners = {a, b, c};
        triangle.centre = centre;
        worker.triangles.push_back(triangle);
    };
    if (n == 3) {
        addTriangle(polygon[0], polygon[1], polygon[2], -1);
        return n;
    }
    if (addCentres && hasAlignedCorners(points)) {
        PlyVertex centre;
        for (const auto& p : points)
            for (int axis = 0; axis < 3; ++axis)
                centre.point[axis] += p[size_t(axis)];
        centre.point /= float(n);
        const int centreIndex = int(worker.centres.size());
        worker.centres.push_back(centre);
        for (int i = 0; i < n; ++i)
            addTriangle(polygon[size_t(i)], polygon[size_t((i + 1) % n)], PolygonCorner{}, centreIndex);
        return n;
    }
    AreaMinimizingTriangulator triangulator;
    for (const auto& t : triangulator.triangulate(points))
        addTriangle(polygon[size_t(t[0])], polygon[size_t(t[1])], polygon[size_t(t[2])], -1);
    return n;
}

/// Appends a worker's centre vertices (out of core, their positions also to
/// `centrePositions` when given) and then its triangles to the output.
template <class Data>
void mergeWorkerPolygons(IsoSurfaceContext<Data>& context, IsoSurfaceWorker<OctNode<Data>>& worker,
                         std::vector<Point3D<float>>* centrePositions)
{
    std::vector<int32_t> centreIndex;
    centreIndex.reserve(worker.centres.size());
    for (const PlyVertex& centre : worker.centres) {
        centreIndex.push_back(context.mesh.appendOutOfCorePoint(centre));
        if (centrePositions)
            centrePositions->push_back(centre.point);
    }
    std::vector<PolygonCorner> polygon(3);
    for (const PendingTriangle& triangle : worker.triangles) {
        polygon.assign(triangle.corners.begin(), triangle.corners.end());
        if (triangle.centre >= 0)
            polygon[2] = PolygonCorner{centreIndex[size_t(triangle.centre)], false};
        context.mesh.appendPolygon(polygon);
    }
    worker.centres.clear();
    worker.triangles.clear();
}

/// All polygons of a leaf, triangulated into the worker. Returns the summed
/// corner counts of its polygons.
template <class Data>
int AddLeafPolygons(IsoSurfaceContext<Data>& context, IsoSurfaceWorker<OctNode<Data>>& worker,
                    const OctNode<Data>* leaf, const IsoSurfaceTables& tables,
                    const std::vector<Point3D<float>>* blockPositions, int outOfCoreBase, int blockDepth,
                    bool addCentres)
{
    using Node = OctNode<Data>;
    std::vector<IsoEdge<Node>> segments;
    AssembleIsoPolygons(context, leaf, blockDepth, segments);
    std::vector<std::vector<IsoEdge<Node>>> loops;
    chainIsoEdges(segments, loops);
    int corners = 0;
    std::vector<PolygonCorner> polygon;
    for (const auto& loop : loops) {
        if (loop.front().from.key != loop.back().to.key)
            ++context.anomalies.openLoops;
        polygon.clear();
        for (auto segment = loop.rbegin(); segment != loop.rend(); ++segment) {
            PolygonCorner corner;
            if (lookupEdgeVertex(segment->from, tables, corner))
                polygon.push_back(corner);
            else
                ++context.anomalies.missingVertices;
        }
        corners += OutputTriangulatedPolygon(context, worker, polygon, blockPositions, outOfCoreBase, addCentres);
    }
    return corners;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
