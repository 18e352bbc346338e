// The mesh tools on meshes of about a million faces: decimation to a tenth,
// 30 smoothing iterations, labelling of connected pieces with 10,000 small
// noise pieces, and cropping by a turned box.

#include "core/Mesh.h"
#include "meshproc/BoxCrop.h"
#include "meshproc/ConnectedComponents.h"
#include "meshproc/TriMesh.h"
#include "meshproc/TriMeshFilters.h"

#include <Eigen/Geometry>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace Veltrane;
using namespace Veltrane::MeshProcessing;
using V = Mesh::Vector;
using T = Mesh::Triple;

/// A closed, bumpy, coloured torus of 2 * nu * nv faces (radii 100 and 30 mm).
Mesh torus(int nu, int nv)
{
    Mesh m;
    m.vertices().reserve(static_cast<std::size_t>(nu) * static_cast<std::size_t>(nv));
    for (int i = 0; i < nu; ++i) {
        const double u = 2.0 * M_PI * i / nu;
        for (int j = 0; j < nv; ++j) {
            const double v = 2.0 * M_PI * j / nv;
            const double r = 30.0 + 0.5 * std::sin(7 * u) * std::sin(11 * v);
            m.vertices().emplace_back((100.0 + r * std::cos(v)) * std::cos(u), (100.0 + r * std::cos(v)) * std::sin(u),
                                      r * std::sin(v));
            m.colors().emplace_back(0.5 + 0.5 * std::cos(u), 0.5 + 0.5 * std::sin(v), 0.5);
        }
    }
    m.faces().reserve(2 * m.vertices().size());
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nv; ++j) {
            const int a = i * nv + j;
            const int b = ((i + 1) % nu) * nv + j;
            const int c = ((i + 1) % nu) * nv + (j + 1) % nv;
            const int d = i * nv + (j + 1) % nv;
            m.faces().emplace_back(a, b, c);
            m.faces().emplace_back(a, c, d);
        }
    }
    m.colorIndices() = m.faces();
    m.computeNormals();
    m.computeBoundingBox();
    return m;
}

const Mesh& millionFaces()
{
    static const Mesh mesh = torus(1000, 500);
    return mesh;
}

/// `count` small tetrahedra scattered around the torus, listed before its
/// faces so that every label they take exists while the torus is labelled.
Mesh withNoisePieces(const Mesh& surface, int count)
{
    Mesh m;
    for (int k = 0; k < count; ++k) {
        const V p(-150.0 + 300.0 * (k % 100) / 100.0, -150.0 + 300.0 * (k / 100) / 100.0, 60.0);
        const auto first = static_cast<int>(m.vertices().size());
        for (const V& offset : {V(0, 0, 0), V(1, 0, 0), V(0, 1, 0), V(0, 0, 1)}) {
            m.vertices().push_back(p + offset);
        }
        m.faces().emplace_back(first, first + 2, first + 1);
        m.faces().emplace_back(first, first + 1, first + 3);
        m.faces().emplace_back(first + 1, first + 2, first + 3);
        m.faces().emplace_back(first, first + 3, first + 2);
    }
    const auto offset = static_cast<int>(m.vertices().size());
    m.vertices().insert(m.vertices().end(), surface.vertices().begin(), surface.vertices().end());
    for (const T& f : surface.faces()) {
        m.faces().push_back(f + T::Constant(offset));
    }
    return m;
}

void reportFaces(benchmark::State& state, std::size_t before, std::size_t after)
{
    state.counters["faces in"] = static_cast<double>(before);
    state.counters["faces out"] = static_cast<double>(after);
}

void BM_ConvertMillionFacesToHalfEdgeAndBack(benchmark::State& state)
{
    const Mesh& mesh = millionFaces();
    for (auto _ : state) {
        std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
        std::unique_ptr<Mesh> back(triMeshToMesh(*tri));
        benchmark::DoNotOptimize(back.get());
    }
    reportFaces(state, mesh.faces().size(), mesh.faces().size());
}
BENCHMARK(BM_ConvertMillionFacesToHalfEdgeAndBack)->Unit(benchmark::kMillisecond);

void BM_DecimateMillionFacesToATenth(benchmark::State& state)
{
    const Mesh& mesh = millionFaces();
    std::size_t after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
        state.ResumeTiming();
        decimateTriMesh(tri.get(), static_cast<int>(mesh.faces().size() / 10));
        after = tri->n_faces();
    }
    reportFaces(state, mesh.faces().size(), after);
}
BENCHMARK(BM_DecimateMillionFacesToATenth)->Unit(benchmark::kMillisecond);

void BM_SmoothMillionFaces30Iterations(benchmark::State& state)
{
    const Mesh& mesh = millionFaces();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
        state.ResumeTiming();
        smoothTriMesh(tri.get(), 30);
    }
    reportFaces(state, mesh.faces().size(), mesh.faces().size());
}
BENCHMARK(BM_SmoothMillionFaces30Iterations)->Unit(benchmark::kMillisecond);

/// Labelling a torus of state.range(0) faces behind 10,000 noise pieces; the
/// time must grow about linearly with the face count.
void BM_LabelPiecesWithTenThousandNoisePieces(benchmark::State& state)
{
    const int nv = 250;
    const auto nu = static_cast<int>(state.range(0) / (2 * nv));
    const Mesh mesh = withNoisePieces(torus(nu, nv), 10000);
    std::unique_ptr<TriMesh> tri(meshToTriMesh(mesh));
    std::vector<int> labelMap;
    std::vector<int> faceCounts;
    std::vector<float> areas;
    for (auto _ : state) {
        state.PauseTiming();
        tri.reset(meshToTriMesh(mesh));  // each labelling leaves a property behind
        state.ResumeTiming();
        labelConnectedComponents(*tri, labelMap, faceCounts, areas);
    }
    state.SetComplexityN(static_cast<benchmark::IterationCount>(mesh.faces().size()));
    state.counters["faces"] = static_cast<double>(mesh.faces().size());
    state.counters["labels"] = static_cast<double>(labelMap.size());
}
BENCHMARK(BM_LabelPiecesWithTenThousandNoisePieces)
    ->RangeMultiplier(4)
    ->Range(1 << 16, 1 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMillisecond);

void BM_CropMillionFacesByTurnedBox(benchmark::State& state)
{
    const Mesh& mesh = millionFaces();
    // Half the torus, the box turned so that its faces cut triangles at all angles.
    const Eigen::Matrix4d pose = (Eigen::Translation3d(60, 0, 0) * Eigen::AngleAxisd(0.4, V(1, 2, 3).normalized())).matrix();
    std::size_t after = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Mesh copy(mesh);
        state.ResumeTiming();
        cropMeshToBox(&copy, V(0, 0, 0), V(150, 300, 120), pose);
        after = copy.faces().size();
    }
    reportFaces(state, mesh.faces().size(), after);
}
BENCHMARK(BM_CropMillionFacesByTurnedBox)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
