#pragma once

#include "core/Geometry.h"

namespace Veltrane {
namespace MeshProcessing {

/// A triangle with a normal and a colour (RGB in 0 ... 1) at each corner.
class ColoredTriangle : public Geometry::Triangle {
public:
    using Vector3d = Geometry::Vector3d;

    ColoredTriangle(const Vector3d& a, const Vector3d& b, const Vector3d& c, const Vector3d& nA,
                    const Vector3d& nB, const Vector3d& nC, const Vector3d& cA, const Vector3d& cB,
                    const Vector3d& cC)
        : Triangle(a, b, c), nA(nA), nB(nB), nC(nC), cA(cA), cB(cB), cC(cC)
    {
    }

    Vector3d nA;
    Vector3d nB;
    Vector3d nC;
    Vector3d cA;
    Vector3d cB;
    Vector3d cC;
};

}  // namespace MeshProcessing
}  // namespace Veltrane
