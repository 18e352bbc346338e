#pragma once

#include "core/MemImage.h"

namespace Veltrane {

/// Host-memory image with elements of type T (char, unsigned char, short,
/// unsigned short, int, unsigned int, float or double).
///
/// The image either owns its array (and may replace it) or wraps a caller's
/// array, which it never frees or replaces.
template <typename T>
class TypedImage : public MemImage {
public:
    /// Sets the header; `type` becomes the element type's own code, except that
    /// 16-bit images keep GL_HALF_FLOAT. A null `data` allocates an owned,
    /// uninitialised array; otherwise `data` is adopted with `ownsData`.
    /// Throws the allocator's exception when the array cannot be allocated.
    TypedImage(int type, int width, int height, int slices, int channels,
               T* data = nullptr, bool ownsData = false);
    ~TypedImage() override;

    /// As the constructor, on the heap; null instead of an exception.
    static TypedImage* create(int type, int width, int height, int slices, int channels,
                              T* data = nullptr, bool ownsData = false);

    const void* data() const override { return m_data; }
    void* data() override { return m_data; }
    T* typedData() { return m_data; }
    const T* typedData() const { return m_data; }
    bool ownsData() const { return m_ownsData; }

    /// Sets every value to `v`.
    void fill(T v);
    /// Smallest and largest value in the element type; see MemImage::minMax.
    void minMax(T& min, T& max) const;

    double value(std::size_t index) const override;
    bool resize(int width, int height, int slices) override;
    bool downsample(int fx, int fy, int fz) override;
    MemImage* clone() const override;
    bool assign(const Image* other) override;
    bool copyData(const void* src) override;
    void rotate(int degrees, int flipAxis) override;
    void flip(int axis) override;
    MemImage* normalizeIntensities(bool swapBytes) override;
    void minMax(double* min, double* max) const override;

private:
    /// Replaces the owned array by `array` (already holding the new sizes).
    void adopt(T* array);

    T* m_data = nullptr;
    bool m_ownsData = false;
};

extern template class TypedImage<char>;
extern template class TypedImage<unsigned char>;
extern template class TypedImage<short>;
extern template class TypedImage<unsigned short>;
extern template class TypedImage<int>;
extern template class TypedImage<unsigned int>;
extern template class TypedImage<float>;
extern template class TypedImage<double>;

}  // namespace Veltrane
