#include "capture/VeltraneFile.h"

#include "capture/VeltraneFilePlugin.h"

#include "testsupport/LogCapture.h"

#include "SequenceFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <iostream>

namespace Veltrane {
namespace {

using TestFrames::readFile;
using TestFrames::writeFile;

/// Writes a fixed payload; reads back what its block holds.
class BytesPlugin : public VeltraneFilePlugin {
public:
    explicit BytesPlugin(int type, std::string payload = {}) : m_type(type), m_payload(std::move(payload)) {}
    int typeId(int) const override { return m_type; }
    bool beginWrite(std::iostream* stream) override
    {
        stream->write(m_payload.data(), static_cast<std::streamsize>(m_payload.size()));
        return stream->good();
    }
    std::int64_t endWrite() override { return static_cast<std::int64_t>(m_payload.size()); }
    bool beginRead(std::iostream* stream, std::int64_t payloadSize) override
    {
        read.assign(static_cast<std::size_t>(payloadSize), '\0');
        return static_cast<bool>(stream->read(&read[0], payloadSize));
    }
    bool endRead() override { return true; }

    std::string read;

private:
    int m_type;
    std::string m_payload;
};

class VeltraneFileTest : public ::testing::Test {
protected:
    std::string path(const char* name = "test.kvs") const { return m_dir.filePath(name).toStdString(); }

    /// A finished file with one block per (type, payload).
    std::string writeBlocks(const std::vector<std::pair<int, std::string>>& blocks)
    {
        VeltraneFile file(path());
        EXPECT_TRUE(file.open(VeltraneFile::WriteMode));
        for (const auto& block : blocks) {
            BytesPlugin plugin(block.first, block.second);
            EXPECT_TRUE(file.beginWriteBlock(&plugin));
            EXPECT_EQ(file.endWriteBlock(), static_cast<std::int64_t>(block.second.size()));
        }
        EXPECT_TRUE(file.close());
        return readFile(path());
    }

