// The scan: volume settings, reconstruction control, the worker, the refresh
// and mesh generation. Slots whose work is still to come only log that.

#include "app/MainWindow.h"

#include "capture/RGBDSensor.h"
#include "core/Logging.h"

#include <boost/thread/thread.hpp>

namespace Veltrane {

void MainWindow::onStartReconstruction()
{
    VELTRANE_INFO("Not available yet: starting a reconstruction");
}

void MainWindow::onStopReconstruction()
{
    VELTRANE_INFO("Not available yet: finishing a reconstruction");
}

void MainWindow::onCancelReconstruction()
{
    VELTRANE_INFO("Not available yet: cancelling a reconstruction");
}

void MainWindow::onResetReconstruction()
{
    VELTRANE_INFO("Not available yet: resetting the volume");
}

void MainWindow::startDelayedReconstruction()
{
    VELTRANE_INFO("Not available yet: starting a reconstruction after the count-down");
}

void MainWindow::stopTimedReconstruction()
{
    VELTRANE_INFO("Not available yet: the timed stop");
}

void MainWindow::delayedReconstructionCanceled()
{
    countDownCanceled = true;
}

void MainWindow::onVolumeTypeChanged()
{
    VELTRANE_INFO("Not available yet: the volume type");
}

void MainWindow::onVolumeResolutionChanged()
{
    VELTRANE_INFO("Not available yet: the volume resolution");
}

void MainWindow::onVolumeSizeChanged()
{
    VELTRANE_INFO("Not available yet: the volume size");
}

void MainWindow::onVolumePositionChanged()
{
    VELTRANE_INFO("Not available yet: the volume position");
}

void MainWindow::onVolumePositionReset()
{
    VELTRANE_INFO("Not available yet: resetting the volume position");
}

void MainWindow::onVolumeRotate()
{
    VELTRANE_INFO("Not available yet: rotating the volume");
}

void MainWindow::onVolumeTranslate()
{
    VELTRANE_INFO("Not available yet: moving the volume");
}

void MainWindow::onShowVolumePositionTab(bool)
{
}

void MainWindow::updateVolumeVisualization()
{
}

void MainWindow::onAutoWhiteBalanceToggled(bool value)
{
    if (sensor)
        sensor->setAutoWhiteBalance(value);
}

void MainWindow::onAutoExposureToggled(bool value)
{
    if (sensor)
        sensor->setAutoExposure(value);
}

void MainWindow::onShowSceneColor(bool)
{
    VELTRANE_INFO("Not available yet: the scene colour");
}

void MainWindow::onDepthCutoffToggled(bool v)
{
    depthCutoffEnabled = v;
}

void MainWindow::onDepthCutoffChanged(int v)
{
    depthCutoffMm = v * 10;
}

void MainWindow::reconstructionThread()
{
    while (workerRunning) {
        if (!takeFrame())
            boost::this_thread::sleep_for(boost::chrono::milliseconds(5));
    }
}

void MainWindow::updateGUI()
{
    refreshViews();
}

}  // namespace Veltrane
