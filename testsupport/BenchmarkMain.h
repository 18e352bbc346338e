#pragma once

#include "platform/OpenMpWaitPolicy.h"

#include <benchmark/benchmark.h>

namespace Veltrane::TestSupport {

/// The main() of a benchmark of code with OpenMP loops: chooses the OpenMP
/// wait policy as the application does, reports it in the benchmark context
/// and runs the benchmarks that the arguments select.
inline int runBenchmarks(int argc, char** argv)
{
    chooseOpenMpWaitPolicy(argv);
    benchmark::AddCustomContext("OpenMP wait policy", openMpWaitPolicy());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace Veltrane::TestSupport
