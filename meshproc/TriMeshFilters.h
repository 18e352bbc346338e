#pragma once

#include "meshproc/TriMesh.h"

namespace Veltrane {
namespace MeshProcessing {

/// Collapses halfedges in order of the smallest quadric error, never turning a
/// face normal by more than 90 degrees, until at most `targetFaces` faces are
/// left (a collapse removes one or two) or no allowed collapse remains. A
/// target not below the face count changes nothing but the normals; a negative
/// one counts as 0. Deleted elements are collected and the face and vertex
/// normals brought up to date. Works in place and returns `mesh`; null in,
/// null out.
TriMesh* decimateTriMesh(TriMesh* mesh, int targetFaces);

/// `iterations` Jacobi Laplace steps (tangential and normal, C1 continuity,
/// uniform weights, absolute local error 1 mesh unit); fewer than one does not
/// move the vertices. Deleted elements are collected and the face and vertex
/// normals brought up to date. Works in place and returns `mesh`; null in,
/// null out.
TriMesh* smoothTriMesh(TriMesh* mesh, int iterations);

}  // namespace MeshProcessing
}  // namespace Veltrane
