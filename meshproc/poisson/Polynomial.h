#pragma once

#include <limits>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Real roots of a*x^2 + b*x + c = 0 as (real, imaginary) pairs; returns how
/// many (0, 1 or 2). |a| <= eps makes the equation linear (no root when also
/// |b| <= eps). Two roots come as -b/2a -/+ sqrt(D)/2a, in that order, or as
/// the complex pair with imaginary parts -/+ sqrt(-D)/2a.
int solveQuadratic(double eps, double a, double b, double c, double roots[2][2]);

/// Polynomial of degree N with double coefficients, constant term first.
template <int N>
class Polynomial {
public:
    static_assert(N >= 0, "polynomial degree must not be negative");

    double coefficients[N + 1] = {};

    Polynomial() = default;

    /// Widens a polynomial of lower degree (new top coefficients are 0).
    template <int M>
    explicit Polynomial(const Polynomial<M>& other)
    {
        static_assert(M <= N, "a polynomial only converts to a higher degree");
        for (int k = 0; k <= M; ++k)
            coefficients[k] = other.coefficients[k];
    }

    double& operator[](int k) { return coefficients[k]; }
    double operator[](int k) const { return coefficients[k]; }

    /// Horner's rule.
    double operator()(double x) const
    {
        double value = coefficients[N];
        for (int k = N - 1; k >= 0; --k)
            value = value * x + coefficients[k];
        return value;
    }

    Polynomial<(N > 0 ? N - 1 : 0)> derivative() const
    {
        static_assert(N > 0, "the derivative needs degree 1 or more");
        Polynomial<(N > 0 ? N - 1 : 0)> result;
        for (int k = 1; k <= N; ++k)
            result.coefficients[k - 1] = coefficients[k] * k;
        return result;
    }

    /// Antiderivative that vanishes at `start`.
    Polynomial<N + 1> integral(double start) const
    {
        Polynomial<N + 1> result;
        for (int k = 0; k <= N; ++k)
            result.coefficients[k + 1] = coefficients[k] / (k + 1);
        result.coefficients[0] = -result(start);
        return result;
    }

    /// Integral over [a, b]. A bound equal to the largest finite double (or
    /// its negative) keeps that value in every power instead of overflowing.
    double integral(double a, double b) const
    {
        const double largest = std::numeric_limits<double>::max();
        const bool aFixed = a == largest || a == -largest;
        const bool bFixed = b == largest || b == -largest;
        double powerA = a;
        double powerB = b;
        double sum = 0;
        for (int k = 0; k <= N; ++k) {
            sum += coefficients[k] * (powerB - powerA) / (k + 1);
            if (!aFixed)
                powerA *= a;
            if (!bFixed)
                powerB *= b;
        }
        return sum;
    }

    /// The polynomial of x -> p(x - t).
    Polynomial shift(double t) const
    {
        Polynomial result;
        for (int j = 0; j <= N; ++j) {
            double factor = 1;
            int count = 1;
            for (int k = j; k >= 0; --k, ++count) {
                result.coefficients[k] += coefficients[j] * factor;
                factor *= -k * t;
                factor /= count;
            }
        }
        return result;
    }

    /// The polynomial of x -> p(x / s).
    Polynomial scale(double s) const
    {
        Polynomial result;
        double power = 1;
        for (int k = 0; k <= N; ++k) {
            result.coefficients[k] = coefficients[k] / power;
            power *= s;
        }
        return result;
    }

    template <int M>
    Polynomial<N + M> operator*(const Polynomial<M>& other) const
    {
        Polynomial<N + M> result;
        for (int i = 0; i <= N; ++i)
            for (int j = 0; j <= M; ++j)
                result.coefficients[i + j] += coefficients[i] * other.coefficients[j];
        return result;
    }

    Polynomial& operator+=(const Polynomial& other)
    {
        for (int k = 0; k <= N; ++k)
            coefficients[k] += other.coefficients[k];
        return *this;
    }
    Polynomial& operator-=(const Polynomial& other)
    {
        for (int k = 0; k <= N; ++k)
            coefficients[k] -= other.coefficients[k];
        return *this;
    }
    Polynomial& operator*=(double s)
    {
        for (double& c : coefficients)
            c *= s;
        return *this;
    }
    Polynomial& operator/=(double s)
    {
        for (double& c : coefficients)
            c /= s;
        return *this;
    }
    Polynomial operator+(const Polynomial& other) const { return Polynomial(*this) += other; }
    Polynomial operator-(const Polynomial& other) const { return Polynomial(*this) -= other; }
    Polynomial operator-() const { return Polynomial(*this) *= -1.0; }
    Polynomial operator*(double s) const { return Polynomial(*this) *= s; }
    Polynomial operator/(double s) const { return Polynomial(*this) /= s; }

    /// Real solutions of p(x) = value (degree 2 only): clears `solutions` and
    /// appends the real part of every root whose imaginary part is at most eps.
    void getSolutions(double value, std::vector<double>& solutions, double eps) const
    {
        static_assert(N == 2, "solutions are only available for quadratics");
        solutions.clear();
        double roots[2][2];
        const int count = solveQuadratic(eps, coefficients[2], coefficients[1],
                                         coefficients[0] - value, roots);
        for (int i = 0; i < count; ++i)
            if (roots[i][1] <= eps && roots[i][1] >= -eps)
                solutions.push_back(roots[i][0]);
    }
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
