#pragma once

#include <Eigen/Core>

#include <optional>
#include <vector>

namespace Veltrane::TestSupport {

/// An 8-bit RGB colour.
struct Rgb {
    unsigned char r = 0;
    unsigned char g = 0;
    unsigned char b = 0;
};

struct Sphere {
    Eigen::Vector3d centre;
    double radius;
    Rgb colour;
};

/// A box whose faces are parallel to the scene axes.
struct Box {
    Eigen::Vector3d centre;
    Eigen::Vector3d halfExtents;
    Rgb colour;
};

/// The infinite plane y = `height`, solid below (y grows downwards, as in a
/// camera frame), coloured as a checkerboard of `tileSize` squares.
struct Floor {
    double height;
    double tileSize;
    Rgb colourA;
    Rgb colourB;
};

/// Where a ray first meets the scene.
struct RayHit {
    double distance;  ///< along the (unit) ray direction, mm
    Rgb colour;
};

/// An analytic scene in millimetres made of spheres, boxes and an optional
/// floor: the union of their solids, given exactly as a signed distance and as
/// ray intersections.
class SyntheticScene {
public:
    /// A tabletop of about 600 mm around the origin: two spheres and two boxes
    /// standing on a checkered floor at y = 150, y pointing down.
    static SyntheticScene tabletop();
    /// The tabletop's objects on a table top of 660 x 600 mm (its surface at
    /// y = 150) instead of the endless floor: depth frames with much empty
    /// background, which a recording stores small.
    static SyntheticScene objectsOnTable();

    /// The same scene with every position and length multiplied by `factor`.
    SyntheticScene scaled(double factor) const;

    void add(const Sphere& sphere) { m_spheres.push_back(sphere); }
    void add(const Box& box) { m_boxes.push_back(box); }
    void setFloor(const Floor& floor) { m_floor = floor; }

    /// Signed distance of `p` to the nearest surface: negative inside a solid.
    /// Exact outside the solids; where solids overlap it is the union's usual
    /// lower bound.
    double signedDistance(const Eigen::Vector3d& p) const;

    /// The first surface that the ray from `origin` along the unit vector
    /// `direction` meets at a distance above 0, with its colour.
    std::optional<RayHit> intersect(const Eigen::Vector3d& origin,
                                    const Eigen::Vector3d& direction) const;

private:
    std::vector<Sphere> m_spheres;
    std::vector<Box> m_boxes;
    std::optional<Floor> m_floor;
};

}  // namespace Veltrane::TestSupport
