// Marching cubes on a 256^3 distance volume of a sphere, alone and followed by
// the welding and normals that the application runs on its result.

#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/TypedImage.h"
#include "reconstruction/MarchingCubes.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

using namespace Veltrane;

const TypedImage<float>& sphereVolume()
{
    static const std::unique_ptr<TypedImage<float>> volume = [] {
        constexpr int n = 256;
        auto image = std::make_unique<TypedImage<float>>(PixelType::Float, n, n, n, 1);
        image->spacing = {2.0, 2.0, 2.0};
        const double c = 127.3;
        const double radius = 100.0;
        const double truncation = 4.0;
        float* v = image->typedData();
        for (int k = 0; k < n; ++k) {
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    const double d = std::sqrt((i - c) * (i - c) + (j - c) * (j - c) + (k - c) * (k - c)) - radius;
                    *v++ = static_cast<float>(std::clamp(d / truncation, -1.0, 1.0));
                }
            }
        }
        appLogger()->setLevel(log4cxx::Level::getWarn());
        return image;
    }();
    return *volume;
}

void reportTriangles(benchmark::State& state, std::size_t triangles)
{
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["triangles/s"] = benchmark::Counter(static_cast<double>(triangles) * state.iterations(),
                                                       benchmark::Counter::kIsRate);
}

void BM_MarchingCubesSphere256(benchmark::State& state)
{
    const TypedImage<float>& volume = sphereVolume();
    std::size_t triangles = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> mesh = marchingCubes(volume, nullptr, 0.0f);
        triangles = mesh->faces().size();
        benchmark::DoNotOptimize(mesh.get());
    }
    reportTriangles(state, triangles);
}
BENCHMARK(BM_MarchingCubesSphere256)->Unit(benchmark::kMillisecond);

void BM_MarchingCubesSphere256WeldAndNormals(benchmark::State& state)
{
    const TypedImage<float>& volume = sphereVolume();
    std::size_t triangles = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> mesh = marchingCubes(volume, nullptr, 0.0f);
        mesh->removeDuplicateVertices();
        mesh->computeNormals();
        triangles = mesh->faces().size();
        benchmark::DoNotOptimize(mesh.get());
    }
    reportTriangles(state, triangles);
}
BENCHMARK(BM_MarchingCubesSphere256WeldAndNormals)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
