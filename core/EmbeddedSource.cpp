#include "core/EmbeddedSource.h"

#include "core/EmbeddedSourceFormat.h"
#include "core/EmbeddedSourceTable.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace Veltrane {

namespace {

/// Reads the header fields of the compressed form. Every field must be
/// followed by at least one more byte; a field that reaches the end marks
/// the data as malformed.
class HeaderReader {
public:
    HeaderReader(const unsigned char* data, std::size_t count) : m_data(data), m_count(count) {}

    /// The next `size` bytes, or null when they reach or pass the end.
    const unsigned char* take(std::size_t size)
    {
        if (size >= m_count - m_position)
            return nullptr;
        const unsigned char* field = m_data + m_position;
        m_position += size;
        return field;
    }

    bool takeWord(std::uint32_t* value)
    {
        const unsigned char* field = take(4);
        if (!field)
            return false;
        *value = std::uint32_t(field[0]) << 24 | std::uint32_t(field[1]) << 16 |
                 std::uint32_t(field[2]) << 8 | std::uint32_t(field[3]);
        return true;
    }

    std::size_t position() const { return m_position; }

private:
    const unsigned char* m_data;
    std::size_t m_count;
    std::size_t m_position = 0;
};

/// The code tree: node 0 is the root; children are node indices, -1 when
/// missing. Leaves have no children and carry a symbol.
class CodeTree {
public:
    CodeTree() : m_nodes(1) {}

    /// Adds the leaf `symbol` at the end of the path `code` (bit k of the
    /// path is bit k % 8 of byte k / 8). False when the path runs through a
    /// leaf or ends on an existing node, i.e. the codes are not prefix-free.
    bool add(unsigned char symbol, const unsigned char* code, unsigned length)
    {
        int node = 0;
        for (unsigned k = 0; k < length; ++k) {
            const int bit = (code[k / 8] >> (k % 8)) & 1;
            int child = m_nodes[node].children[bit];
            const bool last = k + 1 == length;
            if (child < 0) {
                child = static_cast<int>(m_nodes.size());
                m_nodes.push_back(Node{});
                m_nodes[node].children[bit] = child;
                if (last) {
                    m_nodes[child].leaf = true;
                    m_nodes[child].symbol = symbol;
                }
            } else if (last || m_nodes[child].leaf) {
                return false;
            }
            node = child;
        }
        return true;
    }

    /// Walks one step from `node` along `bit`; -1 when there is no child.
    int step(int node, int bit) const { return m_nodes[node].children[bit]; }
    bool isLeaf(int node) const { return m_nodes[node].leaf; }
    unsigned char symbol(int node) const { return m_nodes[node].symbol; }

private:
    struct Node {
        int children[2] = {-1, -1};
        bool leaf = false;
        unsigned char symbol = 0;
    };
    std::vector<Node> m_nodes;
};

}  // namespace

int huffmanDecode(const unsigned char* data, std::size_t count,
                  std::unique_ptr<unsigned char[]>* output, std::size_t* outputLength)
{
    if (!output || !outputLength || !data)
        return 1;

    HeaderReader header(data, count);
    std::uint32_t symbolCount = 0;
    std::uint32_t decodedLength = 0;
    if (!header.takeWord(&symbolCount) || !header.takeWord(&decodedLength))
        return 1;
    CodeTree tree;
    for (std::uint32_t s = 0; s < symbolCount; ++s) {
        const unsigned char* symbol = header.take(1);
        const unsigned char* length = symbol ? header.take(1) : nullptr;
        const unsigned char* code = length ? header.take((*length + 7u) / 8u) : nullptr;
        if (!code || !tree.add(*symbol, code, *length))
            return 1;
    }

    // Every code is at least one bit long, so the payload cannot hold more
    // symbols than bits; a damaged length never makes us allocate more.
    const std::size_t payload = count - header.position();
    const std::size_t capacity =
        std::min<std::size_t>(decodedLength, payload > SIZE_MAX / 8 ? SIZE_MAX : payload * 8);
    std::unique_ptr<unsigned char[]> decoded(new unsigned char[std::max<std::size_t>(capacity, 1)]);
    std::size_t produced = 0;
    int node = 0;
    for (std::size_t i = header.position(); i < count && produced < capacity; ++i) {
        for (int bit = 0; bit < 8 && produced < capacity; ++bit) {
            node = tree.step(node, (data[i] >> bit) & 1);
            if (node < 0)
                return 1;
            if (tree.isLeaf(node)) {
                decoded[produced++] = tree.symbol(node);
                node = 0;
            }
        }
    }
    *output = std::move(decoded);
    *outputLength = produced;
    return 0;
}

std::string decodeEmbeddedSource(const unsigned char* bytes, std::size_t count,
                                 const std::string& key)
{
    if (!bytes || count == 0)
        return std::string();
    std::vector<unsigned char> unscrambled(bytes, bytes + count);
    applySourceKey(unscrambled.data(), count, key.empty() ? std::string(defaultSourceKey) : key);
    std::unique_ptr<unsigned char[]> decoded;
    std::size_t length = 0;
    if (huffmanDecode(unscrambled.data(), count, &decoded, &length) != 0)
        return std::string();
    return std::string(reinterpret_cast<const char*>(decoded.get()), length);
}

std::string embeddedSource(const std::string& fileName)
{
    const EmbeddedSourceEntry* begin = embeddedSourceTable.entries;
    const EmbeddedSourceEntry* end = begin + embeddedSourceTable.count;
    const auto entry = std::find_if(begin, end, [&](const EmbeddedSourceEntry& candidate) {
        return fileName == candidate.fileName;
    });
    if (entry == end)
        return std::string();
    return decodeEmbeddedSource(entry->bytes, entry->count, fileName);
}

}  // namespace Veltrane
