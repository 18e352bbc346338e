// Per-frame cost of the CPU fusion back-end on synthetic 640 x 480 frames
// with colour, at 128^3 and 256^3 voxels (the whole processFrame also at
// 512^3, and init at 256^3 and 512^3): the whole processFrame and each of its
// four stages, measured on a scene already fused from the first frames of a
// tabletop orbit, plus a memory copy that gives the bandwidth bound.
//
// Bytes touched per frame, for comparison with the copy bandwidth:
//   integration: every voxel's distance, weight and colour read and written,
//                2 x (4 + 1 + 4) bytes per voxel;
//   ray casting: at most every voxel's distance and colour read once,
//                (4 + 4) bytes per voxel.

#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/BenchmarkMain.h"
#include "testsupport/OrbitScan.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using namespace Veltrane;
using namespace Veltrane::TestSupport;

/// The CPU back-end scanning the orbit.
struct CpuScan {
    explicit CpuScan(int resolution) : scan(&backEnd, resolution) {}

    SurfaceReconstructionCPU backEnd;
    OrbitScan scan;
};

void addCommonCounters(benchmark::State& state)
{
    state.counters["threads"] = omp_get_max_threads();
}

void setVolumeBytes(benchmark::State& state, double bytesPerVoxel)
{
    const double voxels = std::pow(static_cast<double>(state.range(0)), 3.0);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerVoxel * voxels));
}

void BM_ProcessFrame(benchmark::State& state)
{
    CpuScan& cpu = scanAt<CpuScan>(static_cast<int>(state.range(0)));
    if (!cpu.scan.ready()) {
        state.SkipWithError("the back-end could not be initialised");
        return;
    }
    for (auto _ : state)
        if (!cpu.scan.processNext()) {
            state.SkipWithError("processFrame failed");
            break;
        }
    addCommonCounters(state);
}

/// init of a back-end with colour, from its parameters to cleared volumes.
void BM_Init(benchmark::State& state)
{
    const int resolution = static_cast<int>(state.range(0));
    ReconstructionParameters params;
    params.setVolumeResolution({resolution, resolution, resolution});
    params.setVolumeSize({800.0, 800.0, 800.0});
    for (auto _ : state) {
        SurfaceReconstructionCPU backEnd;
        if (!backEnd.init(&params)) {
            state.SkipWithError("init failed");
            break;
        }
        state.PauseTiming();
        backEnd.release();
        state.ResumeTiming();
    }
    addCommonCounters(state);
}

template <typename Stage>
void runStage(benchmark::State& state, Stage stage)
{
    CpuScan& cpu = scanAt<CpuScan>(static_cast<int>(state.range(0)));
    if (!cpu.scan.ready()) {
        state.SkipWithError("the back-end could not be initialised");
        return;
    }
    SurfaceReconstructionCPU& backEnd = cpu.backEnd;
    const RgbdFrame& frame = cpu.scan.currentFrame();
    backEnd.preprocess(frame.depth.get(), frame.colour.get());
    backEnd.predictSurface();
    for (auto _ : state)
        stage(backEnd, frame);
    addCommonCounters(state);
}

void BM_Preprocess(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionCPU& b, const RgbdFrame& f) { b.preprocess(f.depth.get(), f.colour.get()); });
}

void BM_PredictSurface(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionCPU& b, const RgbdFrame&) { b.predictSurface(); });
    setVolumeBytes(state, 4.0 + 4.0);
}

void BM_TrackCamera(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionCPU& b, const RgbdFrame&) {
        bool fuse = false, tracked = false;
        b.trackCamera(fuse, tracked);
        benchmark::DoNotOptimize(tracked);
    });
}

void BM_Integrate(benchmark::State& state)
{
    runStage(state, [](SurfaceReconstructionCPU& b, const RgbdFrame&) { b.integrate(); });
    setVolumeBytes(state, 2.0 * (4.0 + 1.0 + 4.0));
}

/// Copy bandwidth of a buffer far larger than the caches (read + write bytes).
void BM_MemoryCopy(benchmark::State& state)
{
    const std::size_t bytes = 256u << 20;
    std::vector<char> source(bytes, 1), target(bytes, 0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * bytes));
}

/// The same copy split among the OpenMP threads, as the stages are.
void BM_ParallelMemoryCopy(benchmark::State& state)
{
    const std::size_t bytes = 256u << 20;
    std::vector<char> source(bytes, 1), target(bytes, 0);
    const int chunks = 64;
    const std::size_t chunk = bytes / chunks;
    for (auto _ : state) {
#pragma omp parallel for schedule(static)
        for (int c = 0; c < chunks; ++c)
            std::memcpy(target.data() + c * chunk, source.data() + c * chunk, chunk);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * 2 * bytes));
    addCommonCounters(state);
}

}  // namespace

BENCHMARK(BM_Init)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProcessFrame)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProcessFrame)->Arg(512)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Preprocess)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PredictSurface)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TrackCamera)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Integrate)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ParallelMemoryCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    return Veltrane::TestSupport::runBenchmarks(argc, argv);
}
