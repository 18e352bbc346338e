#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

float lengthOf(const Point3D<float>& v)
{
    return std::sqrt(v.squareLength());
}

}  // namespace

template <class Data>
int Octree<Data>::childIndexContaining(const Node* node, const Point3D<float>& p)
{
    Point3D<float> centre;
    float width;
    node->template cell<float>(centre, width);
    int child = 0;
    for (int axis = 0; axis < 3; ++axis)
        if (p[axis] > centre[axis])
            child |= 1 << axis;
    return child;
}

template <class Data>
void Octree<Data>::SplatDensity(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key, float sampleWeight)
{
    double w[3][3];
    OctreeDetail::splatWeights(node, p, w, true);
    const Level3& level = key.getCreate(node, allocator);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                if (Node* other = level.neighbors[i][j][k])
                    other->nodeData.weight += float(w[2][k] * (w[0][i] * w[1][j] * sampleWeight));
}

template <class Data>
float Octree<Data>::InverseDensityAt(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key)
{
    double w[3][3];
    OctreeDetail::splatWeights(node, p, w, false);
    const Level3& level = key.getCreate(node, allocator);
    float sum = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                if (const Node* other = level.neighbors[i][j][k])
                    sum += float(other->nodeData.weight * w[2][k] * w[0][i] * w[1][j]);
    return float(1.0 / sum);
}

template <class Data>
void Octree<Data>::AdaptiveDepth(Node* node, const Point3D<float>& p, NeighborCache3<Node>& key,
                                 float samplesPerNode, float& depth, float& weight)
{
    const float q = samplesPerNode;
    float density = 1 / InverseDensityAt(node, p, key);
    if (density >= q) {
        depth = float(node->depth + double(float(std::log(double(density / q)))) / std::log(4.0));
    } else {
        float childDensity = density;
        while (node->parent) {
            childDensity = density;
            node = node->parent;
            density = 1 / InverseDensityAt(node, p, key);
            if (density >= q)
                break;
        }
        depth = float(node->depth) +
                float(std::log(double(density / q))) / float(std::log(double(density / childDensity)));
    }
    weight = float(std::pow(4.0, -double(depth)));
}

template <class Data>
void Octree<Data>::SplatNormalAtNode(Node* node, const Point3D<float>& p, const Point3D<float>& n,
                                     NeighborCache3<Node>& key)
{
    double w[3][3];
    OctreeDetail::splatWeights(node, p, w, false);
    const Level3& level = key.getCreate(node, allocator);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) {
                Node* other = level.neighbors[i][j][k];
                if (!other)
                    continue;
                if (other->nodeData.normalIndex < 0) {
                    other->nodeData.normalIndex = static_cast<int32_t>(normals->size());
                    normals->push_back(Point3D<float>());
                }
                (*normals)[static_cast<size_t>(other->nodeData.normalIndex)] +=
                    n * float(w[0][i] * w[1][j] * w[2][k]);
            }
}

template <class Data>
float Octree<Data>::SplatOrientedPoint(const Point3D<float>& p, const Point3D<float>& n, NeighborCache3<Node>& key,
                                       int kernelDepth, float samplesPerNode, int minDepth, int maxDepth)
{
    Node* node = &root;
    while (node->depth < kernelDepth) {
        if (!node->children) {
            std::fputs("Octree<Degree>::SplatOrientedPoint error\n", stderr);
            return -1;
        }
        node = &node->children[childIndexContaining(node, p)];
    }
    float depth, weight;
    AdaptiveDepth(node, p, key, samplesPerNode, depth, weight);
    // NaN-safe clamp: a depth that is not a number takes the shallowest depth.
    if (!(depth >= float(minDepth)))
        depth = float(minDepth);
    if (depth > float(maxDepth))
        depth = float(maxDepth);

    int top = int(std::ceil(depth));
    float dx = 1 - (float(top) - depth);
    if (top <= minDepth) {
        top = minDepth;
        dx = 1;
    } else if (top > maxDepth) {
        top = maxDepth;
        dx = 1;
    }
    while (node->depth > top)
        node = node->parent;
    while (node->depth < top) {
        if (!node->children)
            node->initChildren(allocator);
        node = &node->children[childIndexContaining(node, p)];
    }
    const auto splatScaled = [&](Node* at, float fraction) {
        const double width = 1.0 / double(1 << at->depth);
        const double volume = width * width * width;
        SplatNormalAtNode(at, p, ((n * weight) * (1 / float(volume))) * fraction, key);
    };
    splatScaled(node, dx);
    if (std::fabs(1.0 - double(dx)) > double(1e-6f) && node->parent)
        splatScaled(node->parent, 1 - dx);
    return weight;
}

