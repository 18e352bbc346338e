#pragma once

#include "meshproc/poisson/PoissonReconstruction.h"

#include <array>
#include <memory>

namespace Veltrane {

class Mesh;

/// The screened Poisson settings of a hole fill for a scan made at
/// `volumeResolution` voxels: the octree depth (with the solver and
/// extraction block depths equal to it) follows the volume's detail, 7 when
/// no axis has more than 128 voxels, 9 when one has 512 or more, 8 (the
/// default) otherwise. The function vanishes on the reconstruction cube's
/// boundary, so the surface closes inside it.
PoissonReconstruction::Parameters holeFillingParameters(const std::array<int, 3>& volumeResolution);

/// Gives every vertex of `target` the colour of the nearest vertex of
/// `source` (a single k-d tree over the source's vertices, one query per
/// target vertex) and sets its colour indices to its faces. A source without
/// one colour per vertex leaves `target` without colours. False, with the
/// target's colours and colour indices emptied, when the search fails (no
/// memory, an error of the search library).
bool transferColors(const Mesh& source, Mesh& target);

/// A closed surface through the vertices of `mesh` (screened Poisson
/// reconstruction of its vertices and vertex normals with
/// holeFillingParameters(`volumeResolution`)), with per-vertex normals, the
/// colours of `mesh` carried over by transferColors() and its bounding box
/// computed. Logs the milliseconds of each step at INFO ("Fill holes: ",
/// "Normals: ", "FLANN indexing: ", "FLANN search: ", "Color transfer: ").
/// Null when the reconstruction fails (it logs why); a failed colour transfer
/// logs an error and yields the surface without colours. `mesh` is only read.
std::unique_ptr<Mesh> fillHoles(const Mesh& mesh, const std::array<int, 3>& volumeResolution);

}  // namespace Veltrane
