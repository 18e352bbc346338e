#include "capture/ImageCompressor.h"

#include "core/Image.h"
#include "core/Logging.h"

#include <png.h>
#include <zlib.h>

#include <climits>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace Veltrane {

namespace {

constexpr int WindowBits = 15;
constexpr int MemoryLevel = 9;

/// Sizes of the three colour planes of a three-channel image.
struct PlaneLayout {
    std::size_t samples;        ///< samples per plane
    std::size_t bytesPerSample;
};

PlaneLayout planeLayout(const Image& image)
{
    return {image.elementCount() / 3, static_cast<std::size_t>(image.bytesPerElement())};
}

/// Moves sample k of pixel i between its interleaved place 3i + k and its
/// planar place k * samples + i, to the planes or back. The sample size is a
/// template argument, so that every copy compiles to a plain move.
template <std::size_t Bytes, bool ToPlanes>
void moveSamples(const unsigned char* from, std::size_t samples, unsigned char* to)
{
    for (std::size_t i = 0; i < samples; ++i)
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t interleaved = (3 * i + k) * Bytes;
            const std::size_t planar = (k * samples + i) * Bytes;
            std::memcpy(to + (ToPlanes ? planar : interleaved), from + (ToPlanes ? interleaved : planar), Bytes);
        }
}

template <bool ToPlanes>
void moveSamples(const unsigned char* from, PlaneLayout layout, unsigned char* to)
{
    switch (layout.bytesPerSample) {
    case 1:
        return moveSamples<1, ToPlanes>(from, layout.samples, to);
    case 2:
        return moveSamples<2, ToPlanes>(from, layout.samples, to);
    case 4:
        return moveSamples<4, ToPlanes>(from, layout.samples, to);
    case 8:
        return moveSamples<8, ToPlanes>(from, layout.samples, to);
    default:
        return;  // no element type has another size
    }
}

/// Interleaved samples to three planes.
void splitPlanes(const unsigned char* interleaved, PlaneLayout layout, unsigned char* planes)
{
    moveSamples<true>(interleaved, layout, planes);
}

/// Three planes to interleaved samples.
void mergePlanes(const unsigned char* planes, PlaneLayout layout, unsigned char* interleaved)
{
    moveSamples<false>(planes, layout, interleaved);
}

/// A scratch buffer, or null when it cannot be allocated.
std::unique_ptr<unsigned char[]> scratch(std::size_t bytes)
{
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

int zlibStrategy(CompressionMode mode)
{
    switch (mode) {
    case CompressionMode::ZlibHuffmanOnly:
        return Z_HUFFMAN_ONLY;
    case CompressionMode::ZlibRle:
        return Z_RLE;
    default:
        return Z_DEFAULT_STRATEGY;
    }
}

bool deflateImage(const Image& image, CompressionMode mode, int level, unsigned char* out, int* size)
{
    const std::size_t n = image.byteSize();
    if (n > UINT_MAX)
        return false;
    const auto* input = static_cast<const unsigned char*>(image.data());
    std::unique_ptr<unsigned char[]> planes;
    if (image.channels == 3) {
        planes = scratch(n);
        if (!planes)
            return false;
        splitPlanes(input, planeLayout(image), planes.get());
        input = planes.get();
    }

    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, WindowBits, MemoryLevel, zlibStrategy(mode)) != Z_OK) {
        VELTRANE_ERROR("Error initializing zlib");
        return false;
    }
    stream.next_in = const_cast<unsigned char*>(input);
    stream.avail_in = static_cast<uInt>(n);
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(*size);
    const int result = deflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
    const uLong produced = stream.total_out;
    const bool ended = deflateEnd(&stream) == Z_OK;
    if (!complete) {
        VELTRANE_ERROR("Error compressing data");
        return false;
    }
    if (!ended) {
        VELTRANE_ERROR("Error cleaning up zlib");
        return false;
    }
    *size = static_cast<int>(produced);
    return true;
}

