// Writes small recordings into the folder given as the only argument: the seed
// corpus of the sequence reader fuzzer.
#include "capture/ImageRecorder.h"
#include "core/Logging.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace Veltrane;

/// Records `frames` frames of `width` x `height`.
bool record(const std::string& path, int width, int height, int frames, bool withColour)
{
    const double matrix[9] = {5.25, 0, 0, 0, 5.5, 0, width / 2.0, height / 2.0, 1};
    ImageRecorder recorder(path);
    if (!recorder.open(width, height, matrix))
        return false;
    recorder.setRunning(true);
    recorder.start();
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, width, height, 1, 1);
    TypedImage<unsigned char> colour(PixelType::UnsignedByte, width, height, 1, 3);
    for (int i = 0; i < frames; ++i) {
        for (std::size_t p = 0; p < depth.elementCount(); ++p)
            depth.typedData()[p] = static_cast<unsigned short>(p % 7 == 0 ? 0 : 800 + 3 * p + 40 * i);
        for (std::size_t p = 0; p < colour.elementCount(); ++p)
            colour.typedData()[p] = static_cast<unsigned char>(p * 5 + i);
        recorder.addFrame(&depth, withColour ? &colour : nullptr);
    }
    return recorder.finish();
}

/// The first `length` bytes of `source`, as a recording cut short leaves them.
bool cutShort(const std::string& source, const std::string& target, std::size_t length)
{
    std::ifstream in(source, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(in), {});
    if (bytes.size() < length)
        return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(length));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    appLogger()->setLevel(log4cxx::Level::getWarn());
    const std::string dir = argv[1];
    const bool ok = record(dir + "/one-frame.kvs", 4, 3, 1, true) &&
                    record(dir + "/three-frames.kvs", 8, 6, 3, true) &&
                    record(dir + "/depth-only.kvs", 6, 4, 2, false) &&
                    cutShort(dir + "/three-frames.kvs", dir + "/cut-short.kvs", 200);
    return ok ? 0 : 1;
}
