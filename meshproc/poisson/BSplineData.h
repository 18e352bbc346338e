#pragma once

#include "meshproc/poisson/PiecewisePolynomial.h"

#include <array>
#include <cstdint>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// The three quadratic pieces of one B-spline on its left, middle and right
/// cell, each in domain coordinates (meant to be evaluated on its cell only).
struct BSplineComponents {
    Polynomial<2> polys[3];

    const Polynomial<2>& operator[](int i) const { return polys[i]; }
    Polynomial<2>& operator[](int i) { return polys[i]; }

    /// Every piece shifted by t (x -> p(x - t)).
    BSplineComponents shift(double t) const;
};

/// Integer description of one B-spline at one resolution: per cell the weights
/// of the element pieces E0 (rising), E1 (middle) and E2 (falling), all over a
/// common denominator.
class BSplineCoefficients {
public:
    /// The function of `offset` among `resolution` cells. A boundary type
    /// other than 0 adds that multiple of its mirror images about both ends of
    /// the domain; `inset` > 0 clears that many cells at each end.
    BSplineCoefficients(int resolution, int offset, int boundaryType, int inset);

    std::vector<std::array<int32_t, 3>> coefficients;
    int32_t denominator = 1;

    /// The same function on twice as many cells (denominator times 4).
    BSplineCoefficients upSample() const;

    /// Weights of the linear pieces D0 = t and D1 = 1 - t per cell; the factor
    /// of the resolution is left to the caller. The denominator is unchanged.
    std::vector<std::array<int32_t, 2>> differentiate() const;

    /// First and one past the last cell that holds a non-zero weight
    /// (first == last when there is none).
    void nonZeroCells(int& first, int& last) const;

private:
    BSplineCoefficients() = default;
};

/// The one-dimensional quadratic B-splines of every depth 0..D on the unit
/// interval, with the exact inner-product tables of pairs of them and their
/// derivatives, and tables of their values at the 2^(D+1) + 1 regularly spaced
/// positions i / 2^(D+1).
///
/// Functions of all depths share one index: index(d, o) = 2^d - 1 + o. The
/// function of depth d and offset o is centred at (o + 0.5) / 2^d and covers
/// three cells of width 1 / 2^d. A boundary type b of -1 or 1 adds b times the
/// mirror image about each domain end to the functions that touch that end.
class BSplineData {
public:
    enum InnerProductFlag { ValueValue = 1, DerivativeValue = 2, DerivativeDerivative = 4 };
    enum ValueTableFlag { Values = 1, Derivatives = 2 };

    bool storeRatios = false;
    int32_t boundaryType = 0;
    int32_t depth = 0;
    int32_t functionCount = 0;
    int32_t sampleCount = 0;

    /// Symmetric tables (index symmetricIndex(a, c)): vvTable holds <Ba, Bc>,
    /// ddTable <Ba', Bc'> / <Ba, Bc>. Full table dvTable (index
    /// a * functionCount + c) holds <Ba', Bc> / <Ba, Bc>. Empty when not
    /// computed; pairs that do not overlap hold 0.
    std::vector<float> vvTable;
    std::vector<float> dvTable;
    std::vector<float> ddTable;

    /// Values and derivatives at position p of function f, at index
    /// p * functionCount + f. Empty when not computed.
    std::vector<float> valueTable;
    std::vector<float> derivativeTable;

    /// The B-spline of width 1 centred at 0, and its versions with the mirror
    /// image about -0.5, +0.5 and both added (times the boundary type).
    PiecewisePolynomial<2> baseFunction;
    PiecewisePolynomial<2> leftBaseFunction;
    PiecewisePolynomial<2> rightBaseFunction;
    PiecewisePolynomial<2> bothBaseFunction;
    BSplineComponents baseComponents;
    BSplineComponents leftComponents;
    BSplineComponents rightComponents;
    BSplineComponents bothComponents;

    /// Every function in domain coordinates, and its pieces per cell.
    std::vector<PiecewisePolynomial<2>> functions;
    std::vector<BSplineComponents> functionComponents;

    void build(int maxDepth, int boundaryType);

    /// Builds the tables named by `flags` (InnerProductFlag bits). `inset`
    /// restricts the integrals to the middle half of the domain.
    void computeInnerProductTables(int flags, bool inset);
    void releaseInnerProductTables(int flags);

    /// Builds the tables named by `flags` (ValueTableFlag bits) from the
    /// functions averaged over radius valueSmooth and the derivatives averaged
    /// over radius normalSmooth (no averaging for a radius <= 0).
    void computeValueTables(int flags, double valueSmooth, double normalSmooth);
    void computeValueTables(int flags, double smooth) { computeValueTables(flags, smooth, smooth); }
    void releaseValueTables();

    static int functionIndex(int depth, int offset) { return (1 << depth) - 1 + offset; }
    static void depthAndOffset(int index, int& depth, int& offset);
    static int symmetricIndex(int a, int c)
    {
        return a > c ? a * (a + 1) / 2 + c : c * (c + 1) / 2 + a;
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
