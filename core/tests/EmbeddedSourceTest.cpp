#include "core/EmbeddedSource.h"
#include "core/EmbeddedSourceFormat.h"
#include "resources/encoder/SourceEncoder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

namespace Veltrane {
namespace {

using Bytes = std::vector<unsigned char>;

/// Decodes `data` with `huffmanDecode`; "<failed>" when it refuses.
std::string decoded(const Bytes& data)
{
    std::unique_ptr<unsigned char[]> output;
    std::size_t length = 0;
    if (huffmanDecode(data.data(), data.size(), &output, &length) != 0)
        return "<failed>";
    return std::string(reinterpret_cast<const char*>(output.get()), length);
}

/// Header of the compressed form: symbol count and decoded length.
Bytes header(std::uint32_t symbols, std::uint32_t length)
{
    Bytes bytes;
    for (std::uint32_t word : {symbols, length}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<unsigned char>(word >> shift));
    }
    return bytes;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string fileContents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(EmbeddedSource, ProgramSourcesComeBackAsWritten)
{
    const std::string original =
        fileContents(std::string(KORVASTEL_SOURCE_DIR) + "/resources/programs/Reduction.cl");
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(embeddedSource("Reduction.cl"), original);
}

TEST(EmbeddedSource, NamesMatchExactly)
{
    for (const char* name : {"reduction.cl", "Reduction", "Reduction.cl ", "/Reduction.cl",
                             "REDUCTION.CL", "", "Histogram.cl"})
        EXPECT_EQ(embeddedSource(name), "") << name;
}

TEST(EmbeddedSource, KeyRunsBackwardsFromItsLastCharacterAndRepeats)
{
    Bytes bytes(7, 0);
    applySourceKey(bytes.data(), bytes.size(), "abc");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "cbacbac");
    applySourceKey(bytes.data(), bytes.size(), "abc");
    EXPECT_EQ(bytes, Bytes(7, 0));
}

TEST(EmbeddedSource, EncodedTextsDecodeToThemselves)
{
    std::string allBytes;
    for (int b = 0; b < 256; ++b)
        allBytes += static_cast<char>(b);
    std::string skewed;  // Fibonacci-like counts give codes longer than a byte
    for (int symbol = 0, count = 1, previous = 1; symbol < 20; ++symbol) {
        skewed += std::string(count, static_cast<char>('A' + symbol));
        const int next = count + previous;
        previous = count;
        count = next;
    }
    std::mt19937 random(7);
    std::string noise(5000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random() % 256);

    const std::string texts[] = {"a", "aaaaaaaaa", "ab", std::string("nul\0inside", 10),
                                 allBytes, skewed, noise,
                                 "__kernel void k(__global int* x) { x[0] = 1; }\n"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.size());
        EXPECT_EQ(decoded(huffmanEncode(text)), text);
        const Bytes stored = encodeEmbeddedSource(text, "Some.cl");
        EXPECT_EQ(decodeEmbeddedSource(stored.data(), stored.size(), "Some.cl"), text);
        EXPECT_NE(decodeEmbeddedSource(stored.data(), stored.size(), "Other.cl"), text);
        // An empty key stands for the built-in one.
        const Bytes byDefault = encodeEmbeddedSource(text, defaultSourceKey);
        EXPECT_EQ(decodeEmbeddedSource(byDefault.data(), byDefault.size(), ""), text);
    }
    EXPECT_EQ(decodeEmbeddedSource(nullptr, 0, "Some.cl"), "");
}

TEST(EmbeddedSource, OneDistinctByteUsesOneBitPerSymbol)
{
    const Bytes encoded = huffmanEncode("xxxxx");
    // Header, one record ('x', 1 bit, code 0), one payload byte.
    EXPECT_EQ(encoded, (header(1, 5) + Bytes{'x', 1, 0x00} + Bytes{0x00}));
    // Bits past the fifth symbol are ignored, whatever they hold.
    EXPECT_EQ(decoded(header(1, 5) + Bytes{'x', 1, 0x00} + Bytes{0xe0}), "xxxxx");
}

