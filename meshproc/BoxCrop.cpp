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

namespace {

/// The box pose, centre and size can be cropped to; logs why not otherwise.
bool boxUsable(const std::optional<Eigen::Matrix4d>& inverse, const Vector3d& centre, const Vector3d& size)
{
    if (!inverse) {
        VELTRANE_ERROR("Cannot crop the mesh: the box pose has no inverse");
        return false;
    }
    if (!centre.allFinite()) {
        VELTRANE_ERROR("Cannot crop the mesh: the box centre is not finite");
        return false;
    }
    if (!(size.array() > 0.0).all() || !size.allFinite()) {
        VELTRANE_ERROR("Cannot crop the mesh: the box size must be finite and positive on every axis");
        return false;
    }
    return true;
}

/// Which per-corner attributes of a mesh come along into the crop: those
/// readable for every face. Warns about attributes left out.
struct CarriedAttributes {
    bool normals;
    bool colors;
};

CarriedAttributes carriedAttributes(const Mesh& mesh)
{
    const std::size_t faceCount = mesh.faces().size();
    const CarriedAttributes carried{coversFaces(mesh.normals(), mesh.normalIndices(), faceCount),
                                    coversFaces(mesh.colors(), mesh.colorIndices(), faceCount)};
    if (!carried.normals && !mesh.normals().empty()) {
        VELTRANE_WARN("Cropping leaves out the normals: not every face has valid normal indices");
    }
    if (!carried.colors && !mesh.colors().empty()) {
        VELTRANE_WARN("Cropping leaves out the colours: not every face has valid colour indices");
    }
    return carried;
}

/// Reads the faces of a mesh as triangles in box space, counting the faces
/// that cannot be read.
class BoxSpaceFaces {
public:
    BoxSpaceFaces(const Mesh& mesh, const Eigen::Matrix4d& meshToBox, CarriedAttributes carried)
        : m_mesh(mesh), m_meshToBox(meshToBox), m_carried(carried)
    {
    }

    /// Face `f` in box space, or nothing for a face naming a missing vertex
    /// or a vertex position that is not finite.
    std::optional<ColoredTriangle> triangle(std::size_t f)
    {
        const Mesh::Triple& face = m_mesh.faces()[f];
        const auto vertexCount = static_cast<int>(m_mesh.vertices().size());
        if ((face.array() < 0).any() || (face.array() >= vertexCount).any()) {
            ++m_outOfRange;
            return std::nullopt;
        }
        std::array<Vector3d, 9> v;
        for (std::size_t k = 0; k < 3; ++k) {
            const Vector3d& position = m_mesh.vertices()[static_cast<std::size_t>(face[k])];
            if (!position.allFinite()) {
                ++m_nonFinite;
                return std::nullopt;
            }
            v[k] = (m_meshToBox * position.homogeneous()).head<3>();
            v[3 + k] = m_carried.normals ? attribute(m_mesh.normals(), m_mesh.normalIndices(), f, k)
                                         : Vector3d::Zero();
            v[6 + k] = m_carried.colors ? attribute(m_mesh.colors(), m_mesh.colorIndices(), f, k)
                                        : Vector3d::Zero();
        }
        return ColoredTriangle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]);
    }

    /// Warns about the faces left out so far.
    void reportSkipped() const
    {
        if (m_outOfRange > 0) {
            VELTRANE_WARN("Cropping left out " << m_outOfRange
                                               << " faces that refer to vertices the mesh does not have");
        }
        if (m_nonFinite > 0) {
            VELTRANE_WARN("Cropping left out " << m_nonFinite << " faces with a vertex position that is not finite");
        }
    }

private:
    static const Vector3d& attribute(const std::vector<Mesh::Vector>& values,
                                     const std::vector<Mesh::Triple>& indices, std::size_t f, std::size_t k)
    {
        return values[static_cast<std::size_t>(indices[f][static_cast<Eigen::Index>(k)])];
    }

    const Mesh& m_mesh;
    const Eigen::Matrix4d& m_meshToBox;
    CarriedAttributes m_carried;
    std::size_t m_outOfRange = 0;
    std::size_t m_nonFinite = 0;
};

