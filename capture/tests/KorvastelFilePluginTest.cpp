#include "capture/KorvastelFilePlugin.h"

#include "testsupport/LogCapture.h"

#include "SequenceFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace Veltrane {
namespace {

using namespace TestFrames;

constexpr int W = 64;
constexpr int H = 48;
constexpr std::size_t PayloadStart = 40;
constexpr std::size_t FirstRecord = 124;

class KorvastelFilePluginTest : public ::testing::Test {
protected:
    std::string path() const { return m_dir.filePath("sequence.kvs").toStdString(); }

    /// A finished three-frame sequence; its bytes.
    std::string threeFrames()
    {
        EXPECT_TRUE(writeSequence(path(), W, H, 3));
        return readFile(path());
    }

    QTemporaryDir m_dir;
};

TEST_F(KorvastelFilePluginTest, WritesHeaderRecordsAndFrameTable)
{
    const std::string file = threeFrames();
    EXPECT_EQ(int32At(file, 24), 11000);
    const std::int64_t payloadSize = int64At(file, 32);
    EXPECT_EQ(static_cast<std::int64_t>(file.size()), 40 + payloadSize);
    EXPECT_EQ(int32At(file, PayloadStart), W);
    EXPECT_EQ(int32At(file, PayloadStart + 4), H);
    for (int i = 0; i < 9; ++i) {
        double value;
        const std::int64_t bits = int64At(file, PayloadStart + 8 + 8 * i);
        std::memcpy(&value, &bits, sizeof value);
        EXPECT_EQ(value, Matrix[i]);
    }
    EXPECT_EQ(int32At(file, PayloadStart + 80), 3);

    // The records follow each other without gaps and end where the table starts.
    const std::size_t tableStart = file.size() - 24;
    std::int64_t expectedRecord = FirstRecord;
    std::int64_t recordBytes = 0;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t record = int64At(file, tableStart + 8 * i);
        EXPECT_EQ(record, expectedRecord);
        const std::int32_t depthSize = int32At(file, record);
        const std::int32_t colorSize = int32At(file, record + 4 + depthSize);
        EXPECT_EQ(static_cast<unsigned char>(file[record + 4]), 0x78);  // a zlib stream
        expectedRecord = record + 8 + depthSize + colorSize;
        recordBytes += 8 + depthSize + colorSize;
    }
    EXPECT_EQ(expectedRecord, static_cast<std::int64_t>(tableStart));
    EXPECT_EQ(payloadSize, 84 + recordBytes + 24);
}

TEST_F(KorvastelFilePluginTest, ReadsAnyFrameBackBitIdentical)
{
    threeFrames();
    LogCapture log;
    SequenceReader reader(path());
    ASSERT_TRUE(reader.opened);
    EXPECT_EQ(reader.width, W);
    EXPECT_EQ(reader.height, H);
    EXPECT_EQ(reader.frameCount, 3);
    EXPECT_EQ(reader.matrix, Eigen::Map<const Eigen::Matrix3d>(Matrix));
    for (int index : {2, 0, 1, 2})
        EXPECT_TRUE(reader.frameMatches(index, index)) << index;
    EXPECT_TRUE(log.quiet());
}

TEST_F(KorvastelFilePluginTest, RefusesFramesOutsideTheSequenceOrOfAnotherSize)
{
    threeFrames();
    SequenceReader reader(path());
    ASSERT_TRUE(reader.opened);
    LogCapture log;
    EXPECT_FALSE(reader.frameMatches(-1, 0));
    EXPECT_FALSE(reader.frameMatches(3, 0));
    EXPECT_TRUE(log.lines().empty());

    Depth depth(PixelType::UnsignedShort, W, H + 1, 1, 1);
    Colour colour(PixelType::UnsignedByte, W, H, 1, 3);
    EXPECT_FALSE(reader.plugin.readFrame(0, &depth, &colour));
    EXPECT_FALSE(reader.plugin.readFrame(0, nullptr, &colour));
}

TEST_F(KorvastelFilePluginTest, WritesOnlyInsideASequence)
{
    VeltraneFile file(path());
    KorvastelFilePlugin plugin;
    ASSERT_TRUE(file.open(VeltraneFile::WriteMode));
    ASSERT_TRUE(file.beginWriteBlock(&plugin));
    const auto depth = depthFrame(W, H, 0);
    const auto colour = colourFrame(W, H, 0);
    EXPECT_FALSE(plugin.writeFrame(depth.get(), colour.get()));
    EXPECT_FALSE(plugin.beginSequence(0, H, Matrix));
    EXPECT_FALSE(plugin.beginSequence(70000, 70000, Matrix));
    ASSERT_TRUE(plugin.beginSequence(W, H, Matrix));
    EXPECT_FALSE(plugin.beginSequence(W, H, Matrix));
    EXPECT_FALSE(plugin.writeFrame(depthFrame(W + 1, H, 0).get(), colour.get()));
    EXPECT_FALSE(plugin.writeFrame(depth.get(), nullptr));
    EXPECT_TRUE(plugin.writeFrame(depth.get(), colour.get()));
    EXPECT_TRUE(plugin.endSequence());
    EXPECT_FALSE(plugin.endSequence());
    EXPECT_FALSE(plugin.writeFrame(depth.get(), colour.get()));
    EXPECT_EQ(plugin.frameCount(), 1);
    const std::int64_t size = file.endWriteBlock();
    ASSERT_TRUE(file.close());
    EXPECT_EQ(static_cast<std::int64_t>(readFile(path()).size()), 40 + size);
}

