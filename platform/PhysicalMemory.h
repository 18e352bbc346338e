#pragma once

#include <cstdint>

namespace Veltrane {

/// Bytes of physical memory of the machine; 0 when it cannot be told.
std::uint64_t physicalMemoryBytes();

}  // namespace Veltrane
