#include "meshproc/poisson/PiecewisePolynomial.h"
#include "meshproc/poisson/Polynomial.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace Veltrane::PoissonReconstruction;

namespace {

template <int N>
Polynomial<N> randomPolynomial(std::mt19937& random)
{
    std::uniform_real_distribution<double> coefficient(-2, 2);
    Polynomial<N> p;
    for (double& c : p.coefficients)
        c = coefficient(random);
    return p;
}

// Gauss-Legendre integration with 3 points per step, exact for degree 5 on
// every step that holds no knot.
template <class F>
double integrate(F f, double a, double b, int steps)
{
    const double nodes[3] = {-std::sqrt(0.6), 0, std::sqrt(0.6)};
    const double weights[3] = {5.0 / 9, 8.0 / 9, 5.0 / 9};
    double sum = 0;
    const double h = (b - a) / steps;
    for (int s = 0; s < steps; ++s)
        for (int g = 0; g < 3; ++g)
            sum += weights[g] * f(a + h * (s + 0.5 + 0.5 * nodes[g])) * h / 2;
    return sum;
}

}  // namespace

TEST(PolynomialTest, TransformsMatchDirectEvaluation)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 20; ++trial) {
        const Polynomial<3> p = randomPolynomial<3>(random);
        const Polynomial<2> q = randomPolynomial<2>(random);
        const double t = std::uniform_real_distribution<double>(-3, 3)(random);
        const double s = std::uniform_real_distribution<double>(0.2, 4)(random);
        const double start = std::uniform_real_distribution<double>(-1, 1)(random);
        const Polynomial<4> antiderivative = p.integral(start);
        for (double x : {-1.7, -0.3, 0.0, 0.8, 2.5}) {
            EXPECT_NEAR(p.shift(t)(x), p(x - t), 1e-9);
            EXPECT_NEAR(p.scale(s)(x), p(x / s), 1e-9);
            EXPECT_NEAR((p * q)(x), p(x) * q(x), 1e-9);
            EXPECT_NEAR(Polynomial<5>(p)(x), p(x), 1e-12);
            EXPECT_NEAR(antiderivative.derivative()(x), p(x), 1e-9);
            EXPECT_NEAR(antiderivative(x), integrate(p, start, x, 4), 1e-9);
        }
        EXPECT_NEAR(antiderivative(start), 0, 1e-12);
        EXPECT_NEAR(p.integral(-0.5, 1.25), integrate(p, -0.5, 1.25, 4), 1e-9);
        const Polynomial<2> derivative = p.derivative();
        EXPECT_NEAR(derivative(0.7), (p(0.7 + 1e-6) - p(0.7 - 1e-6)) / 2e-6, 1e-5);
    }
}

TEST(PolynomialTest, IntegralUpToLargestDoubleStaysFinite)
{
    Polynomial<0> one;
    one[0] = 1;
    const double largest = std::numeric_limits<double>::max();
    EXPECT_EQ(one.integral(0.0, largest), largest);
    EXPECT_EQ(one.integral(-largest, 0.0), largest);
}

TEST(PolynomialTest, SolveQuadraticCases)
{
    struct Case {
        double a, b, c;
        int count;
        double roots[2][2];
    };
    const Case cases[] = {
        {0, 0, 5, 0, {}},                     // constant: no root
        {0, 2, -4, 1, {{2, 0}}},              // linear
        {1, 0, 1, 2, {{0, -1}, {0, 1}}},      // complex pair, negative part first
        {1, -3, 2, 2, {{1, 0}, {2, 0}}},      // -b/2a - sqrt(D)/2a first
        {-1, 3, -2, 2, {{2, 0}, {1, 0}}},     // order follows the sign of a, not the value
        {1, -2, 1, 2, {{1, 0}, {1, 0}}},      // double root
        {1e-7, 2, -4, 1, {{2, 0}}},           // |a| <= eps counts as linear
    };
    for (const Case& test : cases) {
        double roots[2][2] = {};
        ASSERT_EQ(solveQuadratic(1e-6, test.a, test.b, test.c, roots), test.count)
            << test.a << " " << test.b << " " << test.c;
        for (int i = 0; i < test.count; ++i) {
            EXPECT_DOUBLE_EQ(roots[i][0], test.roots[i][0]);
            EXPECT_DOUBLE_EQ(roots[i][1], test.roots[i][1]);
        }
    }
}