/// The cropped mesh being built: each triangle brings its own corners, taken
/// back to mesh space.
class CroppedMesh {
public:
    CroppedMesh(const Eigen::Matrix4d& boxToMesh, CarriedAttributes carried)
        : m_boxToMesh(boxToMesh), m_carried(carried)
    {
    }

    void append(const ColoredTriangle& t)
    {
        const auto first = static_cast<int>(m_mesh.vertices().size());
        for (const Vector3d* corner : {&t.a, &t.b, &t.c}) {
            m_mesh.vertices().push_back((m_boxToMesh * corner->homogeneous()).head<3>());
        }
        m_mesh.faces().emplace_back(first, first + 1, first + 2);
        if (m_carried.normals) {
            for (const Vector3d* normal : {&t.nA, &t.nB, &t.nC}) {
                m_mesh.normals().push_back(unitOrZero(*normal));
            }
            m_mesh.normalIndices().push_back(m_mesh.faces().back());
        }
        if (m_carried.colors) {
            for (const Vector3d* color : {&t.cA, &t.cB, &t.cC}) {
                m_mesh.colors().push_back(*color);
            }
            m_mesh.colorIndices().push_back(m_mesh.faces().back());
        }
    }

    /// The welded mesh with its bounding box.
    Mesh welded()
    {
        m_mesh.removeDegenerateFaces();
        m_mesh.removeDuplicateVertices();
        m_mesh.mergeCloseVertices(1e-5);
        m_mesh.computeBoundingBox();
        return std::move(m_mesh);
    }

private:
    const Eigen::Matrix4d& m_boxToMesh;
    CarriedAttributes m_carried;
    Mesh m_mesh;
};

/// The pieces of `triangle` inside the box bounded by `planes`.
std::vector<ColoredTriangle> clipToBox(const ColoredTriangle& triangle, const std::array<Plane, 6>& planes)
{
    std::vector<ColoredTriangle> work(1, triangle);
    std::vector<ColoredTriangle> next;
    for (const Plane& plane : planes) {
        next.clear();
        for (const ColoredTriangle& piece : work) {
            const std::vector<ColoredTriangle> clipped = clipTriangleByPlane(piece, plane.point, plane.normal);
            next.insert(next.end(), clipped.begin(), clipped.end());
        }
        std::swap(work, next);
    }
    return work;
}

}  // namespace

Mesh* cropMeshToBox(Mesh* mesh, const Eigen::Vector3d& centre, const Eigen::Vector3d& size,
                    const Eigen::Matrix4d& pose)
{
    if (!mesh) {
        return nullptr;
    }
    const std::optional<Eigen::Matrix4d> inverse = invertTransform(pose);
    if (!boxUsable(inverse, centre, size)) {
        return mesh;
    }

    const CarriedAttributes carried = carriedAttributes(*mesh);
    const std::array<Plane, 6> planes = boxPlanes(centre, size);
    BoxSpaceFaces faces(*mesh, *inverse, carried);
    CroppedMesh out(pose, carried);
    for (std::size_t f = 0; f < mesh->faces().size(); ++f) {
        const std::optional<ColoredTriangle> triangle = faces.triangle(f);
        if (!triangle) {
            continue;
        }
        if (isInsideBox(triangle->a, centre, size) && isInsideBox(triangle->b, centre, size) &&
            isInsideBox(triangle->c, centre, size)) {
            out.append(*triangle);
            continue;
        }
        for (const ColoredTriangle& piece : clipToBox(*triangle, planes)) {
            out.append(piece);
        }
    }
    faces.reportSkipped();

    // Every triangle brought its own corners; weld them back together.
    Mesh cropped = out.welded();
    // clear() lets go of a texture without deleting it; the cropped mesh has none.
    mesh->clear();
    *mesh = std::move(cropped);
    return mesh;
}

}  // namespace MeshProcessing
}  // namespace Veltrane
