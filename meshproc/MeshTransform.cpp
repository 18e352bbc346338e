#include "meshproc/MeshTransform.h"

#include "core/Logging.h"
#include "core/Mesh.h"

#include <Eigen/Geometry>
#include <Eigen/LU>

#include <cmath>

namespace Veltrane {
namespace MeshProcessing {

std::optional<Eigen::Matrix4d> invertTransform(const Eigen::Matrix4d& m)
{
    if (!m.allFinite()) {
        return std::nullopt;
    }
    const double determinant = m.determinant();
    if (determinant == 0.0 || !std::isfinite(determinant)) {
        return std::nullopt;
    }
    const Eigen::Matrix4d inverse = m.inverse();
    if (!inverse.allFinite()) {
        return std::nullopt;
    }
    return inverse;
}

Mesh* transformMesh(Mesh* mesh, const Eigen::Matrix4d& m)
{
    if (!mesh) {
        return nullptr;
    }
    const std::optional<Eigen::Matrix4d> inverse = invertTransform(m);
    if (!inverse) {
        VELTRANE_ERROR("Cannot transform the mesh: the matrix has no inverse");
        return mesh;
    }
    const Eigen::Matrix4d normalMatrix = inverse->transpose();
    for (Mesh::Vector& v : mesh->vertices()) {
        v = (m * v.homogeneous()).head<3>();
    }
    for (Mesh::Vector& n : mesh->normals()) {
        n = (normalMatrix * n.homogeneous()).head<3>();
    }
    mesh->computeBoundingBox();
    return mesh;
}

}  // namespace MeshProcessing
}  // namespace Veltrane
