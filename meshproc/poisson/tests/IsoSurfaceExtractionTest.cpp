#include "meshproc/poisson/IsoSurfaceExtraction.h"
#include "meshproc/poisson/PoissonReconstruction.h"
#include "meshproc/poisson/tests/PoissonTestTrees.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

using namespace Veltrane;
using namespace Veltrane::PoissonReconstruction;

namespace {

using namespace Veltrane::PoissonReconstruction::TestTrees;

/// Signed distance to a sphere in the unit cube: negative inside.
struct Sphere {
    double cx = 0.5, cy = 0.5, cz = 0.5, radius = 0.3;
    double operator()(double x, double y, double z) const
    {
        return std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy) + (z - cz) * (z - cz)) - radius;
    }
};

struct Extraction {
    std::unique_ptr<Mesh> mesh;
    int anomalies = 0;
    int outOfCore = 0;
    int inCore = 0;
};

// Extraction in blocks of the given depth.
Extraction extract(Tree& tree, int blockDepth, float isoValue = 0)
{
    CoredFileMeshData<PlyVertex> data;
    Extraction result;
    const int isoDivide = Node::height(&tree.root) - blockDepth;
    result.anomalies = ExtractIsoSurface(tree, isoValue, isoDivide, data, true);
    result.inCore = int(data.inCorePoints.size());
    result.outOfCore = data.outOfCorePointTotal();
    result.mesh = meshFromCoredData(data);
    return result;
}

/// Every directed edge once and its reverse once: closed and consistently
/// oriented. Returns the Euler characteristic.
int checkClosedManifold(const Mesh& mesh)
{
    std::map<std::pair<int, int>, int> directed;
    for (const auto& f : mesh.faces())
        for (int k = 0; k < 3; ++k)
            ++directed[{f[k], f[(k + 1) % 3]}];
    int problems = 0;
    for (const auto& e : directed) {
        const auto reverse = directed.find({e.first.second, e.first.first});
        if (e.second != 1 || reverse == directed.end() || reverse->second != 1)
            ++problems;
    }
    EXPECT_EQ(problems, 0);
    const int edges = int(directed.size()) / 2;
    return int(mesh.vertices().size()) - edges + int(mesh.faces().size());
}

double signedVolume(const Mesh& mesh)
{
    double volume = 0;
    for (const auto& f : mesh.faces()) {
        const auto& a = mesh.vertices()[size_t(f[0])];
        const auto& b = mesh.vertices()[size_t(f[1])];
        const auto& c = mesh.vertices()[size_t(f[2])];
        volume += a.dot(b.cross(c)) / 6.0;
    }
    return volume;
}

}  // namespace

TEST(IsoSurfaceExtraction, UniformTreeGivesClosedSphere)
{
    struct Case {
        int depth, boundary, blockDepth;
    };
    for (const Case& c : {Case{3, 1, 0}, Case{3, -1, 0}, Case{4, 1, 1}, Case{4, 1, 2}}) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " boundary " << c.boundary << " block "
                                        << c.blockDepth);
        Tree tree;
        buildTree(tree, c.depth, c.boundary, Sphere(), [](const Node*) { return false; });
        const Extraction result = extract(tree, c.blockDepth, c.boundary == -1 ? -0.5f : 0.0f);
        ASSERT_GT(result.mesh->faces().size(), 0u);
        EXPECT_EQ(result.anomalies, 0);
        EXPECT_EQ(checkClosedManifold(*result.mesh), 2);
        // Input coordinates: the unit cube mapped onto [-1, 1]^3, radius 0.6.
        const double cell = 2.0 / (1 << c.depth);
        for (const auto& v : result.mesh->vertices())
            EXPECT_NEAR((v - Eigen::Vector3d(0, 0, 0)).norm(), 0.6, 0.25 * cell);
        EXPECT_GT(std::abs(signedVolume(*result.mesh)), 0.5 * 4.0 / 3.0 * M_PI * 0.216);
    }
}

// Depth changes and block borders: the surface stays closed where a coarse
// leaf meets finer ones, inside a block and across block borders.
TEST(IsoSurfaceExtraction, AdaptiveTreeGivesClosedSphere)
{
    const Sphere sphere;
    auto nearSurface = [&](const Node* n) {
        Point3D<float> centre;
        float width;
        n->cell(centre, width);
        return std::abs(sphere(centre[0], centre[1], centre[2])) < width;
    };
    // Refined below x = 0.375, a face of no block of depth 1 or 2 (the tree
    // must not change depth across a block face).
    auto lowPart = [](const Node* n) {
        Point3D<float> centre;
        float width;
        n->cell(centre, width);
        return centre[0] < 0.375f;
    };
    struct Case {
        const char* name;
        std::function<bool(const Node*)> refine;
        int blockDepth;
    };
    for (const Case& c : {Case{"near surface", nearSurface, 0}, Case{"near surface", nearSurface, 2},
                          Case{"low part", lowPart, 0}, Case{"low part", lowPart, 1}, Case{"low part", lowPart, 2},
                          Case{"low part", lowPart, 3}}) {
        SCOPED_TRACE(testing::Message() << c.name << ", block depth " << c.blockDepth);
        Tree tree;
        buildTree(tree, 3, 1, sphere, c.refine);
        const Extraction result = extract(tree, c.blockDepth);
        ASSERT_GT(result.mesh->faces().size(), 0u);
        EXPECT_EQ(result.anomalies, 0);
        EXPECT_EQ(checkClosedManifold(*result.mesh), 2);
        for (const auto& v : result.mesh->vertices())
            EXPECT_NEAR(v.norm(), 0.6, 0.25 * 2.0 / 8);
    }
}

TEST(IsoSurfaceExtraction, RepeatedRunsGiveIdenticalMeshes)
{
    const Sphere sphere{0.5, 0.52, 0.47, 0.31};
    std::unique_ptr<Mesh> first;
    for (int run = 0; run < 3; ++run) {
        Tree tree;
        buildTree(tree, 4, 1, sphere, [&](const Node* n) {
            const Point3D<float> c = centreOf(n);
            return std::abs(sphere(c[0], c[1], c[2])) < widthOf(n);
        });
        tree.threads = 4;
        Extraction result = extract(tree, 1);
        EXPECT_EQ(result.anomalies, 0);
        if (!first) {
            first = std::move(result.mesh);
            continue;
        }
        EXPECT_EQ(result.mesh->vertices(), first->vertices());
        EXPECT_EQ(result.mesh->faces(), first->faces());
    }
}
