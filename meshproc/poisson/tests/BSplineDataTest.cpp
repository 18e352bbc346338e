#include "meshproc/poisson/BSplineData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace Veltrane::PoissonReconstruction;

namespace {

using Function = std::function<double(double)>;

// Gauss-Legendre with 3 points per cell of `cells` equal cells: exact for the
// products of two quadratic pieces when every knot lies on a cell border.
double integrate(const Function& f, double a, double b, int cells)
{
    const double nodes[3] = {-std::sqrt(0.6), 0, std::sqrt(0.6)};
    const double weights[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};
    const double h = (b - a) / cells;
    double sum = 0;
    for (int s = 0; s < cells; ++s)
        for (int g = 0; g < 3; ++g)
            sum += weights[g] * f(a + h * (s + 0.5 + 0.5 * nodes[g])) * h / 2;
    return sum;
}

// The B-spline of index i written out from the quadratic B-spline formula:
// B((x - centre) / width), plus b times its mirror images about 0 and 1 when
// it touches those ends.
double directFunction(int index, int boundary, double x)
{
    auto bSpline = [](double t) {
        t = std::fabs(t);
        if (t <= 0.5)
            return 0.75 - t * t;
        return t < 1.5 ? 0.5 * (1.5 - t) * (1.5 - t) : 0.0;
    };
    int d, o;
    BSplineData::depthAndOffset(index, d, o);
    const double width = 1.0 / (1 << d);
    const double centre = (o + 0.5) * width;
    auto f = [&](double y) { return bSpline((y - centre) / width); };
    double value = f(x);
    if (o == 0)
        value += boundary * f(-x);
    if (o == (1 << d) - 1)
        value += boundary * f(2 - x);
    return value;
}

bool nearRelative(double actual, double expected, double tolerance)
{
    return std::fabs(actual - expected) <= tolerance * std::max(1.0, std::fabs(expected));
}

}  // namespace

TEST(BSplineCoefficientsTest, CellWeights)
{
    struct Case {
        int resolution, offset, boundary, inset;
        std::vector<std::array<int32_t, 3>> cells;
    };
    const Case cases[] = {
        {4, 0, -1, 0, {{0, 1, -1}, {0, 0, 1}, {0, 0, 0}, {0, 0, 0}}},
        {1, 0, 1, 0, {{1, 1, 1}}},
        {4, 1, 1, 0, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}},
        {4, 3, 1, 0, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}}},
        {4, 1, 0, 1, {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}},
        {1, 0, 1, 1, {{0, 0, 0}}},
    };
    for (const Case& test : cases) {
        const BSplineCoefficients coefficients(test.resolution, test.offset, test.boundary, test.inset);
        EXPECT_EQ(coefficients.coefficients, test.cells)
            << test.resolution << " " << test.offset << " " << test.boundary << " " << test.inset;
        EXPECT_EQ(coefficients.denominator, 1);
    }
}

TEST(BSplineCoefficientsTest, UpSampleAndDerivative)
{
    const BSplineCoefficients up = BSplineCoefficients(1, 0, 0, 0).upSample();
    EXPECT_EQ(up.denominator, 4);
    EXPECT_EQ(up.coefficients, (std::vector<std::array<int32_t, 3>>{{3, 3, 1}, {1, 3, 3}}));
    EXPECT_EQ(BSplineCoefficients(4, 0, -1, 0).differentiate(),
              (std::vector<std::array<int32_t, 2>>{{-1, 2}, {0, -1}, {0, 0}, {0, 0}}));
    int first, last;
    BSplineCoefficients(8, 5, 0, 0).nonZeroCells(first, last);
    EXPECT_EQ(first, 4);
    EXPECT_EQ(last, 7);
}

