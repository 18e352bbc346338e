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

/// Opens a sequence file for reading; records what readHeader() answered.
class SequenceReader {
public:
    explicit SequenceReader(const std::string& path) : m_file(path)
    {
        opened = m_file.open(VeltraneFile::ReadMode) && m_file.beginReadBlock(0, &plugin) &&
                 plugin.readHeader(&width, &height, &matrix, &frameCount);
    }

    /// Reads frame `index` and compares it with the frame the writer stored as
    /// number `expected`; a null expected colour means black.
    bool frameMatches(int index, int expected, bool withColour = true)
    {
        Depth depth(PixelType::UnsignedShort, width, height, 1, 1);
        Colour colour(PixelType::UnsignedByte, width, height, 1, 3);
        if (!plugin.readFrame(index, &depth, &colour) ||
            !sameBytes(depth, *depthFrame(width, height, expected)))
            return false;
        if (withColour)
            return sameBytes(colour, *colourFrame(width, height, expected));
        Colour black(PixelType::UnsignedByte, width, height, 1, 3);
        black.fill(0);
        return sameBytes(colour, black);
    }

    KorvastelFilePlugin plugin;
    bool opened = false;
    int width = 0, height = 0, frameCount = 0;
    Eigen::Matrix3d matrix = Eigen::Matrix3d::Zero();

private:
    VeltraneFile m_file;
};

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
