#pragma once

#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/PointStream.h"

#include <cmath>
#include <random>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Oriented points held in memory.
class VectorPointStream : public PointStream {
public:
    std::vector<Point3D<float>> positions;
    std::vector<Point3D<float>> normals;

    void rewind() override { cursor_ = 0; }
    bool readPoint(float position[3], float normal[3]) override
    {
        if (cursor_ >= positions.size())
            return false;
        for (int axis = 0; axis < 3; ++axis) {
            position[axis] = positions[cursor_][axis];
            normal[axis] = normals[cursor_][axis];
        }
        ++cursor_;
        return true;
    }

private:
    size_t cursor_ = 0;
};

/// `count` random points on a sphere with outward unit normals.
inline VectorPointStream spherePoints(int count, float radius, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss;
    VectorPointStream stream;
    for (int i = 0; i < count; ++i) {
        Point3D<float> n;
        for (int axis = 0; axis < 3; ++axis)
            n[axis] = gauss(random);
        n /= std::sqrt(n.squareLength());
        stream.normals.push_back(n);
        stream.positions.push_back(n * radius);
    }
    return stream;
}

inline std::array<float, 16> identityTransform()
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

/// Settings of one reconstruction in the tests.
struct RunSettings {
    int depth = 5;
    int minDepth = 3;
    int boundaryType = 1;
    int threads = 1;
    float pointWeight = 4;
    float samplesPerNode = 1;
    int kernelDepth = -1;  ///< -1: depth - 2
};

/// Prepares the octree as a run does before building the tree.
template <class Data>
void setUpOctree(Octree<Data>& tree, const RunSettings& settings)
{
    tree.threads = settings.threads;
    tree.boundaryType = settings.boundaryType;
    tree.splineRadius = 1.5f;
    tree.splineWidth = 3;
    tree.splineData.build(settings.depth + (settings.boundaryType == 0 ? 1 : 0), settings.boundaryType);
}

/// Builds, prunes and finalises the tree over `points`.
template <class Data>
void buildTree(Octree<Data>& tree, VectorPointStream& points, const RunSettings& settings)
{
    setUpOctree(tree, settings);
    tree.BuildTree(points, settings.depth, settings.minDepth,
                   settings.kernelDepth < 0 ? settings.depth - 2 : settings.kernelDepth, settings.samplesPerNode,
                   1.1f, false, settings.pointWeight, 1, identityTransform());
    tree.PruneEmptyChildren();
    tree.FinalizeTree(settings.depth);
}

/// The implicit function sum of solution * B at p (unit cube), by a plain
/// walk over every node.
template <class Data>
double implicitFunction(const Octree<Data>& tree, const Point3D<float>& p)
{
    double sum = 0;
    for (const OctNode<Data>* node : tree.sortedNodes.nodes) {
        double value = node->nodeData.solution;
        for (int axis = 0; axis < 3 && value != 0; ++axis)
            value *= tree.splineData.functions[static_cast<size_t>(node->offset[axis])](double(p[axis]));
        sum += value;
    }
    return sum;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
