#include "core/Image.h"

#include <algorithm>

namespace Veltrane {

int bytesPerElement(int type)
{
    switch (type) {
    case PixelType::Byte:
    case PixelType::UnsignedByte:
        return 1;
    case PixelType::Short:
    case PixelType::UnsignedShort:
    case PixelType::HalfFloat:
        return 2;
    case PixelType::Int:
    case PixelType::UnsignedInt:
    case PixelType::Float:
        return 4;
    case PixelType::Double:
        return 8;
    default:
        return 0;
    }
}

std::optional<std::size_t> checkedValueCount(int width, int height, int slices, int channels,
                                             std::size_t bytesPerValue)
{
    if (width < 0 || height < 0 || slices < 0 || channels < 0)
        return std::nullopt;
    std::size_t count = 1;
    for (int factor : {width, height, slices, channels})
        if (__builtin_mul_overflow(count, static_cast<std::size_t>(factor), &count))
            return std::nullopt;
    std::size_t bytes;
    if (__builtin_mul_overflow(count, bytesPerValue, &bytes))
        return std::nullopt;
    return count;
}

Image::Image(int type, int width, int height, int slices, int channels)
    : type(type), width(width), height(height), slices(slices), channels(channels)
{
}

int Image::kind() const
{
    return slices < 2 ? DataKind::Image2D : DataKind::Volume;
}

int Image::location() const
{
    return ImageLocation::None;
}

const void* Image::data() const
{
    return nullptr;
}

void* Image::data()
{
    return nullptr;
}

std::size_t Image::elementCount() const
{
    const std::size_t bytesPerValue = std::max(bytesPerElement(), 1);
    return checkedValueCount(width, height, slices, channels, bytesPerValue).value_or(0);
}

int Image::bytesPerElement() const
{
    return Veltrane::bytesPerElement(type);
}

std::size_t Image::byteSize() const
{
    return static_cast<std::size_t>(bytesPerElement()) * elementCount();
}

int Image::dimension() const
{
    if (slices >= 2)
        return 3;
    return height < 2 ? 1 : 2;
}

}  // namespace Veltrane
