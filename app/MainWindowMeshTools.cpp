// The mesh tools, render modes, undo and redo, saving and finishing. Slots
// whose work is still to come only log that.

#include "app/MainWindow.h"

#include "core/Logging.h"

namespace Veltrane {

void MainWindow::onFinish()
{
    VELTRANE_INFO("Not available yet: leaving the mesh");
}

void MainWindow::onMeshTextured()
{
}

void MainWindow::onMeshSurface()
{
}

void MainWindow::onMeshSurfaceAndWireframe()
{
}

void MainWindow::onMeshWireframe()
{
}

void MainWindow::onMeshProcessingChange()
{
}

void MainWindow::onCropMeshTransformationChange(int)
{
}

void MainWindow::onCleanMeshMinChanged(int)
{
}

void MainWindow::onCleanMeshMaxChanged(int)
{
}

void MainWindow::smoothMesh()
{
    VELTRANE_INFO("Not available yet: smoothing");
}

void MainWindow::decimateMesh()
{
    VELTRANE_INFO("Not available yet: decimation");
}

void MainWindow::cleanMesh()
{
    VELTRANE_INFO("Not available yet: cleaning");
}

void MainWindow::alignMesh()
{
    VELTRANE_INFO("Not available yet: aligning");
}

void MainWindow::cropMesh()
{
    VELTRANE_INFO("Not available yet: cropping");
}

void MainWindow::onMeshUndo()
{
    VELTRANE_INFO("Not available yet: undo");
}

void MainWindow::onMeshRedo()
{
    VELTRANE_INFO("Not available yet: redo");
}

void MainWindow::onMeshReset()
{
    VELTRANE_INFO("Not available yet: reset");
}

void MainWindow::onSaveMesh()
{
    VELTRANE_INFO("Not available yet: saving the mesh");
}

}  // namespace Veltrane
