#include "meshproc/poisson/WindowMatrix.h"

#include "meshproc/poisson/ReconstructionError.h"

#include <omp.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>

namespace Veltrane {
namespace PoissonReconstruction {

namespace {

constexpr int LowerHalfPositions = WindowMatrix::CentrePosition + 1;

/// For a node that is child c of its parent and a neighbourhood position p:
/// the parent neighbour holding that position's node, times 8, plus the
/// node's child index there. Along an axis the parent's children sit at 2 and
/// 3 of the six cells its neighbours' children span.
struct SlotTable {
    std::array<std::array<uint8_t, LowerHalfPositions>, 8> slots{};

    SlotTable()
    {
        for (int c = 0; c < 8; ++c)
            for (int p = 0; p < LowerHalfPositions; ++p) {
                const int window[3] = {p / 25, p / 5 % 5, p % 5};
                int neighbour = 0, child = 0;
                for (int axis = 0; axis < 3; ++axis) {
                    const int cell = ((c >> axis) & 1) + window[axis];
                    neighbour = neighbour * 3 + cell / 2;
                    child |= (cell % 2) << axis;
                }
                slots[static_cast<size_t>(c)][static_cast<size_t>(p)] = static_cast<uint8_t>(neighbour * 8 + child);
            }
    }
};

const SlotTable slotTable;

/// How many of the bits below bit `child` are set in `numbered`.
struct RankTable {
    std::array<std::array<uint8_t, 8>, 256> ranks{};