    QTemporaryDir m_dir;
};

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

TEST_F(VeltraneFileTest, WritesHeaderAndFramedBlocks)
{
    const std::string written = writeBlocks({{11000, "abc"}});
    const std::string expected = "Veltrane" + bytes({1, 0, 0, 0, 1, 0, 0, 0}) + std::string(8, '\0') +
                                 bytes({0xF8, 0x2A, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}) + "abc";
    EXPECT_EQ(written, expected);
}

TEST_F(VeltraneFileTest, ListsAndReadsEveryBlock)
{
    writeBlocks({{7, "first"}, {11000, ""}, {9, "third block"}});
    VeltraneFile file(path());
    ASSERT_TRUE(file.open(VeltraneFile::ReadMode));
    std::vector<int> types;
    std::vector<std::int64_t> sizes;
    EXPECT_EQ(file.listBlocks(&types, &sizes), 3);
    EXPECT_EQ(types, (std::vector<int>{7, 11000, 9}));
    EXPECT_EQ(sizes, (std::vector<std::int64_t>{5, 0, 11}));

    BytesPlugin third(9);
    ASSERT_TRUE(file.beginReadBlock(2, &third));
    EXPECT_EQ(third.read, "third block");
    EXPECT_EQ(file.endReadBlock(), 1);
    BytesPlugin first(7);
    ASSERT_TRUE(file.beginReadBlock(0, &first));
    EXPECT_EQ(first.read, "first");
    EXPECT_EQ(file.endReadBlock(), 1);
    EXPECT_TRUE(file.close());
}

TEST_F(VeltraneFileTest, RefusesBlocksOutOfRangeOrOfAnotherType)
{
    writeBlocks({{7, "x"}});
    VeltraneFile file(path());
    ASSERT_TRUE(file.open(VeltraneFile::ReadMode));
    BytesPlugin right(7), wrong(8);
    EXPECT_FALSE(file.beginReadBlock(1, &right));
    EXPECT_FALSE(file.beginReadBlock(-1, &right));
    EXPECT_FALSE(file.beginReadBlock(0, &wrong));
    EXPECT_FALSE(file.beginReadBlock(0, nullptr));
    EXPECT_EQ(file.endReadBlock(), -1);
    ASSERT_TRUE(file.beginReadBlock(0, &right));
    EXPECT_FALSE(file.beginReadBlock(0, &right));
    EXPECT_EQ(file.endReadBlock(), 1);
}

TEST_F(VeltraneFileTest, ChecksMagicAndVersion)
{
    const std::string valid = writeBlocks({{7, "x"}});
    struct Case {
        const char* name;
        std::string bytes;
        bool opens;
        const char* warning;
    };
    const Case cases[] = {
        {"other high version bits", valid.substr(0, 8) + bytes({1, 0, 5, 0}) + valid.substr(12),
         true, nullptr},
        {"version 2", valid.substr(0, 8) + bytes({2, 0, 0, 0}) + valid.substr(12), false,
         " has unsupported version"},
        {"five bytes", "Velt1", false, " is not an Veltrane file"},
        {"empty", "", false, " is not an Veltrane file"},
        {"wrong magic", "Veltranf" + valid.substr(8), false, " is not an Veltrane file"},
        {"header cut short", valid.substr(0, 20), false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path(), c.bytes);
        LogCapture log;
        VeltraneFile file(path());
        EXPECT_EQ(file.open(VeltraneFile::ReadMode), c.opens);
        if (c.warning)
            EXPECT_TRUE(log.mentions("WARN", "File " + path() + c.warning));
        else
            EXPECT_TRUE(log.quiet());
    }
}

TEST_F(VeltraneFileTest, RefusesUnknownModesAndMissingFiles)
{
    LogCapture log;
    VeltraneFile file(path());
    EXPECT_FALSE(file.open(2));
    EXPECT_FALSE(file.open(-1));
    EXPECT_TRUE(log.lines().empty());

    EXPECT_FALSE(file.open(VeltraneFile::ReadMode));
    EXPECT_TRUE(log.mentions("WARN", "Could not open file " + path()));
    VeltraneFile unwritable(path("missing/folder/out.kvs"));
    EXPECT_FALSE(unwritable.open(VeltraneFile::WriteMode));
    EXPECT_TRUE(log.mentions("WARN", "Could not open file " + path("missing/folder/out.kvs")));
}

TEST_F(VeltraneFileTest, CallsOutOfOrderChangeNothing)
{
    VeltraneFile file(path());
    ASSERT_TRUE(file.open(VeltraneFile::WriteMode));
    EXPECT_EQ(file.endWriteBlock(), -1);
    EXPECT_EQ(file.listBlocks(nullptr, nullptr), -1);
    BytesPlugin plugin(7, "x");
    EXPECT_FALSE(file.beginReadBlock(0, &plugin));
    ASSERT_TRUE(file.close());
    const std::string closed = readFile(path());
    EXPECT_EQ(closed.size(), 24u);

    EXPECT_TRUE(file.close());
    EXPECT_FALSE(file.beginWriteBlock(&plugin));
    EXPECT_EQ(readFile(path()), closed);
}

TEST_F(VeltraneFileTest, CloseReportsAFailedStream)
{
    // Every write to /dev/full fails once the stream's buffer is flushed.
    VeltraneFile file("/dev/full");
    ASSERT_TRUE(file.open(VeltraneFile::WriteMode));
    BytesPlugin plugin(7, std::string(1 << 16, 'x'));
    file.beginWriteBlock(&plugin);
    file.endWriteBlock();
    EXPECT_FALSE(file.close());
    EXPECT_FALSE(file.close());
}

TEST_F(VeltraneFileTest, RecoversBlocksOfAFileThatWasNeverClosed)
{
    {
        VeltraneFile file(path());
        ASSERT_TRUE(file.open(VeltraneFile::WriteMode));
        BytesPlugin finished(7, "done"), cut(11000, "partial payload");
        ASSERT_TRUE(file.beginWriteBlock(&finished));
        ASSERT_EQ(file.endWriteBlock(), 4);
        ASSERT_TRUE(file.beginWriteBlock(&cut));
        // Destroyed while the second block is being written, as in a crash.
    }
    LogCapture log;
    VeltraneFile file(path());
    ASSERT_TRUE(file.open(VeltraneFile::ReadMode));
    std::vector<int> types;
    std::vector<std::int64_t> sizes;
    EXPECT_EQ(file.listBlocks(&types, &sizes), 2);
    EXPECT_EQ(types, (std::vector<int>{7, 11000}));
    EXPECT_EQ(sizes, (std::vector<std::int64_t>{4, 15}));
    EXPECT_TRUE(log.mentions("WARN", "was not closed"));
    BytesPlugin reader(11000);
    ASSERT_TRUE(file.beginReadBlock(1, &reader));
    EXPECT_EQ(reader.read, "partial payload");
}

TEST_F(VeltraneFileTest, DamagedBlockHeadersStayInsideTheFile)
{
    const std::string valid = writeBlocks({{7, "abcdef"}, {9, "gh"}});
    auto withInt64 = [&](std::size_t offset, std::int64_t value) {
        std::string s = valid;
        TestFrames::putInt64(s, offset, value);
        return s;
    };
    auto withInt32 = [&](std::size_t offset, std::int32_t value) {
        std::string s = valid;
        TestFrames::putInt32(s, offset, value);
        return s;
    };
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::int64_t> sizes;
    };
    const Case cases[] = {
        {"huge first size", withInt64(32, INT64_MAX), {6 + 16 + 2}},
        {"negative first size", withInt64(32, -40), {6 + 16 + 2}},
        {"second size past the end", withInt64(24 + 16 + 6 + 8, 1000), {6, 2}},
        {"block count too large", withInt32(12, 1000000), {6, 2}},
        {"negative block count", withInt32(12, -3), {6, 2}},
        {"file cut inside a block", valid.substr(0, valid.size() - 1), {6, 1}},
        {"file cut inside a block header", valid.substr(0, 24 + 16 + 6 + 10), {6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path(), c.bytes);
        VeltraneFile file(path());
        ASSERT_TRUE(file.open(VeltraneFile::ReadMode));
        std::vector<std::int64_t> sizes;
        EXPECT_EQ(file.listBlocks(nullptr, &sizes), static_cast<int>(c.sizes.size()));
        EXPECT_EQ(sizes, c.sizes);
        BytesPlugin reader(7);
        if (file.beginReadBlock(0, &reader)) {
            EXPECT_EQ(reader.read.size(), static_cast<std::size_t>(c.sizes[0]));
        }
    }
}

}  // namespace
}  // namespace Veltrane
