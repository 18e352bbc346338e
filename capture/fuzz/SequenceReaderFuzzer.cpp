// libFuzzer entry point for the sequence reader: the container, the sequence
// block and the frame decoder must refuse or recover any file without a crash,
// an out-of-bounds access or an unbounded allocation.
#include "capture/KorvastelFilePlugin.h"
#include "capture/VeltraneFile.h"
#include "core/Logging.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string inputPath;

void readSequence(const std::string& path)
{
    using namespace Veltrane;
    VeltraneFile file(path);
    if (!file.open(VeltraneFile::ReadMode))
        return;
    std::vector<int> typeIds;
    file.listBlocks(&typeIds, nullptr);
    for (std::size_t block = 0; block < typeIds.size(); ++block) {
        if (typeIds[block] != KorvastelFilePlugin::BlockTypeId)
            continue;
        KorvastelFilePlugin plugin;
        int width = 0, height = 0, frames = 0;
        Eigen::Matrix3d matrix;
        if (file.beginReadBlock(static_cast<int>(block), &plugin) &&
            plugin.readHeader(&width, &height, &matrix, &frames)) {
            std::unique_ptr<TypedImage<unsigned short>> depth(
                TypedImage<unsigned short>::create(PixelType::UnsignedShort, width, height, 1, 1));
            std::unique_ptr<TypedImage<unsigned char>> colour(
                TypedImage<unsigned char>::create(PixelType::UnsignedByte, width, height, 1, 3));
            if (depth && colour)
                for (int index : {0, frames / 2, frames - 1, frames})
                    plugin.readFrame(index, depth.get(), colour.get());
        }
        file.endReadBlock();
    }
    file.close();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The reader logs every refusal; keep the fuzzer's output readable.
    Veltrane::appLogger()->setLevel(log4cxx::Level::getOff());
    char pattern[] = "/tmp/sequence-fuzz-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0)
        return 1;
    close(fd);
    inputPath = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        std::ofstream out(inputPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    readSequence(inputPath);
    return 0;
}
