#pragma once

#include <map>
#include <string>
#include <vector>

namespace Veltrane {

/// A PLY file read back by what its own header declares: every vertex as
/// its properties by name, every face as its index list.
struct PlyContents {
    std::string format;
    std::vector<std::map<std::string, double>> vertices;
    std::vector<std::vector<long>> faces;
};

/// Reads a binary little-endian PLY file's bytes, following its header
/// whatever properties it declares. A header without "end_header", a file
/// that ends inside an element or bytes after the last element fail the
/// running test.
PlyContents readPly(const std::vector<unsigned char>& file);

}  // namespace Veltrane
