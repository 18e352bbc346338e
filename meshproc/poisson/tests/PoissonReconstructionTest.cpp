#include "meshproc/poisson/PoissonReconstruction.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <functional>
#include <limits>
#include <string>

using namespace Veltrane::PoissonReconstruction;

TEST(PoissonParameters, Defaults)
{
    const Parameters p;
    EXPECT_EQ(p.depth, 8);
    EXPECT_EQ(p.solverDivide, 8);
    EXPECT_EQ(p.isoDivide, 8);
    EXPECT_EQ(p.kernelDepth, -1);
    EXPECT_EQ(p.adaptiveExp, 1);
    EXPECT_EQ(p.minIters, 24);
    EXPECT_EQ(p.iters, -1);
    EXPECT_EQ(p.voxelDepth, -1);
    EXPECT_EQ(p.minDepth, 5);
    EXPECT_EQ(p.maxSolveDepth, -1);
    EXPECT_EQ(p.boundary, 1);
    EXPECT_EQ(p.threads, omp_get_num_procs());
    EXPECT_FLOAT_EQ(p.samplesPerNode, 1.0f);
    EXPECT_FLOAT_EQ(p.scale, 1.1f);
    EXPECT_FLOAT_EQ(p.accuracy, 0.001f);
    EXPECT_FLOAT_EQ(p.pointWeight, 4.0f);
    EXPECT_FALSE(p.showResidual);
    EXPECT_FALSE(p.confidence);
    EXPECT_FALSE(p.density);
}

TEST(PoissonParameters, DerivedSettings)
{
    DerivedParameters s;
    std::string error;
    Parameters p;
    ASSERT_TRUE(deriveParameters(p, s, error));
    EXPECT_EQ(s.kernelDepth, 6);
    EXPECT_EQ(s.maxSolveDepth, 8);
    EXPECT_EQ(s.boundaryType, 1);
    EXPECT_EQ(s.splineDepth, 8);

    p.solverDivide = 3;
    p.isoDivide = 2;
    p.maxSolveDepth = 7;
    p.boundary = -4;
    ASSERT_TRUE(deriveParameters(p, s, error));
    EXPECT_EQ(s.solverDivide, 5);
    EXPECT_EQ(s.isoDivide, 5);
    EXPECT_EQ(s.maxSolveDepth, 7);
    EXPECT_EQ(s.boundaryType, -1);

    p.boundary = 0;
    ASSERT_TRUE(deriveParameters(p, s, error));
    EXPECT_EQ(s.boundaryType, 0);
    EXPECT_EQ(s.splineDepth, 9);
}

