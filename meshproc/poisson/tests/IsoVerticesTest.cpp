#include "meshproc/poisson/IsoSurfaceExtraction.h"
#include "meshproc/poisson/PoissonReconstruction.h"
#include "meshproc/poisson/tests/PoissonTestTrees.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace Veltrane;
using namespace Veltrane::PoissonReconstruction;
using namespace Veltrane::PoissonReconstruction::TestTrees;

TEST(IsoVertices, EdgeRootParameter)
{
    struct Case {
        const char* name;
        float u1, u2, d1, d2, iso;
        float expected;
        bool clamped;
    };
    const float golden = float((std::sqrt(5.0) - 1) / 2);
    for (const Case& c : {
             Case{"equal slopes: straight line", -1, 3, 2, 2, 0, 0.25f, false},
             Case{"quadratic root", -1, 1, 1, 3, 0, golden, false},
             Case{"slopes cancel: linear fallback", -1, 1, 1, -1, 0, 0.5f, false},
             Case{"no real root: linear, then clamped", 0.6f, 1, 0.2f, 0.6f, 0.5f, 0.0f, true},
             Case{"beyond the edge: clamped", 0, 1, 1, 1, 1.2f, 1.0f, true},
             Case{"before the edge: clamped", 0, 1, 1, 1, -0.5f, 0.0f, true},
         }) {
        SCOPED_TRACE(c.name);
        bool clamped = false;
        EXPECT_NEAR(edgeRootParameter(c.u1, c.u2, c.d1, c.d2, c.iso, true, clamped), c.expected, 1e-6);
        EXPECT_EQ(clamped, c.clamped);
    }
    bool clamped = false;
    // Without averaging the roots, always linear.
    EXPECT_NEAR(edgeRootParameter(-1, 1, 1, 3, 0, false, clamped), 0.5f, 1e-6);
}

TEST(IsoVertices, EdgeKeysNameOneEdgePerDepth)
{
    Tree tree;
    Node::refineToDepth(&tree.root, 2, tree.allocator);
    const int D = 2;
    // Neighbours of the same depth that share an edge give it the same key.
    const Node* a = &tree.root.children[0].children[0];
    const Node* b = &tree.root.children[0].children[1];  // across x
    EXPECT_EQ(edgeKey(a, 5, D), edgeKey(b, 4, D));
    const Node* c = &tree.root.children[0].children[3];  // across x and y
    EXPECT_EQ(edgeKey(a, 11, D), edgeKey(c, 8, D));
    // A parent edge and its child edge on the same line differ.
    EXPECT_NE(edgeKey(&tree.root.children[0], 0, D), edgeKey(a, 0, D));
    // Different edges of one node differ.
    std::set<EdgeKey> keys;
    for (int e = 0; e < 12; ++e)
        keys.insert(edgeKey(a, e, D));
    EXPECT_EQ(keys.size(), 12u);
}

TEST(IsoVertices, CoarseLeafFindsTheVertexOnTheRefinedSide)
{
    // Plane y = 0.3 (unit cube); the half x < 0.5 is refined one depth more.
    Tree tree;
    buildTree(tree, 2, 1, [](double, double y, double) { return y - 0.3; },
              [](const Node* n) { return centreOf(n)[0] < 0.5f; });
    IsoSurfaceTables tables;
    tree.sortedNodes.setCornerTable(tables.cornerTable, nullptr, 3, 1);
    tables.lastDepth = 3;
    tables.cornerValues.reserve(size_t(tables.cornerTable.count));
    const SplineEvaluator<NodeData> evaluator(tree);
    tree.splineData.computeValueTables(BSplineData::Values, 0.0);
    NeighborCache3<Node> key;
    key.set(3);
    const std::vector<float> accumulated = accumulateCoarserSolution(tree);
    for (Node* n : allNodes(tree))
        n->nodeData.normalIndex = 0;
    for (int depth : {3, 2})
        for (Node* n : allNodes(tree))
            if (!n->children && n->depth == depth)
                ComputeLeafCorners(evaluator, tree.minDepth, n, tables, key, accumulated, 0.0f);

    // x in [0.5, 0.75], y in [0.25, 0.5], z in [0, 0.25]: a depth-2 leaf whose
    // low-x neighbour is refined. Its y edges cross the plane.
    const Node* coarse = &tree.root.children[1].children[2];
    ASSERT_EQ(coarse->children, nullptr);
    IsoSurfaceAnomalies anomalies;
    for (int edge : {4, 6}) {  // on the refined side: the finer edge carries the vertex
        SCOPED_TRACE(edge);
        EdgeRoot<Node> root;
        ASSERT_TRUE(GetRootIndex<Node>(coarse, edge, 3, root, anomalies));
        EXPECT_EQ(root.node->depth, 3);
        EXPECT_EQ(root.node->parent, faceNeighbor(coarse, 0, 0));
        EdgeRoot<Node> direct;
        ASSERT_TRUE(GetRootIndex<Node>(root.node, root.edge, 3, direct, anomalies));
        EXPECT_EQ(direct.key, root.key);
    }
    for (int edge : {5, 7}) {  // no refined neighbour: its own edge
        EdgeRoot<Node> root;
        ASSERT_TRUE(GetRootIndex<Node>(coarse, edge, 3, root, anomalies));
        EXPECT_EQ(root.node, coarse);
        EXPECT_EQ(root.key, edgeKey(coarse, edge, 3));
    }
    EdgeRoot<Node> none;
    EXPECT_FALSE(GetRootIndex<Node>(coarse, 0, 3, none, anomalies));  // x edge: no crossing
    EXPECT_EQ(anomalies.total(), 0);
}

TEST(IsoVertices, MeshFromCoredDataKeepsTrianglesAndUsedVertices)
{
    CoredFileMeshData<PlyVertex> data;
    auto vertex = [](float x) {
        PlyVertex v;
        v.point[0] = x;
        return v;
    };
    data.inCorePoints = {vertex(0), vertex(1), vertex(2)};
    data.appendOutOfCorePoint(vertex(10));
    data.appendOutOfCorePoint(vertex(11));
    data.appendOutOfCorePoint(vertex(12));  // used by no triangle
    data.appendPolygon({{0, true}, {1, true}, {0, false}});
    data.appendPolygon({{1, true}, {2, true}, {1, false}, {0, false}});  // not a triangle
    data.appendPolygon({{2, true}, {1, false}, {0, false}});
    const std::unique_ptr<Mesh> mesh = meshFromCoredData(data);
    ASSERT_EQ(mesh->faces().size(), 2u);
    std::vector<double> xs;
    for (const auto& v : mesh->vertices())
        xs.push_back(v.x());
    EXPECT_EQ(xs, (std::vector<double>{0, 1, 2, 10, 11}));
    EXPECT_EQ(mesh->faces()[0], Mesh::Triple(0, 1, 3));
    EXPECT_EQ(mesh->faces()[1], Mesh::Triple(2, 4, 3));
    EXPECT_TRUE(mesh->normals().empty());
}
