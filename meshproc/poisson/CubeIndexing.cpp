#include "meshproc/poisson/CubeIndexing.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {
namespace CubeIndexing {

namespace {

struct EdgeParts {
    int axis;
    int i;
    int j;
    int lowerAxis;
    int upperAxis;
};

EdgeParts splitEdge(int edge)
{
    EdgeParts parts;
    parts.axis = edge >> 2;
    parts.i = edge & 1;
    parts.j = (edge >> 1) & 1;
    parts.lowerAxis = parts.axis == 0 ? 1 : 0;
    parts.upperAxis = parts.axis == 2 ? 1 : 2;
    return parts;
}

bool cornerBelow(int cubeCase, int corner)
{
    return (cubeCase >> caseCornerBit[corner]) & 1;
}

using Point = std::array<double, 3>;

Point cornerPoint(int corner)
{
    return {double(corner & 1), double((corner >> 1) & 1), double((corner >> 2) & 1)};
}

Point edgeMidpoint(int edge)
{
    const EdgeParts parts = splitEdge(edge);
    Point p{};
    p[parts.axis] = 0.5;
    p[parts.lowerAxis] = parts.i;
    p[parts.upperAxis] = parts.j;
    return p;
}

/// True when `corner` lies to the right of the segment from edge `from` to
/// edge `to`, seen from outside the cube through `face`.
bool cornerRightOfSegment(int from, int to, int corner, int face)
{
    const Point a = edgeMidpoint(from);
    const Point b = edgeMidpoint(to);
    const Point c = cornerPoint(corner);
    const Point ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const Point ac{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const Point cross{ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                      ab[0] * ac[1] - ab[1] * ac[0]};
    const double outward = (face & 1) ? 1.0 : -1.0;
    return cross[face >> 1] * outward < 0.0;
}

/// The face edge that joins face corners a and b (indices into faceCorners).
int faceEdgeBetween(int cornerA, int cornerB)
{
    for (int e = 0; e < edgeCount; ++e) {
        const auto corners = edgeCorners(e);
        if ((corners.first == cornerA && corners.second == cornerB) ||
            (corners.first == cornerB && corners.second == cornerA))
            return e;
    }
    return -1;
}

/// Directed iso-line segments (from edge -> to edge) of one face in a case.
/// Each corner below the iso-value that is the only one below among its
/// neighbours on the face is cut off by its own segment; otherwise the single
/// crossing pair separates the corners below from those above.
void faceSegments(int cubeCase, int face, std::vector<std::pair<int, int>>& segments)
{
    const std::array<int, 4> corners = faceCorners(face);
    // Face corners in cyclic order around the face.
    const std::array<int, 4> ring = {corners[0], corners[1], corners[3], corners[2]};
    std::vector<int> crossed;
    for (int k = 0; k < 4; ++k) {
        const int a = ring[k];
        const int b = ring[(k + 1) % 4];
        if (cornerBelow(cubeCase, a) != cornerBelow(cubeCase, b))
            crossed.push_back(faceEdgeBetween(a, b));
    }
    auto addOriented = [&](int e1, int e2, int belowCorner) {
        if (cornerRightOfSegment(e1, e2, belowCorner, face))
            segments.emplace_back(e1, e2);
        else
            segments.emplace_back(e2, e1);
    };
    if (crossed.size() == 2) {
        for (int corner : ring) {
            if (cornerBelow(cubeCase, corner)) {
                addOriented(crossed[0], crossed[1], corner);
                return;
            }
        }
    } else if (crossed.size() == 4) {
        for (int k = 0; k < 4; ++k) {
            const int corner = ring[k];
            if (!cornerBelow(cubeCase, corner))
                continue;
            const int before = faceEdgeBetween(ring[(k + 3) % 4], corner);
            const int after = faceEdgeBetween(corner, ring[(k + 1) % 4]);
            addOriented(before, after, corner);
        }
    }
}

/// Triangulates the closed loop `loop` (edge numbers in order) so that every
/// new side joins two edges without a common face. Returns false when no such
/// triangulation exists.
bool triangulateLoop(const std::vector<int>& loop, std::vector<std::array<int, 3>>& triangles)
{
    const size_t n = loop.size();
    if (n < 3)
        return false;
    if (n == 3) {
        triangles.push_back({loop[0], loop[1], loop[2]});
        return true;
    }
    for (size_t k = 2; k < n; ++k) {
        const bool firstSideOk = k == 2 || commonFace(loop[1], loop[k]) < 0;
        const bool secondSideOk = k == n - 1 || commonFace(loop[k], loop[0]) < 0;
        if (!firstSideOk || !secondSideOk)
            continue;
        std::vector<std::array<int, 3>> attempt{{loop[0], loop[1], loop[k]}};
        const std::vector<int> left(loop.begin() + 1, loop.begin() + long(k) + 1);
        std::vector<int> right(loop.begin() + long(k), loop.end());
        right.push_back(loop[0]);
        if (left.size() >= 3 && !triangulateLoop(left, attempt))
            continue;
        if (right.size() >= 3 && !triangulateLoop(right, attempt))
            continue;
        triangles.insert(triangles.end(), attempt.begin(), attempt.end());
        return true;
    }
    return false;
}

/// Rows that the extraction's reference numbering fixes, down to the
/// starting edge of each triangle, their order and the inner diagonals. They
/// cut the same iso-lines on the faces as the rows the case analysis below
/// generates; only the choice between triangulations of equal pieces differs.
struct ReferenceRow {
    int cubeCase;
    std::array<int, 6> edges;  ///< one or two triangles, -1 after the last
};
constexpr ReferenceRow referenceRows[] = {
    {1, {0, 4, 8, -1, -1, -1}},    {2, {5, 0, 9, -1, -1, -1}},   {3, {8, 9, 5, 8, 5, 4}},
    {4, {1, 5, 11, -1, -1, -1}},   {5, {0, 4, 8, 1, 5, 11}},     {6, {9, 11, 1, 9, 1, 0}},
    {8, {4, 1, 10, -1, -1, -1}},   {15, {8, 9, 11, 8, 11, 10}},  {16, {8, 6, 2, -1, -1, -1}},
    {51, {4, 6, 7, 5, 4, 7}},      {127, {6, 3, 10, -1, -1, -1}}, {128, {10, 3, 6, -1, -1, -1}},
    {254, {8, 4, 0, -1, -1, -1}},
};

struct CaseTables {
    std::array<int, caseCount> edgeMask{};
    std::array<std::array<int, caseRowLength>, caseCount> triangles{};
};

CaseTables buildCaseTables()
{
    CaseTables tables;
    for (int c = 0; c < caseCount; ++c) {
        int mask = 0;
        for (int e = 0; e < edgeCount; ++e)
            if (edgeHasRoot(c, e))
                mask |= 1 << e;
        tables.edgeMask[c] = mask;

        std::vector<std::pair<int, int>> segments;
        for (int f = 0; f < faceCount; ++f)
            faceSegments(c, f, segments);

        // Each crossed edge starts exactly one segment; follow them into loops,
        // starting each loop at its lowest edge.
        std::array<int, edgeCount> next;
        next.fill(-1);
        for (const auto& segment : segments)
            next[segment.first] = segment.second;
        std::vector<std::array<int, 3>> rowTriangles;
        std::array<bool, edgeCount> used{};
        for (int start = 0; start < edgeCount; ++start) {
            if (next[start] < 0 || used[start])
                continue;
            std::vector<int> loop;
            for (int e = start; !used[e]; e = next[e]) {
                used[e] = true;
                loop.push_back(e);
            }
            if (!triangulateLoop(loop, rowTriangles))
                throw std::logic_error("iso-line loop without a valid triangulation");
        }
        if (rowTriangles.size() > size_t(maxCaseTriangles))
            throw std::logic_error("case row with too many triangles");
        std::array<int, caseRowLength>& row = tables.triangles[c];
        row.fill(-1);
        for (size_t t = 0; t < rowTriangles.size(); ++t)
            for (int k = 0; k < 3; ++k)
                row[3 * t + size_t(k)] = rowTriangles[t][size_t(k)];
    }
    for (const ReferenceRow& reference : referenceRows) {
        std::array<int, caseRowLength>& row = tables.triangles[size_t(reference.cubeCase)];
        row.fill(-1);
        std::copy(reference.edges.begin(), reference.edges.end(), row.begin());
    }
    return tables;
}

const CaseTables& caseTables()
{
    static const CaseTables tables = buildCaseTables();
    return tables;
}

}  // namespace

std::pair<int, int> edgeCorners(int edge)
{
    const EdgeParts parts = splitEdge(edge);
    const int low = (parts.i << parts.lowerAxis) | (parts.j << parts.upperAxis);
    return {low, low | (1 << parts.axis)};
}

std::pair<int, int> edgeFaces(int edge)
{
    const EdgeParts parts = splitEdge(edge);
    return {2 * parts.lowerAxis + parts.i, 2 * parts.upperAxis + parts.j};
}

std::array<int, 4> faceCorners(int face)
{
    const int axis = face >> 1;
    const int side = face & 1;
    const int lowerAxis = axis == 0 ? 1 : 0;
    const int upperAxis = axis == 2 ? 1 : 2;
    std::array<int, 4> corners{};
    for (int k = 0; k < 4; ++k)
        corners[size_t(k)] = (side << axis) | ((k & 1) << lowerAxis) | (((k >> 1) & 1) << upperAxis);
    return corners;
}

int faceReflectEdge(int edge, int face)
{
    if (face < 0 || face >= faceCount)
        return -1;
    const EdgeParts parts = splitEdge(edge);
    const int axis = face >> 1;
    if (axis == parts.lowerAxis)
        return edge ^ 1;
    if (axis == parts.upperAxis)
        return edge ^ 2;
    return edge;
}

int edgeReflectEdge(int edge)
{
    return edge ^ 3;
}

bool edgeHasRoot(int cubeCase, int edge)
{
    const auto corners = edgeCorners(edge);
    return cornerBelow(cubeCase, corners.first) != cornerBelow(cubeCase, corners.second);
}

int commonFace(int first, int second)
{
    const auto firstFaces = edgeFaces(first);
    const auto secondFaces = edgeFaces(second);
    auto isFaceOfSecond = [&](int f) { return f == secondFaces.first || f == secondFaces.second; };
    if (isFaceOfSecond(firstFaces.first))
        return firstFaces.first;
    if (isFaceOfSecond(firstFaces.second))
        return firstFaces.second;
    return -1;
}

int cubeCase(const std::array<float, cornerCount>& values, float isoValue)
{
    int result = 0;
    for (int c = 0; c < cornerCount; ++c)
        if (values[size_t(c)] < isoValue)
            result |= 1 << caseCornerBit[size_t(c)];
    return result;
}

int caseEdgeMask(int cubeCase)
{
    return caseTables().edgeMask[size_t(cubeCase)];
}

const std::array<int, caseRowLength>& caseTriangleRow(int cubeCase)
{
    return caseTables().triangles[size_t(cubeCase)];
}

int caseTriangles(int cubeCase, int* triangles)
{
    if (caseEdgeMask(cubeCase) == 0)
        return 0;
    const std::array<int, caseRowLength>& row = caseTriangleRow(cubeCase);
    int count = 0;
    while (count < maxCaseTriangles && row[size_t(3 * count)] >= 0) {
        for (int k = 0; k < 3; ++k)
            triangles[3 * count + k] = row[size_t(3 * count + k)];
        ++count;
    }
    return count;
}

}  // namespace CubeIndexing
}  // namespace PoissonReconstruction
}  // namespace Veltrane
