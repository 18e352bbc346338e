#pragma once

#include <cstddef>

namespace Veltrane {

/// One stored source: its file name and its scrambled, compressed bytes.
struct EmbeddedSourceEntry {
    const char* fileName;
    const unsigned char* bytes;
    std::size_t count;
};

struct EmbeddedSourceTable {
    const EmbeddedSourceEntry* entries;
    std::size_t count;
};

/// Every source the application carries, generated from the files under
/// resources/ when the application is built.
extern const EmbeddedSourceTable embeddedSourceTable;

}  // namespace Veltrane
