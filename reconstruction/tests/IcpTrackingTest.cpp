#include "reconstruction/DepthPreprocessing.h"
#include "reconstruction/IcpTracking.h"
#include "reconstruction/VectorMap.h"
#include "reconstruction/tests/TestImages.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <Eigen/Geometry>
#include <Eigen/LU>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Veltrane {
namespace {

using namespace IcpTracking;
using namespace TestSupport;

const PinholeCamera camera = PinholeCamera().scaledDown(4);  // 160 x 120

/// One pyramid level made from a depth frame, whose prediction is the frame
/// itself seen from the identity pose (volume coordinates = camera coordinates).
struct SelfMatchedLevel {
    std::unique_ptr<TypedImage<float>> vertices, normals, tangentX, tangentY, predictedVertices, predictedNormals;
    Level level;

    explicit SelfMatchedLevel(const TypedImage<unsigned short>& depth)
    {
        for (auto* map : {&vertices, &normals, &tangentX, &tangentY})
            *map = filledImage<float>(camera.width, camera.height, 3, 0.0f);
        const Eigen::Matrix3d k = Eigen::Map<const Eigen::Matrix3d>(camera.matrix().data());
        DepthPreprocessing::computeVertexMap(depth, k.inverse().cast<float>(), *vertices);
        DepthPreprocessing::computeTangentMaps(*vertices, *tangentX, *tangentY);
        DepthPreprocessing::computeNormalMap(*vertices, *tangentX, *tangentY, *normals);
        predictedVertices.reset(static_cast<TypedImage<float>*>(vertices->clone()));
        predictedNormals.reset(static_cast<TypedImage<float>*>(normals->clone()));
        level = {vertices.get(), normals.get(), predictedVertices.get(), predictedNormals.get(), k.cast<float>()};
    }

    Result track(const Settings& settings)
    {
        return IcpTracking::track({level}, Eigen::Matrix4f::Identity(), settings);
    }
};

Settings defaultSettings()
{
    return {{8}, 100.0, 20.0, 0.1, 100.0, 45.0, true};
}

const Eigen::Matrix4d startPose = tabletopOrbit(1).poses().front();

std::unique_ptr<TypedImage<unsigned short>> tabletopDepth()
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    return std::move(sensor.render(startPose).depth);
}

TEST(IcpTracking, FrameMatchingItsPredictionNeedsNoMotion)
{
    SelfMatchedLevel match(*tabletopDepth());
    Settings settings = defaultSettings();
    const Result skipped = match.track(settings);
    EXPECT_TRUE(skipped.tracked);
    EXPECT_FALSE(skipped.fuse);
    EXPECT_EQ(skipped.pose, Eigen::Matrix4f::Identity());

    settings.skipSmallMotion = false;
    const Result fused = match.track(settings);
    EXPECT_TRUE(fused.tracked);
    EXPECT_TRUE(fused.fuse);
    EXPECT_TRUE(fused.pose.isApprox(Eigen::Matrix4f::Identity(), 1e-4f)) << fused.pose;
}

/// A frame seen 12 mm further back and 1.5 degrees turned from where its
/// prediction was made; `moved` is that motion.
struct MovedFrame {
    Eigen::Matrix4d moved = Eigen::Matrix4d::Identity();
    std::unique_ptr<SelfMatchedLevel> match, prediction;

    MovedFrame()
    {
        const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
        moved.topLeftCorner<3, 3>() =
            Eigen::AngleAxisd(1.5 * M_PI / 180.0, Eigen::Vector3d::UnitY()).toRotationMatrix();
        moved(2, 3) = 12.0;
        match = std::make_unique<SelfMatchedLevel>(*sensor.render(moved * startPose).depth);
        prediction = std::make_unique<SelfMatchedLevel>(*sensor.render(startPose).depth);
        match->level.predictedVertices = prediction->vertices.get();
        match->level.predictedNormals = prediction->normals.get();
    }
};

