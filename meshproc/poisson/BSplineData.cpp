#include "meshproc/poisson/BSplineData.h"

#include <algorithm>
#include <cmath>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

// The element pieces on a cell in its own coordinate t in [0, 1]: the rising,
// middle and falling piece of a quadratic B-spline, and the linear pieces its
// derivative is written with.
Polynomial<2> elementPiece(int k)
{
    Polynomial<2> e;
    switch (k) {
    case 0: e[2] = 0.5; break;
    case 1: e[0] = 0.5; e[1] = 1; e[2] = -1; break;
    default: e[0] = 0.5; e[1] = -1; e[2] = 0.5; break;
    }
    return e;
}

Polynomial<2> derivativePiece(int k)
{
    Polynomial<2> d;
    if (k == 0) {
        d[1] = 1;
    } else {
        d[0] = 1;
        d[1] = -1;
    }
    return d;
}

double unitIntegral(const Polynomial<2>& a, const Polynomial<2>& b)
{
    return (a * b).integral(0.0, 1.0);
}

// Exact integrals over one cell of products of element pieces.
struct ElementIntegrals {
    double ee[3][3];
    double de[2][3];
    double ed[3][2];
    double dd[2][2];

    ElementIntegrals()
    {
        for (int k = 0; k < 3; ++k)
            for (int l = 0; l < 3; ++l)
                ee[k][l] = unitIntegral(elementPiece(k), elementPiece(l));
        for (int k = 0; k < 2; ++k)
            for (int l = 0; l < 3; ++l) {
                de[k][l] = unitIntegral(derivativePiece(k), elementPiece(l));
                ed[l][k] = unitIntegral(elementPiece(l), derivativePiece(k));
            }
        for (int k = 0; k < 2; ++k)
            for (int l = 0; l < 2; ++l)
                dd[k][l] = unitIntegral(derivativePiece(k), derivativePiece(l));
    }
};

// base(x) + b * (sum of base(x - t) over the shifts t), assembled interval by
// interval: each entry is the function on its interval minus all earlier entries.
PiecewisePolynomial<2> withMirrors(const PiecewisePolynomial<2>& base, double b,
                                   const std::vector<double>& shifts)
{
    std::vector<PiecewisePolynomial<2>> terms{base};
    for (double t : shifts)
        terms.push_back(base.shift(t));
    std::vector<double> starts;
    for (const PiecewisePolynomial<2>& term : terms)
        for (int i = 0; i < term.polyCount(); ++i)
            starts.push_back(term[i].start);
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());

    std::vector<StartingPolynomial<2>> items;
    Polynomial<2> earlier;
    for (double start : starts) {
        Polynomial<2> onInterval;
        for (size_t t = 0; t < terms.size(); ++t) {
            Polynomial<2> term;
            for (int i = 0; i < terms[t].polyCount() && terms[t][i].start <= start; ++i)
                term += terms[t][i].p;
            onInterval += t == 0 ? term : term * b;
        }
        items.push_back({onInterval - earlier, start});
        earlier += items.back().p;
    }
    return PiecewisePolynomial<2>(items.data(), static_cast<int>(items.size()));
}

// Cells cleared at each end of depth `depth` when the integrals are inset:
// a quarter of the cells from depth 2 on, none at depth 1, all at depth 0.
int insetCells(int depth, bool inset)
{
    if (!inset)
        return 0;
    if (depth >= 2)
        return 1 << (depth - 2);
    return depth == 1 ? 0 : 1;
}

}  // namespace

BSplineComponents BSplineComponents::shift(double t) const
{
    BSplineComponents result;
    for (int k = 0; k < 3; ++k)
        result.polys[k] = polys[k].shift(t);
    return result;
}

BSplineCoefficients::BSplineCoefficients(int resolution, int offset, int boundaryType, int inset)
    : coefficients(static_cast<size_t>(resolution), std::array<int32_t, 3>{0, 0, 0})
{
    auto add = [&](int o, int weight) {
        for (int k = 0; k < 3; ++k) {
            const int cell = o - 1 + k;
            if (cell >= 0 && cell < resolution)
                coefficients[cell][k] += weight;
        }
    };
    add(offset, 1);
    if (boundaryType != 0) {
        add(-1 - offset, boundaryType);
        add(2 * resolution - 1 - offset, boundaryType);
    }
    for (int i = 0; i < inset && i < resolution; ++i) {
        coefficients[i] = {0, 0, 0};
        coefficients[resolution - 1 - i] = {0, 0, 0};
    }
}

