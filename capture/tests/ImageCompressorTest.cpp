#include "capture/ImageCompressor.h"

#include "testsupport/LogCapture.h"

#include "TestFrames.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <vector>

namespace Veltrane {
namespace {

using Bytes = std::vector<unsigned char>;

/// Compresses `image`, expecting success, and returns the stream.
Bytes compressed(const Image& image, CompressionMode mode, int level = 1)
{
    Bytes out(image.byteSize() * 2 + 64);
    int size = static_cast<int>(out.size());
    EXPECT_TRUE(ImageCompressor().compress(&image, mode, level, out.data(), &size));
    out.resize(static_cast<std::size_t>(size));
    return out;
}

/// What a plain zlib inflate makes of `stream`.
Bytes inflated(const Bytes& stream, std::size_t expected)
{
    Bytes raw(expected + 16);
    uLongf size = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &size, stream.data(), stream.size()), Z_OK);
    raw.resize(size);
    return raw;
}

class ZlibModes : public ::testing::TestWithParam<CompressionMode> {};

TEST_P(ZlibModes, ColourIsStoredAsThreePlanes)
{
    TypedImage<unsigned char> image(PixelType::UnsignedByte, 2, 1, 1, 3);
    const unsigned char pixels[] = {1, 2, 3, 4, 5, 6};
    image.copyData(pixels);

    const Bytes stream = compressed(image, GetParam());
    EXPECT_EQ(inflated(stream, 6), (Bytes{1, 4, 2, 5, 3, 6}));

    TypedImage<unsigned char> back(PixelType::UnsignedByte, 2, 1, 1, 3);
    back.fill(0);
    ASSERT_TRUE(ImageCompressor().decompress(stream.data(), static_cast<int>(stream.size()),
                                             GetParam(), &back));
    EXPECT_TRUE(TestFrames::sameBytes(image, back));
}

TEST_P(ZlibModes, DepthIsStoredLowByteFirst)
{
    TypedImage<unsigned short> image(PixelType::UnsignedShort, 1, 1, 1, 1);
    image.fill(0x0102);
    EXPECT_EQ(inflated(compressed(image, GetParam()), 2), (Bytes{0x02, 0x01}));
}

TEST_P(ZlibModes, FramesRoundTripBitIdentical)
{
    const auto depth = TestFrames::depthFrame(64, 48, 3);
    const auto colour = TestFrames::colourFrame(64, 48, 3);
    // Three channels of 16 bits: each plane keeps whole samples.
    TypedImage<unsigned short> wide(PixelType::UnsignedShort, 5, 3, 1, 3);
    for (std::size_t i = 0; i < wide.elementCount(); ++i)
        wide.typedData()[i] = static_cast<unsigned short>(0x0100 * i + 7 * i);
    TypedImage<float> floats(PixelType::Float, 4, 3, 1, 3);
    for (std::size_t i = 0; i < floats.elementCount(); ++i)
        floats.typedData()[i] = 0.25f * static_cast<float>(i) - 1.0f;

    for (const Image* image : std::vector<const Image*>{depth.get(), colour.get(), &wide, &floats}) {
        SCOPED_TRACE(image->channels);
        const Bytes stream = compressed(*image, GetParam(), 6);
        std::unique_ptr<MemImage> back(MemImage::createCompatible(image));
        ASSERT_TRUE(ImageCompressor().decompress(stream.data(), static_cast<int>(stream.size()),
                                                 GetParam(), back.get()));
        EXPECT_TRUE(TestFrames::sameBytes(*image, *back));
    }
}

INSTANTIATE_TEST_SUITE_P(ImageCompressor, ZlibModes,
                         ::testing::Values(CompressionMode::ZlibDefault, CompressionMode::ZlibHuffmanOnly,
                                           CompressionMode::ZlibRle));

TEST(ImageCompressor, RefusesBadArgumentsWithoutAMessage)
{
    LogCapture log;
    const auto depth = TestFrames::depthFrame(8, 6, 0);
    Bytes out(1024);
    struct Case {
        const Image* image;
        int mode;  // also values that are no CompressionMode
        int level;
        unsigned char* out;
        int room;
    };
    const Case cases[] = {
        {nullptr, 2, 1, out.data(), 1024},      {depth.get(), 2, 1, nullptr, 1024},
        {depth.get(), 2, 1, out.data(), 0},     {depth.get(), 2, 1, out.data(), -5},
        {depth.get(), 4, 1, out.data(), 1024},  {depth.get(), -1, 1, out.data(), 1024},
        {depth.get(), 2, 10, out.data(), 1024}, {depth.get(), 2, -1, out.data(), 1024},
    };
    for (const Case& c : cases) {
        int size = c.room;
        EXPECT_FALSE(ImageCompressor().compress(c.image, static_cast<CompressionMode>(c.mode),
                                                c.level, c.out, &size));
    }
    const Bytes stream = compressed(*depth, CompressionMode::ZlibRle);
    auto back = TestFrames::depthFrame(8, 6, 1);
    const int length = static_cast<int>(stream.size());
    EXPECT_FALSE(ImageCompressor().decompress(stream.data(), length, CompressionMode::Png, back.get()));
    EXPECT_FALSE(ImageCompressor().decompress(stream.data(), length, static_cast<CompressionMode>(-1),
                                              back.get()));
    EXPECT_FALSE(ImageCompressor().decompress(stream.data(), 0, CompressionMode::ZlibRle, back.get()));
    EXPECT_FALSE(ImageCompressor().decompress(nullptr, length, CompressionMode::ZlibRle, back.get()));
    EXPECT_FALSE(ImageCompressor().decompress(stream.data(), length, CompressionMode::ZlibRle, nullptr));
    EXPECT_TRUE(log.lines().empty());
}

