#pragma once

#include <array>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Splits a closed polygon into the triangles of least total area (dynamic
/// programming over chains, cubic in the corner count). Triangles keep the
/// polygon's orientation. One instance can triangulate many polygons; its
/// tables are rebuilt for every polygon of more than four corners.
class AreaMinimizingTriangulator {
public:
    using Point = std::array<float, 3>;
    using Triangle = std::array<int, 3>;

    /// Triangles (indices into `points`, in polygon order) of the polygon; none
    /// for fewer than three points.
    std::vector<Triangle> triangulate(const std::vector<Point>& points);

    /// Twice the triangle's area: the length of the cross product of two of its
    /// sides.
    static float area(const Point& a, const Point& b, const Point& c);

private:
    float chainCost(int i, int j);
    void emit(int i, int j, std::vector<Triangle>& triangles) const;
    int index(int i, int j) const { return i * count + j; }

    const std::vector<Point>* points = nullptr;
    int count = 0;
    std::vector<float> cost;
    std::vector<int> middle;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
