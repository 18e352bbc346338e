#include "capture/IntrinsicsEstimate.h"

#include <Eigen/LU>
#include <Eigen/SVD>

#include <array>
#include <cmath>

namespace Veltrane {

namespace {

constexpr double AtInfinity = 1e-10;

bool isFinitePoint(const Eigen::Vector3d& p) { return std::abs(p.z()) > AtInfinity; }

}  // namespace

void normalizePoints(const PointList& in, PointList& out, Eigen::Matrix3d* T)
{
    out = in;
    for (Eigen::Vector3d& p : out)
        if (isFinitePoint(p))
            p = Eigen::Vector3d(p.x() / p.z(), p.y() / p.z(), 1.0);

    int n = 0;
    Eigen::Vector2d centroid = Eigen::Vector2d::Zero();
    for (const Eigen::Vector3d& p : out)
        if (isFinitePoint(p)) {
            centroid += p.head<2>();
            ++n;
        }
    if (n > 0)
        centroid /= n;

    double distanceSum = 0.0;
    for (Eigen::Vector3d& p : out)
        if (isFinitePoint(p)) {
            p.head<2>() -= centroid;
            distanceSum += p.head<2>().norm();
        }
    const double scale = distanceSum > 0.0 ? std::sqrt(2.0) / (distanceSum / n) : 1.0;
    for (Eigen::Vector3d& p : out)
        p.head<2>() *= scale;

    if (T) {
        *T << scale, 0.0, -scale * centroid.x(),
              0.0, scale, -scale * centroid.y(),
              0.0, 0.0, 1.0;
    }
}

bool estimateHomography(const PointList& src, const PointList& dst, Eigen::Matrix3d& H)
{
    if (src.size() != dst.size())
        return false;

    PointList srcN, dstN;
    Eigen::Matrix3d T1, T2;
    normalizePoints(src, srcN, &T1);
    normalizePoints(dst, dstN, &T2);

    Eigen::Matrix<double, Eigen::Dynamic, 9> A(2 * srcN.size(), 9);
    for (std::size_t i = 0; i < srcN.size(); ++i) {
        const Eigen::RowVector3d s = srcN[i].transpose();
        const double u = dstN[i].x(), v = dstN[i].y(), w = dstN[i].z();
        A.row(2 * i) << Eigen::RowVector3d::Zero(), -w * s, v * s;
        A.row(2 * i + 1) << w * s, Eigen::RowVector3d::Zero(), -u * s;
    }
    const Eigen::Matrix<double, 9, 9> M = A.transpose() * A;
    const Eigen::JacobiSVD<Eigen::Matrix<double, 9, 9>> svd(M, Eigen::ComputeFullV);
    const Eigen::Matrix<double, 9, 1> h = svd.matrixV().col(8);

    // h holds the homography row by row.
    const Eigen::Matrix3d Hn = Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(h.data());
    H = T2.inverse() * Hn * T1;
    return true;
}

bool estimateCameraMatrix(const WorldToDepth& project, Eigen::Matrix3d& K)
{
    // Corners of two 400 mm squares, 0.5 m and 1.5 m in front of the camera.
    static constexpr std::array<std::array<float, 3>, 8> box{{{-200, -200, 500},
                                                              {-200, 200, 500},
                                                              {200, 200, 500},
                                                              {200, -200, 500},
                                                              {-200, -200, 1500},
                                                              {-200, 200, 1500},
                                                              {200, 200, 1500},
                                                              {200, -200, 1500}}};
    PointList normalised, pixels;
    for (const auto& [x, y, z] : box) {
        float u = 0.0f, v = 0.0f;
        if (!project(x, y, z, u, v))
            return false;
        const float xn = x / z, yn = y / z;
        normalised.emplace_back(xn, yn, 1.0);
        pixels.emplace_back(u, v, 1.0);
    }

    Eigen::Matrix3d H;
    estimateHomography(normalised, pixels, H);
    H /= H(2, 2);
    // World y grows upwards, image rows downwards.
    H(1, 1) = -H(1, 1);
    K = H;
    return true;
}

}  // namespace Veltrane
