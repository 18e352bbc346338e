#include "meshproc/BoxCrop.h"

#include "core/Logging.h"
#include "core/Mesh.h"
#include "meshproc/MeshTransform.h"

#include <Eigen/Geometry>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace Veltrane {
namespace MeshProcessing {

namespace {

using Vector3d = Eigen::Vector3d;

/// A corner with its attributes.
struct Corner {
    Vector3d position;
    Vector3d normal;
    Vector3d color;
};

ColoredTriangle makeTriangle(const Corner& a, const Corner& b, const Corner& c)
{
    return ColoredTriangle(a.position, b.position, c.position, a.normal, b.normal, c.normal, a.color, b.color,
                           c.color);
}

/// The point `p` on the edge from `x` to `y`, its attributes interpolated by
/// its distance from `x` relative to the edge length.
Corner onEdge(const Vector3d& p, const Corner& x, const Corner& y)
{
    const double length = (y.position - x.position).norm();
    const double t = length > 0.0 ? (p - x.position).norm() / length : 0.0;
    return {p, (1.0 - t) * x.normal + t * y.normal, (1.0 - t) * x.color + t * y.color};
}

/// The attribute list can be read for every face: one index triple per face,
/// each index within the list.
bool coversFaces(const std::vector<Mesh::Vector>& values, const std::vector<Mesh::Triple>& indices,
                 std::size_t faceCount)
{
    if (values.empty() || indices.size() != faceCount) {
        return false;
    }
    for (const Mesh::Triple& triple : indices) {
        if ((triple.array() < 0).any() || (triple.array() >= static_cast<int>(values.size())).any()) {
            return false;
        }
    }
    return true;
}

struct Plane {
    Vector3d point;
    Vector3d normal;
};

/// The box's faces with outward normals, top and bottom first, then the x
/// and z sides.
std::array<Plane, 6> boxPlanes(const Vector3d& centre, const Vector3d& size)
{
    const Vector3d half = size * 0.5;
    return {{{centre + Vector3d(0, half.y(), 0), Vector3d(0, 1, 0)},
             {centre - Vector3d(0, half.y(), 0), Vector3d(0, -1, 0)},
             {centre + Vector3d(half.x(), 0, 0), Vector3d(1, 0, 0)},
             {centre - Vector3d(half.x(), 0, 0), Vector3d(-1, 0, 0)},
             {centre + Vector3d(0, 0, half.z()), Vector3d(0, 0, 1)},
             {centre - Vector3d(0, 0, half.z()), Vector3d(0, 0, -1)}}};
}

Vector3d unitOrZero(const Vector3d& v)
{
    const double length = v.norm();
    return length > 0.0 ? Vector3d(v / length) : Vector3d::Zero();
}

}  // namespace

bool isInsideBox(const Eigen::Vector3d& p, const Eigen::Vector3d& centre, const Eigen::Vector3d& size)
{
    for (int axis = 0; axis < 3; ++axis) {
        const double half = size[axis] * 0.5;
        const double offset = p[axis] - centre[axis];
        if (!(-half <= offset && offset <= half)) {
            return false;
        }
    }
    return true;
}

std::vector<ColoredTriangle> clipTriangleByPlane(const ColoredTriangle& triangle, const Eigen::Vector3d& planePoint,
                                                 const Eigen::Vector3d& planeNormal)
{
    // Corners 0, 1, 2 are a, b, c; 3 and 4 are the cuts P and Q.
    std::array<Corner, 5> corners = {{{triangle.a, triangle.nA, triangle.cA},
                                      {triangle.b, triangle.nB, triangle.cB},
                                      {triangle.c, triangle.nC, triangle.cC}}};
    std::array<bool, 5> kept = {};
    for (std::size_t k = 0; k < 3; ++k) {
        kept[k] = planeNormal.dot(corners[k].position - planePoint) <= 0.0;
    }
    kept[3] = kept[4] = true;

    Geometry::Line segment(Vector3d::Zero(), Vector3d::Zero());
    int lone = 0;
    if (triangle.intersectPlane(planePoint, planeNormal, segment, &lone) == 0) {
        if (kept[0] && kept[1] && kept[2]) {
            return {triangle};
        }
        return {};
    }

    // Per lone corner (b, a, c): the edges that P and Q lie on, and the
    // lone corner's triangle and the other side's two, all wound as the input.
    struct Split {
        std::size_t pFrom, pTo, qFrom, qTo;
        std::array<std::array<std::size_t, 3>, 3> triangles;
    };
    static constexpr std::array<Split, 3> splits = {{
        {0, 1, 1, 2, {{{3, 4, 2}, {3, 1, 4}, {3, 2, 0}}}},
        {0, 1, 2, 0, {{{3, 1, 2}, {3, 2, 4}, {3, 4, 0}}}},
        {1, 2, 2, 0, {{{3, 2, 4}, {3, 4, 0}, {3, 0, 1}}}},
    }};
    const Split& split = splits[static_cast<std::size_t>(lone)];
    corners[3] = onEdge(segment.origin(), corners[split.pFrom], corners[split.pTo]);
    corners[4] = onEdge(segment.end(), corners[split.qFrom], corners[split.qTo]);

    // A triangle is kept when the corners it has of the input are.
    std::vector<ColoredTriangle> result;
    for (const std::array<std::size_t, 3>& t : split.triangles) {
        if (kept[t[0]] && kept[t[1]] && kept[t[2]]) {
            result.push_back(makeTriangle(corners[t[0]], corners[t[1]], corners[t[2]]));
        }
    }
    return result;
}

Mesh* cropMeshToBox(Mesh* mesh, const Eigen::Vector3d& centre, const Eigen::Vector3d& size,
                    const Eigen::Matrix4d& pose)
{
    if (!mesh) {
        return nullptr;
    }
    const std::optional<Eigen::Matrix4d> inverse = invertTransform(pose);
    if (!inverse) {
        VELTRANE_ERROR("Cannot crop the mesh: the box pose has no inverse");
        return mesh;
    }
    if (!centre.allFinite()) {
        VELTRANE_ERROR("Cannot crop the mesh: the box centre is not finite");
        return mesh;
    }
    if (!(size.array() > 0.0).all() || !size.allFinite()) {
        VELTRANE_ERROR("Cannot crop the mesh: the box size must be finite and positive on every axis");
        return mesh;
    }

    const Mesh& in = *mesh;
    const std::size_t faceCount = in.faces().size();
    const bool hasNormals = coversFaces(in.normals(), in.normalIndices(), faceCount);
    const bool hasColors = coversFaces(in.colors(), in.colorIndices(), faceCount);
    if (!hasNormals && !in.normals().empty()) {
        VELTRANE_WARN("Cropping leaves out the normals: not every face has valid normal indices");
    }
    if (!hasColors && !in.colors().empty()) {
        VELTRANE_WARN("Cropping leaves out the colours: not every face has valid colour indices");
    }
    const std::array<Plane, 6> planes = boxPlanes(centre, size);

    Mesh out;
    const auto append = [&](const ColoredTriangle& t) {
        const auto first = static_cast<int>(out.vertices().size());
        for (const Vector3d* corner : {&t.a, &t.b, &t.c}) {
            out.vertices().push_back((pose * corner->homogeneous()).head<3>());
        }
        out.faces().emplace_back(first, first + 1, first + 2);
        if (hasNormals) {
            for (const Vector3d* normal : {&t.nA, &t.nB, &t.nC}) {
                out.normals().push_back(unitOrZero(*normal));
            }
            out.normalIndices().push_back(out.faces().back());
        }
        if (hasColors) {
            for (const Vector3d* color : {&t.cA, &t.cB, &t.cC}) {
                out.colors().push_back(*color);
            }
            out.colorIndices().push_back(out.faces().back());
        }
    };

    const auto vertexCount = static_cast<int>(in.vertices().size());
    std::size_t outOfRange = 0;
    std::size_t nonFinite = 0;
    std::vector<ColoredTriangle> work;
    std::vector<ColoredTriangle> next;
    for (std::size_t f = 0; f < faceCount; ++f) {
        const Mesh::Triple& face = in.faces()[f];
        if ((face.array() < 0).any() || (face.array() >= vertexCount).any()) {
            ++outOfRange;
            continue;
        }
        if (!in.vertices()[static_cast<std::size_t>(face[0])].allFinite() ||
            !in.vertices()[static_cast<std::size_t>(face[1])].allFinite() ||
            !in.vertices()[static_cast<std::size_t>(face[2])].allFinite()) {
            ++nonFinite;
            continue;
        }
        std::array<Vector3d, 9> v;
        for (int k = 0; k < 3; ++k) {
            v[static_cast<std::size_t>(k)] =
                (*inverse * in.vertices()[static_cast<std::size_t>(face[k])].homogeneous()).head<3>();
            v[static_cast<std::size_t>(3 + k)] =
                hasNormals ? in.normals()[static_cast<std::size_t>(in.normalIndices()[f][k])] : Vector3d::Zero();
            v[static_cast<std::size_t>(6 + k)] =
                hasColors ? in.colors()[static_cast<std::size_t>(in.colorIndices()[f][k])] : Vector3d::Zero();
        }
        const ColoredTriangle triangle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
        if (isInsideBox(triangle.a, centre, size) && isInsideBox(triangle.b, centre, size) &&
            isInsideBox(triangle.c, centre, size)) {
            append(triangle);
            continue;
        }
        work.assign(1, triangle);
        for (const Plane& plane : planes) {
            next.clear();
            for (const ColoredTriangle& piece : work) {
                const std::vector<ColoredTriangle> clipped = clipTriangleByPlane(piece, plane.point, plane.normal);
                next.insert(next.end(), clipped.begin(), clipped.end());
            }
            std::swap(work, next);
        }
        for (const ColoredTriangle& piece : work) {
            append(piece);
        }
    }
    if (outOfRange > 0) {
        VELTRANE_WARN("Cropping left out " << outOfRange << " faces that refer to vertices the mesh does not have");
    }
    if (nonFinite > 0) {
        VELTRANE_WARN("Cropping left out " << nonFinite << " faces with a vertex position that is not finite");
    }

    // Every triangle brought its own corners; weld them back together.
    out.removeDegenerateFaces();
    out.removeDuplicateVertices();
    out.mergeCloseVertices(1e-5);
    out.computeBoundingBox();
    // clear() lets go of a texture without deleting it; the cropped mesh has none.
    mesh->clear();
    *mesh = std::move(out);
    return mesh;
}

}  // namespace MeshProcessing
}  // namespace Veltrane
