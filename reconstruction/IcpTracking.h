#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

#include <functional>
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

/// The point-to-plane term of pixel (x, y) for `estimate` (current camera to
/// volume; `inverseEstimate` its inverse): the row a = (n x s, n) and the
/// residual r = n . (q - s), s the measured point in volume coordinates.
/// False when the pixel has no correspondence.
bool linearise(int x, int y, const Level& level, const Eigen::Matrix4f& estimate,
               const Eigen::Matrix4f& inverseEstimate, float maxDistance, float cosLimit, Vector6f& a,
               float& r);

/// Per-pixel products of the linearised system: `matrixRows` receives the 21
/// upper-triangle products a_i a_j (row by row: (0,0), (0,1) .. (5,5)),
/// `vectorRows` the 6 products a_i r, each as one plane of width x height
/// floats; a pixel without correspondence holds zeros.
void computeRows(const Level& level, const Eigen::Matrix4f& estimate, float maxDistance,
                 float cosLimit, float* matrixRows, float* vectorRows);

/// The normal matrix and vector from the 27 plane sums: the 21 upper-triangle
/// entries in the order of `computeRows`, then the 6 right-hand-side entries.
void unpackSums(const float* sums, Matrix6f& normalMatrix, Vector6f& rightHandSide);

/// Sums the planes of `computeRows` (each in pixel order) into the normal
/// matrix and vector.
void sumRows(const float* matrixRows, const float* vectorRows, std::size_t planeSize,
             Matrix6f& normalMatrix, Vector6f& rightHandSide);

/// The normal equations of the whole level, as `sumRows` of `computeRows`
/// gives them but without the per-pixel planes: each image row is summed in
/// double, then the rows in order, so the result does not depend on the
/// number of threads.
void accumulateSystem(const Level& level, const Eigen::Matrix4f& estimate, float maxDistance,
                      float cosLimit, Matrix6f& normalMatrix, Vector6f& rightHandSide);

/// True when the system cannot determine all six degrees of freedom: a zero
/// or non-finite diagonal, or a normalised matrix (unit diagonal) whose
/// smallest eigenvalue is below a fixed fraction of its largest. Independent
/// of the units and the number of pixels.
bool isDegenerate(const Matrix6f& normalMatrix);

/// Solves the normal equations by Cholesky decomposition. False, with `x`
/// unspecified, when the system is degenerate or gives no finite solution.
bool solve(const Matrix6f& normalMatrix, const Vector6f& rightHandSide, Vector6f& x);

/// The rigid increment of a solution: rotation by -(x0, x1, x2) (small-angle
/// matrix projected onto a rotation) and translation (x3, x4, x5).
Eigen::Matrix4f increment(const Vector6f& solution);

struct Result {
    bool tracked = true;   ///< false: the frame is lost
    bool fuse = false;     ///< the frame should be fused at `pose`
    bool failed = false;   ///< a level's system could not be built; the frame is lost
    Eigen::Matrix4f pose;  ///< new pose (volume to camera); the old one unless fuse
};

/// Builds the normal equations of pyramid level `level` (0 = finest) for
/// `estimate` (current camera to volume) and the correspondence limits; false
/// when they could not be built (the builder logs why).
using SystemBuilder = std::function<bool(int level, const Eigen::Matrix4f& estimate, float maxDistance,
                                         float cosLimit, Matrix6f& normalMatrix, Vector6f& rightHandSide)>;

/// Aligns the frame with the prediction made from `previousPose`, refining
/// coarse to fine over `levelCount` levels whose systems `buildSystem` makes,
/// and checks the motion. A level whose system is degenerate (too few normals
/// on a coarse level of a far scene) ends without applying that update, and
/// the finer levels go on; the frame is lost when no level could be solved,
/// the motion is too large or a system could not be built (`failed`, at once).
Result track(int levelCount, const SystemBuilder& buildSystem, const Eigen::Matrix4f& previousPose,
             const Settings& settings);

/// `track` over the host's `levels` (index 0 = finest), each system made by
/// `accumulateSystem`.
Result track(const std::vector<Level>& levels, const Eigen::Matrix4f& previousPose,
             const Settings& settings);

}  // namespace IcpTracking
}  // namespace Veltrane
