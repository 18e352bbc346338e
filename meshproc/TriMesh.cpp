#include "meshproc/TriMesh.h"

#include "core/Logging.h"
#include "core/Mesh.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace Veltrane {
namespace MeshProcessing {

namespace {

/// A colour channel in 0 ... 1 as a byte; out-of-range values are clamped and
/// NaN gives 0.
unsigned char colorByte(double value)
{
    const double scaled = value * 255.0;
    if (!(scaled > 0.0)) {
        return 0;
    }
    return static_cast<unsigned char>(std::min(scaled, 255.0));
}

/// Calls `assign(vertex, entry)` for every index of `indices` that names both
/// an entry of an attribute list of `entryCount` and a vertex of `triMesh`.
template <typename Assign>
void forEachAttributeIndex(const std::vector<Mesh::Triple>& indices, std::size_t entryCount,
                           const TriMesh& triMesh, Assign assign)
{
    const std::size_t limit = std::min(entryCount, triMesh.n_vertices());
    for (const Mesh::Triple& triple : indices) {
        for (int k = 0; k < 3; ++k) {
            const int i = triple[k];
            if (i >= 0 && static_cast<std::size_t>(i) < limit) {
                assign(OpenMesh::VertexHandle(i), static_cast<std::size_t>(i));
            }
        }
    }
}

/// The three corners of `face` (indices within the vertex list) have finite
/// positions.
bool finiteCorners(const Mesh& mesh, const Mesh::Triple& face)
{
    for (int k = 0; k < 3; ++k) {
        if (!mesh.vertices()[static_cast<std::size_t>(face[k])].allFinite()) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<TriMesh> buildTriMesh(const Mesh& mesh)
{
    auto triMesh = std::make_unique<TriMesh>();
    const std::size_t vertexCount = mesh.vertices().size();
    triMesh->reserve(vertexCount, 3 * mesh.faces().size() / 2, mesh.faces().size());
    for (const Mesh::Vector& v : mesh.vertices()) {
        triMesh->add_vertex(TriMesh::Point(static_cast<float>(v.x()), static_cast<float>(v.y()),
                                           static_cast<float>(v.z())));
    }

    // OpenMesh takes none of these faces safely: it aborts on some and keeps
    // others as corrupt faces, and non-finite points spread through every
    // operation on the neighbourhood.
    std::size_t outOfRange = 0;
    std::size_t repeated = 0;
    std::size_t nonFinite = 0;
    for (const Mesh::Triple& face : mesh.faces()) {
        if ((face.array() < 0).any() || (face.array() >= static_cast<int>(vertexCount)).any()) {
            ++outOfRange;
        } else if (face[0] == face[1] || face[1] == face[2] || face[2] == face[0]) {
            ++repeated;
        } else if (!finiteCorners(mesh, face)) {
            ++nonFinite;
        } else {
            triMesh->add_face(OpenMesh::VertexHandle(face[0]), OpenMesh::VertexHandle(face[1]),
                              OpenMesh::VertexHandle(face[2]));
        }
    }
    if (outOfRange > 0) {
        VELTRANE_WARN("Left out " << outOfRange << " faces that refer to vertices the mesh does not have");
    }
    if (repeated > 0) {
        VELTRANE_WARN("Left out " << repeated << " faces that use a vertex more than once");
    }
    if (nonFinite > 0) {
        VELTRANE_WARN("Left out " << nonFinite << " faces with a vertex position that is not finite");
    }
    for (std::size_t i = 0; i < vertexCount; ++i) {
        if (!mesh.vertices()[i].allFinite()) {
            triMesh->delete_vertex(OpenMesh::VertexHandle(static_cast<int>(i)), false);
        }
    }

    if (!mesh.normalIndices().empty()) {
        triMesh->request_vertex_normals();
        forEachAttributeIndex(mesh.normalIndices(), mesh.normals().size(), *triMesh,
                              [&](OpenMesh::VertexHandle vh, std::size_t i) {
                                  const Mesh::Vector& n = mesh.normals()[i];
                                  triMesh->set_normal(vh, TriMesh::Normal(static_cast<float>(n.x()),
                                                                          static_cast<float>(n.y()),
                                                                          static_cast<float>(n.z())));
                              });
    }
    if (!mesh.texCoordIndices().empty()) {
        triMesh->request_vertex_texcoords2D();
        forEachAttributeIndex(mesh.texCoordIndices(), mesh.texCoords().size(), *triMesh,
                              [&](OpenMesh::VertexHandle vh, std::size_t i) {
                                  const Mesh::Vector& t = mesh.texCoords()[i];
                                  triMesh->set_texcoord2D(vh, TriMesh::TexCoord2D(static_cast<float>(t.x()),
                                                                                  static_cast<float>(t.y())));
                              });
    }
    if (!mesh.colorIndices().empty()) {
        triMesh->request_vertex_colors();
        forEachAttributeIndex(mesh.colorIndices(), mesh.colors().size(), *triMesh,
                              [&](OpenMesh::VertexHandle vh, std::size_t i) {
                                  const Mesh::Vector& c = mesh.colors()[i];
                                  triMesh->set_color(vh, TriMesh::Color(colorByte(c.x()), colorByte(c.y()),
                                                                        colorByte(c.z())));
                              });
    }
    triMesh->garbage_collection(true, true, true);
    return triMesh;
}

std::unique_ptr<Mesh> buildMesh(const TriMesh& triMesh)
{
    auto mesh = std::make_unique<Mesh>();

    // Dense numbering of the live vertices; deleted ones get -1.
    std::vector<int> newIndex(triMesh.n_vertices(), -1);
    int vertexCount = 0;
    for (const OpenMesh::VertexHandle vh : triMesh.vertices()) {
        newIndex[static_cast<std::size_t>(vh.idx())] = vertexCount++;
    }

    mesh->vertices().resize(static_cast<std::size_t>(vertexCount));
    for (const OpenMesh::VertexHandle vh : triMesh.vertices()) {
        const TriMesh::Point& p = triMesh.point(vh);
        mesh->vertices()[static_cast<std::size_t>(newIndex[static_cast<std::size_t>(vh.idx())])] =
            Mesh::Vector(p[0], p[1], p[2]);
    }

    mesh->faces().reserve(triMesh.n_faces());
    for (const OpenMesh::FaceHandle fh : triMesh.faces()) {
        Mesh::Triple triple;
        OpenMesh::HalfedgeHandle heh = triMesh.halfedge_handle(fh);
        for (int k = 0; k < 3; ++k) {
            triple[k] = newIndex[static_cast<std::size_t>(triMesh.to_vertex_handle(heh).idx())];
            heh = triMesh.next_halfedge_handle(heh);
        }
        mesh->faces().push_back(triple);
    }

    // One entry per live vertex, in the dense order.
    const auto perVertex = [&](std::vector<Mesh::Vector>& values, std::vector<Mesh::Triple>& indices,
                               auto valueOf) {
        values.resize(static_cast<std::size_t>(vertexCount));
        for (const OpenMesh::VertexHandle vh : triMesh.vertices()) {
            values[static_cast<std::size_t>(newIndex[static_cast<std::size_t>(vh.idx())])] = valueOf(vh);
        }
        indices = mesh->faces();
    };
    if (triMesh.has_vertex_normals()) {
        perVertex(mesh->normals(), mesh->normalIndices(), [&](OpenMesh::VertexHandle vh) {
            const TriMesh::Normal& n = triMesh.normal(vh);
            return Mesh::Vector(n[0], n[1], n[2]);
        });
    }
    if (triMesh.has_vertex_texcoords2D()) {
        perVertex(mesh->texCoords(), mesh->texCoordIndices(), [&](OpenMesh::VertexHandle vh) {
            const TriMesh::TexCoord2D& t = triMesh.texcoord2D(vh);
            return Mesh::Vector(t[0], t[1], 0.0);
        });
    }
    if (triMesh.has_vertex_colors()) {
        perVertex(mesh->colors(), mesh->colorIndices(), [&](OpenMesh::VertexHandle vh) {
            const TriMesh::Color& c = triMesh.color(vh);
            return Mesh::Vector(c[0] / 255.0, c[1] / 255.0, c[2] / 255.0);
        });
    }
    mesh->computeBoundingBox();
    return mesh;
}

}  // namespace

TriMesh* meshToTriMesh(const Mesh& mesh)
{
    try {
        return buildTriMesh(mesh).release();
    } catch (const std::bad_alloc&) {
        VELTRANE_ERROR("Out of memory while converting the mesh to a half-edge mesh");
        return nullptr;
    }
}

Mesh* triMeshToMesh(const TriMesh& triMesh)
{
    try {
        return buildMesh(triMesh).release();
    } catch (const std::bad_alloc&) {
        VELTRANE_ERROR("Out of memory while converting the half-edge mesh to a mesh");
        return nullptr;
    }
}

}  // namespace MeshProcessing
}  // namespace Veltrane
