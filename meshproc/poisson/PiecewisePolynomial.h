#pragma once

#include "meshproc/poisson/Polynomial.h"

#include <algorithm>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// A polynomial that takes effect from `start` onwards.
template <int N>
struct StartingPolynomial {
    Polynomial<N> p;
    double start = 0;
};

/// Sum of starting polynomials: the value at x adds every piece whose start
/// lies strictly below x. Pieces are kept sorted by start, no two starts equal.
/// An empty piecewise polynomial is 0 everywhere and stays empty under every
/// operation.
template <int N>
class PiecewisePolynomial {
public:
    PiecewisePolynomial() = default;
    PiecewisePolynomial(const StartingPolynomial<N>* items, int count) { set(items, count); }

    int polyCount() const { return static_cast<int>(pieces_.size()); }
    const StartingPolynomial<N>& operator[](int i) const { return pieces_[i]; }

    /// Replaces the contents with `items` sorted by start; items with exactly
    /// equal starts are merged by adding their coefficients.
    void set(const StartingPolynomial<N>* items, int count)
    {
        std::vector<StartingPolynomial<N>> sorted(items, items + count);
        std::sort(sorted.begin(), sorted.end(),
                  [](const StartingPolynomial<N>& a, const StartingPolynomial<N>& b) {
                      return a.start < b.start;
                  });
        pieces_.clear();
        for (const StartingPolynomial<N>& item : sorted) {
            if (!pieces_.empty() && pieces_.back().start == item.start)
                pieces_.back().p += item.p;
            else
                pieces_.push_back(item);
        }
        pieces_.shrink_to_fit();
    }

    double operator()(double x) const
    {
        double value = 0;
        for (const StartingPolynomial<N>& piece : pieces_) {
            if (!(piece.start < x))
                break;
            value += piece.p(x);
        }
        return value;
    }

    PiecewisePolynomial<(N > 0 ? N - 1 : 0)> derivative() const
    {
        std::vector<StartingPolynomial<(N > 0 ? N - 1 : 0)>> items(pieces_.size());
        for (size_t i = 0; i < pieces_.size(); ++i)
            items[i] = {pieces_[i].p.derivative(), pieces_[i].start};
        return PiecewisePolynomial<(N > 0 ? N - 1 : 0)>::fromSorted(std::move(items));
    }

    /// The function of x -> f(x / s).
    PiecewisePolynomial scale(double s) const
    {
        PiecewisePolynomial result(*this);
        for (StartingPolynomial<N>& piece : result.pieces_) {
            piece.p = piece.p.scale(s);
            piece.start *= s;
        }
        return result;
    }

    /// The function of x -> f(x - t).
    PiecewisePolynomial shift(double t) const
    {
        PiecewisePolynomial result(*this);
        for (StartingPolynomial<N>& piece : result.pieces_) {
            piece.p = piece.p.shift(t);
            piece.start += t;
        }
        return result;
    }

    PiecewisePolynomial& operator*=(double s)
    {
        for (StartingPolynomial<N>& piece : pieces_)
            piece.p *= s;
        return *this;
    }
    PiecewisePolynomial& operator/=(double s)
    {
        for (StartingPolynomial<N>& piece : pieces_)
            piece.p /= s;
        return *this;
    }
    PiecewisePolynomial operator*(double s) const { return PiecewisePolynomial(*this) *= s; }
    PiecewisePolynomial operator/(double s) const { return PiecewisePolynomial(*this) /= s; }

    /// The same function one degree higher.
    PiecewisePolynomial<N + 1> raised() const
    {
        std::vector<StartingPolynomial<N + 1>> items(pieces_.size());
        for (size_t i = 0; i < pieces_.size(); ++i)
            items[i] = {Polynomial<N + 1>(pieces_[i].p), pieces_[i].start};
        return PiecewisePolynomial<N + 1>::fromSorted(std::move(items));
    }

    /// x -> 1/(2r) times the integral of f over [x - r, x + r].
    PiecewisePolynomial<N + 1> movingAverage(double r) const
    {
        std::vector<StartingPolynomial<N + 1>> items;
        items.reserve(2 * pieces_.size());
        for (const StartingPolynomial<N>& piece : pieces_) {
            const Polynomial<N + 1> integral = piece.p.integral(piece.start);
            items.push_back({integral.shift(-r), piece.start - r});
            items.push_back({-integral.shift(r), piece.start + r});
        }
        PiecewisePolynomial<N + 1> result(items.data(), static_cast<int>(items.size()));
        result /= 2 * r;
        return result;
    }

    /// 1 on (-r, r], 0 elsewhere (degree 0 only).
    static PiecewisePolynomial box(double r)
    {
        static_assert(N == 0, "the box function has degree 0");
        StartingPolynomial<0> items[2];
        items[0].p[0] = 1;
        items[0].start = -r;
        items[1].p[0] = -1;
        items[1].start = r;
        return PiecewisePolynomial(items, 2);
    }

    /// B-spline of degree N: the degree N - 1 B-spline of radius 0.5 averaged
    /// over radius r; degree 0 is the box of radius r. With r = 0.5 the result
    /// is the B-spline of unit knot spacing centred at 0.
    static PiecewisePolynomial bSpline(double r)
    {
        if constexpr (N == 0)
            return box(r);
        else
            return PiecewisePolynomial<N - 1>::bSpline(0.5).movingAverage(r);
    }

    /// Wraps pieces that are already sorted with distinct starts.
    static PiecewisePolynomial fromSorted(std::vector<StartingPolynomial<N>> items)
    {
        PiecewisePolynomial result;
        result.pieces_ = std::move(items);
        return result;
    }

private:
    std::vector<StartingPolynomial<N>> pieces_;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
