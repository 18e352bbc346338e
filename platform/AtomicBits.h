#pragma once

#include <cstdint>

namespace Veltrane {

/// Sets `bits` in a plain 32-bit integer that several threads update at once,
/// as one atomic read-modify-write; returns the value before. The integer
/// stays an ordinary field, so it costs nothing where no thread shares it.
inline int32_t atomicOr(int32_t& target, int32_t bits)
{
    return __atomic_fetch_or(&target, bits, __ATOMIC_SEQ_CST);
}

}  // namespace Veltrane
