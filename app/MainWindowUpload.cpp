// The model upload and the about box. Slots whose work is still to come only
// log that.

#include "app/MainWindow.h"

#include "core/Logging.h"

namespace Veltrane {

void MainWindow::onExportToSketchFab()
{
    VELTRANE_INFO("Not available yet: the model upload");
}

void MainWindow::onAbout()
{
    VELTRANE_INFO("Not available yet: the about box");
}

}  // namespace Veltrane
