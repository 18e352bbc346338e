// Hole filling of a fused scan: the sample sequence (build/samples) fused by
// the CPU back-end at 256^3 voxels in the volume the application starts with
// (a 1 m cube 1 m in front of the first camera), extracted by marching cubes
// with merged vertices and normals, then filled as the fill-holes tool does.
// Reports the time of one fill, the sizes of the meshes, and the peak memory
// of the process during the fill (the fused volumes are freed before).
#include "app/HoleFilling.h"
#include "bench/PeakMemory.h"
#include "capture/KorvastelFilePlugin.h"
#include "capture/VeltraneFile.h"
#include "core/Mesh.h"
#include "reconstruction/MarchingCubes.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace Veltrane;
using Veltrane::Bench::resetPeakMemory;
using Veltrane::Bench::statusMiB;

namespace {

constexpr int resolution = 256;

struct FusedScan {
    std::unique_ptr<Mesh> mesh;
    int frames = 0;
    int lostFrames = 0;
};

/// Fuses every frame of the sample sequence; no mesh when the sequence
/// cannot be read or the back-end fails.
FusedScan fuseSampleSequence()
{
    FusedScan scan;
    VeltraneFile file(KORVASTEL_SAMPLE_SEQUENCE);
    KorvastelFilePlugin plugin;
    int width = 0, height = 0;
    Eigen::Matrix3d matrix;
    if (!file.open(VeltraneFile::ReadMode) || !file.beginReadBlock(0, &plugin)
        || !plugin.readHeader(&width, &height, &matrix, &scan.frames))
        return scan;

    ReconstructionParameters parameters;
    parameters.setVolumeResolution({resolution, resolution, resolution});
    parameters.setVolumeSize({1000.0, 1000.0, 1000.0});
    parameters.setVolumePose({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 1000, 1});
    parameters.setIntrinsics({531, 0, 0, 0, 531, 0, 320, 240, 1});
    SurfaceReconstructionCPU backEnd;
    if (!backEnd.init(&parameters))
        return scan;
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, width, height, 1, 1);
    TypedImage<unsigned char> colour(PixelType::UnsignedByte, width, height, 1, 3);
    for (int i = 0; i < scan.frames; ++i) {
        if (!plugin.readFrame(i, &depth, &colour))
            return scan;
        const int result = backEnd.processFrame(&depth, &colour, nullptr, nullptr, true);
        if (result < 0)
            return scan;
        scan.lostFrames += result == 1;
    }
    scan.mesh = marchingCubes(*backEnd.tsdfVolume, backEnd.colorVolume, 0.0f);
    backEnd.release();
    if (scan.mesh) {
        scan.mesh->removeDuplicateVertices();
        scan.mesh->computeNormals();
    }
    return scan;
}

}  // namespace

static void fillHolesOfFusedScan(benchmark::State& state)
{
    static const FusedScan scan = fuseSampleSequence();
    if (!scan.mesh) {
        state.SkipWithError("the sample sequence could not be fused");
        return;
    }
    const double before = statusMiB("VmRSS");
    resetPeakMemory();
    std::size_t filledFaces = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> filled = fillHoles(*scan.mesh, {resolution, resolution, resolution});
        filledFaces = filled ? filled->faces().size() : 0;
        benchmark::DoNotOptimize(filled.get());
    }
    state.counters["frames"] = scan.frames;
    state.counters["lostFrames"] = scan.lostFrames;
    state.counters["scanVertices"] = double(scan.mesh->vertices().size());
    state.counters["filledFaces"] = double(filledFaces);
    state.counters["memoryBeforeMiB"] = before;
    state.counters["peakMemoryMiB"] = statusMiB("VmHWM");
}
BENCHMARK(fillHolesOfFusedScan)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
