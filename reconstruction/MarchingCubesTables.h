#pragma once

namespace Veltrane {

/// Corner c of cell (x, y, z) is the voxel (x, y, z) + marchingCubesCornerOffset[c]:
/// corners 0 to 3 go round the lower z face, 4 to 7 round the upper one.
constexpr int marchingCubesCornerOffset[8][3] = {
    {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};

/// The two corners of each of the twelve cell edges, in the order an edge
/// vertex is interpolated between them: 0 to 3 round the lower face, 4 to 7
/// round the upper face, 8 to 11 the vertical edges.
constexpr int marchingCubesEdgeCorners[12][2] = {
    {0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

/// Edges crossed in each case, a case having bit c set when corner c lies
/// below the iso value: bit e set when the two corners of edge e lie on
/// different sides.
extern const unsigned short marchingCubesEdgeTable[256];

/// Triangles of each case: edge numbers in groups of three, ended by -1, in
/// the classic published table. Each triangle's normal (right-hand rule, in
/// the order listed) points towards the corners below the iso value. On a face
/// with two diagonal corners below and two above, the corners below are cut
/// off separately in every case, so two cells that share a face cut it alike
/// and the surface closes across cells.
extern const signed char marchingCubesTriangleTable[256][16];

/// Number of entries before the -1 in each row of the triangle table
/// (three per triangle, at most 15).
extern const unsigned char marchingCubesTriangleEntries[256];

}  // namespace Veltrane
