#include "app/FrameRateMeter.h"

namespace Veltrane {

bool FrameRateMeter::countFrame()
{
    if (m_restartRequested.exchange(false)) {
        m_sinceLastFrame.reset();
        m_rate = -1.0;
    }

    bool updated = false;
    ++m_frames;
    if (m_sinceLastFrame.isRunning()) {
        m_sinceLastFrame.stop();
        m_time += m_sinceLastFrame.elapsed(false);
        if (m_time > m_interval) {
            const double latest = m_frames * 1000.0 / m_time;
            m_rate = m_rate < 0.0 ? latest : 0.6 * m_rate + 0.4 * latest;
            m_time = 0.0;
            m_frames = 0;
            updated = true;
        }
    }
    m_sinceLastFrame.start();
    return updated;
}

QString frameRateText(double rate)
{
    return QString("%1 fps").arg(rate, 0, 'f', 1);
}

}  // namespace Veltrane
