#pragma once

#include <Eigen/Core>

namespace Veltrane {
namespace Geometry {

using Vector3d = Eigen::Vector3d;

/// A segment from `origin()` to `end()`; `direction()` is end - origin.
class Line {
public:
    Line(const Vector3d& from, const Vector3d& to);
    virtual ~Line() = default;

    const Vector3d& origin() const { return m_origin; }
    const Vector3d& direction() const { return m_direction; }
    const Vector3d& end() const { return m_end; }

    /// Moves the end to `p`, keeping the origin.
    void setEnd(const Vector3d& p);

    /// Intersects the infinite line through the segment with the plane
    /// through `planePoint` with normal `planeNormal`, in single precision.
    /// 1: one crossing, at `out` = origin + t * direction (t unbounded);
    /// 0: parallel and off the plane (`out` and `t` untouched);
    /// 2: the line lies in the plane (`out` = origin, t = 0).
    /// `t` may be null.
    int intersectPlane(const Vector3d& planePoint, const Vector3d& planeNormal, Vector3d& out,
                       float* t) const;

private:
    Vector3d m_origin;
    Vector3d m_direction;
    Vector3d m_end;
};

/// Three corners a, b, c.
class Triangle {
public:
    Triangle(const Vector3d& a, const Vector3d& b, const Vector3d& c);
    virtual ~Triangle() = default;

    /// Cuts the triangle by the plane through `planePoint` with normal
    /// `planeNormal`. The edges a->b, b->c, c->a are tried in that order; an
    /// edge counts as cut when the plane meets it at a parameter in 0 ... 1
    /// (single precision), or when it lies in the plane (cut at its start).
    /// Returns 1 when two edges are cut, with `segment` running from the cut
    /// on the first to the cut on the second, and `isolated` naming the corner
    /// that the two edges share: 0 for b, 1 for a, 2 for c. A plane through b
    /// that crosses the edge c->a cuts a->b and b->c at b; then the cut on
    /// c->a is taken as the second one, so `segment` is the real cut. A plane
    /// that only touches a corner gives a segment of length zero there.
    /// Returns 0 otherwise. `isolated` may be null; it is 0 unless set.
    int intersectPlane(const Vector3d& planePoint, const Vector3d& planeNormal, Line& segment,
                       int* isolated) const;

    Vector3d a;
    Vector3d b;
    Vector3d c;
};

}  // namespace Geometry
}  // namespace Veltrane