template <class Data>
int32_t Octree<Data>::BuildTree(PointStream& stream, int maxDepth, int minDepthIn, int kernelDepthIn,
                                float samplesPerNodeIn, float scale, bool confidence, float pointWeight,
                                int adaptiveExp, const std::array<float, 16>& transform)
{
    samplesPerNode = samplesPerNodeIn;
    kernelDepth = std::max(kernelDepthIn, 0);
    int kd = kernelDepth;
    if (boundaryType == 0) {
        maxDepth += 1;
        minDepthIn = std::max(minDepthIn, 1) + 1;
        if (kd > 0)
            kd += 1;
    } else {
        minDepthIn = std::max(minDepthIn, 0);
    }
    minDepth = std::min(maxDepth, minDepthIn);
    screening = pointWeight > 0;

    // The B-spline tables grow with the square of their function count and the
    // extraction's position keys hold 15 bits per axis: refuse what they cannot
    // carry instead of running out of memory or mixing up positions.
    if (maxDepth < 0 || maxDepth > maxTreeDepth)
        failReconstruction(formatMessage("[ERROR] Octree depth %d outside the supported range 0..%d\n", maxDepth,
                                         maxTreeDepth));
    if (maxDepth > splineData.depth)
        failReconstruction(formatMessage("[ERROR] Octree depth %d deeper than the B-spline depth %d\n", maxDepth,
                                         int(splineData.depth)));
    if (kd > maxDepth)
        failReconstruction(formatMessage("[ERROR] Kernel depth %d deeper than the octree depth %d\n", kd, maxDepth));

    const OctreeDetail::PointTransform toCube(transform);
    NeighborCache3<Node> key;
    key.set(maxDepth);

    if (minDepth > 0) {
        if (!root.children)
            root.initChildren(allocator);
        for (int c = 0; c < 8; ++c)
            Node::refineToDepth(&root.children[c], minDepth - 1, allocator);
    }

    normals.reset(new std::vector<Point3D<float>>());
    if (!fitCube(stream, toCube, scale))
        return 0;
    if (kd > 0)
        splatDensities(stream, toCube, key, kd, confidence);
    double weightSum = 0;
    const int32_t used = splatNormals(stream, toCube, key, kd, maxDepth, confidence, weightSum);
    if (screening && used > 0)
        weightSamples(weightSum, used, pointWeight, adaptiveExp, maxDepth);
    if (boundaryType == 1)
        clearBoundaryNormals();
    return used;
}

template <class Data>
bool Octree<Data>::fitCube(PointStream& stream, const OctreeDetail::PointTransform& toCube, float scale)
{
    float position[3], normal[3];
    Point3D<float> low, high;
    for (int axis = 0; axis < 3; ++axis) {
        low[axis] = std::numeric_limits<float>::infinity();
        high[axis] = -std::numeric_limits<float>::infinity();
    }
    int64_t pointCount = 0;
    while (stream.readPoint(position, normal)) {
        const Point3D<float> x = toCube.position(position);
        for (int axis = 0; axis < 3; ++axis) {
            if (x[axis] < low[axis])
                low[axis] = x[axis];
            if (x[axis] > high[axis])
                high[axis] = x[axis];
        }
        ++pointCount;
    }
    if (pointCount == 0)
        return false;
    float extent = 0;
    for (int axis = 0; axis < 3; ++axis)
        extent = std::max(extent, high[axis] - low[axis]);
    cubeWidth = boundaryType == 0 ? 2 * extent * scale : extent * scale;
    if (!(cubeWidth > 0) || !std::isfinite(cubeWidth))
        failReconstruction(formatMessage("[ERROR] The points span no volume (cube width %g)\n", double(cubeWidth)));
    for (int axis = 0; axis < 3; ++axis)
        cubeOrigin[axis] = (low[axis] + high[axis]) / 2 - cubeWidth / 2;
    return true;
}

