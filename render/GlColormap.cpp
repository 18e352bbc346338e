#include "render/GlColormap.h"

#include <algorithm>

namespace Veltrane {
namespace {

float clamp01(float value)
{
    return std::clamp(value, 0.0f, 1.0f);
}

}  // namespace

std::vector<float> colormapValues(int type, int size)
{
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(std::max(size, 0)) * 3);
    for (int i = 0; i < size; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(size);
        if (type == 1) {
            values.push_back(clamp01(std::min(4.5f - 4.0f * t, 4.0f * t - 1.5f)));
            values.push_back(clamp01(std::min(3.5f - 4.0f * t, 4.0f * t - 0.5f)));
            values.push_back(clamp01(std::min(2.5f - 4.0f * t, 4.0f * t + 0.5f)));
        } else {
            values.insert(values.end(), {t, t, t});
        }
    }
    return values;
}

GlColormap::GlColormap(int type, int size)
    : GlImage(PixelType::Float, std::max(size, 1), 1, 1, 3, 0,
              colormapValues(type, std::max(size, 1)).data())
{
}

}  // namespace Veltrane
