#include "testsupport/SyntheticScene.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Veltrane::TestSupport {

namespace {

double sphereDistance(const Sphere& s, const Eigen::Vector3d& p)
{
    return (p - s.centre).norm() - s.radius;
}

double boxDistance(const Box& b, const Eigen::Vector3d& p)
{
    const Eigen::Vector3d q = (p - b.centre).cwiseAbs() - b.halfExtents;
    return q.cwiseMax(0.0).norm() + std::min(q.maxCoeff(), 0.0);
}

/// Smallest ray parameter above a tiny epsilon at which the ray enters or
/// leaves the sphere, if any.
std::optional<double> raySphere(const Sphere& s, const Eigen::Vector3d& o, const Eigen::Vector3d& d)
{
    const Eigen::Vector3d oc = o - s.centre;
    const double b = oc.dot(d);
    const double c = oc.squaredNorm() - s.radius * s.radius;
    const double disc = b * b - c;
    if (disc < 0.0)
        return std::nullopt;
    const double root = std::sqrt(disc);
    for (double t : {-b - root, -b + root})
        if (t > 1e-6)
            return t;
    return std::nullopt;
}

std::optional<double> rayBox(const Box& box, const Eigen::Vector3d& o, const Eigen::Vector3d& d)
{
    double tNear = -std::numeric_limits<double>::infinity();
    double tFar = std::numeric_limits<double>::infinity();
    for (int axis = 0; axis < 3; ++axis) {
        const double lo = box.centre[axis] - box.halfExtents[axis];
        const double hi = box.centre[axis] + box.halfExtents[axis];
        if (d[axis] == 0.0) {
            if (o[axis] < lo || o[axis] > hi)
                return std::nullopt;
            continue;
        }
        double t1 = (lo - o[axis]) / d[axis];
        double t2 = (hi - o[axis]) / d[axis];
        if (t1 > t2)
            std::swap(t1, t2);
        tNear = std::max(tNear, t1);
        tFar = std::min(tFar, t2);
    }
    if (tFar < tNear)
        return std::nullopt;
    if (tNear > 1e-6)
        return tNear;
    if (tFar > 1e-6)
        return tFar;
    return std::nullopt;
}

std::optional<double> rayFloor(const Floor& f, const Eigen::Vector3d& o, const Eigen::Vector3d& d)
{
    if (d.y() == 0.0)
        return std::nullopt;
    const double t = (f.height - o.y()) / d.y();
    if (t > 1e-6)
        return t;
    return std::nullopt;
}

Rgb floorColour(const Floor& f, const Eigen::Vector3d& p)
{
    const long tileX = static_cast<long>(std::floor(p.x() / f.tileSize));
    const long tileZ = static_cast<long>(std::floor(p.z() / f.tileSize));
    return ((tileX + tileZ) % 2 == 0) ? f.colourA : f.colourB;
}

}  // namespace

SyntheticScene SyntheticScene::tabletop()
{
    SyntheticScene scene;
    scene.setFloor({150.0, 100.0, {200, 200, 200}, {60, 60, 140}});
    scene.add(Sphere{{-150.0, 50.0, 0.0}, 100.0, {220, 40, 40}});
    scene.add(Sphere{{60.0, 90.0, -170.0}, 60.0, {40, 200, 60}});
    scene.add(Box{{160.0, 40.0, 40.0}, {80.0, 110.0, 70.0}, {230, 190, 30}});
    scene.add(Box{{-20.0, 120.0, 170.0}, {120.0, 30.0, 50.0}, {30, 160, 220}});
    return scene;
}

SyntheticScene SyntheticScene::scaled(double factor) const
{
    SyntheticScene scene;
    for (const Sphere& s : m_spheres)
        scene.add(Sphere{s.centre * factor, s.radius * factor, s.colour});
    for (const Box& b : m_boxes)
        scene.add(Box{b.centre * factor, b.halfExtents * factor, b.colour});
    if (m_floor)
        scene.setFloor({m_floor->height * factor, m_floor->tileSize * factor, m_floor->colourA, m_floor->colourB});
    return scene;
}

SyntheticScene SyntheticScene::objectsOnTable()
{
    SyntheticScene scene = tabletop();
    scene.m_floor.reset();
    scene.add(Box{{0.0, 170.0, 0.0}, {330.0, 20.0, 300.0}, {200, 200, 200}});
    return scene;
}

double SyntheticScene::signedDistance(const Eigen::Vector3d& p) const
{
    double d = std::numeric_limits<double>::infinity();
    for (const Sphere& s : m_spheres)
        d = std::min(d, sphereDistance(s, p));
    for (const Box& b : m_boxes)
        d = std::min(d, boxDistance(b, p));
    if (m_floor)
        d = std::min(d, m_floor->height - p.y());
    return d;
}

std::optional<RayHit> SyntheticScene::intersect(const Eigen::Vector3d& origin,
                                                const Eigen::Vector3d& direction) const
{
    std::optional<RayHit> best;
    const auto consider = [&](std::optional<double> t, Rgb colour) {
        if (t && (!best || *t < best->distance))
            best = RayHit{*t, colour};
    };
    for (const Sphere& s : m_spheres)
        consider(raySphere(s, origin, direction), s.colour);
    for (const Box& b : m_boxes)
        consider(rayBox(b, origin, direction), b.colour);
    if (m_floor) {
        const std::optional<double> t = rayFloor(*m_floor, origin, direction);
        if (t)
            consider(t, floorColour(*m_floor, origin + *t * direction));
    }
    return best;
}

}  // namespace Veltrane::TestSupport