template <class Data>
bool Octree<Data>::unitCubePosition(const OctreeDetail::PointTransform& toCube, const float position[3],
                                    Point3D<float>& p) const
{
    const float regionLow = boundaryType == 0 ? 0.25f : 0.0f;
    const float regionHigh = boundaryType == 0 ? 0.75f : 1.0f;
    p = (toCube.position(position) - cubeOrigin) / cubeWidth;
    for (int axis = 0; axis < 3; ++axis)
        if (!(p[axis] >= regionLow && p[axis] <= regionHigh))
            return false;
    return true;
}

template <class Data>
void Octree<Data>::splatDensities(PointStream& stream, const OctreeDetail::PointTransform& toCube,
                                  NeighborCache3<Node>& key, int kd, bool confidence)
{
    float position[3], normal[3];
    Point3D<float> p;
    stream.rewind();
    while (stream.readPoint(position, normal)) {
        if (!unitCubePosition(toCube, position, p))
            continue;
        const float sampleWeight = confidence ? lengthOf(toCube.normal(normal)) : 1.0f;
        Node* node = &root;
        while (node->depth < kd) {
            SplatDensity(node, p, key, sampleWeight);
            if (!node->children)
                node->initChildren(allocator);
            node = &node->children[childIndexContaining(node, p)];
        }
        SplatDensity(node, p, key, sampleWeight);
    }
}

template <class Data>
int32_t Octree<Data>::splatNormals(PointStream& stream, const OctreeDetail::PointTransform& toCube,
                                   NeighborCache3<Node>& key, int kd, int maxDepth, bool confidence,
                                   double& weightSum)
{
    float position[3], normal[3];
    Point3D<float> p;
    int32_t used = 0;
    const auto descend = [&](Node* node, int depth) {
        while (node->depth < depth) {
            if (!node->children)
                node->initChildren(allocator);
            node = &node->children[childIndexContaining(node, p)];
        }
        return node;
    };
    stream.rewind();
    while (stream.readPoint(position, normal)) {
        if (!unitCubePosition(toCube, position, p))
            continue;
        const float flipped[3] = {-normal[0], -normal[1], -normal[2]};
        Point3D<float> n = toCube.normal(flipped);
        const float length = lengthOf(n);
        if (std::isnan(length) || length <= 1e-6f)
            continue;
        if (!confidence)
            n /= length;

        float sampleWeight;
        if (samplesPerNode > 0 && kd != 0) {
            sampleWeight = SplatOrientedPoint(p, n, key, kd, samplesPerNode, minDepth, maxDepth);
        } else {
            Node* node = &root;
            sampleWeight = 1;
            if (kd != 0) {
                node = descend(node, kd);
                sampleWeight = InverseDensityAt(node, p, key);
            }
            n *= sampleWeight;
            SplatNormalAtNode(descend(node, maxDepth), p, n, key);
        }
        weightSum += sampleWeight;
        if (screening)
            addSample(p);
        ++used;
    }
    return used;
}

