#include "render/SlicePlane.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Veltrane {
namespace {

using Eigen::Vector3d;

Vector3d toEigen(const GlVector& v)
{
    return {v[0], v[1], v[2]};
}

Vector3d toEigen(const SlicePlane::Corner& corner)
{
    return {corner[0], corner[1], corner[2]};
}

/// Where a line meets a rectangle: the range of line parameters between its
/// first and its last crossing with the rectangle's edges.
struct Chord {
    double from;
    double to;
};

/// The chord that the line `q` + t `u` (unit `u`, lying in the rectangle's
/// plane) cuts out of `plane`'s rectangle; none when it misses it.
std::optional<Chord> chordOf(const SlicePlane& plane, const Vector3d& q, const Vector3d& u)
{
    const auto corners = plane.corners();
    std::optional<Chord> chord;
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const Vector3d start = toEigen(corners[i]);
        const Vector3d edge = toEigen(corners[(i + 1) % corners.size()]) - start;
        const double length = edge.norm();
        if (length <= 0.0)
            continue;
        const Vector3d v = edge / length;
        // t u - s v = start - q in the least-squares sense.
        Eigen::Matrix2d normal;
        normal << u.dot(u), -u.dot(v), u.dot(v), -v.dot(v);
        if (std::abs(normal.determinant()) <= 1e-10)
            continue;
        const Vector3d r = start - q;
        const Eigen::Vector2d ts = normal.inverse() * Eigen::Vector2d(u.dot(r), v.dot(r));
        const double tolerance = 1e-9 * length;
        if (ts[1] < -tolerance || ts[1] > length + tolerance)
            continue;
        if (!chord)
            chord = Chord{ts[0], ts[0]};
        chord->from = std::min(chord->from, ts[0]);
        chord->to = std::max(chord->to, ts[0]);
    }
    return chord;
}

}  // namespace

SlicePlane::SlicePlane(const GlMatrix& matrix, double extent0, double extent1)
    : matrix(matrix), extents{extent0, extent1}
{
}

SlicePlane::SlicePlane(int orientation) : matrix(identityGlMatrix())
{
    // Columns: x axis, y axis, normal.
    if (orientation == 1)
        matrix = {0, 1, 0, 0, 0, 0, -1, 0, -1, 0, 0, 0, 0, 0, 0, 1};
    else if (orientation == 2)
        matrix = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1};
}

GlVector SlicePlane::column(int column) const
{
    const double* c = &matrix[static_cast<std::size_t>(column) * 4];
    return {c[0], c[1], c[2]};
}

void SlicePlane::setCentre(const GlVector& centre)
{
    std::copy(centre.begin(), centre.end(), matrix.begin() + 12);
}

std::array<SlicePlane::Corner, 4> SlicePlane::corners() const
{
    static constexpr double signs[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
    std::array<Corner, 4> result{};
    for (int i = 0; i < 4; ++i)
        for (int row = 0; row < 4; ++row)
            result[i][row] = matrix[12 + row] + signs[i][0] * extents[0] * matrix[row] +
                             signs[i][1] * extents[1] * matrix[4 + row];
    return result;
}

int dominantAxis(const GlVector& v)
{
    const double x = std::abs(v[0]);
    const double y = std::abs(v[1]);
    const double z = std::abs(v[2]);
    if (z > std::max(x, y))
        return 2;
    return y > x ? 1 : 0;
}

int SlicePlane::dominantAxis() const
{
    return Veltrane::dominantAxis(normal());
}

bool SlicePlane::intersect(const SlicePlane& other, double p0[3], double p1[3]) const
{
    const Vector3d n = toEigen(normal());
    const Vector3d m = toEigen(other.normal());
    const Vector3d d = m.cross(n);
    if (d.cwiseAbs().maxCoeff() < 1e-10)
        return false;
    const Vector3d u = d.normalized();

    // The point of the line nearest to the origin, on both planes.
    const double hn = n.dot(toEigen(centre()));
    const double hm = m.dot(toEigen(other.centre()));
    const double w = n.dot(m);
    const double a = (hn - w * hm) / (1.0 - w * w);
    const double b = (hm - w * hn) / (1.0 - w * w);
    const Vector3d q = a * n + b * m;

    const std::optional<Chord> mine = chordOf(*this, q, u);
    const std::optional<Chord> theirs = chordOf(other, q, u);
    if (!mine || !theirs)
        return false;
    const double from = std::max(mine->from, theirs->from);
    const double to = std::min(mine->to, theirs->to);
    if (from > to)
        return false;
    for (int i = 0; i < 3; ++i) {
        p0[i] = q[i] + from * u[i];
        p1[i] = q[i] + to * u[i];
    }
    return true;
}

}  // namespace Veltrane
