#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

#include <memory>

namespace Veltrane {

class Mesh;

/// Extracts the surface where the distance volume crosses `isoValue`.
///
/// `distance` is a one-channel volume (NaN marks unobserved voxels, whose
/// cells yield nothing); `colors`, when given, is a four-channel volume of the
/// same size (red, green, blue, weight) whose colours are interpolated onto
/// the vertices. Vertex positions are in image coordinates: voxel (i, j, k)
/// lies at (i, j, k) times the distance volume's spacing. A vertex on an edge
/// shared by neighbouring cells is created once, so the mesh comes out welded,
/// next to unobserved voxels too. Faces are wound counter-clockwise seen from the
/// side above the iso value. The mesh has no normals; with colours it has one
/// colour per vertex and `colorIndices()` equal to `faces()`.
///
/// Returns null, after logging why, when the volumes do not fit together or
/// the extraction fails (memory); never a partial mesh.
std::unique_ptr<Mesh> marchingCubes(const TypedImage<float>& distance,
                                    const TypedImage<unsigned char>* colors, float isoValue);

/// Where the iso value is crossed between `pa` (value `fa`) and `pb` (value
/// `fb`), by linear interpolation; `pa` when both values are equal.
Eigen::Vector3f interpolateEdgeVertex(float isoValue, const Eigen::Vector3f& pa,
                                      const Eigen::Vector3f& pb, float fa, float fb);

}  // namespace Veltrane
