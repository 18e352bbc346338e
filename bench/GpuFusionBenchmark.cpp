// Per-frame cost of the OpenCL fusion back-end on the default OpenCL device,
// on synthetic 640 x 480 frames with colour at 128^3 and 256^3 voxels: the
// whole processFrame and each of its four stages, and the coloured mesh of
// the fused volume by marching cubes on the device. Every timed call waits
// for the device to finish, so the figures include the kernels' run time.

#include "core/ClEnvironment.h"
#include "core/Mesh.h"
#include "reconstruction/ClMarchingCubes.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "testsupport/BenchmarkMain.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using namespace Veltrane;
using namespace Veltrane::TestSupport;

/// A GPU back-end that has fused the first frames of an orbit around the
/// tabletop scene, and the remaining frames of that orbit.
class GpuOrbitReconstruction {
public:
    explicit GpuOrbitReconstruction(int resolution)
    {
        try {
            m_backEnd = std::make_unique<SurfaceReconstructionGPU>(ClEnvironment::defaultEnvironment());
        } catch (const std::runtime_error&) {
            return;
        }
        Orbit orbit;
        orbit.target = Eigen::Vector3d(0.0, 50.0, 0.0);
        orbit.radius = 700.0;
        orbit.height = 350.0;
        orbit.stepDegrees = 1.0;
        orbit.frames = 40;
        const SyntheticCamera sensor(SyntheticScene::tabletop(), PinholeCamera());
        m_frames = sensor.renderAll(orbit.poses());

        m_params.setVolumeResolution({resolution, resolution, resolution});
        m_params.setVolumeSize({800.0, 800.0, 800.0});
        std::array<double, 16> pose;
        Eigen::Map<Eigen::Matrix4d>(pose.data()) = m_frames.front().pose;
        m_params.setVolumePose(pose);
        if (!m_backEnd->init(&m_params)) {
            m_backEnd.reset();
            return;
        }
        for (m_next = 0; m_next < warmUpFrames; ++m_next)
            processNext();
    }
    ~GpuOrbitReconstruction()
    {
        if (m_backEnd)
            m_backEnd->release();
    }

    SurfaceReconstructionGPU& backEnd() { return *m_backEnd; }
    const RgbdFrame& currentFrame() const { return m_frames[m_next]; }
    bool ready() const { return m_backEnd != nullptr; }

    /// Processes the next frame, walking the orbit forwards and backwards so
    /// that consecutive frames are always neighbours, and waits for the
    /// device. False when the frame could not be processed.
    bool processNext()
    {
        const RgbdFrame& frame = m_frames[m_next];
        const int result = m_backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true);
        finish();
        const int last = static_cast<int>(m_frames.size()) - 1;
        if (m_next == last || (m_next == warmUpFrames && m_step < 0))
            m_step = -m_step;
        m_next += m_step;
        return result >= 0;
    }

    static void finish() { clFinish(ClEnvironment::defaultEnvironment()->queue()->id()); }

    static GpuOrbitReconstruction& at(int resolution)
    {
        static std::map<int, std::unique_ptr<GpuOrbitReconstruction>> cache;
        std::unique_ptr<GpuOrbitReconstruction>& entry = cache[resolution];
        if (!entry)
            entry = std::make_unique<GpuOrbitReconstruction>(resolution);
        return *entry;
    }

private:
    static constexpr int warmUpFrames = 10;
    ReconstructionParameters m_params;
    std::unique_ptr<SurfaceReconstructionGPU> m_backEnd;
    std::vector<RgbdFrame> m_frames;
    int m_next = 0;
    int m_step = 1;
};

void BM_GpuProcessFrame(benchmark::State& state)
{
    GpuOrbitReconstruction& orbit = GpuOrbitReconstruction::at(static_cast<int>(state.range(0)));
    if (!orbit.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    for (auto _ : state)
        if (!orbit.processNext()) {
            state.SkipWithError("processFrame failed");
            break;
        }
}

template <typename Stage>
void runStage(benchmark::State& state, Stage stage)
{
    GpuOrbitReconstruction& orbit = GpuOrbitReconstruction::at(static_cast<int>(state.range(0)));
    if (!orbit.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    SurfaceReconstructionGPU& backEnd = orbit.backEnd();
    const RgbdFrame& frame = orbit.currentFrame();
    backEnd.preprocess(frame.depth.get(), frame.colour.get());
    backEnd.predictSurface();
    GpuOrbitReconstruction::finish();
    for (auto _ : state) {
        stage(backEnd, frame);
        GpuOrbitReconstruction::finish();
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
    GpuOrbitReconstruction& orbit = GpuOrbitReconstruction::at(static_cast<int>(state.range(0)));
    if (!orbit.ready()) {
        state.SkipWithError("no OpenCL back-end");
        return;
    }
    ClMarchingCubes cubes(ClEnvironment::defaultEnvironment());
    std::size_t vertices = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> mesh =
            cubes.computeMesh(orbit.backEnd().tsdfVolume, orbit.backEnd().colorVolume, 0.0f);
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
