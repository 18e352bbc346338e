#include "meshproc/poisson/Polynomial.h"

#include <cmath>

namespace Veltrane {
namespace PoissonReconstruction {

int solveQuadratic(double eps, double a, double b, double c, double roots[2][2])
{
    if (std::fabs(a) <= eps) {
        if (std::fabs(b) <= eps)
            return 0;
        roots[0][0] = -c / b;
        roots[0][1] = 0;
        return 1;
    }
    const double discriminant = b * b - 4 * a * c;
    const double centre = -b / (2 * a);
    if (discriminant < 0) {
        const double spread = std::sqrt(-discriminant) / (2 * a);
        roots[0][0] = centre;
        roots[0][1] = -spread;
        roots[1][0] = centre;
        roots[1][1] = spread;
    } else {
        const double spread = std::sqrt(discriminant) / (2 * a);
        roots[0][0] = centre - spread;
        roots[0][1] = 0;
        roots[1][0] = spread - b / (2 * a);
        roots[1][1] = 0;
    }
    return 2;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
