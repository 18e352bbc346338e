// The mesh tools, render modes, undo and redo, saving and finishing.

#include "app/MainWindow.h"

#include "app/CleanMeshWidget.h"
#include "app/CropMeshWidget.h"
#include "app/DecimateMeshWidget.h"
#include "app/FileDialog.h"
#include "app/MessageBoxes.h"
#include "app/ProgressDialog.h"
#include "app/SmoothMeshWidget.h"
#include "app/TopWidgetStyle.h"
#include "ui_CleanMeshWidget.h"
#include "ui_CropMeshWidget.h"
#include "ui_DecimateMeshWidget.h"
#include "ui_MainWindow.h"
#include "ui_SmoothMeshWidget.h"

#include "core/Logging.h"
#include "core/Mesh.h"
#include "meshproc/BoxCrop.h"
#include "meshproc/ConnectedComponents.h"
#include "meshproc/MeshTransform.h"
#include "meshproc/TriMesh.h"
#include "meshproc/TriMeshFilters.h"
#include "reconstruction/SurfaceReconstruction.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"
#include "render/GlMeshView.h"

#include <QCoreApplication>
#include <QDir>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent>

#include <exception>

namespace Veltrane {

namespace {

/// The entries of the save dialog's file filter; the one picked chooses the
/// writer, whatever the file name's extension.
const QString plyFilter = QStringLiteral("Stanford polygon file format (*.ply)");
const QString objFilter = QStringLiteral("Alias Wavefront Object (*.obj)");
const QString stlFilter = QStringLiteral("STL file format (no color)(*.stl)");

/// Handle sets of the on-screen manipulator.
constexpr int noHandles = 0;
constexpr int translateHandles = 1;
constexpr int rotateHandles = 2;
constexpr int scaleHandles = 3;

/// `operation` applied to a half-edge copy of `source`, converted back: a new
/// mesh, or null when memory ran out.
Mesh* throughTriMesh(const Mesh& source, const std::function<void(TriMesh*)>& operation)
{
    const std::unique_ptr<TriMesh> tri(MeshProcessing::meshToTriMesh(source));
    if (!tri)
        return nullptr;
    operation(tri.get());
    return MeshProcessing::triMeshToMesh(*tri);
}

/// `operation` applied to a copy of `source`: the changed copy.
Mesh* throughCopy(const Mesh& source, const std::function<void(Mesh*)>& operation)
{
    auto copy = std::make_unique<Mesh>(source);
    operation(copy.get());
    return copy.release();
}

/// `area` as a share of the largest piece's area; 0 when even the largest
/// piece has no area.
float relativeArea(float area, float largest)
{
    return largest > 0.0f ? area / largest : 0.0f;
}

void deleteMeshes(std::deque<Mesh*>& meshes)
{
    for (Mesh* stored : meshes)
        delete stored;
    meshes.clear();
}

void closeToolPanel(QAbstractButton* button, QWidget* panel)
{
    const QSignalBlocker blocker(button);
    button->setChecked(false);
    panel->hide();
}

int faceCount(const Mesh& mesh)
{
    return static_cast<int>(mesh.faces().size());
}

Eigen::Vector3d toEigen(const GlVector& v)
{
    return {v[0], v[1], v[2]};
}

GlVector toGl(const Eigen::Vector3d& v)
{
    return {v.x(), v.y(), v.z()};
}

Eigen::Matrix4d toEigen(const GlMatrix& m)
{
    return Eigen::Map<const Eigen::Matrix4d>(m.data());
}

/// Keeps a widget and its children disabled for as long as it lives.
class DisabledScope {
public:
    explicit DisabledScope(QWidget* widget) : m_widget(widget) { m_widget->setEnabled(false); }
    ~DisabledScope() { m_widget->setEnabled(true); }
    DisabledScope(const DisabledScope&) = delete;
    DisabledScope& operator=(const DisabledScope&) = delete;

private:
    QWidget* m_widget;
};

}  // namespace

// ---------------------------------------------------------------- render modes

void MainWindow::onMeshTextured()
{
    setRenderMode(MeshRenderMode::Textured);
}

void MainWindow::onMeshSurface()
{
    setRenderMode(MeshRenderMode::Surface);
}

void MainWindow::onMeshSurfaceAndWireframe()
{
    setRenderMode(MeshRenderMode::SurfaceAndWireframe);
}

void MainWindow::onMeshWireframe()
{
    setRenderMode(MeshRenderMode::Wireframe);
}

void MainWindow::setRenderMode(int mode)
{
    if (!mesh || !meshGlView)
        return;
    meshGlView->mesh->renderMode = mode;
    repaintMeshView();
}

void MainWindow::showMesh(const Mesh* shown)
{
    if (!meshGlView)
        return;
    makeDisplayCurrent();
    meshGlView->mesh->mesh = shown;
    meshGlView->mesh->setMesh();
}

void MainWindow::repaintMeshView()
{
    ui->displayWidget->update();
}

// ---------------------------------------------------------------- opening and closing tools

void MainWindow::onMeshProcessingChange()
{
    auto* button = qobject_cast<QAbstractButton*>(sender());
    switchMeshTool(button && button->isChecked() ? button : nullptr);
    if (sender() == ui->toolButtonMeshFillHoles)
        fillHolesMesh();
}

void MainWindow::switchMeshTool(const QObject* opened)
{
    if (opened == ui->toolButtonMeshDecimate) {
        if (mesh)
            setDecimateRange(faceCount(*mesh));
    } else {
        closeToolPanel(ui->toolButtonMeshDecimate, ui->decimateMeshWidget);
    }

    if (opened != ui->toolButtonMeshSmooth)
        closeToolPanel(ui->toolButtonMeshSmooth, ui->smoothMeshWidget);

    if (opened == ui->toolButtonMeshClean) {
        refreshCleanPreview();
    } else {
        closeToolPanel(ui->toolButtonMeshClean, ui->cleanMeshWidget);
        if (cleanPreviewMesh) {
            showMesh(mesh);
            if (meshGlView)
                meshGlView->cleanPreview = false;
            delete cleanPreviewMesh;
            cleanPreviewMesh = nullptr;
        }
    }
    repaintMeshView();

    // A rotation that was not applied is dropped with the handles.
    if (opened != ui->toolButtonMeshAlign) {
        closeToolPanel(ui->toolButtonMeshAlign, ui->alignMeshWidget);
        if (alignManipulator) {
            removeMeshManipulator(alignManipulator, meshGlView->mesh.get());
            meshGlView->mesh->setMatrix(identityGlMatrix());
            repaintMeshView();
        }
    } else if (!alignManipulator && meshGlView) {
        alignManipulator = addMeshManipulator(meshGlView->mesh.get(), rotateHandles);
        repaintMeshView();
    }

    // The crop box starts around the whole mesh each time the tool opens.
    if (opened != ui->toolButtonMeshCrop) {
        closeToolPanel(ui->toolButtonMeshCrop, ui->cropMeshWidget);
        if (cropToolOpen()) {
            removeMeshManipulator(cropManipulator, cropBox);
            meshGlView->cropMode = false;
            repaintMeshView();
        }
    } else if (!cropManipulator && mesh && meshGlView) {
        meshGlView->setCropBox(toGl(mesh->boundingBoxCenter()), toGl(mesh->boundingBoxExtent()));
        cropBox = meshGlView->cropBox.get();
        meshGlView->cropMode = true;
        cropBox->setColor({1.0, 1.0, 1.0});
        cropBox->setMatrix(identityGlMatrix());
        cropManipulator = addMeshManipulator(cropBox, translateHandles);
        ui->cropMeshWidget->ui->translateButton->setChecked(true);
        repaintMeshView();
    }
}

bool MainWindow::cropToolOpen() const
{
    return cropBox && cropManipulator;
}

void MainWindow::onCropMeshTransformationChange(int mode)
{
    if (!cropManipulator)
        return;
    const bool known = mode == translateHandles || mode == rotateHandles || mode == scaleHandles;
    setMeshManipulatorHandles(cropManipulator, known ? mode : noHandles);
    repaintMeshView();
}

void MainWindow::setDecimateRange(int faces)
{
    Ui_DecimateMeshWidget& form = *ui->decimateMeshWidget->ui;
    form.spinBoxTriangles->setRange(1, faces);
    form.sliderTriangles->setRange(1, faces);
    form.sliderTriangles->setValue(faces);
    form.spinBoxTriangles->setValue(faces);
    // The value may have stayed while the maximum moved.
    ui->decimateMeshWidget->triangleCountChanged();
}

// ---------------------------------------------------------------- clean preview

void MainWindow::computeComponentAreas()
{
    if (!mesh)
        return;
    const Mesh& current = *mesh;
    std::vector<float> areas;
    Mesh* preview = runOnWorker(tr("Initializing ..."), [&current, &areas] {
        return throughTriMesh(current, [&areas](TriMesh* tri) {
            MeshProcessing::previewComponentAreas(tri, &areas);
        });
    });

    delete cleanPreviewMesh;
    cleanPreviewMesh = nullptr;
    if (!preview || areas.empty()) {
        delete preview;
        componentAreas.clear();
        largestComponentArea = 0.0f;
        showMesh(mesh);
        if (meshGlView)
            meshGlView->cleanPreview = false;
        return;
    }
    cleanPreviewMesh = preview;
    componentAreas = std::move(areas);
    largestComponentArea = componentAreas.back();
    showMesh(cleanPreviewMesh);
    if (meshGlView)
        meshGlView->cleanPreview = true;

    const int last = static_cast<int>(componentAreas.size()) - 1;
    Ui_CleanMeshWidget& form = *ui->cleanMeshWidget->ui;
    form.sliderMin->setMaximum(last);
    form.sliderMax->setMaximum(last);
    form.sliderMin->setValue(0);
    form.sliderMax->setValue(last);
}

void MainWindow::refreshCleanPreview()
{
    computeComponentAreas();
    showCleanBound(0, false);
    showCleanBound(static_cast<int>(componentAreas.size()) - 1, true);
}

void MainWindow::showCleanBound(int index, bool upper)
{
    if (index < 0 || index >= static_cast<int>(componentAreas.size()))
        return;
    const float area = componentAreas[static_cast<std::size_t>(index)];
    const float relative = relativeArea(area, largestComponentArea);
    if (upper) {
        ui->cleanMeshWidget->setMaxAreaLabel(area);
        if (meshGlView)
            meshGlView->maxConnected = relative;
    } else {
        ui->cleanMeshWidget->setMinAreaLabel(area);
        if (meshGlView)
            meshGlView->minConnected = relative;
    }
    repaintMeshView();
}

void MainWindow::onCleanMeshMinChanged(int minArea)
{
    showCleanBound(minArea, false);
}

void MainWindow::onCleanMeshMaxChanged(int maxArea)
{
    showCleanBound(maxArea, true);
}

// ---------------------------------------------------------------- running the tools

Mesh* MainWindow::runOnWorker(const QString& label, const std::function<Mesh*()>& operation)
{
    makeDisplayCurrent();
    QProgressDialog dialog(this, Qt::FramelessWindowHint);
    dialog.setLabelText(label);
    dialog.setWindowTitle(tr("Mesh"));
    dialog.setRange(0, 0);
    dialog.setCancelButton(nullptr);
    dialog.setSizeGripEnabled(false);
    applyTopWidgetStyle(dialog);
    dialog.setModal(true);
    dialog.show();

    const QFuture<Mesh*> future = QtConcurrent::run([&operation]() -> Mesh* {
        try {
            return operation();
        } catch (const std::exception& error) {
            VELTRANE_ERROR("Mesh operation failed: " << error.what());
            return nullptr;
        }
    });
    waitFor(future);
    dialog.close();
    return future.result();
}

bool MainWindow::replaceMesh(Mesh* result)
{
    if (!result || result->faces().empty()) {
        const bool failed = !result;
        delete result;
        showWarning(tr("Mesh"), failed ? tr("The mesh could not be processed. It was kept as it was.")
                                       : tr("Nothing of the mesh would be left. It was kept as it was."));
        return false;
    }
    if (mesh)
        undoStack.push_front(mesh);
    deleteMeshes(redoStack);
    mesh = result;
    meshSaved = false;
    showMesh(mesh);
    repaintMeshView();
    updateHistoryButtons();
    return true;
}

bool MainWindow::applyMeshTool(const std::function<Mesh*(const Mesh& current)>& tool)
{
    if (!mesh)
        return false;
    const Mesh& current = *mesh;
    return replaceMesh(runOnWorker(tr("Processing mesh ..."), [&tool, &current] { return tool(current); }));
}

void MainWindow::smoothMesh()
{
    const int iterations = ui->smoothMeshWidget->ui->spinBoxIterations->value();
    applyMeshTool([iterations](const Mesh& current) {
        return throughTriMesh(current, [iterations](TriMesh* tri) {
            MeshProcessing::smoothTriMesh(tri, iterations);
        });
    });
}

void MainWindow::decimateMesh()
{
    const int target = ui->decimateMeshWidget->ui->sliderTriangles->value();
    const bool replaced = applyMeshTool([target](const Mesh& current) {
        return throughTriMesh(current, [target](TriMesh* tri) {
            MeshProcessing::decimateTriMesh(tri, target);
        });
    });
    if (replaced)
        setDecimateRange(faceCount(*mesh));
}

void MainWindow::cleanMesh()
{
    const int iMin = ui->cleanMeshWidget->ui->sliderMin->value();
    const int iMax = ui->cleanMeshWidget->ui->sliderMax->value();
    const int count = static_cast<int>(componentAreas.size());
    if (iMin < 0 || iMin >= count || iMax < 0 || iMax >= count)
        return;
    const float minArea = componentAreas[static_cast<std::size_t>(iMin)];
    const float maxArea = componentAreas[static_cast<std::size_t>(iMax)];
    const bool replaced = applyMeshTool([minArea, maxArea](const Mesh& current) {
        return throughTriMesh(current, [minArea, maxArea](TriMesh* tri) {
            MeshProcessing::removeComponentsByArea(tri, minArea, maxArea);
        });
    });
    if (replaced)
        refreshCleanPreview();
}

void MainWindow::alignMesh()
{
    if (!meshGlView)
        return;
    const Eigen::Matrix4d rotation = toEigen(meshGlView->mesh->matrix());
    const bool replaced = applyMeshTool([&rotation](const Mesh& current) {
        return throughCopy(current, [&rotation](Mesh* copy) {
            MeshProcessing::transformMesh(copy, rotation);
        });
    });
    if (replaced) {
        // The mesh now holds the rotation: drawn as it was, with none.
        meshGlView->mesh->setMatrix(identityGlMatrix());
        repaintMeshView();
    }
}

void MainWindow::cropMesh()
{
    if (!cropToolOpen())
        return;
    const Eigen::Matrix4d pose = toEigen(cropBox->matrix());
    const Eigen::Vector3d centre = toEigen(cropBox->center());
    const Eigen::Vector3d size = toEigen(cropBox->extent());
    applyMeshTool([&](const Mesh& current) {
        return throughCopy(current, [&](Mesh* copy) {
            MeshProcessing::cropMeshToBox(copy, centre, size, pose);
        });
    });
}

// ---------------------------------------------------------------- undo, redo, reset

void MainWindow::updateHistoryButtons()
{
    ui->pushButtonMeshUndo->setEnabled(!undoStack.empty());
    ui->pushButtonMeshReset->setEnabled(!undoStack.empty());
    ui->pushButtonMeshRedo->setEnabled(!redoStack.empty());
}

void MainWindow::stepHistory(std::deque<Mesh*>& from, std::deque<Mesh*>& to)
{
    if (from.empty())
        return;
    closeMeshTools();
    Mesh* next = from.front();
    from.pop_front();
    if (mesh)
        to.push_front(mesh);
    mesh = next;
    meshSaved = false;
    showMesh(mesh);
    repaintMeshView();
    updateHistoryButtons();
}

void MainWindow::onMeshUndo()
{
    stepHistory(undoStack, redoStack);
}

void MainWindow::onMeshRedo()
{
    stepHistory(redoStack, undoStack);
}

void MainWindow::onMeshReset()
{
    if (undoStack.empty())
        return;
    closeMeshTools();
    Mesh* generated = undoStack.back();
    undoStack.pop_back();
    Mesh* replaced = mesh;
    mesh = generated;
    meshSaved = false;
    showMesh(mesh);
    delete replaced;
    repaintMeshView();
    deleteMeshHistory();
    updateHistoryButtons();
}

void MainWindow::deleteMeshHistory()
{
    deleteMeshes(undoStack);
    deleteMeshes(redoStack);
}

// ---------------------------------------------------------------- finishing

void MainWindow::onFinish()
{
    if (!offerToSaveMesh())
        return;
    closeMeshTools();
    deleteMeshHistory();
    showMesh(nullptr);
    delete mesh;
    mesh = nullptr;
    closeSequence();

    // A fresh back-end for the next scan.
    reconstructionCreation.waitForFinished();
    delete reconstruction;
    reconstruction = nullptr;
    try {
        createReconstruction();
    } catch (const std::exception&) {
        reportOpenClFailure();
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    onStartCapture();
}

bool MainWindow::offerToSaveMesh()
{
    if (!mesh || meshSaved)
        return true;
    if (askQuestion(tr("Save mesh"), tr("Do you want to save the mesh before exiting?"), tr("Yes"),
                    tr("No"))
        != QMessageBox::Yes)
        return true;
    onSaveMesh();
    if (meshSaved)
        return true;
    showInformation(tr("Save mesh"), tr("The mesh was not saved. It has been kept."));
    return false;
}

// ---------------------------------------------------------------- saving

void MainWindow::onSaveMesh()
{
    if (!mesh) {
        showInformation(tr("Save mesh"), tr("Cannot save empty mesh"));
        return;
    }
    QString selectedFilter;
    const QString fileName =
        chooseFileName("saveMesh", tr("Save mesh"), plyFilter + ";;" + objFilter + ";;" + stlFilter,
                       true, &selectedFilter, nullptr);
    if (fileName.isEmpty())
        return;
    if (writeMesh(fileName, selectedFilter)) {
        meshSaved = true;
        return;
    }
    VELTRANE_ERROR("Could not save the mesh to " << fileName.toStdString());
    MessageBoxes::showWarning(
        this, tr("Save mesh"),
        tr("The mesh could not be saved to %1.").arg(QDir::toNativeSeparators(fileName)),
        Qt::PlainText);
}

bool MainWindow::writeMesh(const QString& fileName, const QString& filter)
{
    const std::string path = toNativePath(fileName);
    if (filter == plyFilter)
        return mesh->savePly(path, true);
    if (filter == objFilter)
        return writeObjWithProgress(path);
    if (filter == stlFilter)
        return mesh->saveStl(path, true);
    return false;
}

bool MainWindow::writeObjWithProgress(const std::string& path)
{
    // The progress dialog processes events: nothing the user does meanwhile
    // may change or free the mesh being written.
    const BusyScope busy(*this);
    const DisabledScope controls(ui->pageVisualization);
    QCoreApplication::processEvents();

    auto* dialog = new QProgressDialog(nullptr, Qt::FramelessWindowHint);
    dialog->setLabelText(tr("Saving mesh..."));
    dialog->setWindowTitle(tr("Saving"));
    dialog->setSizeGripEnabled(false);
    applyTopWidgetStyle(*dialog);
    dialog->setCancelButton(nullptr);
    QCoreApplication::processEvents();

    ProgressDialog progress(dialog);
    return mesh->saveObj(path, true, &progress);
}

}  // namespace Veltrane
