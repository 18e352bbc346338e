#include "meshproc/TriMeshFilters.h"

#include <OpenMesh/Tools/Decimater/DecimaterT.hh>
#include <OpenMesh/Tools/Decimater/ModNormalFlippingT.hh>
#include <OpenMesh/Tools/Decimater/ModQuadricT.hh>
#include <OpenMesh/Tools/Smoother/JacobiLaplaceSmootherT.hh>

#include <algorithm>
#include <cstddef>

namespace Veltrane {
namespace MeshProcessing {

namespace {

/// Face and vertex normals, requested when missing, recomputed from the points.
void updateNormals(TriMesh& mesh)
{
    if (!mesh.has_face_normals()) {
        mesh.request_face_normals();
    }
    if (!mesh.has_vertex_normals()) {
        mesh.request_vertex_normals();
    }
    mesh.update_normals();
    mesh.update_vertex_normals();
}

}  // namespace

TriMesh* decimateTriMesh(TriMesh* mesh, int targetFaces)
{
    if (!mesh) {
        return nullptr;
    }
    updateNormals(*mesh);
    {
        OpenMesh::Decimater::DecimaterT<TriMesh> decimater(*mesh);
        OpenMesh::Decimater::ModQuadricT<TriMesh>::Handle quadric;
        OpenMesh::Decimater::ModNormalFlippingT<TriMesh>::Handle normalFlipping;
        decimater.add(quadric);
        decimater.add(normalFlipping);
        // The quadric error only orders the collapses; the normal check decides.
        decimater.module(quadric).unset_max_err();
        decimater.initialize();
        decimater.decimate_to_faces(0, static_cast<std::size_t>(std::max(targetFaces, 0)));
        mesh->garbage_collection(true, true, true);
    }
    updateNormals(*mesh);
    return mesh;
}

TriMesh* smoothTriMesh(TriMesh* mesh, int iterations)
{
    if (!mesh) {
        return nullptr;
    }
    {
        OpenMesh::Smoother::JacobiLaplaceSmootherT<TriMesh> smoother(*mesh);
        smoother.initialize(OpenMesh::Smoother::SmootherT<TriMesh>::Tangential_and_Normal,
                            OpenMesh::Smoother::SmootherT<TriMesh>::C1);
        smoother.set_absolute_local_error(1.0);
        smoother.smooth(static_cast<unsigned int>(std::max(iterations, 0)));
        mesh->garbage_collection(true, true, true);
    }
    // After the smoother is gone: it releases the normals it requested, which
    // would take normals the mesh did not have before with them.
    updateNormals(*mesh);
    return mesh;
}

}  // namespace MeshProcessing
}  // namespace Veltrane
