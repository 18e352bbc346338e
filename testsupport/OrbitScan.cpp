#include "testsupport/OrbitScan.h"

#include "reconstruction/SurfaceReconstruction.h"
#include "testsupport/FusionSetup.h"
#include "testsupport/Trajectory.h"

namespace Veltrane::TestSupport {

OrbitScan::OrbitScan(SurfaceReconstruction* backEnd, int resolution, std::function<void()> afterFrame)
    : m_backEnd(backEnd), m_afterFrame(std::move(afterFrame))
{
    if (!m_backEnd)
        return;
    const PinholeCamera camera;
    const SyntheticCamera sensor(SyntheticScene::tabletop(), camera);
    m_frames = sensor.renderAll(tabletopOrbit(orbitFrames).poses());
    placeVolumeAroundScene(m_params, camera, m_frames.front().pose, resolution);
    if (!m_backEnd->init(&m_params)) {
        m_backEnd = nullptr;
        return;
    }
    while (m_next < warmUpFrames)
        processNext();
}

OrbitScan::~OrbitScan()
{
    if (m_backEnd)
        m_backEnd->release();
}

bool OrbitScan::processNext()
{
    const RgbdFrame& frame = m_frames[m_next];
    const int result = m_backEnd->processFrame(frame.depth.get(), frame.colour.get(), nullptr, nullptr, true);
    if (m_afterFrame)
        m_afterFrame();
    const int last = static_cast<int>(m_frames.size()) - 1;
    if (m_next == last || (m_next == warmUpFrames && m_step < 0))
        m_step = -m_step;
    m_next += m_step;
    return result >= 0;
}

}  // namespace Veltrane::TestSupport
