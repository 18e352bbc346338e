#include "core/TypedImage.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

namespace Veltrane {

namespace {

template <typename T>
constexpr int ownTypeCode()
{
    if constexpr (std::is_same_v<T, char>) return PixelType::Byte;
    if constexpr (std::is_same_v<T, unsigned char>) return PixelType::UnsignedByte;
    if constexpr (std::is_same_v<T, short>) return PixelType::Short;
    if constexpr (std::is_same_v<T, unsigned short>) return PixelType::UnsignedShort;
    if constexpr (std::is_same_v<T, int>) return PixelType::Int;
    if constexpr (std::is_same_v<T, unsigned int>) return PixelType::UnsignedInt;
    if constexpr (std::is_same_v<T, float>) return PixelType::Float;
    if constexpr (std::is_same_v<T, double>) return PixelType::Double;
}

template <typename T>
int typeCodeFor(int requested)
{
    if constexpr (sizeof(T) == 2)
        if (requested == PixelType::HalfFloat)
            return PixelType::HalfFloat;
    return ownTypeCode<T>();
}

/// A new uninitialised array for an image of these sizes. Throws like
/// `new[]` for sizes that are negative or whose product overflows.
template <typename T>
T* allocate(int width, int height, int slices, int channels)
{
    const std::optional<std::size_t> count = checkedValueCount(width, height, slices, channels, sizeof(T));
    if (!count)
        throw std::bad_array_new_length();
    return new T[*count];
}

/// As `allocate`, but null instead of an exception.
template <typename T>
T* tryAllocate(int width, int height, int slices, int channels)
{
    const std::optional<std::size_t> count = checkedValueCount(width, height, slices, channels, sizeof(T));
    return count ? new (std::nothrow) T[*count] : nullptr;
}

/// A value for printing: 8-bit values as numbers, not characters.
template <typename T>
auto printable(T v)
{
    if constexpr (std::is_integral_v<T>)
        return static_cast<std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>>(v);
    else
        return v;
}

template <typename T>
void minMaxOf(const T* values, std::size_t count, T& min, T& max)
{
    if (count == 0) {
        min = max = T(0);
        return;
    }
    min = max = values[0];
    for (std::size_t i = 1; i < count; ++i) {
        if (values[i] < min)
            min = values[i];
        if (values[i] > max)
            max = values[i];
    }
}

}  // namespace

template <typename T>
TypedImage<T>::TypedImage(int type, int width, int height, int slices, int channels, T* data,
                          bool ownsData)
    : MemImage(typeCodeFor<T>(type), width, height, slices, channels)
{
    if (data) {
        m_data = data;
        m_ownsData = ownsData;
    } else {
        m_data = allocate<T>(width, height, slices, channels);
        m_ownsData = true;
    }
}

template <typename T>
TypedImage<T>::~TypedImage()
{
    if (m_ownsData)
        delete[] m_data;
}

template <typename T>
TypedImage<T>* TypedImage<T>::create(int type, int width, int height, int slices, int channels,
                                     T* data, bool ownsData)
{
    try {
        return new TypedImage<T>(type, width, height, slices, channels, data, ownsData);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename T>
void TypedImage<T>::adopt(T* array)
{
    delete[] m_data;
    m_data = array;
}

template <typename T>
void TypedImage<T>::fill(T v)
{
    std::fill_n(m_data, elementCount(), v);
}

template <typename T>
void TypedImage<T>::minMax(T& min, T& max) const
{
    minMaxOf(m_data, elementCount(), min, max);
}

template <typename T>
void TypedImage<T>::minMax(double* min, double* max) const
{
    T lo, hi;
    minMax(lo, hi);
    *min = static_cast<double>(lo);
    *max = static_cast<double>(hi);
}

template <typename T>
double TypedImage<T>::value(std::size_t index) const
{
    return static_cast<double>(m_data[index]);
}

template <typename T>
bool TypedImage<T>::resize(int newWidth, int newHeight, int newSlices)
{
    if (newWidth == width && newHeight == height && newSlices == slices)
        return true;
    if (!m_ownsData)
        return false;
    T* array = tryAllocate<T>(newWidth, newHeight, newSlices, channels);
    if (!array)
        return false;
    adopt(array);
    width = newWidth;
    height = newHeight;
    slices = newSlices;
    return true;
}

template <typename T>
bool TypedImage<T>::downsample(int fx, int fy, int fz)
{
    if (!m_ownsData)
        return false;
    if (slices <= 1) {
        fz = 1;
        if (height < 2)
            fy = 1;
    }
    if (fx < 1 || fy < 1 || fz < 1)
        return false;
    const int w = width / fx, h = height / fy, s = slices / fz;
    if (w < 1 || h < 1 || s < 1)
        return false;
    T* out = tryAllocate<T>(w, h, s, channels);
    if (!out)
        return false;

    const std::size_t c = static_cast<std::size_t>(channels);
    const double blockSize = static_cast<double>(fx) * fy * fz;
    for (int z = 0; z < s; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (std::size_t ch = 0; ch < c; ++ch) {
                    double sum = 0.0;
                    for (int dz = 0; dz < fz; ++dz)
                        for (int dy = 0; dy < fy; ++dy)
                            for (int dx = 0; dx < fx; ++dx) {
                                const std::size_t src =
                                    ((static_cast<std::size_t>(z * fz + dz) * height + (y * fy + dy)) * width +
                                     (x * fx + dx)) * c + ch;
                                sum += static_cast<double>(m_data[src]);
                            }
                    const std::size_t dst = ((static_cast<std::size_t>(z) * h + y) * w + x) * c + ch;
                    out[dst] = static_cast<T>(sum / blockSize);
                }

    adopt(out);
    width = w;
    height = h;
    slices = s;
    spacing[0] *= fx;
    spacing[1] *= fy;
    spacing[2] *= fz;
    return true;
}

template <typename T>
MemImage* TypedImage<T>::clone() const
{
    TypedImage<T>* copy = create(type, width, height, slices, channels);
    if (copy)
        std::memcpy(copy->m_data, m_data, byteSize());
    return copy;
}

template <typename T>
bool TypedImage<T>::assign(const Image* other)
{
    if (!other || other->type != type || !other->data())
        return false;
    if (other->width == width && other->height == height && other->slices == slices &&
        other->channels == channels)
        return copyData(other->data());
    if (!m_ownsData)
        return false;
    T* array = tryAllocate<T>(other->width, other->height, other->slices, other->channels);
    if (!array)
        return false;
    adopt(array);
    width = other->width;
    height = other->height;
    slices = other->slices;
    channels = other->channels;
    return copyData(other->data());
}

template <typename T>
bool TypedImage<T>::copyData(const void* src)
{
    std::memcpy(m_data, src, byteSize());
    return true;
}

template <typename T>
void TypedImage<T>::flip(int axis)
{
    const std::size_t c = static_cast<std::size_t>(channels);
    const std::size_t rowLength = static_cast<std::size_t>(width) * c;
    const std::size_t sliceLength = rowLength * height;
    switch (axis) {
    case 0:
        for (std::size_t row = 0; row < static_cast<std::size_t>(height) * slices; ++row) {
            T* r = m_data + row * rowLength;
            for (int x = 0; x < width / 2; ++x)
                std::swap_ranges(r + x * c, r + (x + 1) * c, r + (width - 1 - x) * c);
        }
        break;
    case 1:
        for (int z = 0; z < slices; ++z) {
            T* s = m_data + z * sliceLength;
            for (int y = 0; y < height / 2; ++y)
                std::swap_ranges(s + y * rowLength, s + (y + 1) * rowLength,
                                 s + (height - 1 - y) * rowLength);
        }
        break;
    case 2:
        for (int z = 0; z < slices / 2; ++z)
            std::swap_ranges(m_data + z * sliceLength, m_data + (z + 1) * sliceLength,
                             m_data + (slices - 1 - z) * sliceLength);
        break;
    default:
        break;
    }
}

template <typename T>
void TypedImage<T>::rotate(int degrees, int flipAxis)
{
    if (degrees == 180 || degrees == -180) {
        flip(0);
        flip(1);
        return;
    }
    if (degrees == -270)
        degrees = 90;
    else if (degrees == -90)
        degrees = 270;
    if (degrees != 90 && degrees != 270)
        return;

    bool mirrorX = degrees == 90;
    bool mirrorY = !mirrorX;
    if (flipAxis == 0)
        mirrorX = !mirrorX;
    else if (flipAxis == 1)
        mirrorY = !mirrorY;

    std::unique_ptr<T[]> rotated(tryAllocate<T>(width, height, slices, channels));
    if (!rotated)
        return;
    const std::size_t c = static_cast<std::size_t>(channels);
    const int w = width, h = height;
    for (int z = 0; z < slices; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int u = mirrorY ? h - 1 - y : y;
                const int v = mirrorX ? w - 1 - x : x;
                const T* src = m_data + ((static_cast<std::size_t>(z) * h + y) * w + x) * c;
                T* dst = rotated.get() + ((static_cast<std::size_t>(z) * w + v) * h + u) * c;
                std::copy_n(src, c, dst);
            }
    std::copy_n(rotated.get(), elementCount(), m_data);
    std::swap(width, height);
    std::swap(spacing[0], spacing[1]);
}

template <typename T>
MemImage* TypedImage<T>::normalizeIntensities(bool swapBytes)
{
    const std::size_t count = elementCount();
    if constexpr (sizeof(T) == 2) {
        if (swapBytes)
            for (std::size_t i = 0; i < count; ++i) {
                const auto bits = static_cast<unsigned short>(m_data[i]);
                m_data[i] = static_cast<T>(static_cast<unsigned short>((bits << 8) | (bits >> 8)));
            }
    }
    T min, max;
    minMax(min, max);
    std::cout << "Intensity range [" << printable(min) << ".." << printable(max) << "]";

    if constexpr (std::is_same_v<T, short>) {
        if (type == PixelType::Short) {
            if (min == max) {
                std::cout << std::endl;
                return nullptr;
            }
            const int factor = 65535 / (static_cast<int>(max) - static_cast<int>(min));
            std::cout << ", converting to unsigned";
            if (factor != 1)
                std::cout << ", scaling with " << factor;
            std::cout << std::endl;

            auto* converted = TypedImage<unsigned short>::create(PixelType::UnsignedShort, width,
                                                                 height, slices, channels);
            if (!converted)
                return nullptr;
            unsigned short* out = converted->typedData();
            for (std::size_t i = 0; i < count; ++i)
                out[i] = static_cast<unsigned short>((static_cast<int>(m_data[i]) - min) * factor);
            converted->scale = factor;
            converted->shift = shift - min;
            converted->spacing = spacing;
            if (m_ownsData)
                delete[] m_data;
            m_data = nullptr;
            m_ownsData = false;
            return converted;
        }
    }

    if constexpr (std::is_integral_v<T>) {
        if (type != PixelType::HalfFloat) {
            using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
            constexpr T largest = std::numeric_limits<T>::max();
            if (max != 0 && max != largest) {
                const Wide factor = static_cast<Wide>(largest) / static_cast<Wide>(max);
                if (factor != 1) {
                    std::cout << ", scaling with " << factor << std::endl;
                    for (std::size_t i = 0; i < count; ++i)
                        m_data[i] = static_cast<T>(static_cast<Wide>(m_data[i]) * factor);
                    scale *= static_cast<double>(factor);
                    return nullptr;
                }
            }
            std::cout << std::endl;
            return nullptr;
        }
    }

    if ((min != 0 || max != 1) && min < max) {
        std::cout << ", normalizing";
        const T range = static_cast<T>(max - min);
        for (std::size_t i = 0; i < count; ++i)
            m_data[i] = static_cast<T>(static_cast<T>(m_data[i] - min) / range);
    }
    std::cout << std::endl;
    return nullptr;
}

template class TypedImage<char>;
template class TypedImage<unsigned char>;
template class TypedImage<short>;
template class TypedImage<unsigned short>;
template class TypedImage<int>;
template class TypedImage<unsigned int>;
template class TypedImage<float>;
template class TypedImage<double>;

int MemImage::location() const
{
    return ImageLocation::Memory;
}

MemImage* MemImage::create(int type, int width, int height, int slices, int channels, void* data)
{
    switch (type) {
    case PixelType::Byte:
        return TypedImage<char>::create(type, width, height, slices, channels, static_cast<char*>(data));
    case PixelType::UnsignedByte:
        return TypedImage<unsigned char>::create(type, width, height, slices, channels,
                                                 static_cast<unsigned char*>(data));
    case PixelType::Short:
        return TypedImage<short>::create(type, width, height, slices, channels, static_cast<short*>(data));
    case PixelType::UnsignedShort:
    case PixelType::HalfFloat:
        return TypedImage<unsigned short>::create(type, width, height, slices, channels,
                                                  static_cast<unsigned short*>(data));
    case PixelType::Int:
        return TypedImage<int>::create(type, width, height, slices, channels, static_cast<int*>(data));
    case PixelType::UnsignedInt:
        return TypedImage<unsigned int>::create(type, width, height, slices, channels,
                                                static_cast<unsigned int*>(data));
    case PixelType::Float:
        return TypedImage<float>::create(type, width, height, slices, channels, static_cast<float*>(data));
    case PixelType::Double:
        return TypedImage<double>::create(type, width, height, slices, channels, static_cast<double*>(data));
    default:
        return nullptr;
    }
}

MemImage* MemImage::createCompatible(const Image* src, int type)
{
    MemImage* image = create(type ? type : src->type, src->width, src->height, src->slices, src->channels);
    if (image) {
        image->shift = src->shift;
        image->scale = src->scale;
        image->spacing = src->spacing;
    }
    return image;
}

}  // namespace Veltrane
