#include "meshproc/poisson/ReconstructionError.h"
#include "meshproc/poisson/WindowMatrix.h"

#include <gtest/gtest.h>

using namespace Veltrane::PoissonReconstruction;

namespace {

constexpr int Centre = WindowMatrix::CentrePosition;
// The neighbour one cell lower along x: window position (1, 2, 2).
constexpr int LowerX = 1 * 25 + 2 * 5 + 2;

// Two siblings, children 0 and 1 of their parent (neighbour 13 of itself),
// numbered 0 and 1: S = [2 0; -1 3], so A = S + S^T = [4 -1; -1 6].
WindowMatrix::Run twoSiblings()
{
    WindowMatrix::Run run;
    SiblingColumns columns;
    columns.first[13] = 0;
    columns.numbered[13] = 0b11;
    run.groups.push_back(columns);
    run.groupStarts.push_back(0);
    run.childIndices = {0, 1};
    run.masks = {uint64_t(1) << Centre, (uint64_t(1) << LowerX) | (uint64_t(1) << Centre)};
    return run;
}

}  // namespace

TEST(WindowMatrixTest, ColumnsFollowFromChildIndexAndSiblings)
{
    SiblingColumns columns;
    columns.first[13] = 10;
    columns.numbered[13] = 0b1011;  // children 0, 1 and 3
    EXPECT_EQ(columns.column(13, 0), 10);
    EXPECT_EQ(columns.column(13, 3), 12);
    EXPECT_EQ(columns.column(13, 2), -1);
    EXPECT_EQ(columns.column(4, 0), -1);
    // Child 1's neighbour one cell lower along x is child 0 of the same parent;
    // child 0's is child 1 of the parent's lower neighbour (4 = 9 * 0 + 3 + 1).
    EXPECT_EQ(WindowMatrix::column(columns, 1, LowerX), 10);
    columns.first[4] = 20;
    columns.numbered[4] = 0b10;
    EXPECT_EQ(WindowMatrix::column(columns, 0, LowerX), 20);
    EXPECT_EQ(WindowMatrix::column(columns, 3, Centre), 12);
}

TEST(WindowMatrixTest, ProductAppliesBothHalvesForAnyThreadCount)
{
    WindowMatrix matrix;
    matrix.resize(2);
    float* values = matrix.valueBlock(3);
    values[0] = 2;
    values[1] = -1;
    values[2] = 3;
    matrix.setRows(0, twoSiblings(), values);
    std::vector<std::pair<int32_t, float>> row1;
    matrix.forEachEntry(1, [&](int32_t column, float value) { row1.emplace_back(column, value); });
    EXPECT_EQ(row1, (std::vector<std::pair<int32_t, float>>{{0, -1.0f}, {1, 3.0f}}));

    FloatVector x(2), out(2);
    x[0] = 1;
    x[1] = 2;
    for (int threads : {1, 2}) {
        ThreadScratch scratch;
        scratch.resize(threads, 2);
        matrix.multiplyParallel(x, out, scratch, false);
        EXPECT_EQ(out[0], 2.0f);
        EXPECT_EQ(out[1], 11.0f);
        matrix.multiplyParallel(x, out, scratch, true);
        EXPECT_EQ(out[0], 3.5f);
        EXPECT_EQ(out[1], 12.5f);
        FloatVector b(2), solution(2);
        b[0] = 2;
        b[1] = 11;
        EXPECT_GT(WindowMatrix::solveConjugateGradient(matrix, b, 10, solution, scratch, 1e-6, false), 0);
        EXPECT_NEAR(solution[0], 1.0f, 1e-5);
        EXPECT_NEAR(solution[1], 2.0f, 1e-5);
    }
}

TEST(WindowMatrixTest, RunsThatDoNotFitAreRefused)
{
    WindowMatrix matrix;
    matrix.resize(2);
    const float values[3] = {};
    testing::internal::CaptureStderr();
    EXPECT_THROW(matrix.setRows(1, twoSiblings(), values), ReconstructionError);
    EXPECT_THROW(matrix.setRows(-1, twoSiblings(), values), ReconstructionError);
    WindowMatrix::Run upperHalf = twoSiblings();
    upperHalf.masks[0] |= uint64_t(1) << (Centre + 1);
    EXPECT_THROW(matrix.setRows(0, upperHalf, values), ReconstructionError);
    WindowMatrix::Run lateGroup = twoSiblings();
    lateGroup.groupStarts[0] = 1;
    EXPECT_THROW(matrix.setRows(0, lateGroup, values), ReconstructionError);
    EXPECT_THROW(matrix.setRows(0, twoSiblings(), nullptr), ReconstructionError);
    testing::internal::GetCapturedStderr();
}
