#pragma once

#include "core/Mesh.h"
#include "core/TypedImage.h"
#include "meshproc/TriMesh.h"
#include "reconstruction/MarchingCubes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace Veltrane {
namespace testing {

/// A closed, welded sphere of a few thousand faces as marching cubes makes it
/// (slivers included), centred at `sphereCentre()`.
inline const Eigen::Vector3d& sphereCentre()
{
    static const Eigen::Vector3d centre(16.3, 15.7, 16.1);
    return centre;
}

inline std::unique_ptr<Mesh> marchingCubesSphere(double radius)
{
    constexpr int n = 32;
    TypedImage<float> volume(PixelType::Float, n, n, n, 1);
    for (int k = 0; k < n; ++k) {
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double d = (Eigen::Vector3d(i, j, k) - sphereCentre()).norm() - radius;
                volume.typedData()[i + n * (j + n * k)] = static_cast<float>(std::clamp(d / 3.0, -1.0, 1.0));
            }
        }
    }
    return marchingCubes(volume, nullptr, 0.0f);
}

/// OpenMesh accepted every face and no edge lies on a boundary: a closed
/// two-manifold with consistent winding.
inline ::testing::AssertionResult closedManifold(const Mesh& mesh)
{
    std::unique_ptr<TriMesh> tri(MeshProcessing::meshToTriMesh(mesh));
    if (!tri) {
        return ::testing::AssertionFailure() << "conversion failed";
    }
    if (tri->n_faces() != mesh.faces().size()) {
        return ::testing::AssertionFailure()
               << (mesh.faces().size() - tri->n_faces()) << " faces refused as non-manifold";
    }
    for (const OpenMesh::HalfedgeHandle heh : tri->halfedges()) {
        if (tri->is_boundary(heh)) {
            return ::testing::AssertionFailure() << "boundary edge at vertex " << tri->to_vertex_handle(heh).idx();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace testing
}  // namespace Veltrane
