#include "reconstruction/IcpTracking.h"

#include "reconstruction/FusionConstants.h"
#include "reconstruction/VectorClones.h"
#include "reconstruction/VectorMap.h"

#include <Eigen/Cholesky>
#include <Eigen/Eigenvalues>
#include <Eigen/Geometry>
#include <Eigen/SVD>

#include <cmath>
#include <vector>

namespace Veltrane::IcpTracking {

namespace {

/// Smallest eigenvalue of the unit-diagonal normal matrix, relative to its
/// largest, below which a direction of motion counts as unconstrained.
constexpr double degeneracyRatio = 1e-6;

Eigen::Vector3f transformPoint(const Eigen::Matrix4f& m, const Eigen::Vector3f& p)
{
    return m.topLeftCorner<3, 3>() * p + m.topRightCorner<3, 1>();
}

/// Projection onto the pixels of a level: its intrinsics and size.
struct PixelProjection {
    float fx, fy, cx, cy;
    int width, height;

    explicit PixelProjection(const Level& level)
        : fx(level.intrinsics(0, 0)), fy(level.intrinsics(1, 1)), cx(level.intrinsics(0, 2)),
          cy(level.intrinsics(1, 2)), width(level.vertices->width), height(level.vertices->height)
    {
    }

    /// The index u + v width of the pixel nearest to the image of camera
    /// point (px, py, pz), or -1 when the point lies in the camera plane or
    /// its pixel is not strictly inside the image. Free of branches, so that
    /// a loop over a row can be vectorised.
    int pixelOf(float px, float py, float pz) const
    {
        const float uf = std::floor((fx * px + cx * pz) / pz + 0.5f);
        const float vf = std::floor((fy * py + cy * pz) / pz + 0.5f);
        const bool inside = (std::abs(pz) > 1e-6f) & (uf >= 1.0f) & (uf <= width - 2) & (vf >= 1.0f) &
                            (vf <= height - 2);
        return inside ? static_cast<int>(uf) + static_cast<int>(vf) * width : -1;
    }
};

Eigen::Map<const Eigen::Vector3f> vectorAt(const TypedImage<float>& map, int pixel)
{
    return Eigen::Map<const Eigen::Vector3f>(map.typedData() + 3 * static_cast<std::size_t>(pixel));
}

/// The test of a projected pair: true when the frame holds a vertex m at
/// `pixel`, closer than `maxDistance` to p (the predicted point in camera
/// coordinates), and the predicted normal n there, rotated into the camera,
/// meets the frame's normal with |cosine| above `cosLimit`.
bool acceptMatch(const Level& level, int pixel, const Eigen::Vector3f& p, const Eigen::Matrix4f& inverseEstimate,
                 float maxDistance, float cosLimit, Eigen::Vector3f& m, Eigen::Vector3f& n)
{
    m = vectorAt(*level.vertices, pixel);
    if (VectorMap::isInvalid(m))
        return false;
    const Eigen::Vector3f measuredNormal = vectorAt(*level.normals, pixel);
    n = vectorAt(*level.predictedNormals, pixel);
    const Eigen::Vector3f rotatedNormal = inverseEstimate.topLeftCorner<3, 3>() * n;
    return (p - m).norm() < maxDistance && std::abs(rotatedNormal.dot(measuredNormal)) > cosLimit;
}

}  // namespace

int findCorrespondence(int x, int y, const Level& level, const Eigen::Matrix4f& inverseEstimate,
                       float maxDistance, float cosLimit, Correspondence& pair)
{
    const int w = level.vertices->width;
    const int h = level.vertices->height;
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1)
        return -1;
    const Eigen::Vector3f q = VectorMap::at(*level.predictedVertices, x, y);
    if (VectorMap::isInvalid(q))
        return -1;
    const Eigen::Vector3f p = transformPoint(inverseEstimate, q);
    const int pixel = PixelProjection(level).pixelOf(p.x(), p.y(), p.z());
    Eigen::Vector3f m, n;
    if (pixel < 0 || !acceptMatch(level, pixel, p, inverseEstimate, maxDistance, cosLimit, m, n))
        return -1;
    pair = {q, n, m};
    return pixel;
}

