#include "core/TypedImage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <sstream>
#include <vector>

namespace Veltrane {
namespace {

/// Captures what the image code prints on standard output.
class StdoutCapture {
public:
    StdoutCapture() : m_old(std::cout.rdbuf(m_buffer.rdbuf())) {}
    ~StdoutCapture() { std::cout.rdbuf(m_old); }
    std::string text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::streambuf* m_old;
};

template <typename T>
std::unique_ptr<TypedImage<T>> imageOf(int w, int h, int s, int c, const std::vector<T>& values)
{
    auto image = std::make_unique<TypedImage<T>>(0, w, h, s, c);
    std::copy(values.begin(), values.end(), image->typedData());
    return image;
}

template <typename T>
std::vector<T> valuesOf(const TypedImage<T>& image)
{
    return std::vector<T>(image.typedData(), image.typedData() + image.elementCount());
}

TEST(ImageHeader, TypeCodesFollowTheElementType)
{
    EXPECT_EQ(TypedImage<unsigned short>(PixelType::HalfFloat, 1, 1, 1, 1).type, PixelType::HalfFloat);
    EXPECT_EQ(TypedImage<short>(PixelType::HalfFloat, 1, 1, 1, 1).type, PixelType::HalfFloat);
    EXPECT_EQ(TypedImage<unsigned short>(PixelType::Float, 1, 1, 1, 1).type, PixelType::UnsignedShort);
    EXPECT_EQ(TypedImage<float>(PixelType::UnsignedByte, 1, 1, 1, 1).type, PixelType::Float);
    EXPECT_EQ(TypedImage<char>(PixelType::HalfFloat, 1, 1, 1, 1).type, PixelType::Byte);

    std::unique_ptr<MemImage> half(MemImage::create(PixelType::HalfFloat, 2, 2, 1, 1));
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(half->type, PixelType::HalfFloat);
    EXPECT_EQ(half->bytesPerElement(), 2);
    EXPECT_NE(dynamic_cast<TypedImage<unsigned short>*>(half.get()), nullptr);
    EXPECT_EQ(MemImage::create(5127, 2, 2, 1, 1), nullptr);
}

TEST(ImageHeader, KindDimensionAndSizes)
{
    const struct {
        int w, h, s, c;
        int kind, dimension;
    } cases[] = {{8, 1, 1, 1, DataKind::Image2D, 1},
                 {8, 4, 1, 3, DataKind::Image2D, 2},
                 {8, 4, 2, 1, DataKind::Volume, 3},
                 {1, 1, 5, 1, DataKind::Volume, 3}};
    for (const auto& c : cases) {
        const Image header(PixelType::Double, c.w, c.h, c.s, c.c);
        EXPECT_EQ(header.kind(), c.kind);
        EXPECT_EQ(header.dimension(), c.dimension);
        EXPECT_EQ(header.byteSize(), std::size_t(8) * c.w * c.h * c.s * c.c);
        EXPECT_EQ(header.location(), ImageLocation::None);
        EXPECT_EQ(header.data(), nullptr);
    }
}

TEST(ImageHeader, SizesDoNotOverflow32Bits)
{
    // 2048^3 floats with two channels: 2^34 values, 2^36 bytes.
    const Image header(PixelType::Float, 2048, 2048, 2048, 2);
    EXPECT_EQ(header.elementCount(), std::size_t(1) << 34);
    EXPECT_EQ(header.byteSize(), std::size_t(1) << 36);
}

TEST(ImageHeader, SizesWhoseProductOverflowsAreRefused)
{
    constexpr int intMax = std::numeric_limits<int>::max();
    const struct {
        const char* name;
        int w, h, s, c;
    } cases[] = {
        {"4194304^3 values wrap to exactly 0", 4194304, 4194304, 4194304, 1},
        {"65536^4 values wrap to exactly 0", 65536, 65536, 65536, 65536},
        {"largest sizes wrap to a small count", intMax, intMax, intMax, 1},
        {"count fits, its bytes do not", 1 << 30, 1 << 30, 4, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image header(PixelType::Float, c.w, c.h, c.s, c.c);
        EXPECT_EQ(header.elementCount(), 0u);
        EXPECT_EQ(header.byteSize(), 0u);
        EXPECT_FALSE(checkedValueCount(c.w, c.h, c.s, c.c, sizeof(float)));
        EXPECT_EQ(TypedImage<float>::create(0, c.w, c.h, c.s, c.c), nullptr);
        EXPECT_EQ(MemImage::create(PixelType::Float, c.w, c.h, c.s, c.c), nullptr);
        EXPECT_THROW(TypedImage<float>(0, c.w, c.h, c.s, c.c), std::bad_alloc);
        if (c.c != 1)
            continue;
        TypedImage<float> image(0, 2, 2, 1, 1);
        EXPECT_FALSE(image.resize(c.w, c.h, c.s));
        EXPECT_EQ(image.width, 2);
        EXPECT_EQ(image.elementCount(), 4u);
    }
    EXPECT_EQ(checkedValueCount(1 << 30, 1 << 30, 4, 1, 1), std::size_t(1) << 62);
}

TEST(TypedImage, CallersArrayIsWrappedNotOwned)
{
    std::vector<float> values(6, 1.5f);
    {
        std::unique_ptr<TypedImage<float>> image(
            TypedImage<float>::create(PixelType::Float, 3, 2, 1, 1, values.data(), false));
        ASSERT_NE(image, nullptr);
        EXPECT_FALSE(image->ownsData());
        EXPECT_TRUE(image->resize(3, 2, 1));
        EXPECT_FALSE(image->resize(4, 2, 1));
        EXPECT_EQ(image->width, 3);
        EXPECT_FALSE(image->downsample(2, 1, 1));
        image->fill(2.0f);
    }
    EXPECT_EQ(values[5], 2.0f);  // still alive and written through
}

TEST(TypedImage, CreateTurnsImpossibleAllocationsIntoNull)
{
    EXPECT_EQ(TypedImage<double>::create(0, 1 << 20, 1 << 20, 1 << 20, 8), nullptr);
    EXPECT_EQ(TypedImage<double>::create(0, -1, 2, 1, 1), nullptr);
}

TEST(TypedImage, CloneCopiesValuesButNotTheIntensityHeader)
{
    auto image = imageOf<short>(2, 2, 1, 1, {1, -2, 3, -4});
    image->spacing = {2, 2, 3};
    image->scale = 4;
    image->shift = 7;
    std::unique_ptr<MemImage> copy(image->clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->type, PixelType::Short);
    EXPECT_EQ(copy->spacing, (std::array<double, 3>{1, 1, 1}));
    EXPECT_EQ(copy->scale, 1);
    EXPECT_EQ(copy->shift, 0);
    EXPECT_EQ(valuesOf(*static_cast<TypedImage<short>*>(copy.get())), valuesOf(*image));
}

TEST(TypedImage, AssignCopiesKeepsHeaderAndRefusesOtherTypes)
{
    auto target = imageOf<float>(2, 1, 1, 1, {0, 0});
    target->spacing = {3, 3, 3};
    auto same = imageOf<float>(2, 1, 1, 1, {5, 6});
    EXPECT_TRUE(target->assign(same.get()));
    EXPECT_EQ(valuesOf(*target), (std::vector<float>{5, 6}));
    EXPECT_EQ(target->spacing[0], 3);

    auto bigger = imageOf<float>(3, 1, 1, 1, {7, 8, 9});
    EXPECT_TRUE(target->assign(bigger.get()));
    EXPECT_EQ(valuesOf(*target), (std::vector<float>{7, 8, 9}));

    auto other = imageOf<double>(3, 1, 1, 1, {1, 2, 3});
    EXPECT_FALSE(target->assign(other.get()));
    EXPECT_EQ(valuesOf(*target), (std::vector<float>{7, 8, 9}));
}

TEST(TypedImage, DownsampleAveragesWholeBlocks)
{
    // 5x4 image, value = x + 10 y; column 4 is dropped.
    std::vector<float> values;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            values.push_back(float(x + 10 * y));
    auto image = imageOf<float>(5, 4, 1, 1, values);
    image->spacing = {1, 2, 3};
    ASSERT_TRUE(image->downsample(2, 2, 2));  // slices factor ignored for 2-D
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->slices, 1);
    EXPECT_EQ(image->spacing, (std::array<double, 3>{2, 4, 3}));
    EXPECT_EQ(valuesOf(*image), (std::vector<float>{5.5f, 7.5f, 25.5f, 27.5f}));
}

TEST(TypedImage, DownsampleKeepsChannelsApartAndTruncatesIntegers)
{
    auto rgb = imageOf<unsigned char>(2, 1, 1, 2, {1, 10, 2, 21});
    ASSERT_TRUE(rgb->downsample(2, 5, 5));  // a 1-D image ignores fy and fz
    EXPECT_EQ(valuesOf(*rgb), (std::vector<unsigned char>{1, 15}));

    auto negative = imageOf<int>(2, 1, 1, 1, {-1, -2});
    ASSERT_TRUE(negative->downsample(2, 1, 1));
    EXPECT_EQ(valuesOf(*negative), std::vector<int>{-1});  // -1.5 toward zero

    auto volume = imageOf<double>(1, 1, 4, 1, {1, 3, 5, 9});
    ASSERT_TRUE(volume->downsample(1, 1, 2));
    EXPECT_EQ(valuesOf(*volume), (std::vector<double>{2, 7}));
}

TEST(TypedImage, DownsampleRefusesFactorsThatLeaveNothing)
{
    auto image = imageOf<float>(3, 2, 1, 1, {1, 2, 3, 4, 5, 6});
    EXPECT_FALSE(image->downsample(4, 1, 1));
    EXPECT_FALSE(image->downsample(0, 1, 1));
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(valuesOf(*image), (std::vector<float>{1, 2, 3, 4, 5, 6}));
}

// Source (3x2): row 0 = a b c, row 1 = d e f.
TEST(TypedImage, RotateMapsQuarterTurns)
{
    const std::vector<char> source{'a', 'b', 'c', 'd', 'e', 'f'};
    const struct {
        int degrees, flipAxis;
        std::vector<char> expected;  // 2 wide, 3 high
    } cases[] = {
        {90, 2, {'c', 'f', 'b', 'e', 'a', 'd'}},   // counter-clockwise
        {-270, 2, {'c', 'f', 'b', 'e', 'a', 'd'}},
        {270, 2, {'d', 'a', 'e', 'b', 'f', 'c'}},  // clockwise
        {90, 0, {'a', 'd', 'b', 'e', 'c', 'f'}},   // transpose
        {90, 1, {'f', 'c', 'e', 'b', 'd', 'a'}},
        {-90, 1, {'a', 'd', 'b', 'e', 'c', 'f'}},
    };
    for (const auto& c : cases) {
        auto image = imageOf<char>(3, 2, 1, 1, source);
        image->spacing = {1, 2, 3};
        image->rotate(c.degrees, c.flipAxis);
        EXPECT_EQ(image->width, 2);
        EXPECT_EQ(image->height, 3);
        EXPECT_EQ(image->spacing, (std::array<double, 3>{2, 1, 3}));
        EXPECT_EQ(valuesOf(*image), c.expected) << c.degrees << " " << c.flipAxis;
    }

    auto unchanged = imageOf<char>(3, 2, 1, 1, source);
    unchanged->rotate(45, 0);
    EXPECT_EQ(valuesOf(*unchanged), source);

    auto halfTurn = imageOf<char>(3, 2, 1, 1, source);
    halfTurn->rotate(180, 0);
    EXPECT_EQ(valuesOf(*halfTurn), (std::vector<char>{'f', 'e', 'd', 'c', 'b', 'a'}));
}

TEST(TypedImage, RotateMovesAllChannelsOfEverySlice)
{
    // 2x1x2 with two channels: (x, z) -> values 10x + z, 10x + z + 100.
    auto image = imageOf<int>(2, 1, 2, 2, {0, 100, 10, 110, 1, 101, 11, 111});
    image->rotate(90, 0);  // transpose: 1 wide, 2 high
    EXPECT_EQ(valuesOf(*image), (std::vector<int>{0, 100, 10, 110, 1, 101, 11, 111}));
    image->rotate(270, 2);  // 2 wide, 1 high again
    EXPECT_EQ(valuesOf(*image), (std::vector<int>{10, 110, 0, 100, 11, 111, 1, 101}));
}

TEST(TypedImage, FlipMirrorsAlongEachAxis)
{
    // 2x3x2 single channel, value = 100z + 10y + x.
    std::vector<int> values;
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 2; ++x)
                values.push_back(100 * z + 10 * y + x);
    const struct {
        int axis;
        std::vector<int> expected;
    } cases[] = {
        {0, {1, 0, 11, 10, 21, 20, 101, 100, 111, 110, 121, 120}},
        {1, {20, 21, 10, 11, 0, 1, 120, 121, 110, 111, 100, 101}},  // middle row stays
        {2, {100, 101, 110, 111, 120, 121, 0, 1, 10, 11, 20, 21}},
        {3, values},
    };
    for (const auto& c : cases) {
        auto image = imageOf<int>(2, 3, 2, 1, values);
        image->flip(c.axis);
        EXPECT_EQ(valuesOf(*image), c.expected) << "axis " << c.axis;
    }
}

TEST(TypedImage, MinMaxSkipsNaNUnlessFirst)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    double lo, hi;
    imageOf<float>(3, 1, 1, 1, {3, nan, -1})->minMax(&lo, &hi);
    EXPECT_EQ(lo, -1);
    EXPECT_EQ(hi, 3);
    imageOf<float>(3, 1, 1, 1, {nan, 2, -1})->minMax(&lo, &hi);
    EXPECT_TRUE(std::isnan(lo));
    EXPECT_TRUE(std::isnan(hi));

