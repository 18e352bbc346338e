#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Vector of floats; resizing zeroes every element.
class FloatVector {
public:
    FloatVector() = default;
    explicit FloatVector(size_t count) { resize(count); }

    /// count elements, all 0.
    void resize(size_t count) { values_.assign(count, 0.0f); }
    void clear() { std::vector<float>().swap(values_); }
    size_t size() const { return values_.size(); }

    float& operator[](size_t i) { return values_[i]; }
    float operator[](size_t i) const { return values_[i]; }
    float* data() { return values_.data(); }
    const float* data() const { return values_.data(); }

    /// a - b, element by element (a's size).
    static FloatVector subtract(const FloatVector& a, const FloatVector& b);

private:
    std::vector<float> values_;
};

struct SparseEntry {
    int32_t column = 0;
    float value = 0;
};

/// One float array per thread, reused across products.
class ThreadScratch {
public:
    /// Reallocates (zeroed) only when the thread count differs or the arrays
    /// are smaller than `capacity`.
    void resize(int threads, int32_t capacity);
    int threads() const { return static_cast<int>(arrays_.size()); }
    int32_t capacity() const { return capacity_; }
    float* array(int t) { return arrays_[static_cast<size_t>(t)].get(); }
    const float* array(int t) const { return arrays_[static_cast<size_t>(t)].get(); }

private:
    int32_t capacity_ = 0;
    std::vector<std::unique_ptr<float[]>> arrays_;
};

/// Elements [first, end) of a thread's scratch array that its share of a
/// product writes to.
struct ElementRange {
    int64_t first = 0, end = 0;
};

/// Fails the product into out of x by a matrix of `rows` rows unless x and
/// out have the same size n, at least `rows`, the scratch has one array of at
/// least n elements per range and every range lies inside the n elements.
void checkThreadProduct(const ThreadScratch& scratch, const FloatVector& x, const FloatVector& out, int32_t rows,
                        const std::vector<ElementRange>& ranges);

/// out := the sum of the threads' scratch arrays over their ranges, added in
/// thread order so that the result does not depend on scheduling; plus, when
/// addMean, the mean of x from the threads' partial sums of its elements.
void sumThreadArrays(const ThreadScratch& scratch, const std::vector<ElementRange>& ranges,
                     const std::vector<float>& partialSums, bool addMean, FloatVector& out);

/// out := A x for the symmetric matrix A of a solve.
using MatrixProduct = std::function<void(const FloatVector& x, FloatVector& out)>;

/// Conjugate gradients on A x = b from the incoming x, at most `iterations`
/// steps, until the squared residual falls below eps^2 times the initial one.
/// Returns the steps taken; 0 (with a warning line) when the initial squared
/// residual is already below eps^2. Stops early when a search direction has
/// no curvature.
int32_t solveConjugateGradient(const MatrixProduct& product, const FloatVector& b, int iterations, FloatVector& x,
                               int threads, double eps);

/// Square matrix that stores one half of a symmetric matrix A row by row: a
/// row i holds entries (j, v) for the columns j that precede i and for i itself,
/// whose entry holds half of A's diagonal. So A = S + S^T for the stored S.
/// Rows are handed over in runs of consecutive rows; each run's entries are
/// kept in one block of exactly their size.
class SparseMatrix {
public:
    /// n rows without entries (the previous rows are released).
    void resize(int32_t n);
    void clear() { resize(0); }

    int32_t rowCount() const { return static_cast<int32_t>(rowSizes_.size()); }

    /// Gives the `count` rows from `first` on their entries: sizes[k] entries
    /// for row first + k, taken in row order from `entries`. Fails the run for
    /// a run outside the matrix or a negative size. Threads may hand over
    /// disjoint runs at the same time.
    void setRows(int32_t first, int32_t count, const int32_t* sizes, const SparseEntry* entries);

    int32_t rowSize(int32_t row) const { return rowSizes_[static_cast<size_t>(row)]; }
    const SparseEntry* row(int32_t row) const { return rows_[static_cast<size_t>(row)]; }

    /// out := A x, plus the mean of x in every element when addMean. One thread
    /// per scratch array; the transposed terms go to each thread's own array
    /// and are summed in thread order, so the result does not depend on the
    /// scheduling.
    void multiplyParallel(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean) const;

    /// Conjugate gradients on A x = b (see the free function).
    static int32_t solveConjugateGradient(const SparseMatrix& A, const FloatVector& b, int iterations,
                                          FloatVector& x, ThreadScratch& scratch, double eps, bool addMean);

private:
    /// Rows a thread multiplies and the element range of its scratch array
    /// those rows write to.
    struct ThreadSpan {
        int32_t firstRow = 0, endRow = 0;
        ElementRange elements;
    };
    /// Splits the rows over `threads` threads.
    std::vector<ThreadSpan> threadSpans(int threads) const;
    void multiply(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean,
                  const std::vector<ThreadSpan>& spans) const;

    std::vector<int32_t> rowSizes_;
    /// Each row's first entry, inside one of the blocks.
    std::vector<const SparseEntry*> rows_;
    std::vector<std::unique_ptr<SparseEntry[]>> blocks_;
    std::mutex blocksMutex_;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
