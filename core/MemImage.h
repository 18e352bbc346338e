#pragma once

#include "core/Image.h"

namespace Veltrane {

/// An image whose elements are in host memory. `TypedImage<T>` implements it
/// for each element type.
class MemImage : public Image {
public:
    using Image::Image;

    /// Value number `index` of the element array (channels interleaved).
    virtual double value(std::size_t index) const = 0;

    /// Gives the image new sizes (channels unchanged) and an uninitialised
    /// array. True without change when the sizes are the current ones;
    /// otherwise false, with the image unchanged, when it does not own its
    /// array or the allocation fails.
    virtual bool resize(int width, int height, int slices) = 0;

    /// Box average by integer factors along x, y and z. A 2-D image ignores
    /// `fz`, a 1-D image also `fy`. Elements beyond the last whole block are
    /// dropped and the spacing grows by the factors. False, with the image
    /// unchanged, when the image does not own its array, a factor is below 1 or
    /// leaves no element along an axis, or the allocation fails.
    virtual bool downsample(int fx, int fy, int fz) = 0;

    /// A copy of the elements with the same type code, but default shift,
    /// scale and spacing; null when the allocation fails.
    virtual MemImage* clone() const = 0;

    /// Copies `other`'s elements (which must be in host memory). With other
    /// sizes the array is replaced, which only an owning image may do. False
    /// for another type code. Shift, scale and spacing are kept.
    virtual bool assign(const Image* other) = 0;

    /// Copies byteSize() bytes from `src` into the array.
    virtual bool copyData(const void* src) = 0;

    /// Quarter and half turns in the x-y plane. 90 and 270 (or -270 and -90)
    /// swap width and height; `flipAxis` 0 or 1 mirrors the source along x or y
    /// first. 180 mirrors along x and y. Other angles do nothing.
    virtual void rotate(int degrees, int flipAxis) = 0;

    /// Mirrors along x (0), y (1) or z (2); any other axis does nothing.
    virtual void flip(int axis) = 0;

    /// Reports the value range on standard output and stretches the values to
    /// the element type's range (integers) or to 0..1 (floating point). A
    /// GL_SHORT image is converted to a new unsigned-short image, which is
    /// returned; this image is then left without an array. Otherwise null.
    virtual MemImage* normalizeIntensities(bool swapBytes) = 0;

    /// Smallest and largest value; a NaN never replaces a number, a NaN first
    /// value stays in both. An image with no values gives 0 and 0.
    virtual void minMax(double* min, double* max) const = 0;

    /// A new image of the element type that `type` names, wrapping `data`
    /// without owning it, or allocating an owned array when `data` is null.
    /// Null for an unknown type code or when allocation fails.
    static MemImage* create(int type, int width, int height, int slices, int channels,
                            void* data = nullptr);

    /// A new image with `src`'s sizes, shift, scale and spacing and the type
    /// `type` (or `src`'s when 0); elements are not copied. Null on failure.
    static MemImage* createCompatible(const Image* src, int type = 0);

    int location() const override;
};

}  // namespace Veltrane