TEST(BSplineDataTest, SizesAndIndexing)
{
    BSplineData data;
    data.build(3, 0);
    EXPECT_EQ(data.functionCount, 15);
    EXPECT_EQ(data.sampleCount, 17);
    EXPECT_TRUE(data.storeRatios);
    for (int i = 0; i < data.functionCount; ++i) {
        int d, o;
        BSplineData::depthAndOffset(i, d, o);
        EXPECT_EQ(BSplineData::functionIndex(d, o), i);
        EXPECT_GE(o, 0);
        EXPECT_LT(o, 1 << d);
    }
    EXPECT_EQ(BSplineData::symmetricIndex(2, 5), BSplineData::symmetricIndex(5, 2));
    EXPECT_EQ(BSplineData::symmetricIndex(5, 2), 17);
    ASSERT_EQ(data.bothBaseFunction.polyCount(), 6);
    EXPECT_EQ(data.leftBaseFunction[0].start, -2.5);
    EXPECT_EQ(data.rightBaseFunction[data.rightBaseFunction.polyCount() - 1].start, 2.5);
}

TEST(BSplineDataTest, FunctionsAndPiecesMatchDirectFormula)
{
    for (int boundary : {-1, 0, 1}) {
        BSplineData data;
        data.build(3, boundary);
        for (int i = 0; i < data.functionCount; ++i) {
            int d, o;
            BSplineData::depthAndOffset(i, d, o);
            const double width = 1.0 / (1 << d);
            for (double x = -0.2; x <= 1.2; x += 1.0 / 64 + 1e-4)
                EXPECT_NEAR(data.functions[i](x), directFunction(i, boundary, x), 1e-12)
                    << "b " << boundary << " i " << i << " x " << x;
            // Each piece equals the function on its cell, the boundary pieces
            // included (their mirror images carry the boundary type's sign).
            for (int k = 0; k < 3; ++k) {
                const double cellStart = (o - 1 + k) * width;
                if (cellStart < 0 || cellStart >= 1)
                    continue;
                for (double t : {0.1, 0.5, 0.9}) {
                    const double x = cellStart + t * width;
                    EXPECT_NEAR(data.functionComponents[i][k](x), directFunction(i, boundary, x), 1e-12)
                        << "b " << boundary << " i " << i << " piece " << k;
                }
            }
        }
    }
}

TEST(BSplineDataTest, InnerProductsMatchNumericalIntegration)
{
    const int depth = 4;
    struct Case {
        int boundary;
        bool inset;
    };
    for (const Case test : {Case{-1, false}, Case{0, false}, Case{1, false}, Case{0, true}}) {
        BSplineData data;
        data.build(depth, test.boundary);
        data.computeInnerProductTables(BSplineData::ValueValue | BSplineData::DerivativeValue |
                                           BSplineData::DerivativeDerivative,
                                       test.inset);
        const int n = data.functionCount;
        ASSERT_EQ(data.vvTable.size(), size_t(n * (n + 1) / 2));
        ASSERT_EQ(data.dvTable.size(), size_t(n * n));
        std::vector<PiecewisePolynomial<1>> slopes;
        for (const PiecewisePolynomial<2>& f : data.functions)
            slopes.push_back(f.derivative());
        for (int a = 0; a < n; ++a) {
            for (int c = 0; c < n; ++c) {
                int da, oa, dc, oc;
                BSplineData::depthAndOffset(a, da, oa);
                BSplineData::depthAndOffset(c, dc, oc);
                double lo = 0, hi = 1;
                if (test.inset && std::max(da, dc) >= 2) {
                    lo = 0.25;
                    hi = 0.75;
                }
                const int cells = int((hi - lo) * (2 << depth));
                double vv = 0, dv = 0, dd = 0;
                if (!(test.inset && std::min(da, dc) == 0)) {
                    vv = integrate([&](double x) { return data.functions[a](x) * data.functions[c](x); }, lo, hi, cells);
                    dv = integrate([&](double x) { return slopes[a](x) * data.functions[c](x); }, lo, hi, cells);
                    dd = integrate([&](double x) { return slopes[a](x) * slopes[c](x); }, lo, hi, cells);
                }
                const size_t symmetric = size_t(BSplineData::symmetricIndex(a, c));
                const size_t full = size_t(a) * n + c;
                SCOPED_TRACE(testing::Message() << "b " << test.boundary << " inset " << test.inset << " pair " << a
                                                << "," << c);
                if (std::fabs(vv) < 1e-12) {
                    EXPECT_NEAR(data.vvTable[symmetric], 0, 1e-12);
                    EXPECT_EQ(data.dvTable[full], 0);
                    EXPECT_EQ(data.ddTable[symmetric], 0);
                    continue;
                }
                EXPECT_TRUE(nearRelative(data.vvTable[symmetric], vv, 1e-6)) << data.vvTable[symmetric] << " " << vv;
                EXPECT_TRUE(nearRelative(data.dvTable[full], dv / vv, 1e-5)) << data.dvTable[full] << " " << dv / vv;
                EXPECT_TRUE(nearRelative(data.ddTable[symmetric], dd / vv, 1e-5)) << data.ddTable[symmetric] << " "
                                                                                  << dd / vv;
            }
        }
        data.releaseInnerProductTables(BSplineData::DerivativeValue);
        EXPECT_TRUE(data.dvTable.empty());
        EXPECT_FALSE(data.vvTable.empty());
    }
}

