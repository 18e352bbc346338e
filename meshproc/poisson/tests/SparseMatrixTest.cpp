#include "meshproc/poisson/ReconstructionError.h"
#include "meshproc/poisson/SparseMatrix.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace Veltrane::PoissonReconstruction;

namespace {

// A random symmetric positive definite matrix stored as its lower half (the
// diagonal entry holding half of the diagonal), with the dense matrix it stands for.
struct RandomSystem {
    SparseMatrix matrix;
    Eigen::MatrixXd dense;

    RandomSystem(int n, unsigned seed)
        : dense(Eigen::MatrixXd::Zero(n, n))
    {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> value(-1, 1);
        std::bernoulli_distribution present(0.3);
        std::vector<std::vector<SparseEntry>> rows(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            std::vector<SparseEntry>& entries = rows[static_cast<size_t>(i)];
            float rowSum = 0;
            for (int j = 0; j < i; ++j)
                if (present(random)) {
                    entries.push_back({j, value(random)});
                    rowSum += std::fabs(entries.back().value);
                }
            entries.push_back({i, 0.5f * (2.0f + 2 * rowSum + std::fabs(value(random)) * float(n) / 4)});
            // Row order carries no meaning.
            std::shuffle(entries.begin(), entries.end(), random);
        }
        // Handed over in runs of three rows.
        matrix.resize(n);
        for (int first = 0; first < n; first += 3) {
            std::vector<int32_t> sizes;
            std::vector<SparseEntry> run;
            for (int i = first; i < std::min(n, first + 3); ++i) {
                sizes.push_back(int32_t(rows[static_cast<size_t>(i)].size()));
                run.insert(run.end(), rows[static_cast<size_t>(i)].begin(), rows[static_cast<size_t>(i)].end());
            }
            matrix.setRows(first, int32_t(sizes.size()), sizes.data(), run.data());
        }
        for (int i = 0; i < n; ++i) {
            const std::vector<SparseEntry>& entries = rows[static_cast<size_t>(i)];
            for (size_t e = 0; e < entries.size(); ++e) {
                dense(i, entries[e].column) += entries[e].value;
                dense(entries[e].column, i) += entries[e].value;
            }
        }
    }
};

FloatVector randomVector(int n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-2, 2);
    FloatVector v(n);
    for (int i = 0; i < n; ++i)
        v[i] = value(random);
    return v;
}

Eigen::VectorXd toEigen(const FloatVector& v)
{
    Eigen::VectorXd result(v.size());
    for (size_t i = 0; i < v.size(); ++i)
        result[Eigen::Index(i)] = v[i];
    return result;
}

}  // namespace

TEST(SparseMatrixTest, OneRowAppliesTheDiagonalTwice)
{
    SparseMatrix matrix;
    matrix.resize(1);
    const int32_t size = 1;
    const SparseEntry diagonal{0, 1.5f};
    matrix.setRows(0, 1, &size, &diagonal);
    ThreadScratch scratch;
    scratch.resize(1, 1);
    FloatVector x(1), out(1);
    x[0] = 2;
    matrix.multiplyParallel(x, out, scratch, false);
    EXPECT_EQ(out[0], 6.0f);
    matrix.multiplyParallel(x, out, scratch, true);
    EXPECT_EQ(out[0], 8.0f);
}

TEST(SparseMatrixTest, ProductMatchesDenseForAnyThreadCount)
{
    const int n = 60;
    RandomSystem system(n, 3);
    const FloatVector x = randomVector(n, 4);
    const Eigen::VectorXd expected = system.dense * toEigen(x);
    const double mean = toEigen(x).mean();
    for (int threads : {1, 2, 5}) {
        ThreadScratch scratch;
        scratch.resize(threads, n);
        FloatVector out(n), again(n), withMean(n);
        system.matrix.multiplyParallel(x, out, scratch, false);
        system.matrix.multiplyParallel(x, again, scratch, false);
        system.matrix.multiplyParallel(x, withMean, scratch, true);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(out[i], expected[i], 1e-4 * (1 + std::fabs(expected[i])));
            EXPECT_EQ(out[i], again[i]);  // fixed summation order
            EXPECT_NEAR(withMean[i], expected[i] + mean, 1e-4 * (1 + std::fabs(expected[i])));
        }
    }
}

TEST(SparseMatrixTest, ConjugateGradientsMatchDenseSolve)
{
    const int n = 80;
    RandomSystem system(n, 8);
    const FloatVector b = randomVector(n, 9);
    for (bool addMean : {false, true}) {
        Eigen::MatrixXd dense = system.dense;
        if (addMean)
            dense.array() += 1.0 / n;
        const Eigen::VectorXd expected = dense.ldlt().solve(toEigen(b));
        for (int threads : {1, 3}) {
            ThreadScratch scratch;
            scratch.resize(threads, n);
            FloatVector x(n);
            const int iterations = SparseMatrix::solveConjugateGradient(system.matrix, b, 200, x, scratch, 1e-6, addMean);
            EXPECT_GT(iterations, 0);
            EXPECT_LT(iterations, 200);
            EXPECT_LT((toEigen(x) - expected).norm(), 1e-4 * expected.norm()) << addMean << " " << threads;
        }
    }
}

