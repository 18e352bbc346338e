#include "PoissonFixture.h"
#include "RandomTree.h"

#include "meshproc/poisson/ReconstructionError.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace Veltrane::PoissonReconstruction;

namespace {

Point3D<float> point(float x, float y, float z)
{
    Point3D<float> p;
    p[0] = x;
    p[1] = y;
    p[2] = z;
    return p;
}

Point3D<float> sumOfNormals(const TreeOctree& tree)
{
    Point3D<float> sum;
    for (const Point3D<float>& n : *tree.normals)
        sum += n;
    return sum;
}

bool isComplete(TreeNode* node, int depth)
{
    if (node->depth >= depth)
        return true;
    if (!node->children)
        return false;
    for (int c = 0; c < 8; ++c)
        if (!isComplete(&node->children[c], depth))
            return false;
    return true;
}

void buildOnly(TreeOctree& tree, VectorPointStream& points, const RunSettings& settings)
{
    setUpOctree(tree, settings);
    tree.BuildTree(points, settings.depth, settings.minDepth, settings.kernelDepth, settings.samplesPerNode, 1.1f,
                   false, settings.pointWeight, 1, identityTransform());
}

}  // namespace

TEST(OctreeBuildTest, NormalSplatWeightsSumToOne)
{
    // A normal splatted at a point away from the border of the cube adds up
    // to exactly that normal over the 27 nodes around it.
    TreeOctree tree;
    setUpOctree(tree, RunSettings());
    tree.normals.reset(new std::vector<Point3D<float>>());
    NeighborCache3<TreeNode> key;
    key.set(4);
    TreeNode::refineToDepth(&tree.root, 4, tree.allocator);
    const auto nodes = nodesByPosition(&tree.root);
    for (const Point3D<float>& p : {point(0.5f, 0.5f, 0.5f), point(0.3f, 0.61f, 0.47f), point(0.28125f, 0.53125f, 0.7f),
                                    point(0.34f, 0.66f, 0.59f)}) {
        tree.normals->clear();
        for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node))
            node->nodeData.normalIndex = -1;
        TreeNode* node = nodes.at({4, int(p[0] * 16), int(p[1] * 16), int(p[2] * 16)});
        tree.SplatNormalAtNode(node, p, point(1, -2, 0.5f), key);
        EXPECT_EQ(tree.normals->size(), 27u);
        const Point3D<float> sum = sumOfNormals(tree);
        EXPECT_NEAR(sum[0], 1, 1e-6);
        EXPECT_NEAR(sum[1], -2, 1e-6);
        EXPECT_NEAR(sum[2], 0.5, 1e-6);
    }
}

TEST(OctreeBuildTest, InverseDensityOfUniformDensity)
{
    // With the same density everywhere the interpolated density is that value.
    TreeOctree tree;
    setUpOctree(tree, RunSettings());
    TreeNode::refineToDepth(&tree.root, 3, tree.allocator);
    for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node))
        node->nodeData.weight = 2.5f;
    NeighborCache3<TreeNode> key;
    key.set(3);
    const auto nodes = nodesByPosition(&tree.root);
    EXPECT_NEAR(tree.InverseDensityAt(nodes.at({3, 3, 4, 2}), point(0.41f, 0.55f, 0.3f), key), 0.4f, 1e-6);
}

TEST(OctreeBuildTest, EmptyInputLeavesTreeCompleteToMinDepth)
{
    for (const int boundary : {-1, 0, 1}) {
        SCOPED_TRACE(boundary);
        RunSettings settings;
        settings.boundaryType = boundary;
        settings.depth = 5;
        settings.minDepth = 2;
        settings.kernelDepth = 3;
        TreeOctree tree;
        VectorPointStream none;
        buildOnly(tree, none, settings);
        const int expectedMinDepth = boundary == 0 ? 3 : 2;
        EXPECT_EQ(tree.minDepth, expectedMinDepth);
        EXPECT_TRUE(isComplete(&tree.root, expectedMinDepth));
        EXPECT_EQ(TreeNode::height(&tree.root), expectedMinDepth);
        ASSERT_TRUE(tree.normals);
        EXPECT_TRUE(tree.normals->empty());
        EXPECT_TRUE(tree.samples.empty());
    }
}

TEST(OctreeBuildTest, CubeFitsPoints)
{
    struct Case {
        int boundary;
        float width;  // of the points' largest extent 4
    };
    for (const Case test : {Case{1, 4 * 1.1f}, Case{-1, 4 * 1.1f}, Case{0, 8 * 1.1f}}) {
        SCOPED_TRACE(test.boundary);
        VectorPointStream points;
        points.positions = {point(1, 2, 3), point(3, -2, 4)};
        points.normals = {point(0, 0, 1), point(1, 0, 0)};
        RunSettings settings;
        settings.boundaryType = test.boundary;
        settings.depth = 4;
        settings.minDepth = 1;
        settings.kernelDepth = 2;
        TreeOctree tree;
        buildOnly(tree, points, settings);
        EXPECT_FLOAT_EQ(tree.cubeWidth, test.width);
        EXPECT_FLOAT_EQ(tree.cubeOrigin[0] + tree.cubeWidth / 2, 2);
        EXPECT_FLOAT_EQ(tree.cubeOrigin[1] + tree.cubeWidth / 2, 0);
        EXPECT_FLOAT_EQ(tree.cubeOrigin[2] + tree.cubeWidth / 2, 3.5f);
        EXPECT_FALSE(tree.normals->empty());
    }
}

