#include "render/ManipulatorGeometry.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Veltrane {

bool rayHitsBox(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                const Eigen::Vector3d& center, const Eigen::Vector3d& size)
{
    float enter = 0.0f;  // the ray starts at its origin
    float leave = std::numeric_limits<float>::infinity();
    for (int k = 0; k < 3; ++k) {
        const float o = static_cast<float>(origin[k]);
        const float d = static_cast<float>(direction[k]);
        const float low = static_cast<float>(center[k] - size[k] / 2);
        const float high = static_cast<float>(center[k] + size[k] / 2);
        if (d == 0.0f) {
            if (o < low || o > high)
                return false;
            continue;
        }
        float t0 = (low - o) / d;
        float t1 = (high - o) / d;
        if (d < 0.0f)
            std::swap(t0, t1);
        enter = std::max(enter, t0);
        leave = std::min(leave, t1);
    }
    return enter <= leave;
}

std::optional<Eigen::Vector3d> closestPointOnAxis(const Eigen::Vector3d& point,
                                                  const Eigen::Vector3d& axis,
                                                  const Eigen::Vector3d& a,
                                                  const Eigen::Vector3d& b)
{
    const Eigen::Vector3d& u = axis;
    const Eigen::Vector3d v = b - a;
    const Eigen::Vector3d w = a - point;
    const double uu = u.dot(u);
    const double vv = v.dot(v);
    const double uv = u.dot(v);
    const double denominator = uu * vv - uv * uv;
    if (!(std::abs(denominator) > 1e-12 * uu * vv))
        return std::nullopt;
    const double s = (u.dot(w) * vv - v.dot(w) * uv) / denominator;
    return point + s * u;
}

namespace {

/// The ring point nearest to `p`: p's direction from the centre within the
/// ring's plane; any direction in the plane when p lies on the axis.
Eigen::Vector3d nearestRingPoint(const Eigen::Vector3d& p, const Eigen::Vector3d& center,
                                 const Eigen::Vector3d& normal, double radius)
{
    const Eigen::Vector3d e = p - center;
    Eigen::Vector3d inPlane = e - e.dot(normal) * normal;
    if (inPlane.norm() < 1e-12)
        inPlane = normal.unitOrthogonal();
    return center + radius * inPlane.normalized();
}

}  // namespace

RingDistance ringDistance(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                          const Eigen::Vector3d& center, const Eigen::Vector3d& normal,
                          double radius)
{
    const auto distanceAt = [&](double t) {
        const Eigen::Vector3d e = origin + t * direction - center;
        const double h = e.dot(normal);
        const double rho = std::sqrt(std::max(e.squaredNorm() - h * h, 0.0));
        return std::sqrt((rho - radius) * (rho - radius) + h * h);
    };
    const Eigen::VectorXd t = dampedLeastSquares(
        Eigen::VectorXd::Zero(1),
        [&](const Eigen::VectorXd& x) { return Eigen::VectorXd::Constant(1, distanceAt(x[0])); });
    const Eigen::Vector3d rayPoint = origin + t[0] * direction;
    return {distanceAt(t[0]), t[0], rayPoint,
            nearestRingPoint(rayPoint, center, normal, radius)};
}

Eigen::VectorXd dampedLeastSquares(
    Eigen::VectorXd x, const std::function<Eigen::VectorXd(const Eigen::VectorXd&)>& residual,
    int maxIterations, double decreaseTolerance, double costTolerance)
{
    constexpr double step = 1e-4;
    double lambda = 0.01;
    Eigen::VectorXd r = residual(x);
    double cost = r.norm();
    double decrease = decreaseTolerance + 1.0;
    Eigen::MatrixXd jacobian(r.size(), x.size());
    bool accepted = true;
    for (int iteration = 0;
         decrease > decreaseTolerance && cost > costTolerance && iteration < maxIterations;
         ++iteration) {
        if (accepted) {
            for (int i = 0; i < x.size(); ++i) {
                Eigen::VectorXd shifted = x;
                shifted[i] += step;
                jacobian.col(i) = (residual(shifted) - r) / step;
            }
        }
        Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
        normal.diagonal().array() += lambda;
        const Eigen::VectorXd delta = normal.ldlt().solve(jacobian.transpose() * r);
        const Eigen::VectorXd candidate = x - delta;
        const Eigen::VectorXd candidateResidual = residual(candidate);
        const double candidateCost = candidateResidual.norm();
        accepted = candidateCost < cost;
        if (accepted) {
            decrease = cost - candidateCost;
            x = candidate;
            r = candidateResidual;
            cost = candidateCost;
            lambda *= 0.1;
        } else {
            lambda *= 10.0;
        }
    }
    return x;
}

}  // namespace Veltrane
