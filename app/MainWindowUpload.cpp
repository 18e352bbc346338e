// The model upload and the about box.

#include "app/MainWindow.h"

#include "app/AboutDialog.h"
#include "app/SketchFabDialog.h"

namespace Veltrane {

void MainWindow::onExportToSketchFab()
{
    SketchFabDialog dialog(mesh, this, Qt::FramelessWindowHint);
    dialog.exec();
}

void MainWindow::onAbout()
{
    AboutDialog dialog(this);
    dialog.exec();
}

}  // namespace Veltrane