TEST(SparseMatrixTest, ResidualRecomputationPastFiftyIterations)
{
    // A shifted 1-D Laplacian (condition number about 1000) that needs more
    // than 100 iterations, so the residual is recomputed from b twice.
    const int n = 300;
    SparseMatrix matrix;
    Eigen::MatrixXd dense = Eigen::MatrixXd::Zero(n, n);
    std::vector<int32_t> sizes;
    std::vector<SparseEntry> entries;
    for (int i = 0; i < n; ++i) {
        sizes.push_back(i > 0 ? 2 : 1);
        entries.push_back({i, 1.002f});
        dense(i, i) = 2 * 1.002f;
        if (i > 0) {
            entries.push_back({i - 1, -1.0f});
            dense(i, i - 1) = dense(i - 1, i) = -1;
        }
    }
    matrix.resize(n);
    matrix.setRows(0, n, sizes.data(), entries.data());
    FloatVector b(n);
    for (int i = 0; i < n; ++i)
        b[i] = std::sin(0.05f * float(i)) + (i % 7 == 0 ? 1.0f : 0.0f);
    for (int threads : {1, 2}) {
        ThreadScratch scratch;
        scratch.resize(threads, n);
        FloatVector x(n);
        const int iterations = SparseMatrix::solveConjugateGradient(matrix, b, 1000, x, scratch, 1e-4, false);
        EXPECT_GT(iterations, 100);
        EXPECT_LT(iterations, 1000);
        const Eigen::VectorXd residual = toEigen(b) - dense * toEigen(x);
        EXPECT_LT(residual.norm(), 2e-4 * toEigen(b).norm()) << threads;
    }
}

TEST(SparseMatrixTest, StartsAtTheSolutionOrWithoutIterations)
{
    const int n = 20;
    RandomSystem system(n, 1);
    const FloatVector x0 = randomVector(n, 2);
    ThreadScratch scratch;
    scratch.resize(2, n);
    FloatVector b(n);
    system.matrix.multiplyParallel(x0, b, scratch, false);

    FloatVector x = x0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(SparseMatrix::solveConjugateGradient(system.matrix, b, 100, x, scratch, 1e-3, false), 0);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_EQ(warning.rfind("[WARNING] Initial residual too low: ", 0), 0u);
    EXPECT_NE(warning.find(" < 0.000001\n"), std::string::npos) << warning;
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(x[i], x0[i]);

    const FloatVector other = randomVector(n, 5);
    EXPECT_EQ(SparseMatrix::solveConjugateGradient(system.matrix, other, 0, x, scratch, 1e-3, false), 0);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(x[i], x0[i]);
}

TEST(SparseMatrixTest, DirectionWithoutCurvatureStops)
{
    const int n = 4;
    SparseMatrix zero;
    zero.resize(n);
    ThreadScratch scratch;
    scratch.resize(1, n);
    FloatVector b = randomVector(n, 6);
    FloatVector x(n);
    EXPECT_EQ(SparseMatrix::solveConjugateGradient(zero, b, 10, x, scratch, 1e-6, false), 0);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(x[i], 0.0f);
}

TEST(SparseMatrixTest, StorageHousekeeping)
{
    SparseMatrix matrix;
    matrix.resize(3);
    EXPECT_EQ(matrix.rowCount(), 3);
    const int32_t sizes[] = {2, 0, 1};
    const SparseEntry entries[] = {{0, 1.0f}, {1, 2.0f}, {2, 3.0f}};
    matrix.setRows(1, 2, sizes + 1, entries);
    EXPECT_EQ(matrix.rowSize(0), 0);
    EXPECT_EQ(matrix.rowSize(1), 0);
    EXPECT_EQ(matrix.rowSize(2), 1);
    EXPECT_EQ(matrix.row(2)[0].value, 1.0f);
    // Runs reaching outside the matrix and negative sizes are refused.
    testing::internal::CaptureStderr();
    EXPECT_THROW(matrix.setRows(2, 2, sizes, entries), ReconstructionError);
    EXPECT_THROW(matrix.setRows(-1, 1, sizes, entries), ReconstructionError);
    const int32_t negative = -1;
    EXPECT_THROW(matrix.setRows(0, 1, &negative, entries), ReconstructionError);
    testing::internal::GetCapturedStderr();
    ThreadScratch scratch;
    scratch.resize(1, 3);
    matrix.clear();
    EXPECT_EQ(matrix.rowCount(), 0);

    float* array = scratch.array(0);
    scratch.resize(1, 2);
    EXPECT_EQ(scratch.array(0), array);
    scratch.resize(2, 2);
    EXPECT_EQ(scratch.threads(), 2);
    EXPECT_EQ(scratch.capacity(), 2);

    FloatVector v(3);
    v[1] = 5;
    v.resize(3);
    EXPECT_EQ(v[1], 0);
    FloatVector a(2), c(2);
    a[0] = 3;
    c[0] = 1;
    EXPECT_EQ(FloatVector::subtract(a, c)[0], 2);
}