namespace {

/// The point-to-plane row a and residual r of the pair (q, n) of the
/// prediction and m of the frame.
void linearisePair(const Eigen::Vector3f& q, const Eigen::Vector3f& n, const Eigen::Vector3f& m,
                   const Eigen::Matrix4f& estimate, Vector6f& a, float& r)
{
    const Eigen::Vector3f s = transformPoint(estimate, m);
    a << n.y() * s.z() - n.z() * s.y(), n.z() * s.x() - n.x() * s.z(), n.x() * s.y() - n.y() * s.x(), n.x(),
        n.y(), n.z();
    r = n.dot(q - s);
}

}  // namespace

bool linearise(int x, int y, const Level& level, const Eigen::Matrix4f& estimate,
               const Eigen::Matrix4f& inverseEstimate, float maxDistance, float cosLimit, Vector6f& a,
               float& r)
{
    Correspondence pair;
    if (findCorrespondence(x, y, level, inverseEstimate, maxDistance, cosLimit, pair) < 0)
        return false;
    linearisePair(pair.predictedVertex, pair.predictedNormal, pair.measuredVertex, estimate, a, r);
    return true;
}

void computeRows(const Level& level, const Eigen::Matrix4f& estimate, float maxDistance,
                 float cosLimit, float* matrixRows, float* vectorRows)
{
    const int w = level.vertices->width;
    const int h = level.vertices->height;
    const std::size_t planeSize = static_cast<std::size_t>(w) * h;
    const Eigen::Matrix4f inverseEstimate = estimate.inverse();
#pragma omp parallel for schedule(dynamic, 1)
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t pixel = static_cast<std::size_t>(y) * w + x;
            Vector6f a;
            float r;
            if (!linearise(x, y, level, estimate, inverseEstimate, maxDistance, cosLimit, a, r)) {
                a.setZero();
                r = 0.0f;
            }
            int k = 0;
            for (int i = 0; i < 6; ++i)
                for (int j = i; j < 6; ++j)
                    matrixRows[k++ * planeSize + pixel] = a[i] * a[j];
            for (int i = 0; i < 6; ++i)
                vectorRows[i * planeSize + pixel] = a[i] * r;
        }
    }
}

namespace {

using Matrix6d = Eigen::Matrix<double, 6, 6>;
using Vector6d = Eigen::Matrix<double, 6, 1>;

/// The normal equations of one image row: the upper triangle of the matrix
/// and the right-hand side.
struct RowSums {
    Matrix6d matrix = Matrix6d::Zero();
    Vector6d vector = Vector6d::Zero();
};

/// One thread's projection of an image row's predicted vertices into the
/// current camera: per pixel x the point (3 floats) and the index of the
/// frame's pixel it projects to, -1 for no candidate.
struct ProjectedRow {
    explicit ProjectedRow(int width) : points(3 * static_cast<std::size_t>(width)), pixels(width) {}

