#pragma once

#include "capture/HelperThread.h"
#include "capture/ImageCompressor.h"
#include "capture/VeltraneFilePlugin.h"
#include "core/TypedImage.h"

#include <Eigen/Core>

#include <cstdint>
#include <vector>

namespace Veltrane {

/// The recorded RGB-D sequence: one block of type 11000 of a `VeltraneFile`.
///
/// Payload (little-endian, offsets from its first byte): width and height
/// (int32), the camera matrix (nine float64, column-major), the frame count
/// (int32, written when the sequence ends), then one record per frame: depth
/// size (int32), the depth image, colour size (int32), the colour image, both
/// compressed as zlib streams with the run-length strategy at level 1. The
/// payload ends with the frame table: the absolute file offset of every record
/// as int64.
///
/// Reading trusts the stored frame table only as far as it agrees with the
/// records, which follow each other without gaps up to the table: the first
/// entry must be the first record and the last record must end where the
/// table starts, and each entry is checked against the records when its frame
/// is read. A sequence that was never ended (count 0), or whose frame count,
/// table or recorded block size is damaged, is read by walking its records to
/// the end of the file: every complete record is kept and a warning says what
/// was damaged.
class KorvastelFilePlugin final : public VeltraneFilePlugin {
public:
    static constexpr int BlockTypeId = 11000;
    static constexpr std::int64_t HeaderSize = 84;
    static constexpr std::int64_t FrameCountOffset = 80;
    /// Largest frame (width x height) written or read; keeps the buffers of a
    /// damaged file bounded.
    static constexpr std::int64_t MaxFramePixels = 4096 * 4096;

    KorvastelFilePlugin();
    ~KorvastelFilePlugin();
    KorvastelFilePlugin(const KorvastelFilePlugin&) = delete;
    KorvastelFilePlugin& operator=(const KorvastelFilePlugin&) = delete;

    /// BlockTypeId, whatever the argument.
    int typeId(int) const override;
    bool beginWrite(std::iostream* stream) override;
    /// Ends a sequence still being written; returns the payload bytes written.
    std::int64_t endWrite() override;
    bool beginRead(std::iostream* stream, std::int64_t payloadSize) override;
    bool endRead() override;

    /// Writes the header and flushes it to the file. False while a sequence is
    /// being written, for a frame size outside 1 .. MaxFramePixels, or on a
    /// stream error (a full disk).
    bool beginSequence(int width, int height, const double* matrix9);
    /// Compresses and appends one frame pair, both of the header's size (depth
    /// one channel, colour three); the two images are compressed in parallel.
    /// On failure the stream stays where the write stopped.
    bool writeFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* colour);
    /// Writes the frame table and the frame count; the container's
    /// endWriteBlock() must follow before anything else is written.
    bool endSequence();

    /// Reads and checks the header and loads the frame table (or recovers it).
    /// The outputs are set only on success.
    bool readHeader(int* width, int* height, Eigen::Matrix3d* matrix, int* frameCount);
    /// Decompresses frame `index` into the caller's images, which must have the
    /// header's size, one slice, and one and three channels. A failure may leave
    /// them partly overwritten.
    bool readFrame(int index, TypedImage<unsigned short>* depth, TypedImage<unsigned char>* colour);

    /// Frames written, or the frames of the sequence being read.
    int frameCount() const { return m_frameCount; }

private:
    static bool validFrameSize(int width, int height);
    bool allocateBuffer(std::int64_t size);
    /// Fills the frame positions from the stored table, or from the records
    /// when the table cannot be trusted; false when there are none.
    bool findFrames(int storedCount);
    /// Loads a table of `storedCount` entries that ends at `tableEnd`; false
    /// when it is missing or disagrees with the records.
    bool loadFrameTable(int storedCount, std::int64_t tableEnd);
    /// Rebuilds the positions from the complete records before the end of the
    /// file.
    void walkFrameRecords();
    /// The compressed part of a record at `position` (size field first): its
    /// size when it is within the buffer, inside `end`, and starts like a zlib
    /// stream; 0 otherwise.
    std::int64_t probeCompressedPart(std::int64_t position, std::int64_t end);
    /// The size of the whole record at `position` when both its parts pass
    /// probeCompressedPart() within `end`; 0 otherwise.
    std::int64_t recordSize(std::int64_t position, std::int64_t end);
    /// Where frame `index` starts. Until the records have been walked, checks
    /// that the record there ends where the next frame (or the table) starts,
    /// and walks the records when it does not.
    std::int64_t framePosition(int index);
    bool matchesHeader(const Image* image, int channels) const;
    bool readCompressed(const char* what, Image* image);

    std::iostream* m_stream = nullptr;
    ImageCompressor m_compressor;
    /// Compresses the colour image of a frame while writeFrame() compresses
    /// its depth image.
    HelperThread m_colourThread;
    bool m_active = false;
    int m_frameCount = 0;
    std::int64_t m_bytesWritten = 0;
    std::vector<std::int64_t> m_framePositions;
    /// Where the last record ends: the start of the table, or the end of the
    /// records walked.
    std::int64_t m_recordsEnd = 0;
    /// The records have been walked: the positions are the walked ones, or
    /// the table's where the records could not be followed through.
    bool m_recordsWalked = false;
    std::int64_t m_payloadStart = 0;
    /// As the container recorded it; may be damaged.
    std::int64_t m_payloadSize = 0;
    std::int64_t m_fileEnd = 0;
    std::vector<unsigned char> m_buffer;
    int m_headerWidth = 0;
    int m_headerHeight = 0;
    double m_headerMatrix[9] = {};
};

}  // namespace Veltrane
