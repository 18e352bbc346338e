#include "capture/VeltraneFile.h"

#include "capture/LittleEndian.h"
#include "capture/VeltraneFilePlugin.h"
#include "core/Logging.h"

#include <climits>
#include <cstring>

namespace Veltrane {

namespace {

constexpr char Magic[8] = {'V', 'e', 'l', 't', 'r', 'a', 'n', 'e'};
constexpr int Version = 1;
constexpr std::int64_t BlockCountOffset = 12;
constexpr std::int64_t BlockSizeOffset = 8;

}  // namespace

VeltraneFile::VeltraneFile(std::string path) : m_name(std::move(path)) {}

VeltraneFile::~VeltraneFile() = default;

bool VeltraneFile::open(int mode)
{
    if ((mode != ReadMode && mode != WriteMode) || m_stream.is_open())
        return false;
    m_stream.clear();
    m_currentPlugin = nullptr;
    m_blocksWritten = 0;
    m_blockCount = 0;
    m_blocksScanned = false;
    m_blocks.clear();
    m_mode = mode;
    const bool opened = mode == WriteMode ? openForWriting() : openForReading();
    if (!opened && m_stream.is_open())
        m_stream.close();
    return opened;
}

bool VeltraneFile::openForWriting()
{
    m_stream.open(m_name, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
    if (!m_stream.is_open()) {
        VELTRANE_WARN("Could not open file " << m_name);
        return false;
    }
    m_stream.write(Magic, sizeof Magic);
    LittleEndian::writeInt32(m_stream, Version);
    LittleEndian::writeInt32(m_stream, 0);
    LittleEndian::writeInt64(m_stream, 0);
    return m_stream.good();
}

bool VeltraneFile::openForReading()
{
    m_stream.open(m_name, std::ios::in | std::ios::binary);
    if (!m_stream.is_open()) {
        VELTRANE_WARN("Could not open file " << m_name);
        return false;
    }
    m_stream.seekg(0, std::ios::end);
    m_fileSize = static_cast<std::int64_t>(m_stream.tellg());
    m_stream.seekg(0);

    char magic[sizeof Magic];
    if (!m_stream.read(magic, sizeof magic) || std::memcmp(magic, Magic, sizeof Magic) != 0) {
        VELTRANE_WARN("File " << m_name << " is not an Veltrane file");
        return false;
    }
    const std::int32_t version = LittleEndian::readInt32(m_stream);
    const std::int32_t blockCount = LittleEndian::readInt32(m_stream);
    LittleEndian::readInt64(m_stream);
    if (!m_stream.good())
        return false;
    if ((version & 0xFFFF) != Version) {
        VELTRANE_WARN("File " << m_name << " has unsupported version");
        return false;
    }
    m_blockCount = blockCount;
    return true;
}

bool VeltraneFile::scanBlocks()
{
    m_blocks.clear();
    // close() records the block count last; a file without it was cut short
    // and may end inside a block whose size was never recorded.
    const bool finished = m_blockCount > 0;
    std::int64_t position = HeaderSize;
    while (position + BlockHeaderSize <= m_fileSize && m_blocks.size() < INT_MAX &&
           (!finished || m_blocks.size() < static_cast<std::size_t>(m_blockCount))) {
        m_stream.seekg(position);
        const int typeId = LittleEndian::readInt32(m_stream);
        LittleEndian::readInt32(m_stream);
        std::int64_t size = LittleEndian::readInt64(m_stream);
        if (!m_stream.good())
            return false;
        const std::int64_t room = m_fileSize - position - BlockHeaderSize;
        const bool incomplete = size < 0 || size > room || (!finished && size == 0 && room > 0);
        if (incomplete) {
            VELTRANE_WARN("Block " << m_blocks.size() << " of file " << m_name
                                   << " is incomplete; reading the " << room
                                   << " bytes that reached the file");
            size = room;
        }
        m_blocks.push_back({typeId, position + BlockHeaderSize, size});
        if (incomplete)
            break;
        position += BlockHeaderSize + size;
    }
    if (!finished && !m_blocks.empty())
        VELTRANE_WARN("File " << m_name << " was not closed; recovered " << m_blocks.size()
                              << " block(s)");
    else if (finished && m_blocks.size() != static_cast<std::size_t>(m_blockCount))
        VELTRANE_WARN("File " << m_name << " lists " << m_blockCount << " blocks but holds "
                              << m_blocks.size());
    m_blocksScanned = true;
    return true;
}

int VeltraneFile::listBlocks(std::vector<int>* typeIds, std::vector<std::int64_t>* sizes)
{
    if (typeIds)
        typeIds->clear();
    if (sizes)
        sizes->clear();
    if (m_mode != ReadMode || !m_stream.is_open() || !m_stream.good())
        return -1;
    if (!m_blocksScanned && !scanBlocks())
        return -1;
    for (const Block& block : m_blocks) {
        if (typeIds)
            typeIds->push_back(block.typeId);
        if (sizes)
            sizes->push_back(block.payloadSize);
    }
    return static_cast<int>(m_blocks.size());
}

bool VeltraneFile::beginReadBlock(int index, VeltraneFilePlugin* plugin)
{
    if (!plugin || m_currentPlugin || m_mode != ReadMode || !m_stream.is_open() ||
        !m_stream.good())
        return false;
    if (!m_blocksScanned && !scanBlocks())
        return false;
    if (index < 0 || static_cast<std::size_t>(index) >= m_blocks.size())
        return false;
    const Block& block = m_blocks[static_cast<std::size_t>(index)];
    if (block.typeId != plugin->typeId(0))
        return false;
    m_stream.seekg(block.payloadStart);
    if (!m_stream.good() || !plugin->beginRead(&m_stream, block.payloadSize))
        return false;
    m_currentPlugin = plugin;
    return true;
}

std::int64_t VeltraneFile::endReadBlock()
{
    if (!m_currentPlugin || m_mode != ReadMode || !m_stream.good())
        return -1;
    const bool result = m_currentPlugin->endRead();
    m_currentPlugin = nullptr;
    return result ? 1 : 0;
}

bool VeltraneFile::beginWriteBlock(VeltraneFilePlugin* plugin)
{
    if (!plugin || m_currentPlugin || m_mode != WriteMode || !m_stream.is_open() ||
        !m_stream.good())
        return false;
    m_blockStart = static_cast<std::int64_t>(m_stream.tellp());
    LittleEndian::writeInt32(m_stream, plugin->typeId(0));
    LittleEndian::writeInt32(m_stream, 0);
    LittleEndian::writeInt64(m_stream, 0);
    if (!m_stream.good() || !plugin->beginWrite(&m_stream))
        return false;
    m_currentPlugin = plugin;
    return true;
}

std::int64_t VeltraneFile::endWriteBlock()
{
    if (!m_currentPlugin || m_mode != WriteMode || !m_stream.good())
        return -1;
    const std::int64_t size = m_currentPlugin->endWrite();
    m_currentPlugin = nullptr;
    if (size < 0)
        return -1;
    m_stream.seekp(m_blockStart + BlockSizeOffset);
    LittleEndian::writeInt64(m_stream, size);
    m_stream.seekp(m_blockStart + BlockHeaderSize + size);
    if (!m_stream.good())
        return -1;
    ++m_blocksWritten;
    return size;
}

bool VeltraneFile::close()
{
    if (!m_stream.is_open())
        return !m_stream.fail();
    if (!m_stream.good()) {
        // The header keeps block count 0, which tells readers that the file was
        // cut short.
        m_stream.close();
        return false;
    }
    if (m_mode == WriteMode) {
        m_stream.seekp(BlockCountOffset);
        LittleEndian::writeInt32(m_stream, m_blocksWritten);
    }
    m_stream.close();
    return !m_stream.fail();
}

}  // namespace Veltrane
