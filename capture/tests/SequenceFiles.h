#pragma once

#include "capture/KorvastelFilePlugin.h"
#include "capture/VeltraneFile.h"

#include "TestFrames.h"

#include <cstdint>
#include <string>

namespace Veltrane {
namespace TestFrames {

/// A camera matrix with distinct entries, column-major.
constexpr double Matrix[9] = {525.5, 0.0, 0.0, 0.0, 524.25, 0.0, 319.5, 239.75, 1.0};

/// How far writeSequence() gets before it stops, as a crash would stop it.
enum class Ending { Finished, WithoutClose, WithoutEndSequence };

/// Writes frames 0 .. count-1 of depthFrame() and colourFrame() as a sequence.
inline bool writeSequence(const std::string& path, int width, int height, int count,
                          Ending ending = Ending::Finished)
{
    VeltraneFile file(path);
    KorvastelFilePlugin plugin;
    bool ok = file.open(VeltraneFile::WriteMode) && file.beginWriteBlock(&plugin) &&
              plugin.beginSequence(width, height, Matrix);
    for (int i = 0; ok && i < count; ++i)
        ok = plugin.writeFrame(depthFrame(width, height, i).get(), colourFrame(width, height, i).get());
    if (ok && ending == Ending::WithoutEndSequence)
        return true;
    ok = ok && plugin.endSequence() && file.endWriteBlock() > 0;
    if (ok && ending == Ending::WithoutClose)
        return true;
    return ok && file.close();
}

inline std::int64_t int64At(const std::string& bytes, std::size_t offset)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= std::uint64_t(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return static_cast<std::int64_t>(v);
}

inline std::int32_t int32At(const std::string& bytes, std::size_t offset)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return static_cast<std::int32_t>(v);
}

inline void putInt32(std::string& bytes, std::size_t offset, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
}

inline void putInt64(std::string& bytes, std::size_t offset, std::int64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<char>((static_cast<std::uint64_t>(value) >> (8 * i)) & 0xFF);
}

}  // namespace TestFrames
}  // namespace Veltrane