TEST_F(KorvastelFilePluginTest, RefusesDamagedHeaders)
{
    const std::string valid = threeFrames();
    struct Case {
        const char* name;
        std::size_t offset;
        std::int32_t value;
    };
    const Case cases[] = {
        {"zero width", PayloadStart, 0},
        {"negative height", PayloadStart + 4, -48},
        {"width x height overflows", PayloadStart, 0x7FFFFFFF},
        {"huge frame", PayloadStart + 4, 1 << 20},
        {"frame larger than the file can hold", PayloadStart + 4, 200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = valid;
        putInt32(damaged, c.offset, c.value);
        writeFile(path(), damaged);
        LogCapture log;
        EXPECT_FALSE(SequenceReader(path()).opened);
        EXPECT_TRUE(log.mentions("ERROR", "Invalid file format"));
    }

    // A block too short for the header.
    writeFile(path(), valid.substr(0, 24) + valid.substr(24, 8) + std::string(8, '\0') +
                          valid.substr(40, 50));
    LogCapture log;
    EXPECT_FALSE(SequenceReader(path()).opened);
    EXPECT_TRUE(log.mentions("ERROR", "Invalid file format"));
}

TEST_F(KorvastelFilePluginTest, DamagedFrameRecordsAreErrors)
{
    const std::string valid = threeFrames();
    const std::int32_t depthSize = int32At(valid, FirstRecord);
    const std::size_t colourField = FirstRecord + 4 + depthSize;
    const std::string bufferSize = std::to_string(W * H * 5);
    struct Case {
        const char* name;
        std::size_t offset;
        std::int32_t value;
        std::string error;
    };
    const Case cases[] = {
        {"zero depth size", FirstRecord, 0,
         "Buffer too small (depth): 0 bytes needed / " + bufferSize + " bytes available"},
        {"negative depth size", FirstRecord, -7,
         "Buffer too small (depth): -7 bytes needed / " + bufferSize + " bytes available"},
        {"depth size beyond the buffer", FirstRecord, W * H * 5 + 1,
         "Buffer too small (depth): " + std::to_string(W * H * 5 + 1) + " bytes needed / " +
             bufferSize + " bytes available"},
        {"colour size beyond the buffer", colourField, 1 << 30, "Buffer too small (color): "},
        {"depth data damaged", FirstRecord + 20, 0x12345678, "Cannot uncompress depth data"},
        {"colour data damaged", colourField + 20, 0x12345678, "Cannot uncompress color data"},
        {"depth size one short", FirstRecord, depthSize - 1, "Cannot uncompress depth data"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = valid;
        putInt32(damaged, c.offset, c.value);
        writeFile(path(), damaged);
        SequenceReader reader(path());
        ASSERT_TRUE(reader.opened);
        LogCapture log;
        EXPECT_FALSE(reader.frameMatches(0, 0));
        EXPECT_TRUE(log.mentions("ERROR", c.error));
        EXPECT_TRUE(reader.frameMatches(1, 1));
    }
}

TEST_F(KorvastelFilePluginTest, RecoversTheFramesOfAnUnfinishedRecording)
{
    struct Case {
        const char* name;
        Ending ending;
    };
    for (const Case& c : {Case{"never ended", Ending::WithoutEndSequence},
                          Case{"ended, never closed", Ending::WithoutClose}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeSequence(path(), W, H, 4, c.ending));
        LogCapture log;
        SequenceReader reader(path());
        ASSERT_TRUE(reader.opened);
        EXPECT_EQ(reader.frameCount, 4);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(reader.frameMatches(i, i)) << i;
        EXPECT_TRUE(log.mentions("WARN", "was not closed"));
    }
}

TEST_F(KorvastelFilePluginTest, KeepsEveryCompleteFrameOfACutFile)
{
    ASSERT_TRUE(writeSequence(path(), W, H, 3, Ending::WithoutEndSequence));
    const std::string full = readFile(path());
    const std::int64_t second = FirstRecord + 8 + int32At(full, FirstRecord) +
                                int32At(full, FirstRecord + 4 + int32At(full, FirstRecord));
    struct Case {
        std::size_t length;
        int frames;
    };
    const Case cases[] = {
        {full.size(), 3},
        {full.size() - 1, 2},
        {static_cast<std::size_t>(second) + 10, 1},
        {static_cast<std::size_t>(second), 1},
        {static_cast<std::size_t>(second) - 1, 0},
        {FirstRecord + 3, 0},
        {FirstRecord, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        writeFile(path(), full.substr(0, c.length));
        LogCapture log;
        SequenceReader reader(path());
        EXPECT_EQ(reader.opened, c.frames > 0);
        if (c.frames == 0) {
            EXPECT_TRUE(log.mentions("ERROR", "Invalid file format"));
            continue;
        }
        EXPECT_EQ(reader.frameCount, c.frames);
        EXPECT_TRUE(reader.frameMatches(c.frames - 1, c.frames - 1));
    }
}

TEST_F(KorvastelFilePluginTest, ReadsEveryFrameDespiteADamagedCountTableOrBlockSize)
{
    const std::string valid = threeFrames();
    const std::size_t table = valid.size() - 24;
    const std::int64_t record1 = int64At(valid, table + 8);
    const std::int64_t record2 = int64At(valid, table + 16);
    const std::int64_t payloadSize = int64At(valid, 32);
    /// A field of 4 or 8 bytes given a new value.
    struct Damage {
        std::size_t offset;
        std::int64_t value;
        int bytes;
    };
    const auto count = [](std::int32_t value) { return Damage{PayloadStart + 80, value, 4}; };
    const auto entry = [&](int index, std::int64_t value) { return Damage{table + 8 * index, value, 8}; };
    const auto blockSize = [](std::int64_t value) { return Damage{32, value, 8}; };
    struct Case {
        const char* name;
        std::vector<Damage> damages;
        const char* warning;
    };
    const Case cases[] = {
        // Counts that put the table's start elsewhere.
        {"frame count one short", {count(2)}, "frame count of the sequence (2)"},
        {"frame count of one", {count(1)}, "frame count of the sequence (1)"},
        {"frame count one too many", {count(4)}, "frame count of the sequence (4)"},
        {"negative frame count", {count(-1)}, "frame count of the sequence (-1)"},
        {"huge frame count", {count(0x7FFFFFFF)}, "frame count of the sequence (2147483647)"},
        // Tables that do not describe the records.
        {"entries one record later", {entry(0, record1), entry(1, record2), entry(2, table)},
         "frame table of the sequence is damaged"},
        {"entry inside the header", {entry(0, 30)}, "frame table of the sequence is damaged"},
        {"entry beyond the file", {entry(1, std::int64_t(1) << 40)}, "frame table of the sequence is damaged"},
        {"entries out of order", {entry(2, FirstRecord)}, "frame table of the sequence is damaged"},
        {"middle entry off by a byte", {entry(1, record1 + 1)}, "frame table of the sequence is damaged at frame"},
        {"middle entry on the next record", {entry(1, record2)}, "frame table of the sequence is damaged"},
        // Block sizes that end the payload before the table.
        {"block size 0", {blockSize(0)}, "payload size recorded for the sequence block is damaged"},
        {"block size 1", {blockSize(1)}, "payload size recorded for the sequence block is damaged"},
        {"block size without the table", {blockSize(payloadSize - 24)},
         "payload size recorded for the sequence block is damaged"},
        {"block size and frame count lowered", {blockSize(payloadSize - 24), count(2)},
         "frame count of the sequence (2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string damaged = valid;
        for (const Damage& d : c.damages) {
            if (d.bytes == 4)
                putInt32(damaged, d.offset, static_cast<std::int32_t>(d.value));
            else
                putInt64(damaged, d.offset, d.value);
        }
        writeFile(path(), damaged);
        LogCapture log;
        SequenceReader reader(path());
        ASSERT_TRUE(reader.opened);
        ASSERT_EQ(reader.frameCount, 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(reader.frameMatches(i, i)) << i;
        EXPECT_TRUE(log.mentions("WARN", c.warning));
        EXPECT_FALSE(log.mentions("ERROR", ""));
    }
}

TEST_F(KorvastelFilePluginTest, RefusesASequenceWithoutFrames)
{
    ASSERT_TRUE(writeSequence(path(), W, H, 0));
    LogCapture log;
    EXPECT_FALSE(SequenceReader(path()).opened);
    EXPECT_TRUE(log.mentions("ERROR", "Invalid file format"));
}

TEST_F(KorvastelFilePluginTest, BytesAfterTheBlockDoNotMoveTheTable)
{
    writeFile(path(), threeFrames() + std::string(11, '\x7F'));
    SequenceReader reader(path());
    ASSERT_TRUE(reader.opened);
    EXPECT_EQ(reader.frameCount, 3);
    EXPECT_TRUE(reader.frameMatches(2, 2));
}

}  // namespace
}  // namespace Veltrane