    std::vector<float> points;
    std::vector<int> pixels;
};

/// The first steps of `findCorrespondence` for the interior pixels of image
/// row y, as one loop over the row that the compiler vectorises.
KORVASTEL_VECTOR_CLONES void
projectRow(const Level& level, const Eigen::Matrix4f& inverseEstimate, int y, ProjectedRow& row)
{
    const PixelProjection projection(level);
    const int w = level.vertices->width;
    const Eigen::Matrix3f rotation = inverseEstimate.topLeftCorner<3, 3>();
    const Eigen::Vector3f translation = inverseEstimate.topRightCorner<3, 1>();
    const float* __restrict vertices = level.predictedVertices->typedData() + 3 * static_cast<std::size_t>(y) * w;
    float* __restrict points = row.points.data();
    int* __restrict pixels = row.pixels.data();
    for (int x = 1; x < w - 1; ++x) {
        const Eigen::Vector3f q(vertices[3 * x], vertices[3 * x + 1], vertices[3 * x + 2]);
        const Eigen::Vector3f p = rotation * q + translation;
        points[3 * x] = p.x();
        points[3 * x + 1] = p.y();
        points[3 * x + 2] = p.z();
        const int pixel = projection.pixelOf(p.x(), p.y(), p.z());
        pixels[x] = VectorMap::isInvalid(q) ? -1 : pixel;
    }
}

/// The sums of image row y, in double in pixel order: the row's projection,
/// then per candidate pixel the rest of the search. Flattened: the search is
/// inlined into the loop, whose loads of the level's maps and matrices then
/// stay out of it.
///
/// Each pixel adds the outer product of b = (a, r, 0) with (a_0 .. a_5): row i
/// of `products` sums a_i b, so that the 27 sums needed (the upper triangle
/// and a r) are updated together, a broadcast times one vector per row, and
/// each is still its own sum in pixel order. The products of two floats are
/// exact in double, so fused multiply-adds give the same sums.
__attribute__((flatten)) KORVASTEL_VECTOR_CLONES RowSums
accumulateRow(const Level& level, const Eigen::Matrix4f& estimate, const Eigen::Matrix4f& inverseEstimate,
              float maxDistance, float cosLimit, int y, ProjectedRow& row)
{
    RowSums sums;
    if (y == 0 || y == level.vertices->height - 1)
        return sums;
    projectRow(level, inverseEstimate, y, row);
    // Summed locally: rows of other threads lie next to this one's result.
    double products[6][8] = {};
    for (int x = 1; x < level.vertices->width - 1; ++x) {
        const int pixel = row.pixels[x];
        if (pixel < 0)
            continue;
        const Eigen::Map<const Eigen::Vector3f> p(row.points.data() + 3 * x);
        Eigen::Vector3f m, n;
        if (!acceptMatch(level, pixel, p, inverseEstimate, maxDistance, cosLimit, m, n))
            continue;
        Vector6f a;
        float r;
        linearisePair(VectorMap::at(*level.predictedVertices, x, y), n, m, estimate, a, r);
        const double b[8] = {a[0], a[1], a[2], a[3], a[4], a[5], r, 0.0};
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 8; ++j)
                products[i][j] += b[i] * b[j];
    }
    for (int i = 0; i < 6; ++i) {
        for (int j = i; j < 6; ++j)
            sums.matrix(i, j) = products[i][j];
        sums.vector[i] = products[i][6];
    }
    return sums;
}

}  // namespace

void accumulateSystem(const Level& level, const Eigen::Matrix4f& estimate, float maxDistance,
                      float cosLimit, Matrix6f& normalMatrix, Vector6f& rightHandSide)
{
    const int h = level.vertices->height;
    const Eigen::Matrix4f inverseEstimate = estimate.inverse();
    std::vector<RowSums> rows(static_cast<std::size_t>(h));
#pragma omp parallel
    {
        ProjectedRow row(level.vertices->width);
#pragma omp for schedule(dynamic, 1)
        for (int y = 0; y < h; ++y)
            rows[y] = accumulateRow(level, estimate, inverseEstimate, maxDistance, cosLimit, y, row);
    }
    Matrix6d m = Matrix6d::Zero();
    Vector6d v = Vector6d::Zero();
    for (const RowSums& row : rows) {
        m += row.matrix;
        v += row.vector;
    }
    normalMatrix = m.selfadjointView<Eigen::Upper>().toDenseMatrix().cast<float>();
    rightHandSide = v.cast<float>();
}

void sumRows(const float* matrixRows, const float* vectorRows, std::size_t planeSize,
             Matrix6f& normalMatrix, Vector6f& rightHandSide)
{
    // Each plane is one sequential sum in pixel order; the planes are
    // independent, so they are summed side by side.
    float sums[matrixPlanes + vectorPlanes];
#pragma omp parallel for schedule(dynamic, 1)
    for (int plane = 0; plane < matrixPlanes + vectorPlanes; ++plane) {
        const float* values = plane < matrixPlanes ? matrixRows + plane * planeSize
                                                   : vectorRows + (plane - matrixPlanes) * planeSize;
        float sum = 0.0f;
        for (std::size_t i = 0; i < planeSize; ++i)
            sum += values[i];
        sums[plane] = sum;
    }
    unpackSums(sums, normalMatrix, rightHandSide);
}

void unpackSums(const float* sums, Matrix6f& normalMatrix, Vector6f& rightHandSide)
{
    int k = 0;
    for (int i = 0; i < 6; ++i)
        for (int j = i; j < 6; ++j)
            normalMatrix(i, j) = normalMatrix(j, i) = sums[k++];
    for (int i = 0; i < 6; ++i)
        rightHandSide[i] = sums[matrixPlanes + i];
}