    imageOf<unsigned int>(2, 1, 1, 1, {4000000000u, 7})->minMax(&lo, &hi);
    EXPECT_EQ(lo, 7);
    EXPECT_EQ(hi, 4000000000.0);  // unsigned, not wrapped

    TypedImage<float> empty(0, 0, 0, 0, 1);
    empty.minMax(&lo, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 0);
}

TEST(TypedImage, ValueConvertsUnsignedAsUnsigned)
{
    auto image = imageOf<unsigned short>(2, 1, 1, 1, {65535, 3});
    EXPECT_EQ(image->value(0), 65535.0);
    auto bytes = imageOf<char>(1, 1, 1, 1, {-5});
    EXPECT_EQ(bytes->value(0), -5.0);
}

TEST(NormalizeIntensities, ScalesIntegerImagesToTheirRange)
{
    auto image = imageOf<unsigned char>(2, 1, 1, 1, {50, 100});
    StdoutCapture out;
    EXPECT_EQ(image->normalizeIntensities(false), nullptr);
    EXPECT_EQ(out.text(), "Intensity range [50..100], scaling with 2\n");
    EXPECT_EQ(valuesOf(*image), (std::vector<unsigned char>{100, 200}));
    EXPECT_EQ(image->scale, 2);

    for (unsigned char top : {0, 255}) {
        auto full = imageOf<unsigned char>(2, 1, 1, 1, {0, top});
        StdoutCapture quiet;
        EXPECT_EQ(full->normalizeIntensities(false), nullptr);
        EXPECT_EQ(quiet.text(), "Intensity range [0.." + std::to_string(top) + "]\n");
        EXPECT_EQ(full->scale, 1);
    }
}

