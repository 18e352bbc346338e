// Build-time tool: writes the C++ table of embedded sources.
//   korvastel_embed_sources <output.cpp> <source file>...
// Each source is stored under its file name without the folder.
#include "resources/encoder/SourceEncoder.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::cerr << "usage: " << argv[0] << " <output.cpp> <source file>...\n";
        return 2;
    }
    std::vector<std::pair<std::string, std::string>> sources;
    for (int i = 2; i < argc; ++i) {
        const std::string path = argv[i];
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::cerr << "cannot read " << path << "\n";
            return 1;
        }
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        sources.emplace_back(path.substr(path.find_last_of('/') + 1), std::move(text));
    }
    const std::string code = Veltrane::embeddedSourceTableCode(sources);
    std::ofstream output(argv[1], std::ios::binary);
    output << code;
    if (!output.flush()) {
        std::cerr << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
