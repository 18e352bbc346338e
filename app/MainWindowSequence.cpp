// Recording and playing sequences, and hole filling. Slots whose work is
// still to come only log that.

#include "app/MainWindow.h"

#include "core/Logging.h"

namespace Veltrane {

void MainWindow::onRecordSequence()
{
    VELTRANE_INFO("Not available yet: recording a sequence");
}

void MainWindow::onLoadSequence()
{
    VELTRANE_INFO("Not available yet: loading a sequence");
}

void MainWindow::onFinishedPlayback()
{
}

void MainWindow::stopRecording()
{
}

void MainWindow::closeSequence()
{
}

void MainWindow::fillHolesMesh()
{
    VELTRANE_INFO("Not available yet: filling holes");
}

}  // namespace Veltrane
