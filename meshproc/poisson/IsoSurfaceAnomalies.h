#pragma once

#include <atomic>
#include <string>

namespace Veltrane {
namespace PoissonReconstruction {

/// Counts of the inconsistencies one iso-surface extraction met and worked
/// around. Each leaves a hole or a dent in the surface; a consistent tree
/// produces none. Safe to bump from parallel workers.
struct IsoSurfaceAnomalies {
    std::atomic<int> unindexedNodes{0};    ///< root search on a node outside the tables
    std::atomic<int> missingRoots{0};      ///< crossing found in neither child of an edge
    std::atomic<int> clampedRoots{0};      ///< vertex placed outside its edge, clamped
    std::atomic<int> badEdges{0};          ///< face segment dropped for a missing root
    std::atomic<int> missingVertices{0};   ///< segment end or polygon corner without a vertex
    std::atomic<int> openLoops{0};         ///< dangling segment end left unclosed

    int total() const;
    /// "name count" pairs of the non-zero counters, comma separated.
    std::string summary() const;
    /// One warning through the application logger when anything was counted.
    void log() const;
};

}  // namespace PoissonReconstruction
}  // namespace Veltrane
