#include "meshproc/poisson/Octree.h"
#include "meshproc/poisson/OctreeDetail.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

/// Affine part of a column-major 4 x 4 matrix and the inverse transpose of its
/// upper-left 3 x 3 block.
class PointTransform {
public:
    explicit PointTransform(const std::array<float, 16>& m) : m_(m)
    {
        const auto a = [&](int r, int c) { return double(m[4 * c + r]); };
        double cofactor[3][3];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
                cofactor[r][c] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
            }
        const double determinant = a(0, 0) * cofactor[0][0] + a(0, 1) * cofactor[0][1] + a(0, 2) * cofactor[0][2];
        if (!(std::fabs(determinant) > 0) || !std::isfinite(determinant))
            failReconstruction("[ERROR] The transform of the points is singular\n");
        // (A^-1)^T = cofactor matrix / determinant.
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                normalMatrix_[r][c] = float(cofactor[r][c] / determinant);
    }

    Point3D<float> position(const float x[3]) const
    {
        Point3D<float> result;
        for (int r = 0; r < 3; ++r)
            result[r] = m_[r] * x[0] + m_[4 + r] * x[1] + m_[8 + r] * x[2] + m_[12 + r];
        return result;
    }

    Point3D<float> normal(const float n[3]) const
    {
        Point3D<float> result;
        for (int r = 0; r < 3; ++r)
            result[r] = normalMatrix_[r][0] * n[0] + normalMatrix_[r][1] * n[1] + normalMatrix_[r][2] * n[2];
        return result;
    }

private:
    std::array<float, 16> m_;
    float normalMatrix_[3][3];
};

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

    const PointTransform toCube(transform);
    NeighborCache3<Node> key;
    key.set(maxDepth);

    if (minDepth > 0) {
        if (!root.children)
            root.initChildren(allocator);
        for (int c = 0; c < 8; ++c)
            Node::refineToDepth(&root.children[c], minDepth - 1, allocator);
    }

    // Bounding pass.
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
    normals.reset(new std::vector<Point3D<float>>());
    if (pointCount == 0)
        return 0;
    float extent = 0;
    for (int axis = 0; axis < 3; ++axis)
        extent = std::max(extent, high[axis] - low[axis]);
    cubeWidth = boundaryType == 0 ? 2 * extent * scale : extent * scale;
    if (!(cubeWidth > 0) || !std::isfinite(cubeWidth))
        failReconstruction(formatMessage("[ERROR] The points span no volume (cube width %g)\n", double(cubeWidth)));
    for (int axis = 0; axis < 3; ++axis)
        cubeOrigin[axis] = (low[axis] + high[axis]) / 2 - cubeWidth / 2;

    const float regionLow = boundaryType == 0 ? 0.25f : 0.0f;
    const float regionHigh = boundaryType == 0 ? 0.75f : 1.0f;
    const auto toUnitCube = [&](Point3D<float>& p) {
        p = (toCube.position(position) - cubeOrigin) / cubeWidth;
        for (int axis = 0; axis < 3; ++axis)
            if (!(p[axis] >= regionLow && p[axis] <= regionHigh))
                return false;
        return true;
    };

    // Density pass.
    Point3D<float> p;
    if (kd > 0) {
        stream.rewind();
        while (stream.readPoint(position, normal)) {
            if (!toUnitCube(p))
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

    // Normal pass.
    double weightSum = 0;
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
        if (!toUnitCube(p))
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

        if (screening) {
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
        ++used;
    }

    if (boundaryType == 0)
        weightSum *= 4;
    if (screening && used > 0) {
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

    if (boundaryType == 1) {
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
    return used;
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
                                             const std::array<float, 16>&);

KORVASTEL_INSTANTIATE_TREE_BUILDING(NodeData)
KORVASTEL_INSTANTIATE_TREE_BUILDING(DensityNodeData)

}  // namespace PoissonReconstruction
}  // namespace Veltrane
