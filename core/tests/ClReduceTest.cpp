#include "core/ClImage.h"
#include "core/ClReduce.h"
#include "core/TypedImage.h"
#include "testsupport/ClTestSupport.h"
#include "testsupport/LogCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

namespace Veltrane {
namespace {

class ClReduceTest : public ClSharedObjectTest<ClReduceTest, ClReduce> {
protected:
    static ClReduce& reduce() { return shared(); }

    template <typename T>
    static std::unique_ptr<ClImage> bufferOf(int type, const std::vector<T>& values)
    {
        return std::make_unique<ClImage>(ClMemoryKind::Buffer, ClMemoryAccess::ReadOnly,
                                         Image(type, static_cast<int>(values.size()), 1, 1, 1),
                                         values.data(), 0, 0, environment());
    }

    static std::unique_ptr<ClImage> floatBuffer(int count, float fill)
    {
        return bufferOf(PixelType::Float, std::vector<float>(count, fill));
    }

    static std::vector<float> contentsOf(ClImage& buffer)
    {
        std::vector<float> values(buffer.elementCount());
        EXPECT_TRUE(buffer.read(values.data(), sizeof(float) * values.size()));
        return values;
    }

    static std::vector<float> randomValues(int count)
    {
        std::mt19937 random(static_cast<unsigned>(count));
        std::uniform_real_distribution<float> value(-1.0f, 2.0f);
        std::vector<float> values(count);
        for (float& v : values)
            v = value(random);
        return values;
    }
};

TEST_F(ClReduceTest, SumsMatchTheHostForEveryGridShape)
{
    EXPECT_EQ(reduce().localSize(), 128);  // the device allows more than 128
    for (int n : {1, 2, 129, 255, 256, 257, 300, 640 * 480}) {
        SCOPED_TRACE(n);
        const std::vector<float> values = randomValues(n);
        const double expected = std::accumulate(values.begin(), values.end(), 0.0);
        const auto input = bufferOf(PixelType::Float, values);
        bool ok = false;
        const float sum = reduce().sum(input.get(), n, nullptr, &ok);
        EXPECT_TRUE(ok);
        EXPECT_NEAR(sum, expected, 1e-5 * n + 1e-6);
    }
}

TEST_F(ClReduceTest, OnlyTheFirstNElementsCount)
{
    const auto input = floatBuffer(1000, 1.0f);
    EXPECT_EQ(reduce().sum(input.get(), 300), 300.0f);
    EXPECT_EQ(reduce().sum(input.get(), 1000), 1000.0f);
    bool ok = false;
    EXPECT_EQ(reduce().sum(input.get(), 0, nullptr, &ok), 0.0f);
    EXPECT_TRUE(ok);
}

TEST_F(ClReduceTest, IntegerInputsRebuildTheProgramForTheirType)
{
    const int n = 1000;
    std::vector<unsigned char> bytes(n);
    std::vector<signed char> signedBytes(n);
    std::vector<unsigned short> shorts(n);
    std::vector<short> signedShorts(n);
    std::vector<unsigned> ints(n);
    std::vector<int> signedInts(n);
    for (int i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(200 + i % 50);
        signedBytes[i] = static_cast<signed char>(i % 7 - 100);
        shorts[i] = static_cast<unsigned short>(60000 + i);
        signedShorts[i] = static_cast<short>(-i);
        ints[i] = static_cast<unsigned>(i * 3);
        signedInts[i] = i - 600;
    }
    struct Case {
        std::unique_ptr<ClImage> input;
        double expected;
    };
    auto sumOf = [](const auto& values) {
        return std::accumulate(values.begin(), values.end(), 0.0);
    };
    Case cases[] = {
        {bufferOf(PixelType::UnsignedByte, bytes), sumOf(bytes)},
        {floatBuffer(n, 0.5f), 500.0},
        {bufferOf(PixelType::Byte, signedBytes), sumOf(signedBytes)},
        {bufferOf(PixelType::UnsignedShort, shorts), sumOf(shorts)},
        {bufferOf(PixelType::Short, signedShorts), sumOf(signedShorts)},
        {bufferOf(PixelType::UnsignedInt, ints), sumOf(ints)},
        {bufferOf(PixelType::Int, signedInts), sumOf(signedInts)},
        {bufferOf(PixelType::UnsignedByte, bytes), sumOf(bytes)},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.input->type);
        bool ok = false;
        EXPECT_EQ(reduce().sum(c.input.get(), n, nullptr, &ok), c.expected);
        EXPECT_TRUE(ok);
        EXPECT_EQ(reduce().elementType(), c.input->type);
    }
}

TEST_F(ClReduceTest, TargetReceivesPartialSumsThatAddUpToTheTotal)
{
    for (int n : {129, 300, 640 * 480}) {
        SCOPED_TRACE(n);
        const std::vector<float> values(n, 0.25f);
        const auto input = bufferOf(PixelType::Float, values);
        // Stale values from an earlier use must not survive in unused slots.
        ClImage target(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                       Image(PixelType::Float, ClReduce::groupCount, 1, 1, 1),
                       std::vector<float>(ClReduce::groupCount, 1000.0f).data(), 0, 0,
                       environment());
        bool ok = false;
        EXPECT_EQ(reduce().sum(input.get(), n, &target, &ok), 0.0f);
        EXPECT_TRUE(ok);
        const std::vector<float> partial = contentsOf(target);
        EXPECT_FLOAT_EQ(std::accumulate(partial.begin(), partial.end(), 0.0f), 0.25f * n);
        if (n == 640 * 480) {
            for (float p : partial)
                EXPECT_GT(p, 0.0f);  // all 64 groups took part
        }
    }
}

TEST_F(ClReduceTest, SubBufferTargetsOnlyTouchTheirSlot)
{
    ClImage rows(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                 Image(PixelType::Float, 3 * ClReduce::groupCount, 1, 1, 1),
                 std::vector<float>(3 * ClReduce::groupCount, -1.0f).data(), 0, 0,
                 environment());
    const std::size_t slotBytes = sizeof(float) * ClReduce::groupCount;
    const auto slot = ClImage::subBuffer(ClMemoryAccess::WriteOnly, rows, slotBytes, slotBytes,
                                         ClReduce::groupCount, 1, 1, 1, environment());
    const auto input = floatBuffer(300, 2.0f);
    bool ok = false;
    reduce().sum(input.get(), 300, slot.get(), &ok);
    EXPECT_TRUE(ok);

    const std::vector<float> all = contentsOf(rows);
    const auto slotBegin = all.begin() + ClReduce::groupCount;
    const auto slotEnd = slotBegin + ClReduce::groupCount;
    EXPECT_EQ(std::accumulate(slotBegin, slotEnd, 0.0f), 600.0f);
    EXPECT_EQ(std::count(all.begin(), slotBegin, -1.0f), ClReduce::groupCount);
    EXPECT_EQ(std::count(slotEnd, all.end(), -1.0f), ClReduce::groupCount);
}

TEST_F(ClReduceTest, RefusedInputsAreReportedAndLeaveTheProgramAlone)
{
    const auto floats = floatBuffer(200, 1.0f);
    reduce().sum(floats.get(), 200);
    ASSERT_EQ(reduce().elementType(), PixelType::Float);

    const auto doubles = bufferOf(PixelType::Double, std::vector<double>(200, 1.0));
    const auto image = std::make_unique<ClImage>(ClMemoryKind::ImageObject,
                                                 ClMemoryAccess::ReadOnly,
                                                 Image(PixelType::Float, 16, 16, 1, 1), nullptr,
                                                 0, 0, environment());
    ClImage smallTarget(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                        Image(PixelType::Float, 32, 1, 1, 1), nullptr, 0, 0, environment());
    ClImage intTarget(ClMemoryKind::Buffer, ClMemoryAccess::ReadWrite,
                      Image(PixelType::Int, 64, 1, 1, 1), nullptr, 0, 0, environment());
    struct Case {
        const ClImage* input;
        int n;
        ClImage* target;
        const char* message;
    };
    const Case cases[] = {
        {doubles.get(), 200, nullptr, "ERROR ClReduction: Data type not supported"},
        {image.get(), 256, nullptr, "ERROR ClReduction: Input must be an OpenCL buffer"},
        {nullptr, 1, nullptr, "ERROR ClReduction: Input must be an OpenCL buffer"},
        {floats.get(), 201, nullptr, "ERROR ClReduction: Element count 201 outside the input"},
        {floats.get(), -1, nullptr, "ERROR ClReduction: Element count -1 outside the input"},
        {floats.get(), 200, &smallTarget, "ERROR ClReduction: Target must be a float buffer of 64 values"},
        {floats.get(), 200, &intTarget, "ERROR ClReduction: Target must be a float buffer of 64 values"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        LogCapture log;
        bool ok = true;
        EXPECT_EQ(reduce().sum(c.input, c.n, c.target, &ok), 0.0f);
        EXPECT_FALSE(ok);
        EXPECT_EQ(log.lines(), std::vector<std::string>{c.message});
        EXPECT_EQ(reduce().elementType(), PixelType::Float);
    }
}

TEST_F(ClReduceTest, ZeroSumIsASuccess)
{
    // Refused calls also return 0 (see above); only `ok` tells them apart.
    const auto zeros = floatBuffer(256, 0.0f);
    bool ok = false;
    EXPECT_EQ(reduce().sum(zeros.get(), 256, nullptr, &ok), 0.0f);
    EXPECT_TRUE(ok);
}

TEST(ClReduceDefault, NullEnvironmentMeansTheDefaultOne)
{
    ClReduce reduce;
    std::vector<float> values(500, 2.0f);
    ClImage input(ClMemoryKind::Buffer, ClMemoryAccess::ReadOnly,
                  Image(PixelType::Float, 500, 1, 1, 1), values.data());
    EXPECT_EQ(reduce.partialSums()->environment(), ClEnvironment::defaultEnvironment());
    EXPECT_EQ(reduce.sum(&input, 500), 1000.0f);
}

}  // namespace
}  // namespace Veltrane
