#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace Veltrane {

/// The plain text of the program or shader source that the application
/// carries under `fileName` ("Reduction.cl", "SliceView.gl"). Names match
/// exactly; an unknown name or a damaged source gives an empty text.
std::string embeddedSource(const std::string& fileName);

/// Unscrambles `count` stored bytes with `key` (the built-in default key
/// when empty) and decodes them; empty when they are malformed.
std::string decodeEmbeddedSource(const unsigned char* bytes, std::size_t count,
                                 const std::string& key);

/// Decodes the compressed form (symbol count and decoded length as 32-bit
/// big-endian words, symbol records, then the code bits, least significant
/// first). Returns 0 and hands over the decoded bytes, fewer than announced
/// when the code bits run out; returns 1 for missing outputs or malformed
/// data (a truncated header, codes that are not prefix-free, a code path
/// that the records do not define).
int huffmanDecode(const unsigned char* data, std::size_t count,
                  std::unique_ptr<unsigned char[]>* output, std::size_t* outputLength);

}  // namespace Veltrane
