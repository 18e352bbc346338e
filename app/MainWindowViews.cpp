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
#include "reconstruction/ReconstructionParameters.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QTimer>

#include <cstring>

namespace Veltrane {

namespace {

/// Background of the image and point-cloud views: a mid grey.
constexpr unsigned char viewGrey = 74;

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
    // The five views, their scene objects and interactions, and the display
    // widget's layout of them belong here once the display widget, the
    // interactive views and the GL views exist:
    //  - interactionFilter (no flag bits), shared by colorView and sceneView;
    //  - colorView and sceneView: ImageView2D(-1, null), flipped slice views
    //    colorSliceView and sceneSliceView;
    //  - depthMapProgram ("DepthMapVis", fragment only) and depthView:
    //    ImageView2D(-1, null) without the general context entries, an
    //    InteractionDepthMap on the parameters, nearest-neighbour slice;
    //  - pointCloudView on pointCloudGlView with an Interaction3D (speeds
    //    1/3, 0.1, 4/3; translation 0, 0, -6000), volumeBox (centre 0,
    //    extent 1000, colour 0.8, 0.8, 1.0) and volumeManipulator (inactive,
    //    rotation rings) in it;
    //  - meshView on meshGlView with its grid, an Interaction3D (speeds 0.8,
    //    0.1, 4/3; translation 0, 0, -6000);
    //  - every view without border, background (74, 74, 74) but the mesh
    //    view, placed by initialViewRects();
    //  - the display widget: layout mode 2, background (153, 153, 153), the
    //    views added as colour, depth, point cloud, scene, mesh, relative
    //    layout on, splitters off.
    // Until then the display widget stays an empty frame.
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
        fillMemory(colorImage, viewGrey);
        fillMemory(displayColorImage, viewGrey);
        fillMemory(depthImage, 0);
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
    // With the display widget in place: ui->displayWidget->makeCurrent().
}

FancyMeshManipulator* MainWindow::addMeshManipulator(Gl3DObject*, int)
{
    // With the display widget's manipulator in place: a FancyMeshManipulator
    // on the target with the handle set, registered with meshView for the
    // target (InteractiveView::setManipulator) and added to meshGlView's
    // objects.
    return nullptr;
}

void MainWindow::removeMeshManipulator(FancyMeshManipulator*& manipulator, GlObject*)
{
    // With the manipulator in place, when there is one: its registration
    // for the target removed from meshView, its drawable from meshGlView,
    // then it is deleted.
    manipulator = nullptr;
}

void MainWindow::setMeshManipulatorHandles(FancyMeshManipulator*, int)
{
    // With the manipulator in place: its handleSet.
}

void MainWindow::placeViews()
{
    // With the views in place: the slice images of the mode (capture: the
    // colour view's set holds colorImage then displayColorImage with an empty
    // selection, the depth view shows depthImage; reconstruction: the scene
    // view shows sceneImage), the point cloud's frame dropped and its camera
    // reset to (0, 0, -6000) in capture mode, the volume manipulator
    // inactive, each view shown as viewVisibility(uiMode) says in modes 1 to
    // 3, and finally the display widget's relative layout on and laid out.
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // With the views in place, their rectangles become
    // viewRects(displayWidget width, displayWidget height).
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
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
