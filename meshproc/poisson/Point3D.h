#pragma once

namespace Veltrane {
namespace PoissonReconstruction {

/// Three coordinates x, y, z with the vector arithmetic the octree steps use.
template <class T>
struct Point3D {
    T coords[3] = {0, 0, 0};

    T& operator[](int i) { return coords[i]; }
    const T& operator[](int i) const { return coords[i]; }

    Point3D& operator+=(const Point3D& other)
    {
        for (int i = 0; i < 3; ++i)
            coords[i] += other.coords[i];
        return *this;
    }
    Point3D& operator-=(const Point3D& other)
    {
        for (int i = 0; i < 3; ++i)
            coords[i] -= other.coords[i];
        return *this;
    }
    Point3D& operator*=(T s)
    {
        for (T& c : coords)
            c *= s;
        return *this;
    }
    Point3D& operator/=(T s)
    {
        for (T& c : coords)
            c /= s;
        return *this;
    }
    Point3D operator+(const Point3D& other) const { return Point3D(*this) += other; }
    Point3D operator-(const Point3D& other) const { return Point3D(*this) -= other; }
    Point3D operator*(T s) const { return Point3D(*this) *= s; }
    Point3D operator/(T s) const { return Point3D(*this) /= s; }

    T dot(const Point3D& other) const
    {
        return coords[0] * other.coords[0] + coords[1] * other.coords[1] + coords[2] * other.coords[2];
    }
    T squareLength() const { return dot(*this); }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
