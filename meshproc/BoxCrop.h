#pragma once

#include "meshproc/ColoredTriangle.h"

#include <Eigen/Core>

#include <vector>

namespace Veltrane {

class Mesh;

namespace MeshProcessing {

/// `p` lies in the axis-aligned box of `size` around `centre`, its surface
/// included.
bool isInsideBox(const Eigen::Vector3d& p, const Eigen::Vector3d& centre, const Eigen::Vector3d& size);

/// The part of `triangle` on the side of the plane where
/// normal . (p - point) <= 0, as zero to three triangles with the input's
/// winding. Corners made on an edge get the normal and colour interpolated
/// along that edge.
std::vector<ColoredTriangle> clipTriangleByPlane(const ColoredTriangle& triangle, const Eigen::Vector3d& planePoint,
                                                 const Eigen::Vector3d& planeNormal);

/// Keeps what of `mesh` lies inside a box: in box space the axis-aligned box
/// of `size` around `centre`, and `pose` takes box space to mesh space.
/// Triangles crossing the box's faces are cut, the rest kept or dropped whole.
/// Normals (normalised) and colours come along where each face has an index
/// triple for them; texture coordinates and the texture do not. The corners
/// are welded again (within 1e-5 mesh units) and the bounding box recomputed;
/// nothing inside gives an empty mesh. Faces naming missing vertices, and
/// faces with a vertex position that is not finite, are left out with a
/// warning. A pose without an inverse, a centre that is not finite, or a size
/// that is not finite and positive on every axis is refused with an error in
/// the log and leaves the mesh as it was. Returns `mesh`; null in, null out.
Mesh* cropMeshToBox(Mesh* mesh, const Eigen::Vector3d& centre, const Eigen::Vector3d& size,
                    const Eigen::Matrix4d& pose);

}  // namespace MeshProcessing
}  // namespace Veltrane
