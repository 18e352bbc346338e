#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

#include <vector>

namespace Veltrane {

/// Camera tracking by point-to-plane ICP with projective data association,
/// coarse to fine over the image pyramid.
namespace IcpTracking {

using Matrix6f = Eigen::Matrix<float, 6, 6>;
using Vector6f = Eigen::Matrix<float, 6, 1>;

/// Number of per-pixel planes of the normal matrix (its upper triangle) and
/// of the right-hand side.
constexpr int matrixPlanes = 21;
constexpr int vectorPlanes = 6;

/// One pyramid level: the frame's maps in camera coordinates and the
/// prediction's maps in volume coordinates, all of the level's size.
struct Level {
    const TypedImage<float>* vertices;
    const TypedImage<float>* normals;
    const TypedImage<float>* predictedVertices;
    const TypedImage<float>* predictedNormals;
    Eigen::Matrix3f intrinsics;  ///< camera matrix of this level
};

struct Settings {
    std::vector<int> iterations;  ///< per level, index 0 = finest
    double distanceThreshold;     ///< mm
    double angleThresholdDegrees;
    double convergenceThreshold;  ///< norm of the solved 6-vector
    double maxTranslation;        ///< mm of plausible motion per frame
    double maxRotationDegrees;
    bool skipSmallMotion;         ///< below 1 mm and 2 degrees: keep the pose, do not fuse
};

/// A matched pair: predicted vertex and normal (volume coordinates) and the
/// measured vertex (camera coordinates).
struct Correspondence {
    Eigen::Vector3f predictedVertex;
    Eigen::Vector3f predictedNormal;
    Eigen::Vector3f measuredVertex;
};

/// Projects the predicted vertex of pixel (x, y) into the current frame with
/// `inverseEstimate` (volume to current camera) and accepts the pair when the
/// points are closer than `maxDistance` and the normals' |cosine| exceeds
/// `cosLimit`. The matched pixel's index, or -1 when rejected.
int findCorrespondence(int x, int y, const Level& level, const Eigen::Matrix4f& inverseEstimate,
                       float maxDistance, float cosLimit, Correspondence& pair);

/// Per-pixel products of the linearised system for `estimate` (current camera
/// to volume): `matrixRows` receives 21 planes, `vectorRows` 6, each one
/// plane of width x height floats; a rejected pixel contributes zeros.
void computeRows(const Level& level, const Eigen::Matrix4f& estimate, float maxDistance,
                 float cosLimit, float* matrixRows, float* vectorRows);

/// Sums the planes (each in pixel order) into the normal matrix and vector.
void sumRows(const float* matrixRows, const float* vectorRows, std::size_t planeSize,
             Matrix6f& normalMatrix, Vector6f& rightHandSide);

/// True when the system cannot determine all six degrees of freedom: a zero
/// or non-finite diagonal, or a normalised matrix (unit diagonal) whose
/// smallest eigenvalue is below a fixed fraction of its largest. Independent
/// of the units and the number of pixels.
bool isDegenerate(const Matrix6f& normalMatrix);

/// The rigid increment of a solution: rotation by -(x0, x1, x2) (small-angle
/// matrix projected onto a rotation) and translation (x3, x4, x5).
Eigen::Matrix4f increment(const Vector6f& solution);

struct Result {
    bool tracked = true;   ///< false: the frame is lost
    bool fuse = false;     ///< the frame should be fused at `pose`
    Eigen::Matrix4f pose;  ///< new pose (volume to camera); the old one unless fuse
};

/// Aligns the frame with the prediction made from `previousPose`, refining
/// coarse to fine over `levels` (index 0 = finest), and checks the motion.
/// `matrixRows` and `vectorRows` are scratch space for the finest level.
Result track(const std::vector<Level>& levels, const Eigen::Matrix4f& previousPose,
             const Settings& settings, float* matrixRows, float* vectorRows);

}  // namespace IcpTracking
}  // namespace Veltrane
