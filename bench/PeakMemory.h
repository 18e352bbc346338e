// The process's memory figures for benchmarks that report a peak per run.
#pragma once

#include <fstream>
#include <string>

namespace Veltrane::Bench {

/// A figure of /proc/self/status in MiB ("VmHWM", "VmRSS"), -1 when absent.
inline double statusMiB(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    while (status >> name) {
        double kib = 0;
        if (name == field + ":" && status >> kib)
            return kib / 1024.0;
        status.ignore(1 << 12, '\n');
    }
    return -1.0;
}

/// Starts measuring the peak memory ("VmHWM") afresh from what is in use now.
inline void resetPeakMemory()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace Veltrane::Bench