TEST(NormalizeIntensities, ConvertsSignedShortToUnsigned)
{
    auto image = imageOf<short>(3, 1, 1, 1, {-10, 0, 10});
    image->shift = 1;
    image->spacing = {2, 3, 4};
    StdoutCapture out;
    std::unique_ptr<MemImage> result(image->normalizeIntensities(false));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(out.text(), "Intensity range [-10..10], converting to unsigned, scaling with 3276\n");
    auto* converted = dynamic_cast<TypedImage<unsigned short>*>(result.get());
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->type, PixelType::UnsignedShort);
    EXPECT_EQ(valuesOf(*converted), (std::vector<unsigned short>{0, 32760, 65520}));
    EXPECT_EQ(converted->scale, 3276);
    EXPECT_EQ(converted->shift, 11);
    EXPECT_EQ(converted->spacing, image->spacing);
    EXPECT_EQ(image->data(), nullptr);
    EXPECT_FALSE(image->ownsData());

    auto flat = imageOf<short>(2, 1, 1, 1, {4, 4});
    StdoutCapture quiet;
    EXPECT_EQ(flat->normalizeIntensities(false), nullptr);
    EXPECT_NE(flat->data(), nullptr);
}

TEST(NormalizeIntensities, ConvertingAWrappedShortImageLeavesTheCallersArray)
{
    std::vector<short> values{-1, 1};
    auto image = std::make_unique<TypedImage<short>>(0, 2, 1, 1, 1, values.data(), false);
    StdoutCapture out;
    std::unique_ptr<MemImage> result(image->normalizeIntensities(false));
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(values, (std::vector<short>{-1, 1}));
    image.reset();
    EXPECT_EQ(values[1], 1);
}

