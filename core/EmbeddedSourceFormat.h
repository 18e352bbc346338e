#pragma once

#include <cstddef>
#include <string>

namespace Veltrane {

/// Key used for sources stored without one of their own.
inline constexpr char defaultSourceKey[] = "Korvastel keeps its sources to itself..";

/// Scrambles or unscrambles (the operation is its own inverse) `count`
/// bytes in place: byte i is combined by XOR with key[L - 1 - (i mod L)],
/// so the key runs backwards from its last character and repeats.
inline void applySourceKey(unsigned char* bytes, std::size_t count, const std::string& key)
{
    const std::size_t length = key.size();
    if (length == 0)
        return;
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] ^= static_cast<unsigned char>(key[length - 1 - i % length]);
}

}  // namespace Veltrane
