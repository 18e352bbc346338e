#pragma once

#include "core/TypedImage.h"

#include <Eigen/Core>

#include <cmath>
#include <limits>

namespace Veltrane {

/// Access to three-channel float images of 3-D vectors (vertex, normal and
/// tangent maps). An invalid pixel holds NaN in all three components.
namespace VectorMap {

inline Eigen::Map<Eigen::Vector3f> at(TypedImage<float>& map, int x, int y)
{
    return Eigen::Map<Eigen::Vector3f>(map.typedData() + 3 * (static_cast<std::size_t>(y) * map.width + x));
}

inline Eigen::Map<const Eigen::Vector3f> at(const TypedImage<float>& map, int x, int y)
{
    return Eigen::Map<const Eigen::Vector3f>(map.typedData() +
                                             3 * (static_cast<std::size_t>(y) * map.width + x));
}

inline Eigen::Vector3f invalid()
{
    return Eigen::Vector3f::Constant(std::numeric_limits<float>::quiet_NaN());
}

/// True when any component is NaN.
inline bool isInvalid(const Eigen::Vector3f& v)
{
    return std::isnan(v.x()) || std::isnan(v.y()) || std::isnan(v.z());
}

}  // namespace VectorMap
}  // namespace Veltrane
