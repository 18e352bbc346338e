// Screened Poisson reconstruction of ~400k oriented points at the depths the
// hole filling uses: time per run and the process's peak memory.
#include "meshproc/poisson/PoissonReconstruction.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <random>

using namespace Veltrane;
using namespace Veltrane::PoissonReconstruction;

namespace {

struct OrientedPoints {
    std::vector<Mesh::Vector> positions;
    std::vector<Mesh::Vector> normals;
};

// Random points on a sphere (radius 40 mm at the origin) and on a torus
// (radii 40 and 12 mm around (100, 0, 0), axis z), with outward normals.
OrientedPoints sphereAndTorus(int countEach)
{
    OrientedPoints points;
    std::mt19937 random(11);
    std::normal_distribution<double> gauss;
    std::uniform_real_distribution<double> angle(0, 2 * M_PI);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < countEach; ++i) {
        Mesh::Vector n(gauss(random), gauss(random), gauss(random));
        n.normalize();
        points.positions.push_back(40 * n);
        points.normals.push_back(n);
    }
    const double R = 40, r = 12;
    for (int i = 0; i < countEach;) {
        const double u = angle(random), v = angle(random);
        // Uniform on the surface: accept by the local area factor.
        if (unit(random) > (R + r * std::cos(v)) / (R + r))
            continue;
        const Mesh::Vector n(std::cos(v) * std::cos(u), std::cos(v) * std::sin(u), std::sin(v));
        const Mesh::Vector ring(std::cos(u), std::sin(u), 0);
        points.positions.push_back(Mesh::Vector(100, 0, 0) + R * ring + r * n);
        points.normals.push_back(n);
        ++i;
    }
    return points;
}

const OrientedPoints& benchmarkPoints()
{
    static const OrientedPoints points = sphereAndTorus(200000);
    return points;
}

}  // namespace

static void poissonReconstruction(benchmark::State& state)
{
    const OrientedPoints& points = benchmarkPoints();
    Parameters parameters;
    parameters.depth = int(state.range(0));
    parameters.boundary = -1;
    size_t faces = 0;
    for (auto _ : state) {
        const std::unique_ptr<Mesh> mesh = reconstruct(points.positions, points.normals, parameters);
        faces = mesh ? mesh->faces().size() : 0;
        benchmark::DoNotOptimize(mesh.get());
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["faces"] = double(faces);
    state.counters["threads"] = parameters.threads;
    state.counters["peakMemoryMB"] = double(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(poissonReconstruction)->Arg(8)->Arg(9)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