    RankTable()
    {
        for (int numbered = 0; numbered < 256; ++numbered)
            for (int child = 0; child < 8; ++child)
                ranks[static_cast<size_t>(numbered)][static_cast<size_t>(child)] =
                    static_cast<uint8_t>(__builtin_popcount(static_cast<unsigned>(numbered) & ((1u << child) - 1)));
    }
};

const RankTable rankTable;

constexpr uint64_t LowerHalfMask = (uint64_t(1) << LowerHalfPositions) - 1;

}  // namespace

int32_t SiblingColumns::column(int neighbour, int child) const
{
    const uint8_t bits = numbered[static_cast<size_t>(neighbour)];
    if (!(bits & (1u << child)))
        return -1;
    return first[static_cast<size_t>(neighbour)] + rankTable.ranks[bits][static_cast<size_t>(child)];
}

void WindowMatrix::Run::clear()
{
    childIndices.clear();
    masks.clear();
    groupStarts.clear();
    groups.clear();
}

int32_t WindowMatrix::column(const SiblingColumns& group, int childIndex, int position)
{
    const uint8_t slot = slotTable.slots[static_cast<size_t>(childIndex & 7)][static_cast<size_t>(position)];
    return group.column(slot >> 3, slot & 7);
}

void WindowMatrix::resize(int32_t n)
{
    const size_t count = static_cast<size_t>(std::max(n, 0));
    runs_.clear();
    valueBlocks_.clear();
    childIndices_.assign(count, 0);
    masks_.assign(count, 0);
}

void WindowMatrix::Unmap::operator()(float* values) const
{
    munmap(values, bytes);
}

float* WindowMatrix::valueBlock(size_t capacity)
{
    const size_t bytes = std::max<size_t>(capacity, 1) * sizeof(float);
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED)
        failReconstruction(formatMessage("[ERROR] Failed to map %zu bytes of matrix values\n", bytes));
    std::unique_ptr<float, Unmap> block(static_cast<float*>(pages), Unmap{bytes});
    float* values = block.get();
    const std::lock_guard<std::mutex> lock(runsMutex_);
    valueBlocks_.push_back(std::move(block));
    return values;
}

void WindowMatrix::setRows(int32_t first, const Run& run, const float* values)
{
    const int32_t count = static_cast<int32_t>(run.masks.size());
    if (first < 0 || count > rowCount() - first || run.childIndices.size() != run.masks.size())
        failReconstruction(formatMessage("[ERROR] Matrix rows %d to %d outside %d rows\n", first, first + count - 1,
                                         rowCount()));
    size_t entries = 0;
    for (int32_t k = 0; k < count; ++k) {
        if ((run.masks[static_cast<size_t>(k)] & ~LowerHalfMask) || run.childIndices[static_cast<size_t>(k)] > 7)
            failReconstruction(formatMessage("[ERROR] Matrix row %d outside its neighbourhood\n", first + k));
        entries += static_cast<size_t>(__builtin_popcountll(run.masks[static_cast<size_t>(k)]));
    }
    // Groups start at the run's first row and follow each other.
    bool groupsInOrder = run.groupStarts.size() == run.groups.size() &&
                         (run.groupStarts.empty() ? count == 0 : run.groupStarts[0] == 0);
    for (size_t g = 1; groupsInOrder && g < run.groupStarts.size(); ++g)
        groupsInOrder = run.groupStarts[g - 1] < run.groupStarts[g] && run.groupStarts[g] < count;
    if ((entries > 0 && !values) || !groupsInOrder)
        failReconstruction(formatMessage("[ERROR] Matrix rows %d to %d handed over without values or groups\n",
                                         first, first + count - 1));

    StoredRun stored;
    stored.firstRow = first;
    stored.endRow = first + count;
    stored.values = values;
    stored.groups.resize(run.groups.size());
    for (size_t g = 0; g < run.groups.size(); ++g)
        stored.groups[g] = {first + run.groupStarts[g], run.groups[g]};
    std::copy(run.masks.begin(), run.masks.end(), masks_.begin() + first);
    std::copy(run.childIndices.begin(), run.childIndices.end(), childIndices_.begin() + first);
    const std::lock_guard<std::mutex> lock(runsMutex_);
    runs_.push_back(std::move(stored));
}

const WindowMatrix::StoredRun& WindowMatrix::runHolding(int32_t row) const
{
    for (const StoredRun& run : runs_)
        if (run.firstRow <= row && row < run.endRow)
            return run;
    failReconstruction(formatMessage("[ERROR] Matrix row %d has no entries\n", row));
}

WindowMatrix::Partition WindowMatrix::partition(int threads) const
{
    Partition partition;
    partition.runOrder.resize(runs_.size());
    for (size_t r = 0; r < runs_.size(); ++r)
        partition.runOrder[r] = r;
    std::sort(partition.runOrder.begin(), partition.runOrder.end(),
              [&](size_t a, size_t b) { return runs_[a].firstRow < runs_[b].firstRow; });
    // Runs go to threads by their first row, about the same number of rows each.
    const int64_t rows = rowCount();
    partition.spans.resize(static_cast<size_t>(threads));
    size_t run = 0;
    for (int t = 0; t < threads; ++t) {
        ThreadSpan& span = partition.spans[static_cast<size_t>(t)];
        span.firstRun = run;
        const int64_t endRow = rows * (t + 1) / threads;
        while (run < runs_.size() && runs_[partition.runOrder[run]].firstRow < endRow)
            ++run;
        span.endRun = run;
    }
    for (ThreadSpan& span : partition.spans) {
        ElementRange& elements = span.elements;
        elements = {rows, 0};
        for (size_t r = span.firstRun; r < span.endRun; ++r) {
            const StoredRun& stored = runs_[partition.runOrder[r]];
            elements.first = std::min<int64_t>(elements.first, stored.firstRow);
            elements.end = std::max<int64_t>(elements.end, stored.endRow);
            for (const Group& group : stored.groups)
                for (int neighbour = 0; neighbour < 27; ++neighbour) {
                    const uint8_t bits = group.columns.numbered[neighbour];
                    if (!bits)
                        continue;
                    elements.first = std::min<int64_t>(elements.first, group.columns.first[neighbour]);
                    elements.end = std::max<int64_t>(elements.end,
                                                     int64_t(group.columns.first[neighbour]) + __builtin_popcount(bits));
                }
        }
        if (elements.first > elements.end)
            elements = {0, 0};
    }
    return partition;
}

void WindowMatrix::multiplyParallel(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean) const
{
    multiply(x, out, scratch, addMean, partition(scratch.threads()));
}

void WindowMatrix::multiply(const FloatVector& x, FloatVector& out, ThreadScratch& scratch, bool addMean,
                            const Partition& partition) const
{
    const int threads = scratch.threads();
    std::vector<ElementRange> ranges;
    for (const ThreadSpan& span : partition.spans)
        ranges.push_back(span.elements);
    checkThreadProduct(scratch, x, out, rowCount(), ranges);

    std::vector<float> partialSums(static_cast<size_t>(threads), 0.0f);
#pragma omp parallel for num_threads(threads) schedule(static)
    for (int t = 0; t < threads; ++t) {
        const ThreadSpan& span = partition.spans[static_cast<size_t>(t)];
        float* s = scratch.array(t);
        std::fill(s + span.elements.first, s + span.elements.end, 0.0f);
        float sum = 0;
        for (size_t r = span.firstRun; r < span.endRun; ++r) {
            const StoredRun& run = runs_[partition.runOrder[r]];
            const float* value = run.values;
            for (size_t g = 0; g < run.groups.size(); ++g) {
                const SiblingColumns& columns = run.groups[g].columns;
                const int32_t groupEnd = g + 1 < run.groups.size() ? run.groups[g + 1].firstRow : run.endRow;
                for (int32_t i = run.groups[g].firstRow; i < groupEnd; ++i) {
                    const auto& slots = slotTable.slots[childIndices_[static_cast<size_t>(i)]];
                    const float xi = x[static_cast<size_t>(i)];
                    for (uint64_t mask = masks_[static_cast<size_t>(i)]; mask; mask &= mask - 1, ++value) {
                        const uint8_t slot = slots[static_cast<size_t>(__builtin_ctzll(mask))];
                        const int neighbour = slot >> 3;
                        const int32_t column =
                            columns.first[neighbour] + rankTable.ranks[columns.numbered[neighbour]][slot & 7];
                        s[i] += *value * x[static_cast<size_t>(column)];
                        s[column] += *value * xi;
                    }
                    if (addMean)
                        sum += xi;
                }
            }
        }
        partialSums[static_cast<size_t>(t)] = sum;
    }
    sumThreadArrays(scratch, ranges, partialSums, addMean, out);
}

int32_t WindowMatrix::solveConjugateGradient(const WindowMatrix& A, const FloatVector& b, int iterations,
                                             FloatVector& x, ThreadScratch& scratch, double eps, bool addMean)
{
    const Partition partition = A.partition(scratch.threads());
    const auto product = [&](const FloatVector& v, FloatVector& out) { A.multiply(v, out, scratch, addMean, partition); };
    return PoissonReconstruction::solveConjugateGradient(product, b, iterations, x, scratch.threads(), eps);
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
