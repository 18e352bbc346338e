#include "meshproc/poisson/SparseMatrix.h"

#include "meshproc/poisson/ReconstructionError.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Veltrane {
namespace PoissonReconstruction {

FloatVector FloatVector::subtract(const FloatVector& a, const FloatVector& b)
{
    FloatVector result(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        result[i] = a[i] - b[i];
    return result;
}

void ThreadScratch::resize(int threads, int32_t capacity)
{
    if (static_cast<int>(arrays_.size()) == threads && capacity_ >= capacity)
        return;
    arrays_.clear();
    for (int t = 0; t < threads; ++t)
        arrays_.emplace_back(new float[static_cast<size_t>(capacity)]());
    capacity_ = capacity;
}

void SparseMatrix::resize(int32_t n)
{
    const size_t count = static_cast<size_t>(std::max(n, 0));
    blocks_.clear();
    rowSizes_.assign(count, 0);
    rows_.assign(count, nullptr);
}

void SparseMatrix::setRows(int32_t first, int32_t count, const int32_t* sizes, const SparseEntry* entries)
{
    if (first < 0 || count < 0 || count > rowCount() - first)
        failReconstruction(formatMessage("[ERROR] Matrix rows %d to %d outside %d rows\n", first, first + count - 1,
                                         rowCount()));
    size_t total = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (sizes[k] < 0)
            failReconstruction(formatMessage("[ERROR] Matrix row %d of %d entries\n", first + k, sizes[k]));
        total += static_cast<size_t>(sizes[k]);
    }
    std::unique_ptr<SparseEntry[]> block(new SparseEntry[total]);
    std::copy(entries, entries + total, block.get());
    const SparseEntry* start = block.get();
    for (int32_t k = 0; k < count; ++k) {
        rows_[static_cast<size_t>(first + k)] = start;
        rowSizes_[static_cast<size_t>(first + k)] = sizes[k];
        start += sizes[k];
    }
    const std::lock_guard<std::mutex> lock(blocksMutex_);
    blocks_.push_back(std::move(block));
}

std::vector<SparseMatrix::ThreadSpan> SparseMatrix::threadSpans(int threads) const
{
    const int32_t rows = rowCount();
    std::vector<ThreadSpan> spans(static_cast<size_t>(threads));
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int t = 0; t < threads; ++t) {
        ThreadSpan& span = spans[static_cast<size_t>(t)];
        span.firstRow = static_cast<int32_t>(int64_t(rows) * t / threads);
        span.endRow = static_cast<int32_t>(int64_t(rows) * (t + 1) / threads);
        span.elements = {span.firstRow, span.endRow};
        for (int32_t i = span.firstRow; i < span.endRow; ++i) {
            const SparseEntry* entries = row(i);
            for (int32_t e = 0; e < rowSizes_[static_cast<size_t>(i)]; ++e) {
                span.elements.first = std::min<int64_t>(span.elements.first, entries[e].column);
                span.elements.end = std::max<int64_t>(span.elements.end, int64_t(entries[e].column) + 1);
            }
        }
    }
    return spans;
}

void SparseMatrix::multiplyParallel(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean) const
{
    multiply(x, out, scratch, addMean, threadSpans(scratch.threads()));
}

void SparseMatrix::multiply(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean,
                            const std::vector<ThreadSpan>& spans) const
{
    const int threads = scratch.threads();
    std::vector<ElementRange> ranges;
    for (const ThreadSpan& span : spans)
        ranges.push_back(span.elements);
    checkThreadProduct(scratch, x, out, rowCount(), ranges);

    // A thread's rows write only to the elements of its span, so only those
    // are cleared and summed: the rest of its array would add exact zeros.
    std::vector<float> partialSums(static_cast<size_t>(threads), 0.0f);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int t = 0; t < threads; ++t) {
        const ThreadSpan& span = spans[static_cast<size_t>(t)];
        float* s = scratch.array(t);
        std::fill(s + span.elements.first, s + span.elements.end, 0.0f);
        float sum = 0;
        for (int32_t i = span.firstRow; i < span.endRow; ++i) {
            const SparseEntry* entries = row(i);
            const float xi = x[static_cast<size_t>(i)];
            for (int32_t e = 0; e < rowSizes_[static_cast<size_t>(i)]; ++e) {
                s[i] += entries[e].value * x[static_cast<size_t>(entries[e].column)];
                s[entries[e].column] += entries[e].value * xi;
            }
            if (addMean)
                sum += xi;
        }
        partialSums[static_cast<size_t>(t)] = sum;
    }
    sumThreadArrays(scratch, ranges, partialSums, addMean, out);
}

