#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Veltrane {

/// The compressed form that `huffmanDecode` reads: symbol count and text
/// length as 32-bit big-endian words, one record per distinct byte (value,
/// code length in bits, code bytes), then the codes of the text, least
/// significant bit first. A text of one distinct byte gets a 1-bit code.
std::vector<unsigned char> huffmanEncode(const std::string& text);

/// The stored form of a source: compressed, then scrambled with `key`.
std::vector<unsigned char> encodeEmbeddedSource(const std::string& text, const std::string& key);

/// C++ source defining `embeddedSourceTable` with one entry per (file name,
/// text) pair, each stored with its file name as key.
std::string embeddedSourceTableCode(
    const std::vector<std::pair<std::string, std::string>>& sources);

}  // namespace Veltrane
