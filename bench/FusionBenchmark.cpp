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

#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/BenchmarkMain.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <benchmark/benchmark.h>
#include <omp.h>

#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

using namespace Veltrane;
using namespace Veltrane::TestSupport;

/// A back-end that has fused the first frames of an orbit around the
/// tabletop scene, and the remaining frames of that orbit.
class OrbitReconstruction {
public:
    explicit OrbitReconstruction(int resolution)
    {
        const SyntheticCamera sensor(SyntheticScene::tabletop(), PinholeCamera());
        m_frames = sensor.renderAll(tabletopOrbit(40).poses());

        m_params.setVolumeResolution({resolution, resolution, resolution});
        m_params.setVolumeSize({800.0, 800.0, 800.0});
        std::array<double, 16> pose;
        Eigen::Map<Eigen::Matrix4d>(pose.data()) = m_frames.front().pose;
        m_params.setVolumePose(pose);
        if (!m_backEnd.init(&m_params))
            return;
        for (m_next = 0; m_next < warmUpFrames; ++m_next)
            processNext();
    }

    SurfaceReconstructionCPU& backEnd() { return m_backEnd; }
    const RgbdFrame& currentFrame() const { return m_frames[m_next]; }
    bool ready() const { return m_backEnd.tsdfVolume != nullptr; }

    /// Processes the next frame, walking the orbit forwards and backwards so
    /// that consecutive frames are always neighbours. False when the frame
    /// could not be processed.
    bool processNext()
    {
        const RgbdFrame& frame = m_frames[m_next];
        const int result = m_backEnd.processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true);
        const int last = static_cast<int>(m_frames.size()) - 1;
        if (m_next == last || (m_next == warmUpFrames && m_step < 0))
            m_step = -m_step;
        m_next += m_step;
        return result >= 0;
    }

    static OrbitReconstruction& at(int resolution)
    {
        static std::map<int, std::unique_ptr<OrbitReconstruction>> cache;
        std::unique_ptr<OrbitReconstruction>& entry = cache[resolution];
        if (!entry)
            entry = std::make_unique<OrbitReconstruction>(resolution);
        return *entry;
    }

private:
    static constexpr int warmUpFrames = 10;
    ReconstructionParameters m_params;
    SurfaceReconstructionCPU m_backEnd;
    std::vector<RgbdFrame> m_frames;
    int m_next = 0;
    int m_step = 1;
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
    OrbitReconstruction& orbit = OrbitReconstruction::at(static_cast<int>(state.range(0)));
    if (!orbit.ready()) {
        state.SkipWithError("the back-end could not be initialised");
        return;
    }
    for (auto _ : state)
        if (!orbit.processNext()) {
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
    OrbitReconstruction& orbit = OrbitReconstruction::at(static_cast<int>(state.range(0)));
    if (!orbit.ready()) {
        state.SkipWithError("the back-end could not be initialised");
        return;
    }
    SurfaceReconstructionCPU& backEnd = orbit.backEnd();
    const RgbdFrame& frame = orbit.currentFrame();
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