TEST(NormalizeIntensities, SwapsBytesOf16BitValuesFirst)
{
    auto image = imageOf<unsigned short>(2, 1, 1, 1, {0x0100, 0x0200});  // 1 and 2 swapped
    StdoutCapture out;
    image->normalizeIntensities(true);
    EXPECT_EQ(out.text(), "Intensity range [1..2], scaling with 32767\n");
    EXPECT_EQ(valuesOf(*image), (std::vector<unsigned short>{32767, 65534}));
}

TEST(NormalizeIntensities, StretchesFloatingPointToUnitRange)
{
    auto unit = imageOf<float>(2, 1, 1, 1, {0, 1});
    auto stretched = imageOf<double>(3, 1, 1, 1, {2, 3, 4});
    StdoutCapture out;
    unit->normalizeIntensities(false);
    stretched->normalizeIntensities(false);
    EXPECT_EQ(out.text(), "Intensity range [0..1]\nIntensity range [2..4], normalizing\n");
    EXPECT_EQ(valuesOf(*unit), (std::vector<float>{0, 1}));
    EXPECT_EQ(valuesOf(*stretched), (std::vector<double>{0, 0.5, 1}));
}

TEST(MemImageFactory, CreateCompatibleCopiesHeaderNotValues)
{
    auto source = imageOf<float>(4, 3, 2, 1, std::vector<float>(24, 9.0f));
    source->shift = 1;
    source->scale = 2;
    source->spacing = {0.5, 0.25, 3};
    std::unique_ptr<MemImage> sameType(MemImage::createCompatible(source.get()));
    ASSERT_NE(sameType, nullptr);
    EXPECT_EQ(sameType->type, PixelType::Float);
    EXPECT_EQ(sameType->slices, 2);
    EXPECT_EQ(sameType->spacing, source->spacing);
    EXPECT_EQ(sameType->scale, 2);
    EXPECT_EQ(sameType->shift, 1);

    std::unique_ptr<MemImage> bytes(MemImage::createCompatible(source.get(), PixelType::UnsignedByte));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->byteSize(), 24u);
    EXPECT_EQ(MemImage::createCompatible(source.get(), 1234), nullptr);
}