TEST(ImageCompressor, OutputThatDoesNotFitIsAnError)
{
    const auto colour = TestFrames::colourFrame(32, 24, 1);
    const Bytes stream = compressed(*colour, CompressionMode::ZlibDefault);
    LogCapture log;
    Bytes out(stream.size() - 1);
    int size = static_cast<int>(out.size());
    EXPECT_FALSE(ImageCompressor().compress(colour.get(), CompressionMode::ZlibDefault, 1,
                                            out.data(), &size));
    EXPECT_TRUE(log.mentions("ERROR", "Error compressing data"));
}

TEST(ImageCompressor, DamagedOrMismatchedStreamsAreErrors)
{
    const auto depth = TestFrames::depthFrame(32, 24, 2);
    const Bytes stream = compressed(*depth, CompressionMode::ZlibRle);
    Bytes corrupt = stream;
    for (std::size_t i = 2; i < corrupt.size(); i += 3)
        corrupt[i] ^= 0x5A;
    const Bytes truncated(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2));

    struct Case {
        const char* name;
        const Bytes* data;
        int width;
        int height;
    };
    const Case cases[] = {{"larger image", &stream, 33, 24}, {"smaller image", &stream, 31, 24},
                          {"corrupt stream", &corrupt, 32, 24},
                          {"truncated stream", &truncated, 32, 24}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        TypedImage<unsigned short> target(PixelType::UnsignedShort, c.width, c.height, 1, 1);
        EXPECT_FALSE(ImageCompressor().decompress(c.data->data(), static_cast<int>(c.data->size()),
                                                  CompressionMode::ZlibRle, &target));
        EXPECT_TRUE(log.mentions("ERROR", "Error decompressing data"));
    }
}

/// Decodes a PNG without transformations: rows as the file stores them.
struct DecodedPng {
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    Bytes pixels;
};

struct MemoryReader {
    const Bytes* data;
    std::size_t offset;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length)
{
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (reader->offset + length > reader->data->size())
        png_error(png, "read past the end");
    std::memcpy(out, reader->data->data() + reader->offset, length);
    reader->offset += length;
}

bool decodeRows(png_structp png, png_infop info, MemoryReader* reader, DecodedPng* result)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, reader, readFromMemory);
    png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    result->width = png_get_image_width(png, info);
    result->height = png_get_image_height(png, info);
    result->bitDepth = png_get_bit_depth(png, info);
    result->colourType = png_get_color_type(png, info);
    const png_size_t rowBytes = png_get_rowbytes(png, info);
    png_bytepp rows = png_get_rows(png, info);
    for (png_uint_32 r = 0; r < result->height; ++r)
        result->pixels.insert(result->pixels.end(), rows[r], rows[r] + rowBytes);
    return true;
}

DecodedPng decodePng(const Bytes& file)
{
    DecodedPng result;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&file, 0};
    EXPECT_TRUE(decodeRows(png, info, &reader, &result));
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

TEST(ImageCompressor, PngStoresSixteenBitSamplesHighByteFirst)
{
    TypedImage<unsigned short> image(PixelType::UnsignedShort, 3, 2, 1, 1);
    const unsigned short values[] = {0x0102, 0x0304, 0xA0B0, 0, 1, 0xFFFF};
    image.copyData(values);

    const DecodedPng png = decodePng(compressed(image, CompressionMode::Png, 6));
    EXPECT_EQ(png.width, 3u);
    EXPECT_EQ(png.height, 2u);
    EXPECT_EQ(png.bitDepth, 16);
    EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_GRAY);
    EXPECT_EQ(png.pixels, (Bytes{0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0, 0, 0, 1, 0xFF, 0xFF}));
}

TEST(ImageCompressor, PngKeepsColourRows)
{
    const auto colour = TestFrames::colourFrame(7, 5, 2);
    const DecodedPng png = decodePng(compressed(*colour, CompressionMode::Png, 9));
    EXPECT_EQ(png.bitDepth, 8);
    EXPECT_EQ(png.colourType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(png.pixels, Bytes(colour->typedData(), colour->typedData() + colour->byteSize()));
}

TEST(ImageCompressor, PngRefusesWhatItCannotHold)
{
    const auto colour = TestFrames::colourFrame(16, 16, 0);
    LogCapture log;
    Bytes out(40);
    int size = static_cast<int>(out.size());
    EXPECT_FALSE(ImageCompressor().compress(colour.get(), CompressionMode::Png, 1, out.data(), &size));
    EXPECT_TRUE(log.mentions("INFO", "Overflow"));

    TypedImage<float> floats(PixelType::Float, 4, 4, 1, 1);
    floats.fill(1.0f);
    Bytes room(4096);
    size = static_cast<int>(room.size());
    EXPECT_FALSE(ImageCompressor().compress(&floats, CompressionMode::Png, 1, room.data(), &size));
}

}  // namespace
}  // namespace Veltrane
