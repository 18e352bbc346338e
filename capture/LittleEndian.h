#pragma once

#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>

namespace Veltrane {

/// Fixed-width little-endian integers and doubles on binary streams, whatever
/// the byte order of the host. A failed read leaves the stream failed and the
/// value zero.
namespace LittleEndian {

inline void writeUInt(std::ostream& out, std::uint64_t value, int bytes)
{
    char encoded[8];
    for (int i = 0; i < bytes; ++i)
        encoded[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    out.write(encoded, bytes);
}

inline std::uint64_t readUInt(std::istream& in, int bytes)
{
    unsigned char encoded[8] = {};
    if (!in.read(reinterpret_cast<char*>(encoded), bytes))
        return 0;
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(encoded[i]) << (8 * i);
    return value;
}

inline void writeInt32(std::ostream& out, std::int32_t value)
{
    writeUInt(out, static_cast<std::uint32_t>(value), 4);
}

inline void writeInt64(std::ostream& out, std::int64_t value)
{
    writeUInt(out, static_cast<std::uint64_t>(value), 8);
}

inline void writeDouble(std::ostream& out, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeUInt(out, bits, 8);
}

inline std::int32_t readInt32(std::istream& in)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(readUInt(in, 4)));
}

inline std::int64_t readInt64(std::istream& in)
{
    return static_cast<std::int64_t>(readUInt(in, 8));
}

/// Encodes `value` into the four bytes at `out`.
inline void storeInt32(unsigned char* out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>((bits >> (8 * i)) & 0xFF);
}

inline double readDouble(std::istream& in)
{
    const std::uint64_t bits = readUInt(in, 8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace LittleEndian
}  // namespace Veltrane
