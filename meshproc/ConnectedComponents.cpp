#include "meshproc/ConnectedComponents.h"

#include "core/Logging.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <set>

namespace Veltrane {
namespace MeshProcessing {

namespace {

/// Representative of `label`, halving the paths it walks.
int findRepresentative(std::vector<int>& labelMap, int label)
{
    while (labelMap[static_cast<std::size_t>(label)] != label) {
        int& parent = labelMap[static_cast<std::size_t>(label)];
        parent = labelMap[static_cast<std::size_t>(parent)];
        label = parent;
    }
    return label;
}

/// Half the length of the edge cross product: the square summed in float, the
/// root taken in double and rounded to float.
float faceArea(const TriMesh& mesh, OpenMesh::FaceHandle fh)
{
    TriMesh::ConstFaceVertexIter fv = mesh.cfv_iter(fh);
    const TriMesh::Point& p0 = mesh.point(*fv);
    const TriMesh::Point& p1 = mesh.point(*++fv);
    const TriMesh::Point& p2 = mesh.point(*++fv);
    const float squared = ((p1 - p0) % (p2 - p0)).sqrnorm();
    return 0.5f * static_cast<float>(std::sqrt(static_cast<double>(squared)));
}

/// Labels the pieces and returns the area of each face's piece, indexed by
/// face; `areas` receives the areas per label.
std::vector<float> pieceAreaPerFace(TriMesh& mesh, std::vector<float>& areas)
{
    std::vector<int> labelMap;
    std::vector<int> faceCounts;
    const OpenMesh::FPropHandleT<int> label = labelConnectedComponents(mesh, labelMap, faceCounts, areas);
    std::vector<float> result(mesh.n_faces(), 0.0f);
    for (const OpenMesh::FaceHandle fh : mesh.faces()) {
        const auto representative = static_cast<std::size_t>(labelMap[static_cast<std::size_t>(mesh.property(label, fh))]);
        result[static_cast<std::size_t>(fh.idx())] = areas[representative];
    }
    return result;
}

}  // namespace

OpenMesh::FPropHandleT<int> labelConnectedComponents(TriMesh& mesh, std::vector<int>& labelMap,
                                                     std::vector<int>& faceCounts, std::vector<float>& areas)
{
    VELTRANE_INFO("labelConnectedComponents()");
    labelMap.assign(1, 0);
    faceCounts.assign(1, 0);
    areas.assign(1, 0.0f);

    OpenMesh::FPropHandleT<int> label;
    mesh.add_property(label);
    OpenMesh::FPropHandleT<bool> visited;
    mesh.add_property(visited);
    for (const OpenMesh::FaceHandle fh : mesh.all_faces()) {
        mesh.property(label, fh) = 0;
        mesh.property(visited, fh) = false;
    }

    // labelMap is a union-find forest while the faces are visited: the smaller
    // representative always becomes the root, so every root is the smallest
    // label of its piece, as it is after the flattening below.
    std::size_t withoutArea = 0;
    for (const OpenMesh::FaceHandle fh : mesh.faces()) {
        int cur = 0;
        for (const OpenMesh::FaceHandle neighbour : mesh.ff_range(fh)) {
            if (!mesh.property(visited, neighbour)) {
                continue;
            }
            const int other = findRepresentative(labelMap, mesh.property(label, neighbour));
            if (cur == 0) {
                cur = other;
            } else if (other != cur) {
                const auto [lo, hi] = std::minmax(cur, other);
                labelMap[static_cast<std::size_t>(hi)] = lo;
                cur = lo;
            }
        }
        if (cur == 0) {
            cur = static_cast<int>(labelMap.size());
            labelMap.push_back(cur);
            faceCounts.push_back(0);
            areas.push_back(0.0f);
        }
        faceCounts[static_cast<std::size_t>(cur)] += 1;
        const float area = faceArea(mesh, fh);
        if (std::isfinite(area)) {
            areas[static_cast<std::size_t>(cur)] += area;
        } else {
            ++withoutArea;
        }
        mesh.property(label, fh) = cur;
        mesh.property(visited, fh) = true;
    }
    mesh.remove_property(visited);
    if (withoutArea > 0) {
        VELTRANE_WARN(withoutArea << " faces have no finite area (a vertex position that is not finite); "
                                     "they add nothing to the area of their piece");
    }

    // A parent always has a smaller label than its child, so in ascending
    // order every parent is flat before its children are looked at.
    for (std::size_t i = 1; i < labelMap.size(); ++i) {
        labelMap[i] = labelMap[static_cast<std::size_t>(labelMap[i])];
    }
    for (std::size_t i = labelMap.size(); i-- > 0;) {
        const auto r = static_cast<std::size_t>(labelMap[i]);
        if (r != i) {
            faceCounts[r] += faceCounts[i];
            faceCounts[i] = 0;
            areas[r] += areas[i];
            areas[i] = 0.0f;
        }
    }
    return label;
}

TriMesh* removeComponentsByArea(TriMesh* mesh, float minArea, float maxArea)
{
    if (!mesh) {
        return nullptr;
    }
    std::vector<float> areas;
    const std::vector<float> pieceArea = pieceAreaPerFace(*mesh, areas);
    for (const OpenMesh::FaceHandle fh : mesh->faces()) {
        const float area = pieceArea[static_cast<std::size_t>(fh.idx())];
        if (minArea >= area || area > maxArea) {
            mesh->delete_face(fh, true);
        }
    }
    mesh->garbage_collection(true, true, true);
    return mesh;
}

TriMesh* previewComponentAreas(TriMesh* mesh, std::vector<float>* areasOut)
{
    if (!mesh) {
        return nullptr;
    }
    std::vector<float> areas;
    const std::vector<float> pieceArea = pieceAreaPerFace(*mesh, areas);
    mesh->request_vertex_texcoords2D();

    float largest = 0.0f;
    for (const float area : areas) {
        if (area > largest) {
            largest = area;
        }
    }
    for (const OpenMesh::FaceHandle fh : mesh->faces()) {
        const float area = pieceArea[static_cast<std::size_t>(fh.idx())];
        const float value = largest > 0.0f ? area / largest : 0.0f;
        for (const OpenMesh::VertexHandle vh : mesh->fv_range(fh)) {
            mesh->set_texcoord2D(vh, TriMesh::TexCoord2D(value, value));
        }
    }

    if (areasOut) {
        const std::set<float> distinct(areas.begin(), areas.end());
        areasOut->assign(distinct.begin(), distinct.end());
    }
    return mesh;
}

}  // namespace MeshProcessing
}  // namespace Veltrane
