#pragma once

#include "meshproc/TriMesh.h"

#include <vector>

namespace Veltrane {
namespace MeshProcessing {

/// Splits the faces of `mesh` into pieces: two faces are in one piece when a
/// chain of faces sharing edges joins them (faces meeting only at a vertex are
/// not). Faces are labelled in index order; a face takes the smallest
/// representative label among its already labelled edge neighbours, merging
/// their pieces, or a new label (1, 2, ...) when it has none.
///
/// On return, for every raw label i: `labelMap[i]` is the representative of
/// its piece, the smallest raw label in it (`labelMap[r] == r`); `faceCounts`
/// and `areas` (summed triangle areas in square mesh units) are non-zero only
/// at representatives. Entry 0 of each vector belongs to no face and holds 0.
/// A face whose area is not finite (a point that is not) adds nothing to the
/// area of its piece, with a warning, so that every area is finite.
///
/// The raw label of each face is left on the mesh in a new int face property
/// whose handle is returned; each call adds another one. The piece of face f
/// has the area `areas[labelMap[mesh.property(handle, f)]]`.
OpenMesh::FPropHandleT<int> labelConnectedComponents(TriMesh& mesh, std::vector<int>& labelMap,
                                                     std::vector<int>& faceCounts, std::vector<float>& areas);

/// Deletes the faces of every piece whose area is at most `minArea` or above
/// `maxArea` (so a piece of exactly `minArea` goes and one of exactly
/// `maxArea` stays), with the vertices they leave alone, and collects the
/// garbage. Returns `mesh`; null in, null out.
TriMesh* removeComponentsByArea(TriMesh* mesh, float minArea, float maxArea);

/// Gives every vertex the texture coordinate (v, v), v being the area of its
/// face's piece divided by the largest piece's area (0 when every piece has
/// zero area); a vertex where pieces touch keeps the value of the face visited
/// last. `areasOut`, when given, receives the distinct piece areas in
/// ascending order, starting with 0. Returns `mesh`; null in, null out.
TriMesh* previewComponentAreas(TriMesh* mesh, std::vector<float>* areasOut);

}  // namespace MeshProcessing
}  // namespace Veltrane
