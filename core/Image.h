#pragma once

#include "core/Data.h"

#include <array>
#include <cstddef>
#include <optional>

namespace Veltrane {

/// Element types of an image, as OpenGL data-type codes.
namespace PixelType {
constexpr int Byte = 5120;           ///< GL_BYTE, signed 8-bit
constexpr int UnsignedByte = 5121;   ///< GL_UNSIGNED_BYTE
constexpr int Short = 5122;          ///< GL_SHORT
constexpr int UnsignedShort = 5123;  ///< GL_UNSIGNED_SHORT
constexpr int Int = 5124;            ///< GL_INT
constexpr int UnsignedInt = 5125;    ///< GL_UNSIGNED_INT
constexpr int Float = 5126;          ///< GL_FLOAT
constexpr int Double = 5130;         ///< GL_DOUBLE
constexpr int HalfFloat = 5131;      ///< GL_HALF_FLOAT, raw 16-bit patterns
}  // namespace PixelType

/// Where the elements of an image live, as returned by `Image::location()`.
namespace ImageLocation {
constexpr int None = 0;    ///< a bare header
constexpr int Memory = 1;  ///< host memory (`TypedImage`)
constexpr int OpenGL = 2;  ///< an OpenGL texture (`GlImage`)
constexpr int OpenCL = 3;  ///< OpenCL memory (`ClImage`)
}  // namespace ImageLocation

/// Bytes of one value of the given `PixelType` code; 0 for an unknown code.
int bytesPerElement(int type);

/// width * height * slices * channels, or nothing when a size is negative or
/// when that many values of `bytesPerValue` bytes each cannot be counted in
/// std::size_t (neither the values nor their bytes may wrap around).
std::optional<std::size_t> checkedValueCount(int width, int height, int slices, int channels,
                                             std::size_t bytesPerValue);

/// Image header: element type, sizes, intensity mapping and voxel spacing.
///
/// A plain `Image` holds no elements; it describes images about to be created
/// elsewhere. Elements are laid out as one contiguous array, channels
/// interleaved: channel c of element (x, y, z) is at
/// ((z * height + y) * width + x) * channels + c.
///
/// A stored value s represents the intensity s / scale - shift.
class Image : public Data {
public:
    Image(int type, int width, int height, int slices, int channels);

    int kind() const override;
    /// One of the `ImageLocation` values.
    virtual int location() const;
    /// The element array, or null when the elements are not in host memory.
    virtual const void* data() const;
    virtual void* data();

    /// width * height * slices * channels; 0 when a size is not positive or
    /// the count or its bytes would not fit in std::size_t.
    std::size_t elementCount() const;
    int bytesPerElement() const;
    /// bytesPerElement() * elementCount().
    std::size_t byteSize() const;
    /// 3 with two or more slices, else 1 when height < 2, else 2.
    int dimension() const;

    int type;
    int width;
    int height;
    int slices;
    int channels;
    double shift = 0.0;
    double scale = 1.0;
    std::array<double, 3> spacing{1.0, 1.0, 1.0};
};

}  // namespace Veltrane
