// Frame codec and recorder speed on camera-sized frames.
//   Compress/<mode>, Decompress/<mode>: one 640x480 depth + colour pair;
//   "ratio" is raw bytes over compressed bytes.
//   RecorderThroughput: frames per second that addFrame() -> file sustains.
#include "capture/ImageCompressor.h"
#include "capture/ImageRecorder.h"
#include "core/TypedImage.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace Veltrane {
namespace {

constexpr int Width = 640;
constexpr int Height = 480;

/// A scene-like depth frame: a tilted plane with a sphere in front, sensor
/// noise, and no measurement near the borders.
std::unique_ptr<TypedImage<unsigned short>> sceneDepth(int seed)
{
    auto depth = std::make_unique<TypedImage<unsigned short>>(PixelType::UnsignedShort, Width, Height, 1, 1);
    std::mt19937 random(static_cast<unsigned>(seed));
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const double dx = x - 320.0, dy = y - 240.0, r2 = dx * dx + dy * dy;
            double z = 1500.0 + 0.8 * y;
            if (r2 < 120.0 * 120.0)
                z = 900.0 - std::sqrt(120.0 * 120.0 - r2);
            const bool hole = x < 8 || x >= Width - 8 || (x / 40 + y / 40 + seed) % 17 == 0;
            depth->typedData()[y * Width + x] =
                hole ? 0 : static_cast<unsigned short>(z + noise(random));
        }
    return depth;
}

std::unique_ptr<TypedImage<unsigned char>> sceneColour(int seed)
{
    auto colour = std::make_unique<TypedImage<unsigned char>>(PixelType::UnsignedByte, Width, Height, 1, 3);
    std::mt19937 random(static_cast<unsigned>(seed + 1));
    std::uniform_int_distribution<int> noise(-3, 3);
    unsigned char* c = colour->typedData();
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int k = 0; k < 3; ++k)
                c[3 * (y * Width + x) + k] = static_cast<unsigned char>(
                    std::clamp(60 + (x * (k + 1) + y * 2) / 8 % 140 + noise(random), 0, 255));
    return colour;
}

void Compress(benchmark::State& state)
{
    const auto mode = static_cast<CompressionMode>(state.range(0));
    const auto depth = sceneDepth(0);
    const auto colour = sceneColour(0);
    std::vector<unsigned char> out(static_cast<std::size_t>(Width) * Height * 10);
    const ImageCompressor compressor;
    std::size_t compressed = 0;
    for (auto _ : state) {
        compressed = 0;
        for (const Image* image : {static_cast<const Image*>(depth.get()),
                                   static_cast<const Image*>(colour.get())}) {
            int size = static_cast<int>(out.size());
            if (!compressor.compress(image, mode, 1, out.data(), &size))
                state.SkipWithError("compression failed");
            compressed += static_cast<std::size_t>(size);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ratio"] = double(depth->byteSize() + colour->byteSize()) / double(compressed);
}
BENCHMARK(Compress)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void Decompress(benchmark::State& state)
{
    const auto mode = static_cast<CompressionMode>(state.range(0));
    const auto depth = sceneDepth(0);
    const auto colour = sceneColour(0);
    const ImageCompressor compressor;
    std::vector<unsigned char> depthStream(static_cast<std::size_t>(Width) * Height * 4);
    std::vector<unsigned char> colourStream(static_cast<std::size_t>(Width) * Height * 6);
    int depthSize = static_cast<int>(depthStream.size());
    int colourSize = static_cast<int>(colourStream.size());
    if (!compressor.compress(depth.get(), mode, 1, depthStream.data(), &depthSize) ||
        !compressor.compress(colour.get(), mode, 1, colourStream.data(), &colourSize)) {
        state.SkipWithError("compression failed");
        return;
    }
    TypedImage<unsigned short> depthOut(PixelType::UnsignedShort, Width, Height, 1, 1);
    TypedImage<unsigned char> colourOut(PixelType::UnsignedByte, Width, Height, 1, 3);
    for (auto _ : state) {
        if (!compressor.decompress(depthStream.data(), depthSize, mode, &depthOut) ||
            !compressor.decompress(colourStream.data(), colourSize, mode, &colourOut))
            state.SkipWithError("decompression failed");
        benchmark::DoNotOptimize(depthOut.data());
    }
}
BENCHMARK(Decompress)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void RecorderThroughput(benchmark::State& state)
{
    constexpr int Frames = 90;
    std::vector<std::unique_ptr<TypedImage<unsigned short>>> depths;
    std::vector<std::unique_ptr<TypedImage<unsigned char>>> colours;
    for (int i = 0; i < 4; ++i) {
        depths.push_back(sceneDepth(i));
        colours.push_back(sceneColour(i));
    }
    const double matrix[9] = {531, 0, 0, 0, 531, 0, 320, 240, 1};
    QTemporaryDir dir;
    int dropped = 0;
    for (auto _ : state) {
        ImageRecorder recorder(dir.filePath("bench.kvs").toStdString());
        if (!recorder.open(Width, Height, matrix)) {
            state.SkipWithError("cannot open the recording");
            return;
        }
        recorder.setRunning(true);
        recorder.start(QThread::InheritPriority);
        for (int i = 0; i < Frames; ++i)
            while (!recorder.addFrame(depths[i % 4].get(), colours[i % 4].get())) {
                ++dropped;
                QThread::msleep(1);
            }
        if (!recorder.finish())
            state.SkipWithError("recording failed");
    }
    state.SetItemsProcessed(state.iterations() * Frames);
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations() * Frames), benchmark::Counter::kIsRate);
    state.counters["queueFullWaits"] = dropped;
}
BENCHMARK(RecorderThroughput)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace Veltrane

BENCHMARK_MAIN();
