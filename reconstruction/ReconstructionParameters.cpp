#include "reconstruction/ReconstructionParameters.h"

#include <algorithm>

namespace Veltrane {

ReconstructionParameters::ReconstructionParameters()
{
    (*this)();
}

void ReconstructionParameters::setVolumeResolution(const std::array<int, 3>& resolution)
{
    if (locked || std::any_of(resolution.begin(), resolution.end(), [](int n) { return n < 1; }))
        return;
    if (resolution == volumeResolution)
        return;
    volumeResolution = resolution;
    (*this)();
}

void ReconstructionParameters::setVolumeSize(const std::array<double, 3>& size)
{
    if (locked || std::any_of(size.begin(), size.end(), [](double s) { return !(s > 0.0); }))
        return;
    if (size == volumeSize)
        return;
    volumeSize = size;
    (*this)();
}

void ReconstructionParameters::setVolumePose(const std::array<double, 16>& pose)
{
    if (locked || pose == m_volumePose)
        return;
    m_volumePose = pose;
    (*this)();
}

void ReconstructionParameters::setColorVolume(bool enabled)
{
    if (locked || enabled == colorVolume)
        return;
    colorVolume = enabled;
    (*this)();
}

void ReconstructionParameters::setShowSceneColor(bool show)
{
    if (showSceneColor.exchange(show) == show)
        return;
    (*this)();
}

void ReconstructionParameters::setIntrinsics(const std::array<double, 9>& intrinsics)
{
    m_intrinsics = intrinsics;
    (*this)();
}

void ReconstructionParameters::setLocked(bool lock)
{
    if (locked.exchange(lock) == lock)
        return;
    (*this)();
}

}  // namespace Veltrane
