#include "capture/IntrinsicsEstimate.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <cmath>

namespace Veltrane {
namespace {

/// The eight box corners the sensor projects, in millimetres.
PointList boxCorners()
{
    PointList corners;
    for (const double z : {500.0, 1500.0})
        for (const auto& [x, y] : {std::pair{-200.0, -200.0}, {-200.0, 200.0}, {200.0, 200.0}, {200.0, -200.0}})
            corners.emplace_back(x, y, z);
    return corners;
}

Eigen::Matrix3d cameraMatrix(double fx, double fy, double cx, double cy)
{
    Eigen::Matrix3d K;
    K << fx, 0, cx, 0, fy, cy, 0, 0, 1;
    return K;
}

/// Normalised image points of the corners and their pixels under a pinhole
/// camera whose rows grow downwards while world y grows upwards.
void projectCorners(const Eigen::Matrix3d& K, PointList& normalised, PointList& pixels)
{
    for (const Eigen::Vector3d& p : boxCorners()) {
        const double xn = p.x() / p.z(), yn = p.y() / p.z();
        normalised.emplace_back(xn, yn, 1.0);
        pixels.emplace_back(K(0, 0) * xn + K(0, 2), K(1, 2) - K(1, 1) * yn, 1.0);
    }
}

class PinholeCamera : public ::testing::TestWithParam<Eigen::Matrix3d> {};

TEST_P(PinholeCamera, HomographyGivesBackTheCameraMatrix)
{
    const Eigen::Matrix3d K = GetParam();
    PointList normalised, pixels;
    projectCorners(K, normalised, pixels);

    Eigen::Matrix3d H;
    ASSERT_TRUE(estimateHomography(normalised, pixels, H));
    H /= H(2, 2);
    H(1, 1) = -H(1, 1);
    EXPECT_LT((H - K).cwiseAbs().maxCoeff(), 1e-9) << H;
}

TEST_P(PinholeCamera, SensorEstimateFromSinglePrecisionProjections)
{
    const Eigen::Matrix3d K = GetParam();
    const WorldToDepth project = [&K](float x, float y, float z, float& u, float& v) {
        u = static_cast<float>(K(0, 0) * x / z + K(0, 2));
        v = static_cast<float>(K(1, 2) - K(1, 1) * y / z);
        return true;
    };
    Eigen::Matrix3d estimate;
    ASSERT_TRUE(estimateCameraMatrix(project, estimate));
    // The projections carry float rounding only.
    EXPECT_LT((estimate - K).cwiseAbs().maxCoeff(), 1e-3) << estimate;
}

INSTANTIATE_TEST_SUITE_P(Cameras, PinholeCamera,
                         ::testing::Values(cameraMatrix(525.0, 525.0, 319.5, 239.5),
                                           cameraMatrix(570.3, 565.1, 320.0, 240.0),
                                           cameraMatrix(1050.0, 980.0, 640.2, 470.8),
                                           cameraMatrix(58.0, 61.0, 40.0, 30.0)));

TEST(IntrinsicsEstimate, StopsAtAFailedProjectionAndKeepsTheMatrix)
{
    int calls = 0;
    const WorldToDepth failThird = [&calls](float, float, float, float& u, float& v) {
        u = v = 1.0f;
        return ++calls < 3;
    };
    Eigen::Matrix3d K = Eigen::Matrix3d::Constant(7.0);
    EXPECT_FALSE(estimateCameraMatrix(failThird, K));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(K, Eigen::Matrix3d::Constant(7.0));
}

TEST(Homography, RecoversAGeneralHomographyUpToScale)
{
    Eigen::Matrix3d truth;
    truth << 1.2, 0.3, -40.0, -0.2, 0.9, 25.0, 1e-3, -2e-3, 1.0;
    PointList src, dst;
    for (int i = 0; i < 12; ++i) {
        const Eigen::Vector3d p(std::cos(i * 0.7) * 100.0 + i, std::sin(i * 1.3) * 80.0, 1.0 + 0.1 * (i % 3));
        src.push_back(p);
        dst.push_back(truth * p * (i % 2 ? -2.0 : 0.5));  // any scale of the image point
    }
    Eigen::Matrix3d H;
    ASSERT_TRUE(estimateHomography(src, dst, H));
    H /= H(2, 2);
    EXPECT_LT((H - truth).cwiseAbs().maxCoeff(), 1e-9) << H;
}

TEST(Homography, ListsOfDifferentLengthLeaveTheMatrixUntouched)
{
    const PointList src = boxCorners();
    const PointList dst(src.begin(), src.end() - 1);
    Eigen::Matrix3d H = Eigen::Matrix3d::Constant(3.0);
    EXPECT_FALSE(estimateHomography(src, dst, H));
    EXPECT_EQ(H, Eigen::Matrix3d::Constant(3.0));
}

TEST(NormalizePoints, CentresAndScalesTheFinitePoints)
{
    // Homogeneous scales other than 1 and one point at infinity.
    const PointList in{{2.0, 4.0, 2.0}, {9.0, -3.0, 1.0}, {-6.0, 3.0, -3.0}, {5.0, 5.0, 0.0}, {0.4, 0.2, 0.2}};
    PointList out;
    Eigen::Matrix3d T;
    normalizePoints(in, out, &T);
    ASSERT_EQ(out.size(), in.size());

    Eigen::Vector2d centroid = Eigen::Vector2d::Zero();
    double meanDistance = 0.0;
    for (const int i : {0, 1, 2, 4}) {
        EXPECT_DOUBLE_EQ(out[i].z(), 1.0);
        centroid += out[i].head<2>() / 4.0;
        meanDistance += out[i].head<2>().norm() / 4.0;
    }
    EXPECT_LT(centroid.norm(), 1e-12);
    EXPECT_NEAR(meanDistance, std::sqrt(2.0), 1e-12);

    for (std::size_t i = 0; i < in.size(); ++i) {
        const Eigen::Vector3d mapped = T * in[i];
        const Eigen::Vector3d expected = in[i].z() != 0.0 ? Eigen::Vector3d(mapped / mapped.z()) : mapped;
        EXPECT_LT((expected - out[i]).norm(), 1e-12) << "point " << i;
    }
    // The point at infinity is only scaled.
    EXPECT_DOUBLE_EQ(out[3].x() / out[3].y(), 1.0);
    EXPECT_DOUBLE_EQ(out[3].z(), 0.0);
}

TEST(NormalizePoints, PointAtInfinityDoesNotMoveTheCentroid)
{
    const PointList finite{{0.0, 0.0, 1.0}, {4.0, 2.0, 1.0}, {1.0, 7.0, 1.0}};
    PointList withInfinite = finite;
    withInfinite.emplace_back(1000.0, -1000.0, 0.0);

    PointList out1, out2;
    Eigen::Matrix3d T1, T2;
    normalizePoints(finite, out1, &T1);
    normalizePoints(withInfinite, out2, &T2);
    EXPECT_EQ(T1, T2);
    for (std::size_t i = 0; i < finite.size(); ++i)
        EXPECT_EQ(out1[i], out2[i]);
}

TEST(NormalizePoints, DegenerateListsStayFinite)
{
    const PointList cases[] = {{}, {{3.0, 4.0, 0.0}}, {{2.0, 2.0, 1.0}, {4.0, 4.0, 2.0}}};
    for (const PointList& in : cases) {
        PointList out;
        Eigen::Matrix3d T;
        normalizePoints(in, out, &T);
        ASSERT_EQ(out.size(), in.size());
        EXPECT_TRUE(T.allFinite()) << T;
        for (const Eigen::Vector3d& p : out)
            EXPECT_TRUE(p.allFinite()) << p.transpose();
    }
}

TEST(NormalizePoints, WorksWithoutTheTransform)
{
    const PointList in{{1.0, 1.0, 1.0}, {3.0, 1.0, 1.0}};
    PointList out;
    normalizePoints(in, out);
    EXPECT_LT((out[0] - Eigen::Vector3d(-std::sqrt(2.0), 0.0, 1.0)).norm(), 1e-12);
    EXPECT_LT((out[1] - Eigen::Vector3d(std::sqrt(2.0), 0.0, 1.0)).norm(), 1e-12);
}

}  // namespace
}  // namespace Veltrane