void checkThreadProduct(const ThreadScratch& scratch, const FloatVector& x, const FloatVector& out, int32_t rows,
                        const std::vector<ElementRange>& ranges)
{
    const int64_t n = static_cast<int64_t>(x.size());
    if (scratch.threads() < 1 || scratch.capacity() < n || n < rows || out.size() != x.size() ||
        static_cast<int>(ranges.size()) != scratch.threads())
        failReconstruction(formatMessage("[ERROR] Matrix product over %d elements with scratch for %d\n",
                                         static_cast<int>(n), scratch.capacity()));
    for (const ElementRange& range : ranges)
        if (range.first < 0 || range.end > n)
            failReconstruction(formatMessage("[ERROR] Matrix column outside a product over %d elements\n",
                                             static_cast<int>(n)));
}

void sumThreadArrays(const ThreadScratch& scratch, const std::vector<ElementRange>& ranges,
                     const std::vector<float>& partialSums, bool addMean, FloatVector& out)
{
    const int threads = scratch.threads();
    float mean = 0;
    if (addMean) {
        float total = 0;
        for (float sum : partialSums)
            total += sum;
        mean = total / static_cast<float>(out.size());
    }
    // Block by block, each block summing the arrays in thread order.
    const int64_t count = static_cast<int64_t>(out.size());
    const int64_t blockSize = 4096;
    const int64_t blocks = (count + blockSize - 1) / blockSize;
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int64_t block = 0; block < blocks; ++block) {
        const int64_t blockBegin = block * blockSize;
        const int64_t blockEnd = std::min(count, blockBegin + blockSize);
        float* o = out.data();
        std::fill(o + blockBegin, o + blockEnd, mean);
        for (int t = 0; t < threads; ++t) {
            const ElementRange& range = ranges[static_cast<size_t>(t)];
            const float* s = scratch.array(t);
            const int64_t end = std::min(blockEnd, range.end);
            for (int64_t i = std::max(blockBegin, range.first); i < end; ++i)
                o[i] += s[i];
        }
    }
}

int32_t SparseMatrix::solveConjugateGradient(const SparseMatrix& A, const FloatVector& b, int iterations,
                                             FloatVector& x, ThreadScratch& scratch, double eps, bool addMean)
{
    const std::vector<ThreadSpan> spans = A.threadSpans(scratch.threads());
    const auto product = [&](const FloatVector& v, FloatVector& out) { A.multiply(v, out, scratch, addMean, spans); };
    return PoissonReconstruction::solveConjugateGradient(product, b, iterations, x, scratch.threads(), eps);
}

int32_t solveConjugateGradient(const MatrixProduct& product, const FloatVector& b, int iterations, FloatVector& x,
                               int threads, double eps)
{
    const int64_t n = static_cast<int64_t>(b.size());
    FloatVector r(b.size()), d(b.size()), q(b.size());

    // r := b - A x, also into d; returns |r|^2.
    auto residual = [&](bool alsoDirection) {
        product(x, r);
        double delta = 0;
#pragma omp parallel for num_threads(threads) schedule(static) reduction(+ : delta)
        for (int64_t i = 0; i < n; ++i) {
            r[i] = b[i] - r[i];
            if (alsoDirection)
                d[i] = r[i];
            delta += double(r[i] * r[i]);
        }
        return delta;
    };

    double delta = residual(true);
    const double delta0 = delta;
    const float epsSquared = static_cast<float>(eps * eps);
    if (double(epsSquared) > delta) {
        std::fprintf(stderr, "[WARNING] Initial residual too low: %g < %f\n", delta, double(epsSquared));
        return 0;
    }
    const double threshold = eps * eps * delta0;
    int32_t k = 0;
    while (k < iterations && delta > threshold) {
        product(d, q);
        double dq = 0;
#pragma omp parallel for num_threads(threads) schedule(static) reduction(+ : dq)
        for (int64_t i = 0; i < n; ++i)
            dq += double(d[i] * q[i]);
        const float alpha = static_cast<float>(delta / dq);
        // A direction without curvature gives no step; going on would write
        // inf or NaN into the solution.
        if (dq == 0 || !std::isfinite(alpha))
            break;
        const double deltaOld = delta;
        if (k % 50 == 49) {
#pragma omp parallel for num_threads(threads) schedule(static)
            for (int64_t i = 0; i < n; ++i)
                x[i] += alpha * d[i];
            r.resize(b.size());
            delta = residual(false);
        } else {
            delta = 0;
#pragma omp parallel for num_threads(threads) schedule(static) reduction(+ : delta)
            for (int64_t i = 0; i < n; ++i) {
                r[i] = r[i] - alpha * q[i];
                delta += double(r[i] * r[i]);
                x[i] += alpha * d[i];
            }
        }
        const float beta = static_cast<float>(delta / deltaOld);
#pragma omp parallel for num_threads(threads) schedule(static)
        for (int64_t i = 0; i < n; ++i)
            d[i] = r[i] + beta * d[i];
        ++k;
    }
    return k;
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
