#pragma once

#include "reconstruction/ReconstructionParameters.h"
#include "testsupport/SyntheticCamera.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace Veltrane {
class SurfaceReconstruction;
}

namespace Veltrane::TestSupport {

/// A fusion back-end scanning the tabletop scene from an orbit of 640 x 480
/// frames with colour: the state in which the fusion benchmarks time whole
/// frames and single stages. The back-end has fused the first frames of the
/// orbit when the scan is made, and goes on with the rest of it frame by
/// frame, forwards and backwards, so that consecutive frames are always
/// neighbours.
class OrbitScan {
public:
    /// Initialises `backEnd` for a `resolution`^3 volume around the scene and
    /// fuses the first frames. A null `backEnd`, or one that cannot be
    /// initialised, leaves the scan not ready. `afterFrame` runs after every
    /// processed frame (for instance to wait for a device).
    OrbitScan(SurfaceReconstruction* backEnd, int resolution, std::function<void()> afterFrame = {});
    /// Releases the back-end.
    ~OrbitScan();
    OrbitScan(const OrbitScan&) = delete;
    OrbitScan& operator=(const OrbitScan&) = delete;

    bool ready() const { return m_backEnd != nullptr; }
    /// The frame that processNext() takes next.
    const RgbdFrame& currentFrame() const { return m_frames[m_next]; }
    /// Processes the next frame; false when the back-end refused it.
    bool processNext();

private:
    static constexpr int warmUpFrames = 10;
    static constexpr int orbitFrames = 40;

    ReconstructionParameters m_params;
    SurfaceReconstruction* m_backEnd;
    std::function<void()> m_afterFrame;
    std::vector<RgbdFrame> m_frames;
    int m_next = 0;
    int m_step = 1;
};

/// The one `Scan` of each volume resolution, made by `Scan(resolution)` when
/// it is first asked for and kept to the end of the program.
template <typename Scan>
Scan& scanAt(int resolution)
{
    static std::map<int, std::unique_ptr<Scan>> scans;
    std::unique_ptr<Scan>& scan = scans[resolution];
    if (!scan)
        scan = std::make_unique<Scan>(resolution);
    return *scan;
}

}  // namespace Veltrane::TestSupport
