#include "core/Geometry.h"

namespace Veltrane {
namespace Geometry {

Line::Line(const Vector3d& from, const Vector3d& to)
    : m_origin(from), m_direction(to - from), m_end(to)
{
}

void Line::setEnd(const Vector3d& p)
{
    m_end = p;
    m_direction = p - m_origin;
}

int Line::intersectPlane(const Vector3d& planePoint, const Vector3d& planeNormal, Vector3d& out,
                         float* t) const
{
    const auto num = static_cast<float>((planePoint - m_origin).dot(planeNormal));
    const auto den = static_cast<float>(m_direction.dot(planeNormal));
    if (den != 0.0f) {
        const float s = num / den;
        if (t) {
            *t = s;
        }
        out = m_origin + static_cast<double>(s) * m_direction;
        return 1;
    }
    if (num != 0.0f) {
        return 0;
    }
    if (t) {
        *t = 0.0f;
    }
    out = m_origin;
    return 2;
}

Triangle::Triangle(const Vector3d& a, const Vector3d& b, const Vector3d& c) : a(a), b(b), c(c) {}

int Triangle::intersectPlane(const Vector3d& planePoint, const Vector3d& planeNormal, Line& segment,
                             int* isolated) const
{
    if (isolated) {
        *isolated = 0;
    }
    struct Cut {
        bool found = false;
        float t = 0.0f;
        Vector3d point;
    };
    const Vector3d* corners[3] = {&a, &b, &c};
    Cut cuts[3];
    for (int e = 0; e < 3; ++e) {
        const Line edge(*corners[e], *corners[(e + 1) % 3]);
        Cut& cut = cuts[e];
        cut.found = edge.intersectPlane(planePoint, planeNormal, cut.point, &cut.t) != 0 &&
                    cut.t >= 0.0f && cut.t <= 1.0f;
    }

    // The first two cut edges, in edge order.
    int cutEdges[3] = {};
    int cutCount = 0;
    for (int e = 0; e < 3; ++e) {
        if (cuts[e].found) {
            cutEdges[cutCount++] = e;
        }
    }
    if (cutCount < 2) {
        return 0;
    }
    const int first = cutEdges[0];
    int second = cutEdges[1];
    const bool bothAtB = first == 0 && second == 1 && cuts[0].t == 1.0f && cuts[1].t == 0.0f;
    if (bothAtB && cuts[2].found) {
        second = 2;
    }
    if (isolated) {
        *isolated = first == 0 ? (second == 1 ? 0 : 1) : 2;
    }
    segment = Line(cuts[first].point, cuts[second].point);
    return 1;
}

}  // namespace Geometry
}  // namespace Veltrane