bool isDegenerate(const Matrix6f& normalMatrix)
{
    const Eigen::Matrix<double, 6, 6> h = normalMatrix.cast<double>();
    const Eigen::Matrix<double, 6, 1> diagonal = h.diagonal();
    if (!h.allFinite() || !(diagonal.minCoeff() > 0.0))
        return true;
    const Eigen::Matrix<double, 6, 1> scale = diagonal.cwiseSqrt().cwiseInverse();
    const Eigen::Matrix<double, 6, 6> normalised = scale.asDiagonal() * h * scale.asDiagonal();
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> solver(normalised, Eigen::EigenvaluesOnly);
    const Eigen::Matrix<double, 6, 1>& eigenvalues = solver.eigenvalues();  // ascending
    return !(eigenvalues[0] >= degeneracyRatio * eigenvalues[5]);
}

bool solve(const Matrix6f& normalMatrix, const Vector6f& rightHandSide, Vector6f& x)
{
    if (isDegenerate(normalMatrix))
        return false;
    const Eigen::LLT<Matrix6f> cholesky(normalMatrix);
    x = cholesky.solve(rightHandSide);
    return cholesky.info() == Eigen::Success && x.allFinite();
}

Eigen::Matrix4f increment(const Vector6f& x)
{
    Eigen::Matrix3f m;
    m << 1.0f, x[2], -x[1], -x[2], 1.0f, x[0], x[1], -x[0], 1.0f;
    const Eigen::JacobiSVD<Eigen::Matrix3f> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
    Eigen::Matrix4f result = Eigen::Matrix4f::Identity();
    result.topLeftCorner<3, 3>() = svd.matrixU() * svd.matrixV().transpose();
    result.topRightCorner<3, 1>() = x.tail<3>() / svd.singularValues()[0];
    return result;
}

Result track(int levelCount, const SystemBuilder& buildSystem, const Eigen::Matrix4f& previousPose,
             const Settings& settings)
{
    Result result;
    result.pose = previousPose;
    Eigen::Matrix4f estimate = previousPose.inverse();
    const float maxDistance = static_cast<float>(settings.distanceThreshold);
    const float cosLimit = static_cast<float>(
        std::cos(static_cast<double>(static_cast<float>(settings.angleThresholdDegrees) * 3.1415927f / 180.0f)));

    bool solved = false;
    for (int l = levelCount - 1; l >= 0; --l) {
        const int iterations = l < static_cast<int>(settings.iterations.size()) ? settings.iterations[l] : 0;
        for (int iteration = 0; iteration < iterations; ++iteration) {
            Matrix6f h;
            Vector6f g;
            Vector6f x;
            if (!buildSystem(l, estimate, maxDistance, cosLimit, h, g)) {
                result.tracked = false;
                result.failed = true;
                return result;
            }
            if (!solve(h, g, x))
                break;  // a degenerate level is skipped; the finer levels go on
            estimate = increment(x) * estimate;
            solved = true;
            if (std::sqrt(static_cast<double>(x.squaredNorm())) < settings.convergenceThreshold)
                break;
        }
    }
    if (!solved) {
        result.tracked = false;
        return result;
    }

    const Eigen::Matrix4f newPose = estimate.inverse();
    const Eigen::Matrix4f motion = newPose * previousPose.inverse();
    const float translation = motion.topRightCorner<3, 1>().norm();
    const Eigen::Quaternionf rotation(Eigen::Matrix3f(motion.topLeftCorner<3, 3>()));
    const double angle = 2.0 * std::acos(std::min(1.0, std::abs(static_cast<double>(rotation.normalized().w()))));
    if (translation > settings.maxTranslation || angle > settings.maxRotationDegrees * M_PI / 180.0) {
        result.tracked = false;
    } else if (!(settings.skipSmallMotion && translation < FusionConstants::smallMotionTranslation &&
                 angle < FusionConstants::smallMotionRotation)) {
        result.pose = newPose;
        result.fuse = true;
    }
    return result;
}

Result track(const std::vector<Level>& levels, const Eigen::Matrix4f& previousPose, const Settings& settings)
{
    const SystemBuilder accumulate = [&levels](int level, const Eigen::Matrix4f& estimate, float maxDistance,
                                               float cosLimit, Matrix6f& normalMatrix, Vector6f& rightHandSide) {
        accumulateSystem(levels[level], estimate, maxDistance, cosLimit, normalMatrix, rightHandSide);
        return true;
    };
    return track(static_cast<int>(levels.size()), accumulate, previousPose, settings);
}

}  // namespace Veltrane::IcpTracking
