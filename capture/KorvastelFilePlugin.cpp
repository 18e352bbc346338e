#include "capture/KorvastelFilePlugin.h"

#include "capture/LittleEndian.h"
#include "core/Logging.h"

#include <climits>
#include <iostream>
#include <new>

namespace Veltrane {

namespace {

constexpr CompressionMode FrameMode = CompressionMode::ZlibRle;
constexpr int FrameLevel = 1;
/// Room per pixel for each compressed image while writing: twice its raw size.
constexpr std::int64_t DepthRoomPerPixel = 4;
constexpr std::int64_t ColourRoomPerPixel = 6;
constexpr std::int64_t ReadBytesPerPixel = 5;
/// Two size fields and the two-byte header of each zlib stream.
constexpr std::int64_t MinRecordSize = 12;
/// Deflate codes at most 258 bytes in two bits: no frame compresses smaller
/// than its raw size divided by this.
constexpr std::int64_t MaxDeflateRatio = 1032;

/// The first two bytes of a zlib stream: deflate with a window of at most
/// 32 KiB and a valid header check.
bool looksLikeZlib(unsigned char cmf, unsigned char flg)
{
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

}  // namespace

KorvastelFilePlugin::KorvastelFilePlugin() = default;

KorvastelFilePlugin::~KorvastelFilePlugin() = default;

int KorvastelFilePlugin::typeId(int) const { return BlockTypeId; }

bool KorvastelFilePlugin::beginWrite(std::iostream* stream)
{
    m_stream = stream;
    m_active = false;
    m_bytesWritten = 0;
    if (!m_stream)
        return false;
    m_payloadStart = static_cast<std::int64_t>(m_stream->tellp());
    return m_stream->good();
}

std::int64_t KorvastelFilePlugin::endWrite()
{
    if (m_active)
        endSequence();
    return m_bytesWritten;
}

bool KorvastelFilePlugin::beginRead(std::iostream* stream, std::int64_t payloadSize)
{
    m_stream = stream;
    m_active = false;
    if (!m_stream)
        return false;
    m_payloadStart = static_cast<std::int64_t>(m_stream->tellg());
    m_payloadSize = payloadSize;
    return m_stream->good();
}

bool KorvastelFilePlugin::endRead() { return true; }

bool KorvastelFilePlugin::validFrameSize(int width, int height)
{
    return width >= 1 && height >= 1 && std::int64_t(width) * height <= MaxFramePixels;
}

bool KorvastelFilePlugin::allocateBuffer(std::int64_t size)
{
    try {
        m_buffer.assign(static_cast<std::size_t>(size), 0);
        return true;
    } catch (const std::bad_alloc&) {
        m_buffer = {};
        VELTRANE_ERROR("Cannot allocate buffer");
        return false;
    }
}

bool KorvastelFilePlugin::matchesHeader(const Image* image, int channels) const
{
    return image && image->data() && image->width == m_headerWidth &&
           image->height == m_headerHeight && image->slices == 1 && image->channels == channels;
}

bool KorvastelFilePlugin::beginSequence(int width, int height, const double* matrix9)
{
    if (m_active || !m_stream || !matrix9)
        return false;
    if (!validFrameSize(width, height)) {
        VELTRANE_ERROR("Invalid frame size " << width << " x " << height);
        return false;
    }
    m_frameCount = 0;
    m_headerWidth = width;
    m_headerHeight = height;
    LittleEndian::writeInt32(*m_stream, width);
    LittleEndian::writeInt32(*m_stream, height);
    for (int i = 0; i < 9; ++i)
        LittleEndian::writeDouble(*m_stream, matrix9[i]);
    LittleEndian::writeInt32(*m_stream, 0);
    m_bytesWritten = HeaderSize;
    // Through to the file, so that a full disk shows now and not at the end.
    m_stream->flush();
    if (!m_stream->good()) {
        VELTRANE_ERROR("Stream error");
        return false;
    }
    m_framePositions.clear();
    const std::int64_t pixels = std::int64_t(width) * height;
    if (!allocateBuffer(4 + pixels * DepthRoomPerPixel + 4 + pixels * ColourRoomPerPixel))
        return false;
    m_active = true;
    return true;
}

bool KorvastelFilePlugin::writeFrame(const TypedImage<unsigned short>* depth,
                                     const TypedImage<unsigned char>* colour)
{
    if (!m_active)
        return false;
    if (!matchesHeader(depth, 1) || !matchesHeader(colour, 3)) {
        VELTRANE_ERROR("Frame does not match the sequence's frame size");
        return false;
    }
    // Each image has a part of the buffer of its own (size field, then room for
    // the stream), so that the colour image is compressed on a thread of its
    // own while this one compresses the depth image.
    const std::int64_t pixels = std::int64_t(m_headerWidth) * m_headerHeight;
    unsigned char* depthPart = m_buffer.data();
    unsigned char* colourPart = depthPart + 4 + pixels * DepthRoomPerPixel;
    int depthSize = static_cast<int>(pixels * DepthRoomPerPixel);
    int colorSize = static_cast<int>(pixels * ColourRoomPerPixel);
    bool colourCompressed = false;
    m_colourThread.start([&] {
        colourCompressed =
            m_compressor.compress(colour, FrameMode, FrameLevel, colourPart + 4, &colorSize) && colorSize > 0;
    });
    const bool depthCompressed =
        m_compressor.compress(depth, FrameMode, FrameLevel, depthPart + 4, &depthSize) && depthSize > 0;
    m_colourThread.wait();
    if (!depthCompressed) {
        VELTRANE_ERROR("Could not compress depth image");
        return false;
    }
    if (!colourCompressed) {
        VELTRANE_ERROR("Could not compress color image");
        return false;
    }
    LittleEndian::storeInt32(depthPart, depthSize);
    LittleEndian::storeInt32(colourPart, colorSize);

    const std::int64_t recordSize = 8 + std::int64_t(depthSize) + colorSize;
    m_framePositions.push_back(static_cast<std::int64_t>(m_stream->tellp()));
    m_stream->write(reinterpret_cast<const char*>(depthPart), 4 + depthSize);
    m_stream->write(reinterpret_cast<const char*>(colourPart), 4 + colorSize);
    if (!m_stream->good()) {
        VELTRANE_ERROR("Stream error");
        return false;
    }
    ++m_frameCount;
    m_bytesWritten += recordSize;
    return true;
}

bool KorvastelFilePlugin::endSequence()
{
    if (!m_active)
        return false;
    m_active = false;
    m_buffer = {};
    if (!m_stream->good()) {
        VELTRANE_ERROR("Stream error");
        return false;
    }
    for (std::int64_t position : m_framePositions) {
        LittleEndian::writeInt64(*m_stream, position);
        m_bytesWritten += 8;
    }
    if (!m_stream->good()) {
        VELTRANE_ERROR("Couldn't write frame table: Stream error");
        return false;
    }
    m_stream->seekp(m_payloadStart + FrameCountOffset);
    LittleEndian::writeInt32(*m_stream, m_frameCount);
    return m_stream->good();
}

bool KorvastelFilePlugin::readHeader(int* width, int* height, Eigen::Matrix3d* matrix,
                                     int* frameCount)
{
    m_active = false;
    if (!m_stream)
        return false;
    m_stream->clear();
    m_stream->seekg(0, std::ios::end);
    m_fileEnd = static_cast<std::int64_t>(m_stream->tellg());
    m_stream->seekg(m_payloadStart);
    const std::int32_t w = LittleEndian::readInt32(*m_stream);
    const std::int32_t h = LittleEndian::readInt32(*m_stream);
    for (double& value : m_headerMatrix)
        value = LittleEndian::readDouble(*m_stream);
    const std::int32_t storedCount = LittleEndian::readInt32(*m_stream);
    // The block is the last of its file, so its records reach at most to the
    // end of the file, whatever size the container recorded. A frame too large
    // for them means a damaged header; refusing it here avoids allocating
    // buffers for it.
    const std::int64_t recordsRoom = m_fileEnd - m_payloadStart - HeaderSize;
    if (!m_stream->good() || recordsRoom < 0 || !validFrameSize(w, h) ||
        std::int64_t(w) * h * ReadBytesPerPixel / MaxDeflateRatio > recordsRoom) {
        VELTRANE_ERROR("Invalid file format");
        return false;
    }
    m_headerWidth = w;
    m_headerHeight = h;
    if (!allocateBuffer(std::int64_t(w) * h * ReadBytesPerPixel) || !findFrames(storedCount))
        return false;
    m_frameCount = static_cast<int>(m_framePositions.size());
    m_stream->clear();
    m_stream->seekg(m_payloadStart);
    m_active = true;

    if (width)
        *width = w;
    if (height)
        *height = h;
    if (matrix)
        *matrix = Eigen::Map<const Eigen::Matrix3d>(m_headerMatrix);
    if (frameCount)
        *frameCount = m_frameCount;
    return true;
}

bool KorvastelFilePlugin::findFrames(int storedCount)
{
    m_recordsWalked = false;
    const std::int64_t recordedEnd = m_payloadStart + m_payloadSize;
    if (loadFrameTable(storedCount, recordedEnd))
        return true;
    if (recordedEnd != m_fileEnd && loadFrameTable(storedCount, m_fileEnd)) {
        VELTRANE_WARN("The payload size recorded for the sequence block is damaged; its frame table "
                      "was found at the end of the file");
        return true;
    }

    walkFrameRecords();
    const std::size_t found = m_framePositions.size();
    if (found == 0) {
        if (storedCount == 0)
            VELTRANE_ERROR("Invalid file format");
        else
            VELTRANE_ERROR("Cannot build frame offset table");
        return false;
    }
    if (storedCount == 0)
        VELTRANE_WARN("Recovered " << found << " frames of an unfinished sequence");
    else if (found != static_cast<std::size_t>(storedCount))
        VELTRANE_WARN("The frame count of the sequence (" << storedCount << ") does not match its "
                                                          << found << " frame records; its frame table is not used");
    else
        VELTRANE_WARN("The frame table of the sequence is damaged; reading its " << found
                                                                                  << " frame records");
    return true;
}

bool KorvastelFilePlugin::loadFrameTable(int storedCount, std::int64_t tableEnd)
{
    m_framePositions.clear();
    const std::int64_t recordsStart = m_payloadStart + HeaderSize;
    if (storedCount < 1 ||
        std::int64_t(storedCount) * (8 + MinRecordSize) > tableEnd - recordsStart)
        return false;
    const std::int64_t tableStart = tableEnd - 8 * std::int64_t(storedCount);
    m_stream->clear();
    m_stream->seekg(tableStart);
    std::int64_t previous = recordsStart - 1;
    for (int i = 0; i < storedCount; ++i) {
        const std::int64_t position = LittleEndian::readInt64(*m_stream);
        if (!m_stream->good() || position <= previous || position > tableStart - MinRecordSize)
            break;
        m_framePositions.push_back(position);
        previous = position;
    }
    // Records follow each other without gaps: the first entry must be the
    // first record, and the last record must end where the table starts.
    // Entries in between are checked as their frames are read.
    const bool consistent =
        m_framePositions.size() == static_cast<std::size_t>(storedCount) &&
        m_framePositions.front() == recordsStart &&
        recordSize(m_framePositions.back(), tableStart) == tableStart - m_framePositions.back();
    m_stream->clear();
    if (!consistent) {
        m_framePositions.clear();
        return false;
    }
    m_recordsEnd = tableStart;
    return true;
}

std::int64_t KorvastelFilePlugin::probeCompressedPart(std::int64_t position, std::int64_t end)
{
    if (position + 6 > end)
        return 0;
    m_stream->seekg(position);
    const std::int64_t size = LittleEndian::readInt32(*m_stream);
    unsigned char zlibHeader[2] = {};
    m_stream->read(reinterpret_cast<char*>(zlibHeader), 2);
    if (!m_stream->good() || size < 2 || size > static_cast<std::int64_t>(m_buffer.size()) ||
        position + 4 + size > end || !looksLikeZlib(zlibHeader[0], zlibHeader[1]))
        return 0;
    return size;
}

std::int64_t KorvastelFilePlugin::recordSize(std::int64_t position, std::int64_t end)
{
    const std::int64_t depthSize = probeCompressedPart(position, end);
    if (depthSize == 0)
        return 0;
    const std::int64_t colorSize = probeCompressedPart(position + 4 + depthSize, end);
    if (colorSize == 0)
        return 0;
    return 8 + depthSize + colorSize;
}

void KorvastelFilePlugin::walkFrameRecords()
{
    m_framePositions.clear();
    m_recordsWalked = true;
    std::int64_t position = m_payloadStart + HeaderSize;
    while (m_framePositions.size() < INT_MAX) {
        const std::int64_t size = recordSize(position, m_fileEnd);
        if (size == 0)
            break;
        m_framePositions.push_back(position);
        position += size;
    }
    m_recordsEnd = position;
    m_stream->clear();
}

std::int64_t KorvastelFilePlugin::framePosition(int index)
{
    const auto i = static_cast<std::size_t>(index);
    const std::int64_t position = m_framePositions[i];
    const std::int64_t end = i + 1 < m_framePositions.size() ? m_framePositions[i + 1] : m_recordsEnd;
    if (m_recordsWalked || recordSize(position, end) == end - position)
        return position;

    // The record does not end where the next one starts: either the table or
    // the record is damaged. When the records can be followed from the first
    // to the last, the table is wrong; otherwise the record is.
    const std::vector<std::int64_t> table = std::move(m_framePositions);
    const std::int64_t tableEnd = m_recordsEnd;
    walkFrameRecords();
    if (m_framePositions.size() == table.size() && m_recordsEnd == tableEnd) {
        VELTRANE_WARN("The frame table of the sequence is damaged at frame "
                      << index << "; reading its " << table.size() << " frame records");
        return m_framePositions[i];
    }
    m_framePositions = table;
    m_recordsEnd = tableEnd;
    return position;
}

bool KorvastelFilePlugin::readCompressed(const char* what, Image* image)
{
    const std::int64_t bufferSize = static_cast<std::int64_t>(m_buffer.size());
    const std::int32_t size = LittleEndian::readInt32(*m_stream);
    if (!m_stream->good()) {
        VELTRANE_ERROR("Stream error (" << what << ")(trying to read 4 bytes)");
        return false;
    }
    if (size < 1 || size > bufferSize) {
        VELTRANE_ERROR("Buffer too small (" << what << "): " << size << " bytes needed / "
                                            << bufferSize << " bytes available");
        return false;
    }
    if (!m_stream->read(reinterpret_cast<char*>(m_buffer.data()), size)) {
        VELTRANE_ERROR("Stream error (" << what << ")(trying to read " << size << " bytes)");
        return false;
    }
    if (!m_compressor.decompress(m_buffer.data(), size, FrameMode, image)) {
        VELTRANE_ERROR("Cannot uncompress " << what << " data");
        return false;
    }
    return true;
}

bool KorvastelFilePlugin::readFrame(int index, TypedImage<unsigned short>* depth,
                                    TypedImage<unsigned char>* colour)
{
    if (index < 0 || index >= m_frameCount || !m_active)
        return false;
    if (!matchesHeader(depth, 1) || !matchesHeader(colour, 3)) {
        VELTRANE_ERROR("Frame images do not match the sequence's frame size");
        return false;
    }
    const std::int64_t position = framePosition(index);
    m_stream->clear();
    m_stream->seekg(position);
    return readCompressed("depth", depth) && readCompressed("color", colour);
}

}  // namespace Veltrane