BSplineCoefficients BSplineCoefficients::upSample() const
{
    BSplineCoefficients result;
    result.coefficients.assign(2 * coefficients.size(), std::array<int32_t, 3>{0, 0, 0});
    result.denominator = denominator * 4;
    for (size_t c = 0; c < coefficients.size(); ++c) {
        const std::array<int32_t, 3>& a = coefficients[c];
        std::array<int32_t, 3>& left = result.coefficients[2 * c];
        std::array<int32_t, 3>& right = result.coefficients[2 * c + 1];
        left[0] += a[0] + 3 * a[1];
        left[1] += 3 * a[1] + a[2];
        left[2] += a[1] + 3 * a[2];
        right[0] += 3 * a[0] + a[1];
        right[1] += a[0] + 3 * a[1];
        right[2] += 3 * a[1] + a[2];
    }
    return result;
}

std::vector<std::array<int32_t, 2>> BSplineCoefficients::differentiate() const
{
    std::vector<std::array<int32_t, 2>> result(coefficients.size());
    for (size_t c = 0; c < coefficients.size(); ++c)
        result[c] = {coefficients[c][0] - coefficients[c][1], coefficients[c][1] - coefficients[c][2]};
    return result;
}

void BSplineCoefficients::nonZeroCells(int& first, int& last) const
{
    const int count = static_cast<int>(coefficients.size());
    auto nonZero = [](const std::array<int32_t, 3>& a) { return a[0] || a[1] || a[2]; };
    first = 0;
    while (first < count && !nonZero(coefficients[first]))
        ++first;
    last = count;
    while (last > first && !nonZero(coefficients[last - 1]))
        --last;
}

void BSplineData::depthAndOffset(int index, int& depth, int& offset)
{
    depth = 0;
    while ((2 << depth) <= index + 1)
        ++depth;
    offset = index + 1 - (1 << depth);
}

void BSplineData::build(int maxDepth, int boundary)
{
    boundaryType = boundary;
    depth = maxDepth;
    storeRatios = true;
    functionCount = (1 << (maxDepth + 1)) - 1;
    sampleCount = (1 << (maxDepth + 1)) + 1;
    functions.assign(static_cast<size_t>(functionCount), PiecewisePolynomial<2>());
    functionComponents.assign(static_cast<size_t>(functionCount), BSplineComponents());

    baseFunction = PiecewisePolynomial<2>::bSpline(0.5);
    for (int k = 0; k < 3; ++k)
        baseComponents[k] = elementPiece(k).shift(k - 1.5);

    const double b = boundaryType;
    leftBaseFunction = withMirrors(baseFunction, b, {-1.0});
    rightBaseFunction = withMirrors(baseFunction, b, {1.0});
    bothBaseFunction = withMirrors(baseFunction, b, {-1.0, 1.0});

    // The mirror image's piece that lies inside the domain adds onto the middle
    // cell with the boundary type's sign, so that the pieces agree with the
    // functions (odd reflection for -1, even for 1).
    const Polynomial<2>& p0 = baseComponents[0];
    const Polynomial<2>& p1 = baseComponents[1];
    const Polynomial<2>& p2 = baseComponents[2];
    const Polynomial<2> leftImage = p2.shift(-1) * b;
    const Polynomial<2> rightImage = p0.shift(1) * b;
    leftComponents = BSplineComponents{{Polynomial<2>(), p1 + leftImage, p2}};
    rightComponents = BSplineComponents{{p0, p1 + rightImage, Polynomial<2>()}};
    bothComponents = BSplineComponents{{Polynomial<2>(), p1 + leftImage + rightImage, Polynomial<2>()}};

    for (int i = 0; i < functionCount; ++i) {
        int d, o;
        depthAndOffset(i, d, o);
        const double width = 1.0 / (1 << d);
        const double centre = (o + 0.5) * width;
        const PiecewisePolynomial<2>* function = &baseFunction;
        const BSplineComponents* components = &baseComponents;
        if (boundaryType != 0) {
            if (d == 0) {
                function = &bothBaseFunction;
                components = &bothComponents;
            } else if (o == 0) {
                function = &leftBaseFunction;
                components = &leftComponents;
            } else if (o == (1 << d) - 1) {
                function = &rightBaseFunction;
                components = &rightComponents;
            }
        }
        functions[i] = function->scale(width).shift(centre);
        BSplineComponents scaled;
        for (int k = 0; k < 3; ++k)
            scaled[k] = (*components)[k].scale(width);
        functionComponents[i] = scaled.shift(centre);
    }
}