TEST(PoissonParameters, RejectedSettings)
{
    struct Case {
        const char* name;
        int depth, threads, kernelDepth, boundary;
        const char* error;
    };
    for (const Case& c : {Case{"kernel deeper than depth", 8, 2, 9, 1, "kernelDepth can't be greater than depth"},
                          Case{"no threads", 8, 0, -1, 1, "threads must be positive, not 0"},
                          Case{"negative threads", 8, -3, -1, 1, "threads must be positive, not -3"},
                          Case{"depth zero", 0, 2, -1, 1, "depth must lie between 1 and 13, not 0"},
                          Case{"depth too deep", 14, 2, -1, 1, "depth must lie between 1 and 13, not 14"},
                          Case{"free boundary too deep", 13, 2, -1, 0, "depth must lie between 1 and 12, not 13"}}) {
        SCOPED_TRACE(c.name);
        Parameters p;
        p.depth = c.depth;
        p.threads = c.threads;
        p.kernelDepth = c.kernelDepth;
        p.boundary = c.boundary;
        DerivedParameters s;
        std::string error;
        EXPECT_FALSE(deriveParameters(p, s, error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(PoissonParameters, ValuesThatCannotGiveASurfaceAreRejected)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const int tooManyThreads = maxThreads() + 1;
    struct Case {
        const char* name;
        std::function<void(Parameters&)> change;
        std::string error;
    };
    const Case cases[] = {
        {"no iterations", [](Parameters& p) { p.iters = 0; }, "iters must be -1 or lie between 1 and 1000, not 0"},
        {"endless iterations", [](Parameters& p) { p.iters = 2000000000; },
         "iters must be -1 or lie between 1 and 1000, not 2000000000"},
        {"iterations below -1", [](Parameters& p) { p.iters = -2; },
         "iters must be -1 or lie between 1 and 1000, not -2"},
        {"endless least iterations", [](Parameters& p) { p.minIters = 2000000000; },
         "minIters must lie between 0 and 1000, not 2000000000"},
        {"negative solve depth", [](Parameters& p) { p.maxSolveDepth = -2; },
         "maxSolveDepth must be -1 or lie between 0 and depth (8), not -2"},
        {"solve depth below the tree", [](Parameters& p) { p.maxSolveDepth = 9; },
         "maxSolveDepth must be -1 or lie between 0 and depth (8), not 9"},
        {"negative minimum depth", [](Parameters& p) { p.minDepth = -1; },
         "minDepth must lie between 0 and depth (8), not -1"},
        {"minimum depth below the tree", [](Parameters& p) { p.minDepth = 9; },
         "minDepth must lie between 0 and depth (8), not 9"},
        {"huge adaptive exponent", [](Parameters& p) { p.adaptiveExp = 1 << 30; },
         "adaptiveExp must lie between 0 and 32, not 1073741824"},
        {"NaN accuracy", [nan](Parameters& p) { p.accuracy = nan; },
         "accuracy must be a finite number of at least 0, not nan"},
        {"negative accuracy", [](Parameters& p) { p.accuracy = -0.5f; },
         "accuracy must be a finite number of at least 0, not -0.5"},
        {"zero scale", [](Parameters& p) { p.scale = 0; }, "scale must be a finite number above 0, not 0"},
        {"infinite scale", [inf](Parameters& p) { p.scale = inf; }, "scale must be a finite number above 0, not inf"},
        {"zero samples per node", [](Parameters& p) { p.samplesPerNode = 0; },
         "samplesPerNode must be a finite number above 0, not 0"},
        {"NaN samples per node", [nan](Parameters& p) { p.samplesPerNode = nan; },
         "samplesPerNode must be a finite number above 0, not nan"},
        {"negative point weight", [](Parameters& p) { p.pointWeight = -1; },
         "pointWeight must be a finite number of at least 0, not -1"},
        {"infinite point weight", [inf](Parameters& p) { p.pointWeight = inf; },
         "pointWeight must be a finite number of at least 0, not inf"},
        {"more threads than can be useful", [=](Parameters& p) { p.threads = tooManyThreads; },
         "threads must be at most " + std::to_string(maxThreads()) + ", not " + std::to_string(tooManyThreads)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Parameters p;
        c.change(p);
        DerivedParameters s;
        std::string error;
        EXPECT_FALSE(deriveParameters(p, s, error));
        EXPECT_EQ(error, c.error);
    }

    // The ends of each range are accepted.
    Parameters p;
    p.iters = maxIterations;
    p.minIters = 0;
    p.maxSolveDepth = 0;
    p.minDepth = 8;
    p.adaptiveExp = 0;
    p.accuracy = 0;
    p.pointWeight = 0;
    p.threads = maxThreads();
    DerivedParameters s;
    std::string error;
    EXPECT_TRUE(deriveParameters(p, s, error)) << error;
}

TEST(MyPointStream, ReadsPairsUntilEitherListEnds)
{
    const std::vector<Veltrane::Mesh::Vector> positions{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const std::vector<Veltrane::Mesh::Vector> normals{{0, 0, 1}, {0, 1, 0}};
    MyPointStream stream(positions, normals);
    float p[3], n[3];
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(stream.readPoint(p, n));
        EXPECT_EQ(p[0], 1.0f);
        EXPECT_EQ(n[2], 1.0f);
        ASSERT_TRUE(stream.readPoint(p, n));
        EXPECT_EQ(p[2], 6.0f);
        EXPECT_EQ(n[1], 1.0f);
        EXPECT_FALSE(stream.readPoint(p, n));
        stream.rewind();
    }
}
