#pragma once

#include "meshproc/poisson/BSplineData.h"
#include "meshproc/poisson/OctNode.h"
#include "meshproc/poisson/Point3D.h"
#include "meshproc/poisson/SortedNodeTable.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Average position and weight of the input points that fell into one node,
/// with the value the solved function takes there.
struct PointSample {
    Point3D<float> position;
    float value = 0;
    float weight = 0;
};

/// The state of one surface reconstruction: its depths and switches, the
/// reconstruction cube (a point p of the unit cube stands for cubeOrigin +
/// cubeWidth * p), the splatted normals and point samples, the B-spline data,
/// and the tree. The octree owns all nodes through its allocator, so a run
/// that ends early, normally or by an exception, releases every node.
template <class Data>
class Octree {
public:
    using Node = OctNode<Data>;

    Octree() = default;
    Octree(const Octree&) = delete;
    Octree& operator=(const Octree&) = delete;

    SortedNodeTable<Node> sortedNodes;
    float samplesPerNode = 0;
    int32_t kernelDepth = 0;
    int32_t minDepth = 0;
    bool screening = false;
    int32_t boundaryType = 0;
    float cubeWidth = 0;
    Point3D<float> cubeOrigin;
    std::vector<PointSample> samples;
    float splineRadius = 0;
    int32_t splineWidth = 0;
    int32_t threads = 1;
    /// One normal per node whose normalIndex >= 0; null once consumed.
    std::unique_ptr<std::vector<Point3D<float>>> normals;
    float normalSmooth = 0;
    /// Every node below the root comes from here.
    Allocator<Node> allocator;
    Node root;
    BSplineData splineData;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
