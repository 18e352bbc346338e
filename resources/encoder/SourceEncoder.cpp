#include "resources/encoder/SourceEncoder.h"

#include "core/EmbeddedSourceFormat.h"

#include <array>
#include <cstdint>
#include <iomanip>
#include <functional>
#include <queue>
#include <sstream>

namespace Veltrane {

namespace {

/// Code of one byte value: its bits from the root, first bit first.
using Code = std::vector<bool>;

/// Node of the code tree under construction; leaves carry a symbol.
struct TreeNode {
    int symbol;  // -1 for inner nodes
    int children[2];
};

void collectCodes(const std::vector<TreeNode>& nodes, int node, Code& path,
                  std::array<Code, 256>& codes)
{
    if (nodes[node].symbol >= 0) {
        // A tree of one leaf still needs one bit per symbol.
        codes[nodes[node].symbol] = path.empty() ? Code{false} : path;
        return;
    }
    for (int bit = 0; bit < 2; ++bit) {
        path.push_back(bit == 1);
        collectCodes(nodes, nodes[node].children[bit], path, codes);
        path.pop_back();
    }
}

std::array<Code, 256> huffmanCodes(const std::array<std::size_t, 256>& counts)
{
    // Lightest first; equal weights in creation order, so the output is
    // the same on every build.
    using Weighted = std::pair<std::size_t, int>;
    std::priority_queue<Weighted, std::vector<Weighted>, std::greater<Weighted>> queue;
    std::vector<TreeNode> nodes;
    for (int symbol = 0; symbol < 256; ++symbol) {
        if (counts[symbol] == 0)
            continue;
        queue.emplace(counts[symbol], static_cast<int>(nodes.size()));
        nodes.push_back(TreeNode{symbol, {-1, -1}});
    }
    std::array<Code, 256> codes;
    if (queue.empty())
        return codes;
    while (queue.size() > 1) {
        const Weighted left = queue.top();
        queue.pop();
        const Weighted right = queue.top();
        queue.pop();
        queue.emplace(left.first + right.first, static_cast<int>(nodes.size()));
        nodes.push_back(TreeNode{-1, {left.second, right.second}});
    }
    Code path;
    collectCodes(nodes, queue.top().second, path, codes);
    return codes;
}

void appendWord(std::vector<unsigned char>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

/// Appends `bits` to `out`, bit k going to bit k % 8 of byte k / 8 of the
/// field that starts at `start`.
void appendBits(std::vector<unsigned char>& out, std::size_t start, std::size_t& bitCount,
                const Code& bits)
{
    for (bool bit : bits) {
        if (bitCount % 8 == 0)
            out.push_back(0);
        if (bit)
            out[start + bitCount / 8] |= static_cast<unsigned char>(1u << (bitCount % 8));
        ++bitCount;
    }
}

}  // namespace

std::vector<unsigned char> huffmanEncode(const std::string& text)
{
    std::array<std::size_t, 256> counts{};
    for (char c : text)
        ++counts[static_cast<unsigned char>(c)];
    const std::array<Code, 256> codes = huffmanCodes(counts);

    std::vector<unsigned char> out;
    std::uint32_t symbolCount = 0;
    for (const Code& code : codes)
        symbolCount += code.empty() ? 0 : 1;
    appendWord(out, symbolCount);
    appendWord(out, static_cast<std::uint32_t>(text.size()));
    for (int symbol = 0; symbol < 256; ++symbol) {
        const Code& code = codes[symbol];
        if (code.empty())
            continue;
        out.push_back(static_cast<unsigned char>(symbol));
        out.push_back(static_cast<unsigned char>(code.size()));
        std::size_t bitCount = 0;
        appendBits(out, out.size(), bitCount, code);
    }
    const std::size_t payloadStart = out.size();
    std::size_t bitCount = 0;
    for (char c : text)
        appendBits(out, payloadStart, bitCount, codes[static_cast<unsigned char>(c)]);
    return out;
}

std::vector<unsigned char> encodeEmbeddedSource(const std::string& text, const std::string& key)
{
    std::vector<unsigned char> bytes = huffmanEncode(text);
    applySourceKey(bytes.data(), bytes.size(), key);
    return bytes;
}

std::string embeddedSourceTableCode(
    const std::vector<std::pair<std::string, std::string>>& sources)
{
    std::ostringstream code;
    code << "// Generated from the program and shader sources under resources/.\n"
            "#include \"core/EmbeddedSourceTable.h\"\n\n"
            "namespace Veltrane {\n\nnamespace {\n\n";
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::vector<unsigned char> bytes =
            encodeEmbeddedSource(sources[i].second, sources[i].first);
        code << "const unsigned char source" << i << "[] = {";
        for (std::size_t b = 0; b < bytes.size(); ++b)
            code << (b % 16 == 0 ? "\n   " : "") << " 0x" << std::hex << std::setw(2)
                 << std::setfill('0') << int(bytes[b]) << std::dec << ",";
        code << "\n};\n\n";
    }
    if (sources.empty()) {
        code << "}  // namespace\n\nconst EmbeddedSourceTable embeddedSourceTable{nullptr, 0};\n\n"
                "}  // namespace Veltrane\n";
        return code.str();
    }
    code << "const EmbeddedSourceEntry entries[] = {\n";
    for (std::size_t i = 0; i < sources.size(); ++i)
        code << "    {\"" << sources[i].first << "\", source" << i << ", sizeof source" << i
             << "},\n";
    code << "};\n\n}  // namespace\n\n"
            "const EmbeddedSourceTable embeddedSourceTable{entries, "
            "sizeof entries / sizeof entries[0]};\n\n"
            "}  // namespace Veltrane\n";
    return code.str();
}

}  // namespace Veltrane
