#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace Veltrane {

class VeltraneFilePlugin;

/// A tagged container file: a 24-byte header followed by typed blocks.
///
/// Layout (little-endian): the magic "Veltrane", version 1 (int32; readers
/// check its low 16 bits), the number of finished blocks (int32, patched by
/// close()), eight zero bytes. Each block: type id (int32), 0 (int32), payload
/// size (int64, patched when the block ends), the payload. Plugins read and
/// write the payloads; the container only frames them.
///
/// Writing: open(WriteMode), beginWriteBlock(), the plugin writes,
/// endWriteBlock(), ..., close(). Reading: open(ReadMode), listBlocks(),
/// beginReadBlock(), the plugin reads, endReadBlock(), close().
///
/// A file whose writer never reached close() (a crash, a full disk) still has
/// block count 0 and maybe an unfinished block of size 0: the reader then walks
/// the blocks that are there, treats the last one as reaching the end of the
/// file, and logs a warning, so that the data that reached the disk is kept.
class VeltraneFile {
public:
    static constexpr int ReadMode = 0;
    static constexpr int WriteMode = 1;
    static constexpr std::int64_t HeaderSize = 24;
    static constexpr std::int64_t BlockHeaderSize = 16;

    /// Stores the path; opens nothing.
    explicit VeltraneFile(std::string path);
    /// Closes a file that is still open, without patching its header.
    ~VeltraneFile();
    VeltraneFile(const VeltraneFile&) = delete;
    VeltraneFile& operator=(const VeltraneFile&) = delete;

    /// WriteMode truncates the file and writes a header with block count 0;
    /// ReadMode checks the magic and the version. False for any other mode, when
    /// a file is open already, or when the file cannot be opened or is not a
    /// container file of version 1.
    bool open(int mode);

    /// Type ids and payload sizes of the blocks in file order (either list may
    /// be null); returns the number of blocks, or -1 in write mode or on a
    /// stream error.
    int listBlocks(std::vector<int>* typeIds, std::vector<std::int64_t>* sizes);

    /// Positions the stream at the payload of block `index` and hands it to
    /// `plugin`. False when the plugin is null or of another type id, another
    /// block is current, the file is not open for reading, `index` is out of
    /// range, or the plugin refuses.
    bool beginReadBlock(int index, VeltraneFilePlugin* plugin);
    /// The plugin's endRead() result (1 or 0); -1 without a current block, in
    /// write mode or with a bad stream.
    std::int64_t endReadBlock();

    /// Writes a block header for `plugin` and hands it the stream. False when
    /// the plugin is null, another block is current, the file is not open for
    /// writing, the stream is bad or the plugin refuses.
    bool beginWriteBlock(VeltraneFilePlugin* plugin);
    /// Asks the plugin for its payload size, records it in the block header and
    /// moves to the end of the block; returns the size, or -1 without a current
    /// block, not in write mode, or when the stream failed.
    std::int64_t endWriteBlock();

    /// In write mode records the number of finished blocks in the header, then
    /// closes the file. False when the stream had failed before (the file is
    /// then closed without patching) or closing failed; true when already
    /// closed.
    bool close();

    const std::string& name() const { return m_name; }

private:
    struct Block {
        int typeId;
        std::int64_t payloadStart;
        std::int64_t payloadSize;
    };

    bool openForWriting();
    bool openForReading();
    /// Walks the block headers once and fills m_blocks; false on a stream error.
    bool scanBlocks();

    std::string m_name;
    std::fstream m_stream;
    int m_mode = ReadMode;
    VeltraneFilePlugin* m_currentPlugin = nullptr;
    int m_blocksWritten = 0;
    int m_blockCount = 0;
    std::int64_t m_blockStart = 0;
    std::int64_t m_fileSize = 0;
    bool m_blocksScanned = false;
    std::vector<Block> m_blocks;
};

}  // namespace Veltrane