bool inflateImage(const unsigned char* data, int length, Image& image)
{
    const std::size_t n = image.byteSize();
    if (n > UINT_MAX)
        return false;
    auto* pixels = static_cast<unsigned char*>(image.data());
    std::unique_ptr<unsigned char[]> planes;
    unsigned char* target = pixels;
    if (image.channels == 3) {
        planes = scratch(n);
        if (!planes)
            return false;
        target = planes.get();
    }

    z_stream stream{};
    if (inflateInit2(&stream, WindowBits) != Z_OK) {
        VELTRANE_ERROR("Cannot initialize zlib");
        return false;
    }
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(length);
    stream.next_out = target;
    stream.avail_out = static_cast<uInt>(n);
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.total_out == n;
    const bool ended = inflateEnd(&stream) == Z_OK;
    if (!complete) {
        VELTRANE_ERROR("Error decompressing data");
        return false;
    }
    if (planes)
        mergePlanes(planes.get(), planeLayout(image), pixels);
    if (!ended) {
        VELTRANE_ERROR("Error cleaning up zlib");
        return false;
    }
    return true;
}

/// Where libpng's output goes: the caller's buffer, as far as it has room.
struct PngSink {
    unsigned char* out;
    std::size_t room;
    std::size_t used;
    bool overflow;
};

void writePngChunk(png_structp png, png_bytep data, png_size_t length)
{
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    if (sink->overflow)
        return;
    if (length > sink->room - sink->used) {
        VELTRANE_INFO("Overflow");
        sink->overflow = true;
        return;
    }
    std::memcpy(sink->out + sink->used, data, length);
    sink->used += length;
}

void flushPng(png_structp) {}

/// Runs the libpng calls; libpng reports errors by jumping back here, so this
/// function holds no object with a destructor.
bool writePng(png_structp png, png_infop info, const Image& image, int bitDepth, int level,
              png_bytepp rows, PngSink* sink)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, sink, writePngChunk, flushPng);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), bitDepth,
                 image.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (bitDepth == 16)
        png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

bool encodePng(const Image& image, int level, unsigned char* out, int* size)
{
    int bitDepth;
    if (image.type == PixelType::UnsignedByte)
        bitDepth = 8;
    else if (image.type == PixelType::UnsignedShort)
        bitDepth = 16;
    else
        return false;
    if ((image.channels != 1 && image.channels != 3) || image.width < 1 || image.height < 1)
        return false;

    auto* pixels = static_cast<unsigned char*>(const_cast<void*>(image.data()));
    const std::size_t rowBytes =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(bitDepth / 8 * image.channels);
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (std::size_t r = 0; r < rows.size(); ++r)
        rows[r] = pixels + r * rowBytes;

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    PngSink sink{out, static_cast<std::size_t>(*size), 0, false};
    const bool written = writePng(png, info, image, bitDepth, level, rows.data(), &sink);
    png_destroy_write_struct(&png, &info);
    if (!written || sink.overflow)
        return false;
    *size = static_cast<int>(sink.used);
    return true;
}

}  // namespace

bool ImageCompressor::compress(const Image* image, CompressionMode mode, int level,
                               unsigned char* out, int* size) const
{
    if (!image || !image->data() || image->bytesPerElement() == 0 || !out || !size || *size <= 0 ||
        static_cast<unsigned>(mode) > static_cast<unsigned>(CompressionMode::Png) ||
        static_cast<unsigned>(level) > 9)
        return false;
    if (mode == CompressionMode::Png)
        return encodePng(*image, level, out, size);
    return deflateImage(*image, mode, level, out, size);
}

bool ImageCompressor::decompress(const unsigned char* data, int length, CompressionMode mode,
                                 Image* image) const
{
    if (!data || !image || !image->data() || image->bytesPerElement() == 0 || length <= 0 ||
        static_cast<unsigned>(mode) >= static_cast<unsigned>(CompressionMode::Png))
        return false;
    return inflateImage(data, length, *image);
}

}  // namespace Veltrane
