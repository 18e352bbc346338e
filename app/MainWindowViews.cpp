// Views set-up, user-interface modes and the layout of the views.

#include "app/MainWindow.h"

#include "app/CleanMeshWidget.h"
#include "app/CropMeshWidget.h"
#include "app/DecimateMeshWidget.h"
#include "app/SmoothMeshWidget.h"
#include "app/ViewLayout.h"
#include "ui_MainWindow.h"

#include "capture/RGBDSensor.h"
#include "core/Logging.h"
#include "core/MemImage.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "core/Stopwatch.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/DisplayWidget.h"
#include "render/FancyMeshManipulator.h"
#include "render/GlBoundingBox.h"
#include "render/GlMeshView.h"
#include "render/GlPointCloudView.h"
#include "render/GlProgram.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/ImageView2D.h"
#include "render/Interaction3D.h"
#include "render/InteractionDepthMap.h"
#include "render/ViewLayout.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMutexLocker>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>

namespace Veltrane {

namespace {

/// Background of the image and point-cloud views: a mid grey.
constexpr unsigned char viewGrey = 74;
const QColor viewBackground(viewGrey, viewGrey, viewGrey);
/// What shows between the views.
const QColor displayBackground(153, 153, 153);

/// Depths the depth view shows from black to white, millimetres from the
/// camera, and the depth of one unit of the depth texture.
constexpr double depthWindowMm = 4000.0;
constexpr double depthUnitMm = 65535.0;

/// Where the 3-D views' cameras start: six metres back from the origin.
constexpr double cameraStartDistance = -6000.0;

QRectF toQRectF(const RelativeRect& place)
{
    return {place.x, place.y, place.width, place.height};
}

/// A view of a live image at `place`, flipped to show the camera's rows top
/// down, steered by `interaction`.
ImageView2D* newImageView(Interaction* interaction, const RelativeRect& place)
{
    auto* view = new ImageView2D(-1);
    view->backgroundColor = viewBackground;
    view->interaction = interaction;
    view->setFlip(true);
    view->relativeRect = toQRectF(place);
    return view;
}

/// Fills every byte of `image`'s memory copy, which then counts as newest.
void fillMemory(SharedImage* image, unsigned char value)
{
    if (!image)
        return;
    MemImage* memory = image->mem();
    if (!memory)
        return;
    std::memset(memory->data(), value, memory->byteSize());
    image->setMemModified();
}

}  // namespace

void MainWindow::setupViews()
{
    try {
        createViews();

        ui->labelRecDroppedFrames->hide();
        ui->labelRecDroppedFramesLabel->hide();
        showDefaultCaptureSections();
        closeMeshToolPanels();
        ui->playbackWidget->hide();
        connect(ui->playbackWidget, SIGNAL(finishedPlayback()), this, SLOT(onFinishedPlayback()));

        auto* alignLayout = new QHBoxLayout;
        alignLayout->setContentsMargins(0, 0, 0, 0);
        alignLayout->addStretch();
        auto* alignButton = new QPushButton(tr("Align"), ui->alignMeshWidget);
        alignButton->setMinimumSize(75, 40);
        connect(alignButton, SIGNAL(clicked()), this, SLOT(alignMesh()));
        alignLayout->addWidget(alignButton);
        alignLayout->addStretch();
        ui->alignMeshWidget->setLayout(alignLayout);
        connectMeshToolPanels();

        onVolumePositionReset();
        onVolumeTypeChanged();
        onVolumeResolutionChanged();
        onVolumeSizeChanged();

        ui->checkBoxDepthCutoff->setChecked(depthCutoffEnabled);
        ui->spinBoxDepthCutoff->setValue(depthCutoffMm / 10);
    } catch (...) {
        VELTRANE_ERROR("Couldn't initialize UI");
        showCritical(tr("Error"),
                     tr("Couldn't initialize user interface components. Exiting application."));
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void MainWindow::createViews()
{
    makeDisplayCurrent();
    DisplayWidget* display = ui->displayWidget;
    display->installEventFilter(this);
    display->setLayoutMode(ViewLayoutMode::Columns);
    display->layout();
    display->setBackgroundColor(displayBackground);
    // Each view goes to the display widget, which owns it, as soon as it is
    // made, in the order colour, depth, point cloud, scene, mesh.
    const ViewRects places = initialViewRects();

    interactionFilter = new InteractionFilter(0);
    colorView = newImageView(interactionFilter, places.color);
    colorSliceView = colorView->sliceView();
    display->addView(colorView);

    auto program = std::make_unique<GlProgram>("DepthMapVis", nullptr);
    depthInteraction = new InteractionDepthMap(parameters);
    depthView = newImageView(depthInteraction, places.depth);
    depthMapProgram = program.get();
    depthView->slice()->setProgram(std::move(program));
    depthView->setInterpolation(0);
    depthView->setWindow(depthWindowMm / depthUnitMm);
    depthView->setLevel(0.5 * depthWindowMm / depthUnitMm);
    display->addView(depthView);

    pointCloudGlView = new GlPointCloudView;
    pointCloudView = new InteractiveView(pointCloudGlView);
    pointCloudView->backgroundColor = viewBackground;
    pointCloudView->relativeRect = toQRectF(places.right);
    pointCloudCamera = new Interaction3D(pointCloudView);
    pointCloudCamera->setSpeeds(1.0 / 3.0, 0.1, 4.0 / 3.0);
    pointCloudCamera->setTranslation(0.0, 0.0, cameraStartDistance);
    pointCloudView->interaction = pointCloudCamera;
    display->addView(pointCloudView);

    volumeBox = new GlVolumeBoundingBox(parameters);
    volumeBox->setColor({0.8, 0.8, 1.0});
    pointCloudGlView->addObject(volumeBox);
    volumeManipulator = new FancyMeshManipulator(volumeBox);
    volumeManipulator->active = false;
    volumeManipulator->handleSet = ManipulatorHandleSet::Rotate;
    pointCloudView->setManipulator(volumeBox, volumeManipulator);
    pointCloudGlView->addObject(volumeManipulator);

    sceneView = newImageView(interactionFilter, places.right);
    sceneSliceView = sceneView->sliceView();
    display->addView(sceneView);

    meshGlView = new GlMeshView;
    meshGlView->showGrid = true;
    meshView = new InteractiveView(meshGlView);
    meshView->relativeRect = toQRectF(places.mesh);
    meshCamera = new Interaction3D(meshView);
    meshCamera->setSpeeds(0.8, 0.1, 4.0 / 3.0);
    meshCamera->setTranslation(0.0, 0.0, cameraStartDistance);
    meshView->interaction = meshCamera;
    display->addView(meshView);

    display->setRelativeLayout(true);
    display->layout();
    display->setSplittersEnabled(false);
}

void MainWindow::deleteViews()
{
    // The views only point at what follows: they go first.
    delete ui->displayWidget;
    ui->displayWidget = nullptr;
    for (FancyMeshManipulator* manipulator : {alignManipulator, cropManipulator, volumeManipulator})
        delete manipulator;
    delete volumeBox;
    delete meshCamera;
    delete pointCloudCamera;
    delete depthInteraction;
    delete interactionFilter;
}

void MainWindow::showDefaultCaptureSections()
{
    struct Section {
        QToolButton* button;
        QWidget* box;
        bool expanded;
    };
    const Section sections[] = {
        {ui->toolButtonVolumeType, ui->groupBoxVolumeType, true},
        {ui->toolButtonVolumeSize, ui->groupBoxVolumeSize, true},
        {ui->toolButtonVolumeResolution, ui->groupBoxVolumeResolution, false},
        {ui->toolButtonVolumePosition, ui->groupBoxVolumePosition, false},
        {ui->toolButtonTimedReconstruction, ui->groupBoxTimedReconstruction, false},
        {ui->toolButtonSensor, ui->groupBoxSensor, false},
        {ui->toolButtonComputeDevice, ui->groupBoxComputeDevice, false},
    };
    for (const Section& section : sections) {
        section.button->setChecked(section.expanded);
        section.box->setVisible(section.expanded);
    }
}

void MainWindow::updateUiMode()
{
    switch (uiMode) {
    case 1:
        clearFrameImages();
        showDefaultCaptureSections();
        ui->pushButtonVolRotate->setChecked(false);
        ui->pushButtonStartReconstruction->setEnabled((sensor && sensor->isInitialized())
                                                      || playback);
        ui->pushButtonRecord->setEnabled(sensor && sensor->isInitialized() && !playback);
        updateVolumeVisualization();
        ui->stackedWidget->setCurrentIndex(0);
        ui->scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        ui->playbackWidget->setVisible(playback != nullptr);
        break;
    case 2:
        if (sceneImage && emptySceneImage)
            sceneImage->assign(emptySceneImage->mem(), true);
        ui->stackedWidget->setCurrentIndex(1);
        resetSettingsScroll();
        ui->pushButtonShowColor->setChecked(true);
        ui->pushButtonShowColor->setVisible(parameters->colorVolume);
        ui->playbackWidget->setVisible(playback != nullptr);
        break;
    case 3:
        ui->pushButtonMeshTextured->setEnabled(parameters->colorVolume);
        if (parameters->colorVolume) {
            ui->pushButtonMeshTextured->setChecked(true);
            onMeshTextured();
        } else {
            ui->pushButtonMeshSurface->setChecked(true);
            onMeshSurface();
        }
        closeMeshToolPanels();
        updateHistoryButtons();
        ui->stackedWidget->setCurrentIndex(2);
        resetSettingsScroll();
        ui->playbackWidget->hide();
        break;
    default:
        break;
    }
    placeViews();
}

void MainWindow::clearFrameImages()
{
    // The reconstruction thread writes these images under this lock.
    const QMutexLocker lock(frameMutex);
    fillMemory(colorImage, viewGrey);
    fillMemory(displayColorImage, viewGrey);
    fillMemory(depthImage, 0);
}

void MainWindow::resetSettingsScroll()
{
    ui->scrollArea->horizontalScrollBar()->setValue(0);
    ui->scrollArea->verticalScrollBar()->setValue(0);
    ui->scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void MainWindow::closeMeshToolPanels()
{
    const std::pair<QToolButton*, QWidget*> tools[] = {
        {ui->toolButtonMeshSmooth, ui->smoothMeshWidget},
        {ui->toolButtonMeshDecimate, ui->decimateMeshWidget},
        {ui->toolButtonMeshClean, ui->cleanMeshWidget},
        {ui->toolButtonMeshAlign, ui->alignMeshWidget},
        {ui->toolButtonMeshCrop, ui->cropMeshWidget},
    };
    for (const auto& [button, panel] : tools) {
        button->setChecked(false);
        panel->hide();
    }
}

void MainWindow::connectMeshToolPanels()
{
    struct Link {
        QObject* panel;
        const char* signal;
        const char* slot;
    };
    const Link links[] = {
        {ui->decimateMeshWidget, SIGNAL(apply()), SLOT(decimateMesh())},
        {ui->decimateMeshWidget, SIGNAL(cancel()), SLOT(onMeshProcessingChange())},
        {ui->smoothMeshWidget, SIGNAL(apply()), SLOT(smoothMesh())},
        {ui->smoothMeshWidget, SIGNAL(cancel()), SLOT(onMeshProcessingChange())},
        {ui->cleanMeshWidget, SIGNAL(apply()), SLOT(cleanMesh())},
        {ui->cleanMeshWidget, SIGNAL(cancel()), SLOT(onMeshProcessingChange())},
        {ui->cleanMeshWidget, SIGNAL(minChanged(int)), SLOT(onCleanMeshMinChanged(int))},
        {ui->cleanMeshWidget, SIGNAL(maxChanged(int)), SLOT(onCleanMeshMaxChanged(int))},
        {ui->cropMeshWidget, SIGNAL(apply()), SLOT(cropMesh())},
        {ui->cropMeshWidget, SIGNAL(cancel()), SLOT(onMeshProcessingChange())},
        {ui->cropMeshWidget, SIGNAL(modeChanged(int)), SLOT(onCropMeshTransformationChange(int))},
    };
    for (const Link& link : links)
        connect(link.panel, link.signal, this, link.slot);
}

void MainWindow::makeDisplayCurrent()
{
    ui->displayWidget->makeCurrent();
}

FancyMeshManipulator* MainWindow::addMeshManipulator(Gl3DObject* target, int handleSet)
{
    if (!meshGlView)
        return nullptr;
    auto* manipulator = new FancyMeshManipulator(target);
    manipulator->handleSet = handleSet;
    meshView->setManipulator(target, manipulator);
    meshGlView->addObject(manipulator);
    return manipulator;
}

void MainWindow::removeMeshManipulator(FancyMeshManipulator*& manipulator, GlObject* target)
{
    if (!manipulator)
        return;
    meshView->setManipulator(target, nullptr);
    meshGlView->removeObject(manipulator);
    delete manipulator;
    manipulator = nullptr;
}

void MainWindow::setMeshManipulatorHandles(FancyMeshManipulator* manipulator, int handleSet)
{
    manipulator->handleSet = handleSet;
}

void MainWindow::placeViews()
{
    if (!meshView)
        return;  // the views could not be made; the window closes
    if (uiMode == 1) {
        SharedImageSet* colorImages = colorSliceView->slice()->images();
        colorImages->clear();
        colorImages->add(colorImage);
        colorImages->add(displayColorImage);
        colorImages->setSelection(Selection());
        depthView->slice()->setImage(depthImage);
        pointCloudGlView->clearFrame();
        pointCloudCamera->reset();
        pointCloudCamera->setTranslation(0.0, 0.0, cameraStartDistance);
        volumeManipulator->active = false;
    } else if (uiMode == 2) {
        sceneSliceView->slice()->setImage(sceneImage);
    }
    if (uiMode >= 1 && uiMode <= 3) {
        const ViewVisibility shown = viewVisibility(uiMode);
        colorView->setVisible(shown.color);
        depthView->setVisible(shown.depth);
        pointCloudView->setVisible(shown.pointCloud);
        sceneView->setVisible(shown.scene);
        meshView->setVisible(shown.mesh);
    }
    ui->displayWidget->setRelativeLayout(true);
    ui->displayWidget->layout();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    placeViewsBySize();
}

void MainWindow::placeViewsBySize()
{
    if (!meshView)
        return;
    const ViewRects places = viewRects(ui->displayWidget->width(), ui->displayWidget->height());
    colorView->relativeRect = toQRectF(places.color);
    depthView->relativeRect = toQRectF(places.depth);
    pointCloudView->relativeRect = toQRectF(places.right);
    sceneView->relativeRect = toQRectF(places.right);
    meshView->relativeRect = toQRectF(places.mesh);
    ui->displayWidget->layout();
}

void MainWindow::refreshViews()
{
    if (!colorImage || !depthImage || !meshView)
        return;
    makeDisplayCurrent();
    try {
        // The reconstruction thread writes the frame images under this lock.
        const QMutexLocker lock(frameMutex);
        for (SharedImage* image : {colorImage, displayColorImage, depthImage, sceneImage})
            image->syncGl();
        if (uiMode == 1) {
            const std::array<double, 9> camera = parameters->intrinsics();
            std::array<float, 9> K{};
            std::copy(camera.begin(), camera.end(), K.begin());
            pointCloudGlView->setFrame(depthImage->memPointer(), colorImage->memPointer(), K.data());
        }
    } catch (const std::exception& error) {
        VELTRANE_ERROR("The frames cannot be shown: " << error.what());
    }
    ui->displayWidget->update();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The display widget also gets its size without the window changing its
    // own: when the window is first laid out, or the playback bar comes or
    // goes. Its views are placed before it lays them out.
    if (watched == ui->displayWidget && event->type() == QEvent::Resize)
        placeViewsBySize();
    QScrollBar* bar = ui->scrollArea->verticalScrollBar();
    if (watched == bar) {
        if (event->type() == QEvent::Show)
            ui->scrollArea->setMinimumWidth(ui->scrollArea->width() + bar->width());
        else if (event->type() == QEvent::Hide)
            ui->scrollArea->setMinimumWidth(ui->scrollArea->width() - bar->width());
    }
    return false;
}

}  // namespace Veltrane