TEST(PolynomialTest, GetSolutionsKeepsRealRootsOnly)
{
    Polynomial<2> square;
    square[2] = 1;
    std::vector<double> solutions{42};
    square.getSolutions(0, solutions, 1e-6);
    EXPECT_EQ(solutions, (std::vector<double>{0, 0}));
    square.getSolutions(4, solutions, 1e-6);
    EXPECT_EQ(solutions, (std::vector<double>{-2, 2}));
    square.getSolutions(-1, solutions, 1e-6);
    EXPECT_TRUE(solutions.empty());
}

TEST(PiecewisePolynomialTest, BoxCountsOnlyStartsBelowX)
{
    const PiecewisePolynomial<0> box = PiecewisePolynomial<0>::box(0.5);
    EXPECT_EQ(box(-0.5), 0);
    EXPECT_EQ(box(0), 1);
    EXPECT_EQ(box(0.5), 1);
    EXPECT_EQ(box(std::nextafter(0.5, 1.0)), 0);
    EXPECT_EQ(PiecewisePolynomial<2>()(0.3), 0);
}

TEST(PiecewisePolynomialTest, SetSortsAndMergesEqualStarts)
{
    StartingPolynomial<1> items[3];
    items[0].p[0] = 1;
    items[0].start = 1;
    items[1].p[1] = 2;
    items[1].start = 0;
    items[2].p[0] = 3;
    items[2].p[1] = 4;
    items[2].start = 1;
    const PiecewisePolynomial<1> f(items, 3);
    ASSERT_EQ(f.polyCount(), 2);
    EXPECT_EQ(f[0].start, 0);
    EXPECT_EQ(f[0].p[1], 2);
    EXPECT_EQ(f[1].start, 1);
    EXPECT_EQ(f[1].p[0], 4);
    EXPECT_EQ(f[1].p[1], 4);
}

TEST(PiecewisePolynomialTest, QuadraticBSplineOfUnitWidth)
{
    const PiecewisePolynomial<1> hat = PiecewisePolynomial<1>::bSpline(0.5);
    ASSERT_EQ(hat.polyCount(), 3);
    EXPECT_EQ(hat[0].start, -1);
    EXPECT_EQ(hat[1].start, 0);
    EXPECT_EQ(hat[2].start, 1);
    EXPECT_NEAR(hat(0), 1, 1e-15);
    EXPECT_NEAR(hat(0.5), 0.5, 1e-15);

    const PiecewisePolynomial<2> spline = PiecewisePolynomial<2>::bSpline(0.5);
    ASSERT_EQ(spline.polyCount(), 4);
    const double starts[4] = {-1.5, -0.5, 0.5, 1.5};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(spline[i].start, starts[i]);
    EXPECT_NEAR(spline(0), 0.75, 1e-15);
    EXPECT_NEAR(spline(1), 0.125, 1e-15);
    EXPECT_NEAR(spline(-1), 0.125, 1e-15);
    EXPECT_NEAR(spline(1.6), 0, 1e-15);
    EXPECT_NEAR(spline(-1.6), 0, 1e-15);
    for (double x = -1.4; x < 1.5; x += 0.1) {
        const double t = std::fabs(x);
        const double expected = t <= 0.5 ? 0.75 - t * t : 0.5 * (1.5 - t) * (1.5 - t);
        EXPECT_NEAR(spline(x), expected, 1e-14) << x;
    }
}

TEST(PiecewisePolynomialTest, MovingAverageAndTransformsMatchBruteForce)
{
    const PiecewisePolynomial<2> spline = PiecewisePolynomial<2>::bSpline(0.5);
    const PiecewisePolynomial<2> moved = spline.scale(0.25).shift(0.3) * 3.0;
    const PiecewisePolynomial<3> averaged = spline.movingAverage(0.125);
    const PiecewisePolynomial<1> slope = spline.derivative();
    const PiecewisePolynomial<3> raised = spline.raised();
    for (double x = -2; x <= 2; x += 0.0625) {
        EXPECT_NEAR(moved(x), 3 * spline((x - 0.3) / 0.25), 1e-12) << x;
        EXPECT_NEAR(raised(x), spline(x), 1e-14) << x;
        // Knots lie on multiples of 0.5 and x +/- 0.125 on multiples of 0.0625.
        EXPECT_NEAR(averaged(x), integrate(spline, x - 0.125, x + 0.125, 4) / 0.25, 1e-12) << x;
        EXPECT_NEAR(slope(x + 0.01), (spline(x + 0.01 + 1e-6) - spline(x + 0.01 - 1e-6)) / 2e-6, 1e-6) << x;
    }
    EXPECT_NEAR((moved / 3.0)(0.3), 0.75, 1e-14);
}
