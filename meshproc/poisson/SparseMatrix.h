#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
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

private:
    int32_t capacity_ = 0;
    std::vector<std::unique_ptr<float[]>> arrays_;
};

/// Square matrix that stores one half of a symmetric matrix A row by row: a
/// row i holds entries (j, v) for the columns j that precede i and for i itself,
/// whose entry holds half of A's diagonal. So A = S + S^T for the stored S.
/// All rows share one block of entries, each row the room it was given.
class SparseMatrix {
public:
    /// One row per element of rowRoom, with room for that many entries and none
    /// in use (the previous rows are released). Negative room counts as 0.
    void resize(const std::vector<int32_t>& rowRoom);
    /// n rows without room.
    void resize(int32_t n) { resize(std::vector<int32_t>(static_cast<size_t>(std::max(n, 0)), 0)); }
    void clear() { resize(0); }

    int32_t rowCount() const { return static_cast<int32_t>(rowSizes_.size()); }
    /// Entries a row has room for.
    int32_t rowRoom(int32_t row) const
    {
        return static_cast<int32_t>(rowStarts_[static_cast<size_t>(row) + 1] - rowStarts_[static_cast<size_t>(row)]);
    }

    /// Entries in use in a row; at most its room.
    int32_t& rowSize(int32_t row) { return rowSizes_[static_cast<size_t>(row)]; }
    int32_t rowSize(int32_t row) const { return rowSizes_[static_cast<size_t>(row)]; }
    SparseEntry* row(int32_t row) { return entries_.data() + rowStarts_[static_cast<size_t>(row)]; }
    const SparseEntry* row(int32_t row) const { return entries_.data() + rowStarts_[static_cast<size_t>(row)]; }

    /// out := A x, plus the mean of x in every element when addMean. One thread
    /// per scratch array; the transposed terms go to each thread's own array
    /// and are summed in thread order, so the result does not depend on the
    /// scheduling.
    void multiplyParallel(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean) const;

    /// Conjugate gradients on A x = b from the incoming x, at most `iterations`
    /// steps, until the squared residual falls below eps^2 times the initial
    /// one. Returns the steps taken; 0 (with a warning line) when the initial
    /// squared residual is already below eps^2. Stops early when a search
    /// direction has no curvature.
    static int32_t solveConjugateGradient(const SparseMatrix& A, const FloatVector& b, int iterations,
                                          FloatVector& x, ThreadScratch& scratch, double eps, bool addMean);

private:
    /// Rows a thread multiplies and the element range of its scratch array
    /// those rows write to.
    struct ThreadSpan {
        int32_t firstRow = 0, endRow = 0;
        int64_t firstElement = 0, endElement = 0;
    };
    /// Checks the rows and splits them over `threads` threads.
    std::vector<ThreadSpan> threadSpans(int threads) const;
    void multiply(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean,
                  const std::vector<ThreadSpan>& spans) const;

    std::vector<int32_t> rowSizes_;
    /// Row i's entries are entries_[rowStarts_[i], rowStarts_[i + 1]).
    std::vector<int64_t> rowStarts_{0};
    std::vector<SparseEntry> entries_;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