TEST(BSplineDataTest, ValueTablesMatchAveragedFunctions)
{
    const int depth = 3;
    for (int boundary : {-1, 0, 1}) {
        BSplineData data;
        data.build(depth, boundary);
        const double smooth = 1.0 / (1 << depth);
        data.computeValueTables(BSplineData::Values | BSplineData::Derivatives, smooth / 2, smooth);
        const int n = data.functionCount;
        ASSERT_EQ(data.valueTable.size(), size_t(n * data.sampleCount));
        for (int f = 0; f < n; ++f) {
            const PiecewisePolynomial<1> slope = data.functions[f].derivative();
            for (int p = 0; p < data.sampleCount; ++p) {
                const double x = double(p) / (data.sampleCount - 1);
                // Knots and both ends of every window lie on the grid of width smooth / 2.
                const double value = integrate([&](double y) { return data.functions[f](y); }, x - smooth / 2,
                                               x + smooth / 2, 2) / smooth;
                const double derivative = integrate([&](double y) { return slope(y); }, x - smooth, x + smooth, 4) /
                                          (2 * smooth);
                EXPECT_NEAR(data.valueTable[size_t(p) * n + f], value, 1e-5) << boundary << " " << f << " " << p;
                EXPECT_NEAR(data.derivativeTable[size_t(p) * n + f], derivative, 1e-4) << boundary << " " << f << " " << p;
            }
        }
        data.releaseValueTables();
        EXPECT_TRUE(data.valueTable.empty());
        EXPECT_TRUE(data.derivativeTable.empty());
    }
}

TEST(BSplineDataTest, DepthZeroFunctionValues)
{
    BSplineData free;
    free.build(0, 0);
    free.computeValueTables(BSplineData::Values, 0.0);
    ASSERT_EQ(free.valueTable.size(), 3u);
    EXPECT_FLOAT_EQ(free.valueTable[0], 0.5f);
    EXPECT_FLOAT_EQ(free.valueTable[1], 0.75f);
    EXPECT_FLOAT_EQ(free.valueTable[2], 0.5f);
    EXPECT_TRUE(free.derivativeTable.empty());

    // With even reflection the depth-0 function and its two mirror images add
    // up to a partition of unity.
    BSplineData even;
    even.build(3, 1);
    even.computeValueTables(BSplineData::Values, 0.0);
    for (int p = 0; p < even.sampleCount; ++p)
        EXPECT_NEAR(even.valueTable[size_t(p) * even.functionCount], 1.0f, 1e-6) << p;
    for (int p : {0, 8, 16})
        EXPECT_EQ(even.valueTable[size_t(p) * even.functionCount], 1.0f) << p;
}
