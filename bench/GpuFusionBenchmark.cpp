// Per-frame cost of the OpenCL fusion back-end on the default OpenCL device,
// on synthetic 640 x 480 frames with colour at 128^3 and 256^3 voxels: the
// whole processFrame and each of its four stages, and the coloured mesh of
// the fused volume by marching cubes on the device. Every timed call waits
// for the device to finish, so the figures include the kernels' run time.

#include "core/ClEnvironment.h"
#include "core/Mesh.h"
#include "reconstruction/ClMarchingCubes.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "testsupport/BenchmarkMain.h"
#include "testsupport/OrbitScan.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

namespace {

using namespace Veltrane;
using namespace Veltrane::TestSupport;

/// The OpenCL back-end on the default environment scanning the orbit; every
/// frame waits for the device. Not ready without an OpenCL device.
struct GpuScan {
    explicit GpuScan(int resolution) : backEnd(makeBackEnd()), scan(backEnd.get(), resolution, finish) {}

    static std::unique_ptr<SurfaceReconstructionGPU> makeBackEnd()
    {
        try {
            return std::make_unique<SurfaceReconstructionGPU>(ClEnvironment::defaultEnvironment());
        } catch (const std::runtime_error&) {
            return nullptr;
        }
    }
    static void finish() { clFinish(ClEnvironment::defaultEnvironment()->queue()->id()); }

    std::unique_ptr<SurfaceReconstructionGPU> backEnd;
    OrbitScan scan;
};

void BM_GpuProcessFrame(benchmark::State& state)
{
    GpuScan& gpu = scanAt<GpuScan>(static_cast<int>(state.range(0)));
    if (!gpu.scan.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    for (auto _ : state)
        if (!gpu.scan.processNext()) {
            state.SkipWithError("processFrame failed");
            break;
        }
}

template <typename Stage>
void runStage(benchmark::State& state, Stage stage)
{
    GpuScan& gpu = scanAt<GpuScan>(static_cast<int>(state.range(0)));
    if (!gpu.scan.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    SurfaceReconstructionGPU& backEnd = *gpu.backEnd;
    const RgbdFrame& frame = gpu.scan.currentFrame();
    backEnd.preprocess(frame.depth.get(), frame.colour.get());
    backEnd.predictSurface();
    GpuScan::finish();
    for (auto _ : state) {
        stage(backEnd, frame);
        GpuScan::finish();
    }
}

void BM_GpuPreprocess(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionGPU& b, const RgbdFrame& f) { b.preprocess(f.depth.get(), f.colour.get()); });
}

void BM_GpuPredictSurface(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionGPU& b, const RgbdFrame&) { b.predictSurface(); });
}

void BM_GpuTrackCamera(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionGPU& b, const RgbdFrame&) {
        bool fuse = false, tracked = false;
        b.trackCamera(fuse, tracked);
        benchmark::DoNotOptimize(tracked);
    });
}

void BM_GpuIntegrate(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionGPU& b, const RgbdFrame&) { b.integrate(); });
}

void BM_GpuMarchingCubes(benchmark::State& state)
{
    GpuScan& gpu = scanAt<GpuScan>(static_cast<int>(state.range(0)));
    if (!gpu.scan.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    ClMarchingCubes cubes(ClEnvironment::defaultEnvironment());
    std::size_t vertices = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> mesh =
            cubes.computeMesh(gpu.backEnd->tsdfVolume, gpu.backEnd->colorVolume, 0.0f);
        vertices = mesh ? mesh->vertices().size() : 0;
    }
    state.counters["vertices"] = static_cast<double>(vertices);
}

}  // namespace

BENCHMARK(BM_GpuProcessFrame)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GpuPreprocess)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GpuPredictSurface)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GpuTrackCamera)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GpuIntegrate)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GpuMarchingCubes)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    return Veltrane::TestSupport::runBenchmarks(argc, argv);
}