void BSplineData::computeInnerProductTables(int flags, bool inset)
{
    releaseInnerProductTables(flags);
    const size_t count = static_cast<size_t>(functionCount);
    const size_t symmetricSize = count * (count + 1) / 2;
    if (flags & ValueValue)
        vvTable.assign(symmetricSize, 0.0f);
    if (flags & DerivativeValue)
        dvTable.assign(count * count, 0.0f);
    if (flags & DerivativeDerivative)
        ddTable.assign(symmetricSize, 0.0f);

    static const ElementIntegrals integrals;
    for (int i = 0; i <= depth; ++i) {
        for (int e = 0; e < (1 << i); ++e) {
            const int a = functionIndex(i, e);
            BSplineCoefficients coarse(1 << i, e, boundaryType, insetCells(i, inset));
            int f, g;
            coarse.nonZeroCells(f, g);
            if (f == g)
                continue;
            for (int j = i; j <= depth; ++j) {
                if (j > i) {
                    coarse = coarse.upSample();
                    coarse.nonZeroCells(f, g);
                }
                const std::vector<std::array<int32_t, 2>> dA = coarse.differentiate();
                const int firstOffset = std::max(j == i ? e : 0, f - 2);
                const int lastOffset = std::min((1 << j) - 1, g + 1);
                for (int o = firstOffset; o <= lastOffset; ++o) {
                    const int c = functionIndex(j, o);
                    const BSplineCoefficients fine(1 << j, o, boundaryType, insetCells(j, inset));
                    const std::vector<std::array<int32_t, 2>> dB = fine.differentiate();
                    int64_t vvSum[3][3] = {}, dvSum[2][3] = {}, vdSum[3][2] = {}, ddSum[2][2] = {};
                    for (int q = std::max(f, o - 2); q < std::min(o + 3, g); ++q) {
                        const std::array<int32_t, 3>& A = coarse.coefficients[q];
                        const std::array<int32_t, 3>& B = fine.coefficients[q];
                        for (int k = 0; k < 3; ++k)
                            for (int l = 0; l < 3; ++l)
                                vvSum[k][l] += int64_t(A[k]) * B[l];
                        for (int k = 0; k < 2; ++k)
                            for (int l = 0; l < 3; ++l) {
                                dvSum[k][l] += int64_t(dA[q][k]) * B[l];
                                vdSum[l][k] += int64_t(A[l]) * dB[q][k];
                            }
                        for (int k = 0; k < 2; ++k)
                            for (int l = 0; l < 2; ++l)
                                ddSum[k][l] += int64_t(dA[q][k]) * dB[q][l];
                    }
                    double svv = 0, sdv = 0, svd = 0, sdd = 0;
                    for (int k = 0; k < 3; ++k)
                        for (int l = 0; l < 3; ++l)
                            svv += vvSum[k][l] * integrals.ee[k][l];
                    for (int k = 0; k < 2; ++k)
                        for (int l = 0; l < 3; ++l)
                            sdv += dvSum[k][l] * integrals.de[k][l];
                    for (int k = 0; k < 3; ++k)
                        for (int l = 0; l < 2; ++l)
                            svd += vdSum[k][l] * integrals.ed[k][l];
                    for (int k = 0; k < 2; ++k)
                        for (int l = 0; l < 2; ++l)
                            sdd += ddSum[k][l] * integrals.dd[k][l];

                    const double resolution = double(1 << j);
                    const double denominator = double(coarse.denominator) * double(fine.denominator);
                    const double vv = svv / resolution / denominator;
                    const double dv = sdv / denominator;
                    const double vd = svd / denominator;
                    const double dd = resolution * sdd / denominator;
                    if (std::fabs(vv) < 1e-15)
                        continue;
                    if (flags & ValueValue)
                        vvTable[symmetricIndex(a, c)] = float(vv);
                    if (flags & DerivativeValue) {
                        dvTable[size_t(a) * count + c] = float(dv / vv);
                        dvTable[size_t(c) * count + a] = float(vd / vv);
                    }
                    if (flags & DerivativeDerivative)
                        ddTable[symmetricIndex(a, c)] = float(dd / vv);
                }
            }
        }
    }
}

void BSplineData::releaseInnerProductTables(int flags)
{
    if (flags & ValueValue)
        std::vector<float>().swap(vvTable);
    if (flags & DerivativeValue)
        std::vector<float>().swap(dvTable);
    if (flags & DerivativeDerivative)
        std::vector<float>().swap(ddTable);
}

void BSplineData::computeValueTables(int flags, double valueSmooth, double normalSmooth)
{
    releaseValueTables();
    const size_t count = static_cast<size_t>(functionCount) * static_cast<size_t>(sampleCount);
    if (flags & Values)
        valueTable.resize(count);
    if (flags & Derivatives)
        derivativeTable.resize(count);
    for (int f = 0; f < functionCount; ++f) {
        const PiecewisePolynomial<3> value = valueSmooth > 0 ? functions[f].movingAverage(valueSmooth)
                                                             : functions[f].raised();
        const PiecewisePolynomial<1> slope = functions[f].derivative();
        const PiecewisePolynomial<2> derivative = normalSmooth > 0 ? slope.movingAverage(normalSmooth)
                                                                   : slope.raised();
        for (int p = 0; p < sampleCount; ++p) {
            const double x = double(p) / (sampleCount - 1);
            const size_t at = size_t(p) * functionCount + f;
            if (flags & Values)
                valueTable[at] = float(value(x));
            if (flags & Derivatives)
                derivativeTable[at] = float(derivative(x));
        }
    }
}

void BSplineData::releaseValueTables()
{
    std::vector<float>().swap(valueTable);
    std::vector<float>().swap(derivativeTable);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
