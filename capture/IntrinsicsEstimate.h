#pragma once

#include <Eigen/Core>

#include <functional>
#include <vector>

namespace Veltrane {

/// Homogeneous 2-D points (x, y, w).
using PointList = std::vector<Eigen::Vector3d>;

/// Plane homography H with dst[i] ~ H * src[i], fitted by the normalised
/// direct linear transform (least squares over all point pairs). The scale and
/// sign of H are those of the fit. False, with H untouched, when the two lists
/// differ in length.
bool estimateHomography(const PointList& src, const PointList& dst, Eigen::Matrix3d& H);

/// `out` := `in` dehomogenised, moved to the centroid of its finite points and
/// scaled so that their mean distance from it is sqrt(2). Points at infinity
/// (|w| <= 1e-10) take no part in the centroid and the scale and are only
/// scaled. When `T` is given it receives the similarity that maps `in` to
/// `out`. Without finite points nothing is moved; when all finite points
/// coincide nothing is scaled.
void normalizePoints(const PointList& in, PointList& out, Eigen::Matrix3d* T = nullptr);

/// Projects a world point (millimetres, y up) to depth pixel coordinates
/// (column u, row v); false when the projection failed.
using WorldToDepth = std::function<bool(float x, float y, float z, float& u, float& v)>;

/// The depth camera's matrix (fx, fy on the diagonal, cx, cy in the third
/// column, 1 at (2,2)) read off the homography from eight projected points of
/// a box in front of the camera to their pixels. False, with K untouched, when
/// a projection fails.
bool estimateCameraMatrix(const WorldToDepth& project, Eigen::Matrix3d& K);

}  // namespace Veltrane
