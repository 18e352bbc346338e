#include "meshproc/poisson/AreaMinimizingTriangulator.h"

#include <cmath>
#include <limits>

namespace Veltrane {
namespace PoissonReconstruction {

float AreaMinimizingTriangulator::area(const Point& a, const Point& b, const Point& c)
{
    const Point ab{b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const Point ac{c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    const Point cross{ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                      ab[0] * ac[1] - ab[1] * ac[0]};
    return float(std::sqrt(double(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2])));
}

std::vector<AreaMinimizingTriangulator::Triangle>
AreaMinimizingTriangulator::triangulate(const std::vector<Point>& polygon)
{
    std::vector<Triangle> triangles;
    const int n = int(polygon.size());
    if (n < 3)
        return triangles;
    if (n == 3) {
        triangles.push_back({0, 1, 2});
        return triangles;
    }
    if (n == 4) {
        const float a = area(polygon[0], polygon[1], polygon[2]) + area(polygon[2], polygon[3], polygon[0]);
        const float b = area(polygon[0], polygon[1], polygon[3]) + area(polygon[3], polygon[1], polygon[2]);
        if (a > b)
            triangles = {{0, 1, 3}, {3, 1, 2}};
        else
            triangles = {{0, 1, 2}, {2, 3, 0}};
        return triangles;
    }
    points = &polygon;
    count = n;
    cost.assign(size_t(n) * size_t(n), -1.0f);
    middle.assign(size_t(n) * size_t(n), -1);
    chainCost(0, 1);
    emit(0, 1, triangles);
    points = nullptr;
    return triangles;
}

// Least area triangulating the chain from j forwards to i, closed by i-j.
float AreaMinimizingTriangulator::chainCost(int i, int j)
{
    const int first = (j + 1) % count;
    if (first == i)
        return 0.0f;
    if (middle[size_t(index(i, j))] != -1)
        return cost[size_t(index(i, j))];

    const std::vector<Point>& p = *points;
    auto known = [this](int a, int b) -> float {
        const int next = (b + 1) % count;
        if (next == a)
            return 0.0f;
        return middle[size_t(index(a, b))] != -1 ? cost[size_t(index(a, b))] : -1.0f;
    };
    float best = std::numeric_limits<float>::max();
    int bestMiddle = -1;
    for (int k = first; k != i; k = (k + 1) % count) {
        const float triangle = area(p[size_t(i)], p[size_t(k)], p[size_t(j)]);
        const float knownLeft = known(i, k);
        const float knownRight = known(k, j);
        if (knownLeft >= 0.0f && triangle + knownLeft > best)
            continue;
        if (knownRight >= 0.0f && triangle + knownRight > best)
            continue;
        const float candidate = triangle + chainCost(i, k) + chainCost(k, j);
        if (candidate < best) {
            best = candidate;
            bestMiddle = k;
        }
    }
    // When no candidate is comparable (non-finite positions) the first middle
    // point still gives a complete triangulation.
    if (bestMiddle == -1) {
        bestMiddle = first;
        chainCost(i, first);
    }
    cost[size_t(index(i, j))] = best;
    middle[size_t(index(i, j))] = bestMiddle;
    return best;
}

void AreaMinimizingTriangulator::emit(int i, int j, std::vector<Triangle>& triangles) const
{
    if ((j + 1) % count == i)
        return;
    const int m = middle[size_t(index(i, j))];
    triangles.push_back({i, j, m});
    emit(i, m, triangles);
    emit(m, j, triangles);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
