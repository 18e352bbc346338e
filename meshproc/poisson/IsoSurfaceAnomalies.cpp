#include "meshproc/poisson/IsoSurfaceAnomalies.h"

#include "core/Logging.h"

#include <sstream>

namespace Veltrane {
namespace PoissonReconstruction {

int IsoSurfaceAnomalies::total() const
{
    return unindexedNodes + missingRoots + clampedRoots + badEdges + missingVertices + openLoops;
}

std::string IsoSurfaceAnomalies::summary() const
{
    std::ostringstream text;
    const char* separator = "";
    auto add = [&](const char* name, int count) {
        if (count == 0)
            return;
        text << separator << name << " " << count;
        separator = ", ";
    };
    add("unindexed nodes", unindexedNodes);
    add("edges without root", missingRoots);
    add("clamped vertices", clampedRoots);
    add("bad edges", badEdges);
    add("missing vertices", missingVertices);
    add("open loops", openLoops);
    return text.str();
}

void IsoSurfaceAnomalies::log() const
{
    if (total() > 0)
        VELTRANE_WARN("Poisson surface extraction left gaps: " << summary());
}

}  // namespace PoissonReconstruction
}  // namespace Veltrane