TEST(IcpTracking, MotionBeyondTheLimitsIsLost)
{
    MovedFrame frame;
    SelfMatchedLevel& match = *frame.match;
    const Eigen::Matrix4d& moved = frame.moved;

    struct Case {
        double maxTranslation, maxRotationDegrees;
        bool tracked;
    };
    for (const Case c : {Case{100.0, 45.0, true}, Case{10.0, 45.0, false}, Case{100.0, 1.0, false}}) {
        Settings settings = defaultSettings();
        settings.iterations = {20};
        settings.maxTranslation = c.maxTranslation;
        settings.maxRotationDegrees = c.maxRotationDegrees;
        const Result result = match.track(settings);
        EXPECT_EQ(result.tracked, c.tracked) << c.maxTranslation << " " << c.maxRotationDegrees;
        EXPECT_EQ(result.fuse, c.tracked);
        if (c.tracked) {
            EXPECT_LT(poseDifference(toMatrix(result.pose.data()), moved).translation, 2.0);
            EXPECT_LT(poseDifference(toMatrix(result.pose.data()), moved).rotationDegrees, 0.2);
        } else {
            EXPECT_EQ(result.pose, Eigen::Matrix4f::Identity());
        }
    }
}

TEST(IcpTracking, ASingleLevelOrAnEmptyPredictionCannotTrack)
{
    struct Case {
        const char* name;
        void (*prepare)(TypedImage<unsigned short>& depth);
    };
    const Case cases[] = {
        {"plane: free to slide along it", [](TypedImage<unsigned short>& d) { d.fill(1000); }},
        {"no depth", [](TypedImage<unsigned short>& d) { d.fill(0); }},
    };
    for (const Case& c : cases) {
        auto depth = filledImage<unsigned short>(camera.width, camera.height, 1, 0);
        c.prepare(*depth);
        SelfMatchedLevel match(*depth);
        EXPECT_FALSE(match.track(defaultSettings()).tracked) << c.name;
    }
}

TEST(IcpTracking, DegenerateLevelsAreSkippedAndTheOthersTrack)
{
    // A level without a usable prediction stands for a coarse level that has
    // almost no normals when the scene is far away.
    MovedFrame frame;
    const Level& good = frame.match->level;
    Level empty = good;
    auto nothing = filledImage<float>(camera.width, camera.height, 3, std::numeric_limits<float>::quiet_NaN());
    empty.predictedVertices = nothing.get();
    struct Case {
        const char* name;
        std::vector<Level> levels;  // finest first
        bool tracked;
    };
    const Case cases[] = {
        {"degenerate coarsest level", {good, good, empty}, true},
        {"degenerate middle level", {good, empty, good}, true},
        {"only the coarsest level solvable", {empty, empty, good}, true},
        {"no level solvable", {empty, empty, empty}, false},
    };
    Settings settings = defaultSettings();
    settings.iterations = {8, 4, 3};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result result = track(c.levels, Eigen::Matrix4f::Identity(), settings);
        EXPECT_EQ(result.tracked, c.tracked);
        EXPECT_EQ(result.fuse, c.tracked);
        const PoseDifference error = poseDifference(toMatrix(result.pose.data()), frame.moved);
        if (c.tracked) {
            EXPECT_LT(error.translation, 2.0);
            EXPECT_LT(error.rotationDegrees, 0.2);
        } else {
            EXPECT_EQ(result.pose, Eigen::Matrix4f::Identity());
        }
    }
}

