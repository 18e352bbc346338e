#pragma once

#include <Eigen/Core>

#include <functional>
#include <optional>

namespace Veltrane {

/// Whether the ray from `origin` along `direction` meets the axis-aligned box
/// of `center` and edge lengths `size`; the slab test in single precision.
/// Only what lies ahead of the origin counts.
bool rayHitsBox(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                const Eigen::Vector3d& center, const Eigen::Vector3d& size);

/// The point of the line through `point` along `axis` nearest to the line
/// through `a` along `b` - `a`; none when the two lines are parallel.
std::optional<Eigen::Vector3d> closestPointOnAxis(const Eigen::Vector3d& point,
                                                  const Eigen::Vector3d& axis,
                                                  const Eigen::Vector3d& a,
                                                  const Eigen::Vector3d& b);

/// Where a ray passes a circle in space most closely.
struct RingDistance {
    double distance;          ///< from the ray point to the ring point
    double rayParameter;      ///< t of the ray point origin + t * direction
    Eigen::Vector3d rayPoint;
    Eigen::Vector3d ringPoint;
};

/// The point of the ray from `origin` along the unit `direction` nearest to
/// the ring of `center`, unit `normal` and `radius`, found by damped least
/// squares from the ray's origin: the nearest such point in the direction the
/// search goes, not necessarily the global one.
RingDistance ringDistance(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                          const Eigen::Vector3d& center, const Eigen::Vector3d& normal,
                          double radius);

/// Levenberg's damped Gauss-Newton: minimises the Euclidean norm of
/// `residual` starting from `x`, with a forward-difference Jacobian (step
/// 1e-4), the damping starting at 0.01, dropping tenfold after an accepted
/// step and rising tenfold after a rejected one. Stops after `maxIterations`
/// steps, when an accepted step lowered the norm by no more than
/// `decreaseTolerance`, or when the norm is no more than `costTolerance`.
Eigen::VectorXd dampedLeastSquares(
    Eigen::VectorXd x, const std::function<Eigen::VectorXd(const Eigen::VectorXd&)>& residual,
    int maxIterations = 100, double decreaseTolerance = 1e-4, double costTolerance = 1e-4);

}  // namespace Veltrane