TEST(EmbeddedSource, PayloadIsReadFromTheLeastSignificantBit)
{
    // a = 0, b = 1; payload bits 1, 0, 1 then garbage.
    const Bytes records = Bytes{'a', 1, 0x00} + Bytes{'b', 1, 0x01};
    EXPECT_EQ(decoded(header(2, 3) + records + Bytes{0xf5}), "bab");
    // Codes longer than one bit: a = 0, b = 10, c = 11 (path bits from the
    // least significant bit of the code byte).
    const Bytes longer = Bytes{'a', 1, 0x00} + Bytes{'b', 2, 0x01} + Bytes{'c', 2, 0x03};
    // c, a, b: bits 1 1 0 1 0.
    EXPECT_EQ(decoded(header(3, 3) + longer + Bytes{0x0b}), "cab");
}

TEST(EmbeddedSource, ShortPayloadEndsTheText)
{
    EXPECT_EQ(decoded(header(1, 20) + Bytes{'x', 1, 0x00} + Bytes{0x00}), "xxxxxxxx");
    // An absurd length is no reason to allocate it.
    EXPECT_EQ(decoded(header(1, 0xffffffffu) + Bytes{'x', 1, 0x00} + Bytes{0x00, 0x00}),
              std::string(16, 'x'));
}

TEST(EmbeddedSource, MalformedDataIsRefusedWithoutHarm)
{
    const Bytes x = {'x', 1, 0x00};
    struct Case {
        const char* what;
        Bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"short header", {0, 0, 0, 1, 0, 0}},
        {"header without anything after it", header(0, 0)},
        {"record cut after its symbol", header(1, 1) + Bytes{'x'}},
        {"code bytes cut", header(1, 1) + Bytes{'x', 9, 0x00}},
        {"records without payload", header(1, 1) + x},
        {"more records than data", header(3, 1) + x + Bytes{0x00}},
        {"path through a leaf", header(2, 2) + x + Bytes{'y', 2, 0x00} + Bytes{0x00}},
        {"code ending on an inner node",
         header(2, 2) + Bytes{'y', 2, 0x00} + x + Bytes{0x00}},
        {"duplicate code", header(2, 2) + x + Bytes{'y', 1, 0x00} + Bytes{0x00}},
        {"payload into a missing child", header(1, 2) + Bytes{'y', 2, 0x00} + Bytes{0x01}},
        {"only empty codes", header(1, 4) + Bytes{'x', 0} + Bytes{0x00}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decoded(c.data), "<failed>") << c.what;

    const Bytes good = header(1, 2) + x + Bytes{0x00};
    std::unique_ptr<unsigned char[]> output;
    std::size_t length = 0;
    EXPECT_EQ(huffmanDecode(good.data(), good.size(), nullptr, &length), 1);
    EXPECT_EQ(huffmanDecode(good.data(), good.size(), &output, nullptr), 1);
    EXPECT_EQ(huffmanDecode(good.data(), good.size(), &output, &length), 0);
    EXPECT_EQ(length, 2u);
}

TEST(EmbeddedSource, EmptyCodeRecordsAddNothing)
{
    EXPECT_EQ(decoded(header(2, 2) + Bytes{'z', 0} + Bytes{'x', 1, 0x00} + Bytes{0x00}), "xx");
}

TEST(EmbeddedSource, GeneratedTableListsEverySource)
{
    const std::string code =
        embeddedSourceTableCode({{"One.cl", "first"}, {"Two.gl", "second"}});
    EXPECT_NE(code.find("{\"One.cl\", source0, sizeof source0}"), std::string::npos);
    EXPECT_NE(code.find("{\"Two.gl\", source1, sizeof source1}"), std::string::npos);
    EXPECT_NE(embeddedSourceTableCode({}).find("embeddedSourceTable{nullptr, 0}"),
              std::string::npos);
}

}  // namespace
}  // namespace Veltrane