TEST(IcpTracking, PerPixelRowsSumToTheAccumulatedSystem)
{
    SelfMatchedLevel match(*tabletopDepth());
    Eigen::Matrix4f estimate = Eigen::Matrix4f::Identity();
    estimate.topLeftCorner<3, 3>() = Eigen::AngleAxisf(0.01f, Eigen::Vector3f::UnitX()).toRotationMatrix();
    estimate(0, 3) = 4.0f;
    const std::size_t planeSize = static_cast<std::size_t>(camera.width) * camera.height;
    std::vector<float> matrixRows(planeSize * matrixPlanes), vectorRows(planeSize * vectorPlanes);
    computeRows(match.level, estimate, 100.0f, 0.9f, matrixRows.data(), vectorRows.data());
    Matrix6f summedH, accumulatedH;
    Vector6f summedG, accumulatedG;
    sumRows(matrixRows.data(), vectorRows.data(), planeSize, summedH, summedG);
    accumulateSystem(match.level, estimate, 100.0f, 0.9f, accumulatedH, accumulatedG);
    EXPECT_TRUE(summedH.isApprox(accumulatedH, 1e-4f));
    EXPECT_TRUE(summedG.isApprox(accumulatedG, 1e-3f));
    // The translational diagonal sums |n|^2 = 1 per matched pixel.
    EXPECT_GT(accumulatedH(3, 3) + accumulatedH(4, 4) + accumulatedH(5, 5), 5000.0f);

    // A pixel's planes hold the products of its row.
    for (int y = 1; y < camera.height - 1; ++y)
        for (int x = 1; x < camera.width - 1; ++x) {
            Vector6f a;
            float r;
            if (!linearise(x, y, match.level, estimate, estimate.inverse(), 100.0f, 0.9f, a, r))
                continue;
            const std::size_t pixel = static_cast<std::size_t>(y) * camera.width + x;
            EXPECT_EQ(matrixRows[1 * planeSize + pixel], a[0] * a[1]);
            EXPECT_EQ(matrixRows[20 * planeSize + pixel], a[5] * a[5]);
            EXPECT_EQ(vectorRows[2 * planeSize + pixel], a[2] * r);
            return;
        }
    FAIL() << "no pixel matched";
}

TEST(IcpTracking, DegeneracyTestIgnoresUnitsAndPixelCounts)
{
    Matrix6f wellPosed;
    wellPosed << 4, 1, 0, 0, 1, 0,  //
        1, 5, 1, 0, 0, 0,           //
        0, 1, 6, 1, 0, 0,           //
        0, 0, 1, 3, 1, 0,           //
        1, 0, 0, 1, 4, 1,           //
        0, 0, 0, 0, 1, 2;
    // Millimetre data: rotational rows dwarf translational ones by ~1e6.
    const Eigen::Matrix<float, 6, 1> mm = (Eigen::Matrix<float, 6, 1>() << 1e3f, 1e3f, 1e3f, 1, 1, 1).finished();
    Matrix6f rankFive = wellPosed;
    rankFive.row(5) = rankFive.row(4);
    rankFive.col(5) = rankFive.col(4);
    struct Case {
        const char* name;
        Matrix6f h;
        bool degenerate;
    };
    const Case cases[] = {
        {"well posed", wellPosed, false},
        {"well posed, tiny values", wellPosed * 1e-12f, false},
        {"well posed, mm scale", Matrix6f(mm.asDiagonal() * wellPosed * mm.asDiagonal() * 1e5f), false},
        {"zero", Matrix6f::Zero(), true},
        {"rank five", rankFive, true},
        {"rank five, mm scale", Matrix6f(mm.asDiagonal() * rankFive * mm.asDiagonal() * 1e5f), true},
        {"NaN", Matrix6f::Constant(std::numeric_limits<float>::quiet_NaN()), true},
        {"infinite", wellPosed * std::numeric_limits<float>::infinity(), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isDegenerate(c.h), c.degenerate) << c.name;
}

TEST(IcpTracking, IncrementIsARigidMotion)
{
    EXPECT_EQ(increment(Vector6f::Zero()), Eigen::Matrix4f::Identity());
    Vector6f x;
    x << 0.0f, 0.0f, 0.02f, 1.0f, 2.0f, 3.0f;
    const Eigen::Matrix4f m = increment(x);
    const Eigen::Matrix3f r = m.topLeftCorner<3, 3>();
    EXPECT_TRUE((r * r.transpose()).isApprox(Eigen::Matrix3f::Identity(), 1e-6f));
    EXPECT_NEAR(r.determinant(), 1.0f, 1e-6f);
    // Rotation by about -0.02 rad about z (the projection of I + [w]x onto the
    // rotations turns by atan |w|); translation divided by the largest
    // singular value sqrt(1 + 0.02^2).
    EXPECT_NEAR(std::atan2(r(1, 0), r(0, 0)), -std::atan(0.02f), 1e-6f);
    EXPECT_NEAR(m(0, 3), 1.0f / std::sqrt(1.0004f), 1e-6f);
    EXPECT_NEAR(m(2, 3), 3.0f / std::sqrt(1.0004f), 1e-6f);
}

}  // namespace
}  // namespace Veltrane
