#pragma once

#include "core/TypedImage.h"

namespace Veltrane {

/// Drops what lies farther than `farthest` millimetres from a depth frame:
/// every such depth becomes 0 (no measurement); `farthest` itself is kept.
/// The rows are shared out over OpenMP threads.
void cutOffDepth(TypedImage<unsigned short>& depth, int farthest);

}  // namespace Veltrane
