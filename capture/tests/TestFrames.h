#pragma once

#include "core/TypedImage.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace Veltrane {
namespace TestFrames {

using Depth = TypedImage<unsigned short>;
using Colour = TypedImage<unsigned char>;

/// A depth frame with gradients, a hole and `index` in its first pixel.
inline std::unique_ptr<Depth> depthFrame(int width, int height, int index)
{
    auto image = std::make_unique<Depth>(PixelType::UnsignedShort, width, height, 1, 1);
    unsigned short* d = image->typedData();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            d[y * width + x] = (x > width / 2 && y > height / 2)
                                   ? 0
                                   : static_cast<unsigned short>(600 + 5 * x + 3 * y + 17 * index);
    d[0] = static_cast<unsigned short>(index);
    return image;
}

/// An RGB frame whose channels differ and change with `index`.
inline std::unique_ptr<Colour> colourFrame(int width, int height, int index)
{
    auto image = std::make_unique<Colour>(PixelType::UnsignedByte, width, height, 1, 3);
    unsigned char* c = image->typedData();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            unsigned char* p = c + 3 * (y * width + x);
            p[0] = static_cast<unsigned char>(x + index);
            p[1] = static_cast<unsigned char>(2 * y + 3 * index);
            p[2] = static_cast<unsigned char>((x ^ y) + 5 * index);
        }
    return image;
}

/// The frame index that depthFrame() stored.
inline int indexOf(const Depth& depth) { return depth.typedData()[0]; }

inline bool sameBytes(const Image& a, const Image& b)
{
    return a.width == b.width && a.height == b.height && a.channels == b.channels &&
           a.byteSize() == b.byteSize() && std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace TestFrames
}  // namespace Veltrane