TEST(MemImageFactory, CreateWrapsAGivenArray)
{
    std::vector<int> values{1, 2, 3, 4};
    std::unique_ptr<MemImage> image(MemImage::create(PixelType::Int, 2, 2, 1, 1, values.data()));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->data(), values.data());
    EXPECT_EQ(image->value(3), 4.0);
    image.reset();
    EXPECT_EQ(values[3], 4);
}

struct RecordingListener : DataListener {
    std::vector<std::pair<int, Data*>>* log;
    int id;
    RecordingListener(std::vector<std::pair<int, Data*>>* log, int id) : log(log), id(id) {}
    void dataDeleted(Data* data) override { log->emplace_back(id, data); }
};

TEST(Data, ListenersAreToldOnceInOrderOnDestruction)
{
    std::vector<std::pair<int, Data*>> log;
    RecordingListener first(&log, 1), second(&log, 2), third(&log, 3);
    auto* image = new Image(PixelType::Float, 1, 1, 1, 1);
    EXPECT_FALSE(image->addListener(nullptr));
    EXPECT_TRUE(image->addListener(&first));
    EXPECT_FALSE(image->addListener(&first));
    EXPECT_TRUE(image->addListener(&second));
    EXPECT_TRUE(image->addListener(&third));
    EXPECT_TRUE(image->removeListener(&second));
    EXPECT_FALSE(image->removeListener(&second));
    EXPECT_FALSE(image->removeListener(nullptr));
    Data* address = image;
    delete image;
    EXPECT_EQ(log, (std::vector<std::pair<int, Data*>>{{1, address}, {3, address}}));
}

}  // namespace
}  // namespace Veltrane