TEST(OctreeBuildTest, RefusesInputItCannotCarry)
{
    VectorPointStream coincident;
    coincident.positions = {point(1, 1, 1), point(1, 1, 1), point(1, 1, 1)};
    coincident.normals = {point(0, 0, 1), point(0, 1, 0), point(1, 0, 0)};
    VectorPointStream sphere = spherePoints(20, 1, 3);
    struct Case {
        const char* name;
        VectorPointStream* points;
        int depth;
        std::array<float, 16> transform;
    };
    const std::array<float, 16> flat = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    for (const Case& test : {Case{"coincident points", &coincident, 4, identityTransform()},
                             Case{"too deep", &sphere, Octree<NodeData>::maxTreeDepth + 1, identityTransform()},
                             Case{"singular transform", &sphere, 4, flat}}) {
        SCOPED_TRACE(test.name);
        TreeOctree tree;
        tree.boundaryType = 1;
        tree.splineData.build(std::min(test.depth, 4), 1);
        EXPECT_THROW(tree.BuildTree(*test.points, test.depth, 2, 2, 1, 1.1f, false, 4, 1, test.transform),
                     ReconstructionError);
    }
}

TEST(OctreeBuildTest, NormalsAreNegatedAndWeightedBySampleDensity)
{
    // Kernel depth 0 splats every normal at the deepest depth with weight 1:
    // the field then sums to minus the sum of the unit normals (deep enough
    // that no splat reaches past the cube, and with a boundary that keeps the
    // normals on the faces). The screening weight of the root sample is the
    // point count times pointWeight.
    VectorPointStream points = spherePoints(50, 1, 5);
    RunSettings settings;
    settings.boundaryType = -1;
    settings.depth = 6;
    settings.minDepth = 1;
    settings.kernelDepth = 0;
    settings.pointWeight = 2;
    TreeOctree tree;
    buildOnly(tree, points, settings);
    Point3D<float> expected;
    for (const Point3D<float>& n : points.normals)
        expected -= n;
    const Point3D<float> sum = sumOfNormals(tree);
    for (int axis = 0; axis < 3; ++axis)
        EXPECT_NEAR(sum[axis], expected[axis], 1e-4);
    ASSERT_GE(tree.root.nodeData.sampleIndex, 0);
    const PointSample& rootSample = tree.samples[static_cast<size_t>(tree.root.nodeData.sampleIndex)];
    EXPECT_FLOAT_EQ(rootSample.weight, 50 * 2.0f);
    // Every point passes on from a node into exactly one child: with
    // adaptiveExp 1 a sample's weight is its point count times 2^depth times
    // pointWeight, so the children's counts and positions add up to the
    // node's, and each sample lies in its node's cell.
    for (TreeNode* node = &tree.root; node; node = TreeNode::nextInTree(&tree.root, node)) {
        if (node->nodeData.sampleIndex < 0)
            continue;
        const PointSample& sample = tree.samples[static_cast<size_t>(node->nodeData.sampleIndex)];
        const float count = sample.weight / (2.0f * std::ldexp(1.0f, node->depth));
        EXPECT_NEAR(count, std::round(count), 1e-4);
        Point3D<float> centre;
        float width;
        node->cell<float>(centre, width);
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_LE(std::fabs(sample.position[axis] - centre[axis]), width / 2 + 1e-6f);
        if (!node->children)
            continue;
        float childCount = 0;
        Point3D<float> childSum;
        for (int c = 0; c < 8; ++c) {
            const int index = node->children[c].nodeData.sampleIndex;
            if (index < 0)
                continue;
            const PointSample& child = tree.samples[static_cast<size_t>(index)];
            const float n = child.weight / (2.0f * std::ldexp(1.0f, node->depth + 1));
            childCount += n;
            childSum += child.position * n;
        }
        EXPECT_NEAR(childCount, count, 1e-3);
        for (int axis = 0; axis < 3; ++axis)
            EXPECT_NEAR(childSum[axis] / childCount, sample.position[axis], 1e-5);
    }
}

TEST(OctreeBuildTest, AdaptiveSplatDepthFollowsDensity)
{
    // Denser points are splatted deeper with smaller weights: the point of a
    // dense cluster gets a smaller sample weight than a lone point.
    VectorPointStream points = spherePoints(400, 1, 7);
    RunSettings settings;
    settings.depth = 6;
    settings.minDepth = 2;
    settings.kernelDepth = 4;
    TreeOctree tree;
    buildOnly(tree, points, settings);
    NeighborCache3<TreeNode> key;
    key.set(6);
    float denseDepth, denseWeight;
    TreeNode* node = &tree.root;
    const Point3D<float> p = (points.positions[0] - tree.cubeOrigin) / tree.cubeWidth;
    while (node->depth < 4) {
        Point3D<float> c;
        float w;
        node->cell<float>(c, w);
        node = &node->children[(p[0] > c[0] ? 1 : 0) | (p[1] > c[1] ? 2 : 0) | (p[2] > c[2] ? 4 : 0)];
    }
    tree.AdaptiveDepth(node, p, key, 1, denseDepth, denseWeight);
    EXPECT_NEAR(denseWeight, std::pow(4.0, -double(denseDepth)), 1e-6);
    float sparseDepth, sparseWeight;
    tree.AdaptiveDepth(node, p, key, 1000, sparseDepth, sparseWeight);
    EXPECT_LT(sparseDepth, denseDepth);
    EXPECT_GT(sparseWeight, denseWeight);
}
