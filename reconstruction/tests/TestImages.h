#pragma once

#include "core/TypedImage.h"

#include <memory>

namespace Veltrane {

/// A new w x h image with `channels` channels, every value `value`.
template <typename T>
std::unique_ptr<TypedImage<T>> filledImage(int w, int h, int channels, T value)
{
    auto image = std::make_unique<TypedImage<T>>(0, w, h, 1, channels);
    image->fill(value);
    return image;
}

}  // namespace Veltrane
