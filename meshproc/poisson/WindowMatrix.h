#pragma once

#include "meshproc/poisson/SparseMatrix.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace Veltrane {
namespace PoissonReconstruction {

/// Where a group of sibling rows finds its columns: for each of the 27
/// neighbours of the siblings' parent (neighbour (a, b, e), each -1 to 1, at
/// 9 (a + 1) + 3 (b + 1) + e + 1), which of its children have a column and the
/// column of the first of them; the others follow one by one in child order.
struct SiblingColumns {
    int32_t first[27] = {};
    uint8_t numbered[27] = {};

    /// Column of child `child` of parent neighbour `neighbour`, -1 when it has none.
    int32_t column(int neighbour, int child) const;
};

/// Lower half of a symmetric matrix whose rows and columns are the nodes of one
/// octree depth, a row holding the entries of the node's 5 x 5 x 5 neighbourhood
/// up to and including the node itself, whose entry holds half of the diagonal
/// (A = S + S^T, as for SparseMatrix). A row keeps a 63-bit mask of the
/// neighbourhood positions it has entries for and their values; the columns
/// follow from the node's child index and its group of siblings, so an entry
/// takes the four bytes of its value.
///
/// Neighbourhood position (i, j, k), each 0 to 4 with the node at (2, 2, 2) and
/// i along x, is i * 25 + j * 5 + k; the lower half is positions 0 to 62.
class WindowMatrix {
public:
    static constexpr int CentrePosition = 62;

    /// One run of consecutive rows as a builder hands it over: per row its
    /// child index and position mask, and the groups of siblings the run's
    /// rows fall in.
    struct Run {
        std::vector<uint8_t> childIndices;
        std::vector<uint64_t> masks;
        /// First row of each group, counted from the run's first row; the
        /// first group starts at 0.
        std::vector<int32_t> groupStarts;
        std::vector<SiblingColumns> groups;

        void clear();
    };

    /// The column of neighbourhood position `position` of a row whose node is
    /// child `childIndex` of its parent, in its group's columns; -1 for none.
    static int32_t column(const SiblingColumns& group, int childIndex, int position);

    /// n rows without entries (the previous rows are released).
    void resize(int32_t n);
    int32_t rowCount() const { return static_cast<int32_t>(masks_.size()); }

    /// A block of `capacity` values, kept with the matrix, for the runs of one
    /// builder thread to write their values into one after the other. Its
    /// pages are mapped for it alone: a block sized for the most entries its
    /// rows could have costs only the pages written, and goes back to the
    /// system as a whole when the matrix goes, whichever thread mapped it.
    float* valueBlock(size_t capacity);

    /// Stores `run` as the rows from `first` on, with its values in position
    /// order row by row at `values` (inside a block from valueBlock). Fails for
    /// rows outside the matrix, masks beyond the lower half or groups that do
    /// not cover the run in order. Threads may hand over disjoint runs at the
    /// same time.
    void setRows(int32_t first, const Run& run, const float* values);

    /// Calls visit(column, value) for each entry of `row`, in position order.
    template <class Visit>
    void forEachEntry(int32_t row, Visit visit) const;

    /// out := A x, plus the mean of x in every element when addMean; one thread
    /// per scratch array, the result independent of the scheduling.
    void multiplyParallel(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean) const;

    /// Conjugate gradients on A x = b, as SparseMatrix::solveConjugateGradient.
    static int32_t solveConjugateGradient(const WindowMatrix& A, const FloatVector& b, int iterations,
                                          FloatVector& x, ThreadScratch& scratch, double eps, bool addMean);

private:
    struct Group {
        int32_t firstRow = 0;
        SiblingColumns columns;
    };
    struct StoredRun {
        int32_t firstRow = 0, endRow = 0;
        const float* values = nullptr;
        std::vector<Group> groups;
    };
    /// Runs a thread multiplies (indices into the runs in row order) and the
    /// elements its rows write to.
    struct ThreadSpan {
        size_t firstRun = 0, endRun = 0;
        ElementRange elements;
    };
    struct Partition {
        std::vector<size_t> runOrder;
        std::vector<ThreadSpan> spans;
    };
    Partition partition(int threads) const;
    void multiply(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean,
                  const Partition& partition) const;
    const StoredRun& runHolding(int32_t row) const;

    std::vector<uint8_t> childIndices_;
    std::vector<uint64_t> masks_;
    std::vector<StoredRun> runs_;
    struct Unmap {
        size_t bytes = 0;
        void operator()(float* values) const;
    };
    std::vector<std::unique_ptr<float, Unmap>> valueBlocks_;
    std::mutex runsMutex_;
};

template <class Visit>
void WindowMatrix::forEachEntry(int32_t row, Visit visit) const
{
    const StoredRun& run = runHolding(row);
    const float* value = run.values;
    size_t group = 0;
    for (int32_t i = run.firstRow; i <= row; ++i) {
        while (group + 1 < run.groups.size() && run.groups[group + 1].firstRow <= i)
            ++group;
        for (uint64_t mask = masks_[static_cast<size_t>(i)]; mask; mask &= mask - 1, ++value)
            if (i == row)
                visit(column(run.groups[group].columns, childIndices_[static_cast<size_t>(i)], __builtin_ctzll(mask)),
                      *value);
    }
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
