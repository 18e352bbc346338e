#pragma once

#include "meshproc/poisson/Point3D.h"

namespace Veltrane {
namespace PoissonReconstruction {

/// Values for the 5 x 5 x 5 nodes of one depth around a centre node: entry
/// [i][j][k] belongs to the node at offset (i - 2, j - 2, k - 2) from it.
template <class T>
struct Stencil5 {
    T values[5][5][5];

    T& operator()(int i, int j, int k) { return values[i][j][k]; }
    const T& operator()(int i, int j, int k) const { return values[i][j][k]; }
};

/// One stencil per child position c = cx + 2 cy + 4 cz, stored at index
/// 4 cx + 2 cy + cz.
template <class T>
struct ChildStencils {
    Stencil5<T> stencils[8];

    static int slotOf(int childIndex)
    {
        return 4 * (childIndex & 1) + 2 * ((childIndex >> 1) & 1) + ((childIndex >> 2) & 1);
    }
    Stencil5<T>& forChild(int childIndex) { return stencils[slotOf(childIndex)]; }
    const Stencil5<T>& forChild(int childIndex) const { return stencils[slotOf(childIndex)]; }
};

using DivergenceStencil = Stencil5<Point3D<double>>;
using LaplacianStencil = Stencil5<double>;

/// Half-open index ranges [start, end) per axis of a 5 x 5 x 5 neighbourhood.
struct StencilWindow {
    int start[3] = {0, 0, 0};
    int end[3] = {5, 5, 5};
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
