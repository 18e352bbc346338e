// Writing a coloured mesh of about a million triangles as binary PLY: into a
// stream that only counts the bytes (the writer's own cost) and into a file.

#include "core/Mesh.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>
#include <unistd.h>

namespace {

using namespace Veltrane;

/// A height field of 708 x 708 vertices: 1,000,000 triangles (and some).
const Mesh& millionTriangles()
{
    static const Mesh mesh = [] {
        constexpr int n = 708;
        Mesh m;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                m.vertices().emplace_back(i * 0.5, j * 0.5, 0.1 * ((i * 7 + j * 3) % 11));
                m.colors().emplace_back(i / double(n), j / double(n), 0.5);
            }
        }
        for (int j = 0; j + 1 < n; ++j) {
            for (int i = 0; i + 1 < n; ++i) {
                const int v = i + n * j;
                m.faces().emplace_back(v, v + 1, v + n);
                m.faces().emplace_back(v + 1, v + n + 1, v + n);
            }
        }
        m.colorIndices() = m.faces();
        return m;
    }();
    return mesh;
}

class CountingBuffer : public std::streambuf {
public:
    std::size_t bytes = 0;

protected:
    int_type overflow(int_type c) override
    {
        ++bytes;
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char*, std::streamsize n) override
    {
        bytes += static_cast<std::size_t>(n);
        return n;
    }
};

void report(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
    state.counters["triangles"] = static_cast<double>(millionTriangles().faces().size());
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

void BM_WritePlyMillionTriangles(benchmark::State& state)
{
    const Mesh& mesh = millionTriangles();
    std::size_t bytes = 0;
    for (auto _ : state) {
        CountingBuffer buffer;
        std::ostream out(&buffer);
        if (!mesh.writePly(out, true, false)) {
            state.SkipWithError("writePly failed");
        }
        bytes = buffer.bytes;
    }
    report(state, bytes);
}
BENCHMARK(BM_WritePlyMillionTriangles)->Unit(benchmark::kMillisecond);

void BM_SavePlyMillionTrianglesToFile(benchmark::State& state)
{
    const Mesh& mesh = millionTriangles();
    const std::string path = "/tmp/korvastel-bench-" + std::to_string(::getpid()) + ".ply";
    std::size_t bytes = 0;
    for (auto _ : state) {
        if (!mesh.savePly(path, true)) {
            state.SkipWithError("savePly failed");
            break;
        }
        state.PauseTiming();
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        bytes = static_cast<std::size_t>(std::ftell(f));
        std::fclose(f);
        state.ResumeTiming();
    }
    std::remove(path.c_str());
    report(state, bytes);
}
BENCHMARK(BM_SavePlyMillionTrianglesToFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