template <class Data>
void Octree<Data>::addSample(const Point3D<float>& p)
{
    for (Node* node = &root;; node = &node->children[childIndexContaining(node, p)]) {
        int32_t& index = node->nodeData.sampleIndex;
        if (index < 0) {
            index = static_cast<int32_t>(samples.size());
            PointSample sample;
            sample.position = p;
            sample.weight = 1;
            samples.push_back(sample);
        } else {
            samples[static_cast<size_t>(index)].position += p;
            samples[static_cast<size_t>(index)].weight += 1;
        }
        if (!node->children)
            break;
    }
}

template <class Data>
void Octree<Data>::weightSamples(double weightSum, int32_t used, float pointWeight, int adaptiveExp, int maxDepth)
{
    if (boundaryType == 0)
        weightSum *= 4;
    const float screeningScale = (float(weightSum) * pointWeight) / float(used);
    const int treeDepth = boundaryType == 0 ? maxDepth - 1 : maxDepth;
    for (Node* node = &root; node; node = Node::nextInTree(&root, node)) {
        if (node->nodeData.sampleIndex < 0)
            continue;
        PointSample& sample = samples[static_cast<size_t>(node->nodeData.sampleIndex)];
        sample.position /= sample.weight;
        const int e = boundaryType == 0 ? node->depth - 1 : node->depth;
        const int s = e * adaptiveExp - (adaptiveExp - 1) * treeDepth;
        sample.weight = std::ldexp(sample.weight, s) * screeningScale;
    }
}

template <class Data>
void Octree<Data>::clearBoundaryNormals()
{
    for (Node* node = &root; node; node = Node::nextInTree(&root, node)) {
        if (node->nodeData.normalIndex < 0)
            continue;
        int o[3];
        OctreeDetail::localOffsets(node, o);
        const int last = (1 << node->depth) - 1;
        for (int axis = 0; axis < 3; ++axis)
            if (o[axis] == 0 || o[axis] == last)
                (*normals)[static_cast<size_t>(node->nodeData.normalIndex)][axis] = 0;
    }
}

#define KORVASTEL_INSTANTIATE_TREE_BUILDING(Data)                                                                  \
    template int Octree<Data>::childIndexContaining(const Node*, const Point3D<float>&);                           \
    template void Octree<Data>::SplatDensity(Node*, const Point3D<float>&, NeighborCache3<Node>&, float);          \
    template float Octree<Data>::InverseDensityAt(Node*, const Point3D<float>&, NeighborCache3<Node>&);            \
    template void Octree<Data>::AdaptiveDepth(Node*, const Point3D<float>&, NeighborCache3<Node>&, float, float&,  \
                                              float&);                                                             \
    template void Octree<Data>::SplatNormalAtNode(Node*, const Point3D<float>&, const Point3D<float>&,            \
                                                  NeighborCache3<Node>&);                                          \
    template float Octree<Data>::SplatOrientedPoint(const Point3D<float>&, const Point3D<float>&,                 \
                                                    NeighborCache3<Node>&, int, float, int, int);                  \
    template int32_t Octree<Data>::BuildTree(PointStream&, int, int, int, float, float, bool, float, int,         \
                                             const std::array<float, 16>&);                                        \
    template bool Octree<Data>::fitCube(PointStream&, const OctreeDetail::PointTransform&, float);                 \
    template bool Octree<Data>::unitCubePosition(const OctreeDetail::PointTransform&, const float[3],             \
                                                 Point3D<float>&) const;                                           \
    template void Octree<Data>::splatDensities(PointStream&, const OctreeDetail::PointTransform&,                 \
                                               NeighborCache3<Node>&, int, bool);                                  \
    template int32_t Octree<Data>::splatNormals(PointStream&, const OctreeDetail::PointTransform&,                \
                                                NeighborCache3<Node>&, int, int, bool, double&);                   \
    template void Octree<Data>::addSample(const Point3D<float>&);                                                  \
    template void Octree<Data>::weightSamples(double, int32_t, float, int, int);                                   \
    template void Octree<Data>::clearBoundaryNormals();

KORVASTEL_INSTANTIATE_TREE_BUILDING(NodeData)
KORVASTEL_INSTANTIATE_TREE_BUILDING(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
