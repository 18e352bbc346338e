#pragma once

#include <array>
#include <utility>

namespace Veltrane {
namespace PoissonReconstruction {

/// Numbering of a cube's corners, edges and faces shared by the iso-surface
/// code, and the marching-cubes case of a cube.
///
/// Corners: c = x + 2y + 4z (x, y, z = 0 low, 1 high); corner c of a node is
/// also the outer corner of its child c.
/// Edges: e = 4o + 2j + i, o the axis the edge runs along, i and j its sides on
/// the lower- and higher-numbered of the two other axes.
/// Faces: f = 2a + s, a the axis the face is perpendicular to, s its side.
/// Case: one bit per corner, bit caseCornerBit[c] set when the value at corner
/// c is below the iso-value.
namespace CubeIndexing {

constexpr int cornerCount = 8;
constexpr int edgeCount = 12;
constexpr int faceCount = 6;
constexpr int caseCount = 256;
/// A case row holds at most five triangles and ends at the first -1.
constexpr int maxCaseTriangles = 5;
constexpr int caseRowLength = 16;

/// Case bit of each corner: around the bottom square, then around the top.
constexpr std::array<int, cornerCount> caseCornerBit = {0, 1, 3, 2, 4, 5, 7, 6};

/// (low, high) corner of edge e along its axis.
std::pair<int, int> edgeCorners(int edge);
/// The two faces that meet at edge e: (face on the first other axis at side
/// i, face on the second other axis at side j).
std::pair<int, int> edgeFaces(int edge);
/// The four corners (equally: child indices) touching face f, with the two
/// remaining axes (lower first) at (0,0), (1,0), (0,1), (1,1).
std::array<int, 4> faceCorners(int face);
/// The same edge line seen from the neighbouring cube across face f; -1 for an
/// invalid face.
int faceReflectEdge(int edge, int face);
/// The same edge line seen from the cube diagonally across the edge.
int edgeReflectEdge(int edge);
/// True when the two corners of the edge lie on different sides of the
/// iso-value in the given case.
bool edgeHasRoot(int cubeCase, int edge);
/// The face shared by two edges (the first face of `first` that is also a face
/// of `second`, else its second face when shared), or -1.
int commonFace(int first, int second);

/// Case of a cube from its eight corner values (NaN counts as not below).
int cubeCase(const std::array<float, cornerCount>& values, float isoValue);

/// Bit e set when edge e carries a crossing in the case.
int caseEdgeMask(int cubeCase);
/// The case's triangle row: triples of edge numbers, ended by -1.
const std::array<int, caseRowLength>& caseTriangleRow(int cubeCase);
/// Copies the case's triangles (three edges each) into `triangles` and returns
/// their count; 0 when the case has no crossing.
int caseTriangles(int cubeCase, int* triangles);

}  // namespace CubeIndexing
}  // namespace PoissonReconstruction
}  // namespace Veltrane
