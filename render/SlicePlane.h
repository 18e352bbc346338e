#pragma once

#include "render/GlObject.h"

#include <array>

namespace Veltrane {

/// A rectangle placed in 3-D space: the plane of a slice through an image or
/// a volume.
///
/// `matrix` holds, column by column, the rectangle's x axis, its y axis, its
/// normal (unit vectors, world units) and its centre (fourth entry 1);
/// `extents` are half the rectangle's size along its x and y axes. The four
/// corners, in the order that every corner list of a slice uses, are
/// centre - e0 x - e1 y, centre - e0 x + e1 y, centre + e0 x + e1 y and
/// centre + e0 x - e1 y; the edges run 0-1, 1-2, 2-3, 3-0.
class SlicePlane {
public:
    using Corner = std::array<double, 4>;

    /// The plane of orientation 0.
    SlicePlane() : SlicePlane(0) {}
    SlicePlane(const GlMatrix& matrix, double extent0, double extent1);
    /// One of the standard planes through the origin, extents 0:
    /// 0 (and any value other than 1 and 2) faces z with axes x and y,
    /// 1 faces -x with axes y and -z, 2 faces y with axes x and -z.
    explicit SlicePlane(int orientation);

    /// Column `column` (0 x axis, 1 y axis, 2 normal, 3 centre), first three
    /// entries.
    GlVector column(int column) const;
    GlVector centre() const { return column(3); }
    GlVector normal() const { return column(2); }
    void setCentre(const GlVector& centre);

    /// The four corners as homogeneous points, in corner order.
    std::array<Corner, 4> corners() const;

    /// The world axis the normal is most aligned with: 0 x, 1 y, 2 z. Ties
    /// go to the lower axis.
    int dominantAxis() const;

    /// The segment along which this rectangle and `other` overlap: the piece
    /// of the line where the two planes meet that lies inside both
    /// rectangles, from `p0` to `p1` in the direction of other normal x this
    /// normal. False, with `p0` and `p1` untouched, when the planes are
    /// parallel or the rectangles share no piece of that line.
    bool intersect(const SlicePlane& other, double p0[3], double p1[3]) const;

    GlMatrix matrix;
    std::array<double, 2> extents{0.0, 0.0};
};

/// Index of the largest absolute component of `v` (0 x, 1 y, 2 z); ties go
/// to the lower index.
int dominantAxis(const GlVector& v);

}  // namespace Veltrane
