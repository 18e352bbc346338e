#pragma once

#include <Eigen/Core>

#include <optional>

namespace Veltrane {

class Mesh;

namespace MeshProcessing {

/// The inverse of `m`, or nothing when `m` has no finite inverse (a zero or
/// non-finite determinant, or non-finite entries).
std::optional<Eigen::Matrix4d> invertTransform(const Eigen::Matrix4d& m);

/// Moves the vertices of `mesh` by `m` and its normals by the transpose of
/// m's inverse (not normalised again; for an affine `m` the translation does
/// not reach them), then recomputes the bounding box. A matrix without an
/// inverse is refused with an error in the log and leaves the mesh as it was.
/// Returns `mesh`; null in, null out.
Mesh* transformMesh(Mesh* mesh, const Eigen::Matrix4d& m);

}  // namespace MeshProcessing
}  // namespace Veltrane
