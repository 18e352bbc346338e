#pragma once

// OpenMesh's vectors leave their components uninitialised on purpose; GCC
// takes the copies of such defaults in its property lists for mistakes.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <OpenMesh/Core/Geometry/VectorT.hh>
#include <OpenMesh/Core/Mesh/Traits.hh>
#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>
#pragma GCC diagnostic pop

namespace Veltrane {

class Mesh;

/// Float positions, normals and 2-D texture coordinates, byte colours, and
/// status flags on vertices, edges and faces from construction (the decimater
/// and the removal of pieces delete elements). Normals, colours and texture
/// coordinates are requested only when a mesh carries them.
struct TriMeshTraits : public OpenMesh::DefaultTraits {
    using Point = OpenMesh::VectorT<float, 3>;
    using Normal = OpenMesh::VectorT<float, 3>;
    using Color = OpenMesh::VectorT<unsigned char, 3>;
    using TexCoord2D = OpenMesh::VectorT<float, 2>;

    VertexAttributes(OpenMesh::Attributes::Status);
    EdgeAttributes(OpenMesh::Attributes::Status);
    FaceAttributes(OpenMesh::Attributes::Status);
};

/// Half-edge triangle mesh for the operations that need neighbourhoods
/// (decimation, smoothing, connected pieces). Attributes are per vertex.
using TriMesh = OpenMesh::TriMesh_ArrayKernelT<TriMeshTraits>;

namespace MeshProcessing {

/// A new half-edge mesh with the vertices of `mesh` in their order and its
/// faces in their order and winding. Normals, texture coordinates (the first
/// two components) and colours (bytes: value * 255, cut toward zero, clamped
/// to 0 ... 255) become vertex properties when their index array is non-empty;
/// each index of an index triple gives the vertex of the same number the
/// attribute entry of that number, so attributes are expected per vertex.
///
/// Faces that would make the surface non-manifold are refused by OpenMesh
/// (which says so on its error stream) and left out; faces with an index
/// outside the vertex list, with a vertex index twice, or with a vertex whose
/// position is not finite are left out with a warning per kind, and vertices
/// whose position is not finite with them (the numbering of the rest closes
/// up). Attribute indices that do not name both an entry and a vertex are
/// skipped. Null when memory runs out. The caller owns the result.
TriMesh* meshToTriMesh(const Mesh& mesh);

/// A new `Mesh` with the live vertices and faces of `triMesh`, numbered
/// densely in their order, faces keeping their winding. Vertex normals,
/// texture coordinates (third component 0) and colours (byte / 255) come
/// along as one entry per vertex with index arrays equal to the faces. The
/// bounding box is computed. Null when memory runs out. The caller owns the
/// result.
Mesh* triMeshToMesh(const TriMesh& triMesh);

}  // namespace MeshProcessing
}  // namespace Veltrane
