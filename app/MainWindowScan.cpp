// The scan: volume settings, starting and ending a reconstruction, the
// worker that fuses the frames, the refresh of the views and the mesh
// generation.

#include "app/MainWindow.h"

#include "app/CountDownDialog.h"
#include "app/DepthCutoff.h"
#include "app/PlaybackWidget.h"
#include "app/ScanGeometry.h"
#include "app/TopWidgetStyle.h"
#include "ui_MainWindow.h"

#include "capture/Playback.h"
#include "capture/RGBDSensor.h"
#include "core/ClImage.h"
#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "core/Stopwatch.h"
#include "reconstruction/ClMarchingCubes.h"
#include "reconstruction/MarchingCubes.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "render/FancyMeshManipulator.h"
#include "render/GlBoundingBox.h"
#include "render/GlPointCloudView.h"
#include "render/GlProgram.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/InteractiveView.h"
#include "render/Interaction3D.h"
#include "core/SharedImageSet.h"

#include <QButtonGroup>
#include <QMutexLocker>

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <boost/thread/thread.hpp>

namespace Veltrane {

namespace {

/// Voxel counts of the resolution presets and the slider's step.
constexpr int lowResolution = 128;
constexpr int defaultResolution = 256;
constexpr int highResolution = 512;
constexpr int sliderStep = 64;
constexpr int sliderMinimum = 1;
constexpr int sliderMaximum = 8;

/// Where the volume's centre sits in front of the camera after a reset, mm.
constexpr double startDistance = 1000.0;

/// Voxels smaller than this (mm) are more than a depth camera resolves.
constexpr double smallestUsefulVoxel = 1.5;

/// The unit of depth textures: millimetres / 65535.
constexpr float depthTextureScale = 65535.0f;

/// Where the point-cloud view's camera starts: 6 m behind the camera.
constexpr double pointCloudCameraDistance = -6000.0;

/// Between two looks of the worker at an empty hand-off.
constexpr int workerPoll = 5;

const char* const trackingHoldsStyle =
    "background-color: qlineargradient(x1:0, y1:0, x2:1, y2:1,stop:0 rgb(0,255,0), stop: 1 "
    "rgb(0,100,0));\nborder-radius: 10px;\n";
const char* const trackingLostStyle =
    "background-color: qlineargradient(x1:0, y1:0, x2:1, y2:1,stop:0 rgb(255,0,0), stop: 1 "
    "rgb(100,0,0));\nborder-radius: 10px;\n";

/// A button that stands for a value of the volume.
template <typename Value>
struct Preset {
    QAbstractButton* button;
    Value value;
};

std::array<Preset<int>, 3> resolutionPresets(const Ui_MainWindow& ui)
{
    return {{{ui.pushButtonVolResLow, lowResolution},
             {ui.pushButtonVolResNormal, defaultResolution},
             {ui.pushButtonVolResHigh, highResolution}}};
}

/// Sizes in millimetres.
std::array<Preset<std::array<double, 3>>, 5> sizePresets(const Ui_MainWindow& ui)
{
    return {{{ui.pushButtonVolSizeSmall, {1000, 1000, 1000}},
             {ui.pushButtonVolSizeNormal, {2000, 2000, 2000}},
             {ui.pushButtonVolSizeLarge, {4000, 4000, 4000}},
             {ui.pushButtonVolSizeHead, {400, 400, 400}},
             {ui.pushButtonVolSizeFullBody, {700, 2000, 700}}}};
}

std::array<QSpinBox*, 3> sizeBoxes(const Ui_MainWindow& ui)
{
    return {ui.spinBoxVolSizeX, ui.spinBoxVolSizeY, ui.spinBoxVolSizeZ};
}

/// The value of the checked button of `presets`; `fallBack` when none is.
template <typename Value, std::size_t count>
Value checkedValue(const std::array<Preset<Value>, count>& presets, const Value& fallBack)
{
    for (const Preset<Value>& preset : presets) {
        if (preset.button->isChecked())
            return preset.value;
    }
    return fallBack;
}

/// Checks the button of `presets` that stands for `value`, or `custom` when
/// none does, without a signal of `group`; nothing while `custom` is checked.
template <typename Value, std::size_t count>
void showPresetOf(const Value& value, const std::array<Preset<Value>, count>& presets,
                  QAbstractButton* custom, QButtonGroup* group)
{
    if (custom->isChecked())
        return;
    const QSignalBlocker blocker(group);
    QAbstractButton* matching = custom;
    for (const Preset<Value>& preset : presets) {
        if (preset.value == value)
            matching = preset.button;
    }
    matching->setChecked(true);
}

/// Shows `value` in a spin box or slider without its signal.
template <typename Control>
void showValue(Control* control, int value)
{
    const QSignalBlocker blocker(control);
    control->setValue(value);
}

bool allPositive(const std::array<int, 3>& values)
{
    return std::all_of(values.begin(), values.end(), [](int v) { return v > 0; });
}

int roundedCentimetres(double millimetres)
{
    return static_cast<int>(std::floor(millimetres / 10.0 + 0.5));
}

/// The parameters' resolution made isotropic for `size` (mm), and logged.
void applyIsotropicResolution(ReconstructionParameters& parameters, const std::array<double, 3>& size)
{
    const std::array<int, 3> counts = isotropicResolution(size, parameters.volumeResolution);
    if (!parameters.locked && allPositive(counts))
        parameters.setVolumeResolution(counts);
    VELTRANE_INFO("Isotropic volume resolution: " << counts[0] << " " << counts[1] << " "
                                                 << counts[2]);
}

/// What the depth map and the point-cloud view need to tell the inside of
/// the volume from the rest of a depth frame.
struct VolumeDisplay {
    Eigen::Matrix4f volumeToCamera;
    Eigen::Vector3f extent;
    Eigen::Matrix3f inverseIntrinsics;
    float minDepth;
    float maxDepth;
};

VolumeDisplay volumeDisplay(const ReconstructionParameters& parameters,
                            const Eigen::Matrix4f& volumeToCamera, int frameWidth, int frameHeight)
{
    VolumeDisplay display;
    display.volumeToCamera = volumeToCamera;
    display.extent = volumeExtent(parameters.volumeSize, parameters.volumeResolution);
    display.inverseIntrinsics =
        normalisedInverseIntrinsics(parameters.intrinsics(), frameWidth, frameHeight);
    const DepthRange range = volumeDepthRange(volumeToCamera, display.extent);
    display.minDepth = range.nearest / depthTextureScale;
    display.maxDepth = range.farthest / depthTextureScale;
    return display;
}

void setDepthMapUniforms(const GlProgram& program, const VolumeDisplay& display)
{
    program.bind();
    program.setUniformFloat("volMinDepth", display.minDepth);
    program.setUniformFloat("volMaxDepth", display.maxDepth);
    program.setUniformMat3("invK", display.inverseIntrinsics.data());
    program.setUniformMat4("T", display.volumeToCamera.data());
    program.setUniformVec3("volSize", display.extent.data());
    program.unbind();
}

void placeVolume(GlPointCloudView& view, const VolumeDisplay& display)
{
    view.setVolumeTransform(display.volumeToCamera.data());
    view.volMinDepth = display.minDepth;
    view.volMaxDepth = display.maxDepth;
    view.setVolumeSize(display.extent.data());
}

/// The volumes of a stopped reconstruction, taken over from its back-end:
/// host images from the CPU back-end or device images from the GPU one.
struct TakenVolumes {
    std::unique_ptr<TypedImage<float>> distance;
    std::unique_ptr<TypedImage<unsigned char>> colours;
    std::unique_ptr<ClImage> deviceDistance;
    std::unique_ptr<ClImage> deviceColours;
};

template <typename Volume>
std::unique_ptr<Volume> takeOver(Volume*& held)
{
    std::unique_ptr<Volume> taken(held);
    held = nullptr;
    return taken;
}

TakenVolumes takeVolumes(SurfaceReconstruction* reconstruction)
{
    TakenVolumes volumes;
    if (auto* cpu = dynamic_cast<SurfaceReconstructionCPU*>(reconstruction)) {
        volumes.distance = takeOver(cpu->tsdfVolume);
        volumes.colours = takeOver(cpu->colorVolume);
    } else if (auto* gpu = dynamic_cast<SurfaceReconstructionGPU*>(reconstruction)) {
        volumes.deviceDistance = takeOver(gpu->tsdfVolume);
        volumes.deviceColours = takeOver(gpu->colorVolume);
    }
    return volumes;
}

/// Marching cubes on the host, welded and with vertex normals; null when
/// nothing came out.
Mesh* extractOnHost(const TypedImage<float>& distance, const TypedImage<unsigned char>* colours)
{
    std::unique_ptr<Mesh> extracted = marchingCubes(distance, colours, 0.0f);
    if (!extracted)
        return nullptr;
    extracted->removeDuplicateVertices();
    extracted->computeNormals();
    return extracted.release();
}

/// Marching cubes on the host over the downloaded device volumes.
Mesh* extractDownloaded(ClImage& distance, ClImage* colours)
{
    const std::unique_ptr<MemImage> hostDistance = distance.download(true);
    if (!hostDistance)
        return nullptr;
    std::unique_ptr<MemImage> hostColours;
    if (colours) {
        hostColours = colours->download(true);
        if (!hostColours)
            return nullptr;
    }
    return extractOnHost(static_cast<const TypedImage<float>&>(*hostDistance),
                         static_cast<const TypedImage<unsigned char>*>(hostColours.get()));
}

bool hasSurface(const Mesh* mesh)
{
    return mesh && !mesh->faces().empty();
}

/// The camera interaction of a 3-D view, or null.
Interaction3D* cameraOf(const InteractiveView* view)
{
    return view ? dynamic_cast<Interaction3D*>(view->interaction) : nullptr;
}

}  // namespace

/// The worker's own copy of a frame and the scene the back-end predicts for
/// it; the views get theirs through publishFrame().
struct MainWindow::WorkerFrame {
    TypedImage<unsigned short> depth{PixelType::UnsignedShort, 1, 1, 1, 1};
    TypedImage<unsigned char> colour{PixelType::UnsignedByte, 1, 1, 1, 3};
    TypedImage<unsigned char> scene{PixelType::UnsignedByte, 1, 1, 1, 3};
};

// ---------------------------------------------------------------- volume settings

void MainWindow::onVolumeTypeChanged()
{
    parameters->setColorVolume(ui->buttonGroupVolType->checkedButton() == ui->pushButtonVolTypeColor);
}

void MainWindow::onVolumeResolutionChanged()
{
    int count = ui->sliderVolRes->value() * sliderStep;
    if (sender() != ui->sliderVolRes && !ui->pushButtonVolResUserDefined->isChecked()) {
        count = checkedValue(resolutionPresets(*ui), count);
        showValue(ui->sliderVolRes, count / sliderStep);
    }
    ui->labelVolRes->setText(tr("%1 voxels").arg(count));
    if (!parameters->locked && count > 0)
        parameters->setVolumeResolution({count, count, count});
    applyIsotropicResolution(*parameters, parameters->volumeSize);
}

void MainWindow::onVolumeSizeChanged()
{
    const std::array<QSpinBox*, 3> boxes = sizeBoxes(*ui);
    std::array<double, 3> size{};
    for (int i = 0; i < 3; ++i)
        size[i] = boxes[i]->value() * 10.0;
    const bool typed = std::find(boxes.begin(), boxes.end(), sender()) != boxes.end();
    if (!typed && !ui->pushButtonVolSizeUserDefined->isChecked()) {
        size = checkedValue(sizePresets(*ui), size);
        for (int i = 0; i < 3; ++i)
            showValue(boxes[i], static_cast<int>(size[i]) / 10);
    }
    if (std::any_of(size.begin(), size.end(), [](double edge) { return edge <= 0.0; }))
        return;
    if (!parameters->locked)
        parameters->setVolumeSize(size);
    applyIsotropicResolution(*parameters, size);
}

void MainWindow::onVolumePositionChanged()
{
    std::array<double, 16> pose = parameters->volumePose();
    pose[12] = 10.0 * ui->spinBoxVolPosX->value();
    pose[13] = -10.0 * ui->spinBoxVolPosY->value();
    pose[14] = 10.0 * ui->spinBoxVolPosZ->value();
    parameters->setVolumePose(pose);
}

void MainWindow::onVolumePositionReset()
{
    endVolumeManipulation();
    resetPointCloudCamera();
    parameters->setVolumePose({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, startDistance, 1});
    ui->displayWidget->update();
}

void MainWindow::onVolumeTranslate()
{
    ui->pushButtonVolRotate->setChecked(false);
    if (volumeManipulator) {
        volumeManipulator->handleSet = ManipulatorHandleSet::Translate;
        volumeManipulator->active = ui->pushButtonVolTranslate->isChecked();
    }
    ui->displayWidget->update();
}

void MainWindow::onVolumeRotate()
{
    ui->pushButtonVolTranslate->setChecked(false);
    if (volumeManipulator) {
        volumeManipulator->handleSet = ManipulatorHandleSet::Rotate;
        volumeManipulator->active = ui->pushButtonVolRotate->isChecked();
    }
    ui->displayWidget->update();
}

void MainWindow::onShowVolumePositionTab(bool show)
{
    if (!show)
        endVolumeManipulation();
}

void MainWindow::endVolumeManipulation()
{
    if (volumeManipulator)
        volumeManipulator->active = false;
    ui->pushButtonVolRotate->setChecked(false);
    ui->pushButtonVolTranslate->setChecked(false);
    ui->displayWidget->update();
}

void MainWindow::updateVolumeVisualization()
{
    makeDisplayCurrent();
    const std::array<int, 3> resolution = parameters->volumeResolution;
    const std::array<double, 16> pose = parameters->volumePose();
    const VolumeDisplay display =
        volumeDisplay(*parameters, volumePosition(pose), frameWidth, frameHeight);
    const Eigen::Vector3f& extent = display.extent;

    const Eigen::Vector4f centre = display.volumeToCamera.col(3);
    orbitPointCloudAround({centre.x(), centre.y(), centre.z()});
    if (pointCloudGlView)
        placeVolume(*pointCloudGlView, display);
    if (depthMapProgram)
        setDepthMapUniforms(*depthMapProgram, display);
    if (volumeBox) {
        volumeBox->setExtent({extent.x(), extent.y(), extent.z()});
        volumeBox->setMatrix(pose);
    }

    const int largestCount = *std::max_element(resolution.begin(), resolution.end());
    showPresetOf(largestCount, resolutionPresets(*ui), ui->pushButtonVolResUserDefined,
                 ui->buttonGroupVolRes);
    showValue(ui->sliderVolRes, std::clamp(largestCount / sliderStep, sliderMinimum, sliderMaximum));

    // The size in millimetres picks the preset: the extent, rounded through
    // single precision and a resolution that may still be on its way to
    // being isotropic, can miss a preset's figures by a fraction.
    showPresetOf(parameters->volumeSize, sizePresets(*ui), ui->pushButtonVolSizeUserDefined,
                 ui->buttonGroupVolSize);
    const std::array<QSpinBox*, 3> boxes = sizeBoxes(*ui);
    for (int i = 0; i < 3; ++i)
        showValue(boxes[i], roundedCentimetres(extent[i]));
    showValue(ui->spinBoxVolPosX, roundedCentimetres(pose[12]));
    showValue(ui->spinBoxVolPosY, roundedCentimetres(-pose[13]));
    showValue(ui->spinBoxVolPosZ, roundedCentimetres(pose[14]));

    const double voxel = extent.maxCoeff() / largestCount;
    ui->labelVoxelResolution->setText(QString("%1 mm").arg(voxel, 0, 'f', 1));
    ui->labelVoxelResolution->setStyleSheet(voxel < smallestUsefulVoxel ? "color: red;\n"
                                                                         : "color: white;\n");
    ui->displayWidget->update();
}

// ---------------------------------------------------------------- starting

void MainWindow::createCountDownDialog()
{
    countDownDialog = new CountDownDialog(this, Qt::FramelessWindowHint);
    countDownDialog->setLabelText(tr("Waiting for reconstruction start ..."));
    countDownDialog->setShowZero(true);
    countDownDialog->setAutoClose(true);
    countDownDialog->setWindowTitle(tr("Reconstruction"));
    countDownDialog->setSizeGripEnabled(false);
    applyTopWidgetStyle(*countDownDialog);
    countDownDialog->setModal(true);
    connect(countDownDialog, SIGNAL(canceled()), this, SLOT(delayedReconstructionCanceled()));
    connect(countDownDialog, SIGNAL(accepted()), this, SLOT(startDelayedReconstruction()));

    durationTimer = new QTimer(this);
    durationTimer->setSingleShot(true);
    connect(durationTimer, SIGNAL(timeout()), this, SLOT(stopTimedReconstruction()));
}

void MainWindow::onStartReconstruction()
{
    // A command of the playback bar still waits for the player.
    if (uiMode != 1 || reconstructing || ui->playbackWidget->isWaiting())
        return;
    endVolumeManipulation();
    if (playback)
        ui->playbackWidget->leavePlayingState();

    const int delay = ui->spinBoxStartDelay->value();
    countDownCanceled = false;
    if (delay < 1) {
        startDelayedReconstruction();
        return;
    }
    countDownDialog->setCount(delay);
    countDownDialog->show();
    countDownDialog->raise();
    countDownDialog->start();
}

void MainWindow::delayedReconstructionCanceled()
{
    countDownCanceled = true;
    countDownDialog->stop();
}

void MainWindow::startDelayedReconstruction()
{
    // A count-down may end after its start was cancelled or the window closed.
    if (closed || countDownCanceled || uiMode != 1 || reconstructing || !initReconstruction())
        return;
    if (playback)
        ui->playbackWidget->playForReconstruction();
    uiMode = 2;
    updateUiMode();

    const int duration = ui->spinBoxDuration->value();
    if (ui->checkBoxDuration->isChecked() && duration != 0)
        durationTimer->start(duration * 1000);
}

bool MainWindow::initReconstruction()
{
    if (!reconstruction || !reconstructionCreation.isFinished()) {
        showWarning(tr("Reconstruction"),
                    tr("The compute device is not ready for a reconstruction. Please wait until it "
                       "is ready, or choose another compute device."));
        return false;
    }
    makeDisplayCurrent();
    parameters->imageWidth = frameWidth;
    parameters->imageHeight = frameHeight;
    if (!reconstruction->init(parameters)) {
        VELTRANE_ERROR("Couldn't create SurfaceReconstruction object. Check log for details.");
        showCritical(tr("Error"),
                     tr("Could not start reconstruction. Please ensure that your GPU meets the "
                        "minimum requirements and has enough memory available for the selected "
                        "volume resolution."));
        return false;
    }
    {
        const QMutexLocker lock(frameMutex);
        const Eigen::Matrix4f start = reconstruction->pose();
        std::copy(start.data(), start.data() + 16, trackedPose.begin());
    }
    reconstructionRate.restart();
    cameraRate.restart();
    reconstructing = true;
    return true;
}

// ---------------------------------------------------------------- ending

void MainWindow::stopTimedReconstruction()
{
    if (reconstructing)
        onStopReconstruction();
}

void MainWindow::onStopReconstruction()
{
    if (!reconstructing)
        return;
    const BusyScope busy(*this);
    endScanInput();

    const TakenVolumes volumes = takeVolumes(reconstruction);
    releaseReconstruction();
    if (volumes.distance)
        generateMeshCpu(*volumes.distance, volumes.colours.get());
    else if (volumes.deviceDistance)
        generateMeshGpu(*volumes.deviceDistance, volumes.deviceColours.get());

    if (!showGeneratedMesh()) {
        onFinish();
        return;
    }
    ui->pushButtonMeshUndo->setEnabled(false);
    ui->pushButtonMeshRedo->setEnabled(false);
    ui->pushButtonMeshReset->setEnabled(false);
    uiMode = 3;
    updateUiMode();
}

void MainWindow::onCancelReconstruction()
{
    if (!reconstructing)
        return;
    const BusyScope busy(*this);
    endScanInput();
    releaseReconstruction();
    onFinish();
}

void MainWindow::endScanInput()
{
    reconstructing = false;
    durationTimer->stop();
    closeSequence();
    onStopCapture();
}

void MainWindow::releaseReconstruction()
{
    const std::lock_guard<std::mutex> lock(backEndMutex);
    reconstruction->release();
    delete reconstruction;
    reconstruction = nullptr;
}

void MainWindow::onResetReconstruction()
{
    const std::lock_guard<std::mutex> lock(backEndMutex);
    if (reconstruction)
        reconstruction->reset();
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

void MainWindow::onShowSceneColor(bool value)
{
    parameters->setShowSceneColor(value);
}

void MainWindow::onDepthCutoffToggled(bool v)
{
    depthCutoffEnabled = v;
}

void MainWindow::onDepthCutoffChanged(int v)
{
    depthCutoffMm = v * 10;
}

// ---------------------------------------------------------------- the worker

void MainWindow::reconstructionThread()
{
    WorkerFrame frame;
    // The light last asked for: none yet, so the first frame sets it.
    int shownTracking = -1;
    while (workerRunning) {
        if (!newFrame || !takeFrame(frame)) {
            boost::this_thread::sleep_for(boost::chrono::milliseconds(workerPoll));
            continue;
        }
        if (depthCutoffEnabled)
            cutOffDepth(frame.depth, depthCutoffMm);

        std::array<float, 16> pose{};
        const int result = fuseFrame(frame, pose);
        if (result < 0) {
            VELTRANE_ERROR("Error occurred during reconstruction. Aborting.");
            QMetaObject::invokeMethod(this, "onStopReconstruction", Qt::QueuedConnection);
            continue;
        }
        const bool tracked = result != SurfaceReconstruction::TrackingLost;
        publishFrame(frame, tracked, pose);
        if (shownTracking != int(tracked)) {
            shownTracking = int(tracked);
            QMetaObject::invokeMethod(this, [this, tracked] { showTrackingState(tracked); },
                                      Qt::QueuedConnection);
        }
        if (reconstructing && reconstructionRate.countFrame())
            QMetaObject::invokeMethod(ui->labelRecRecFPS, "setText",
                                      Q_ARG(QString, frameRateText(reconstructionRate.rate())));
    }
}

bool MainWindow::takeFrame(WorkerFrame& frame)
{
    const QMutexLocker lock(frameMutex);
    if (!newFrame)
        return false;
    frame.depth.assign(incomingDepthImage->memPointer());
    frame.colour.assign(incomingColorImage->memPointer());
    newFrame = false;
    return true;
}

int MainWindow::fuseFrame(WorkerFrame& frame, std::array<float, 16>& pose)
{
    if (!reconstructing)
        return SurfaceReconstruction::Tracked;
    const std::lock_guard<std::mutex> lock(backEndMutex);
    if (!reconstructing || !reconstruction)
        return SurfaceReconstruction::Tracked;
    if (frame.scene.width != frame.depth.width || frame.scene.height != frame.depth.height) {
        TypedImage<unsigned char> sized(PixelType::UnsignedByte, frame.depth.width,
                                        frame.depth.height, 1, 3);
        frame.scene.assign(&sized);
    }
    const int result = reconstruction->processFrame(&frame.depth, &frame.colour, nullptr,
                                                    &frame.scene, true);
    const Eigen::Matrix4f tracked = reconstruction->pose();
    std::copy(tracked.data(), tracked.data() + 16, pose.begin());
    return result;
}

void MainWindow::publishFrame(const WorkerFrame& frame, bool tracked, const std::array<float, 16>& pose)
{
    const QMutexLocker lock(frameMutex);
    depthImage->assign(&frame.depth, true);
    colorImage->assign(&frame.colour, true);
    if (!tracked)
        return;
    displayColorImage->assign(&frame.colour, true);
    if (reconstructing) {
        sceneImage->assign(&frame.scene, true);
        trackedPose = pose;
    }
}

void MainWindow::showTrackingState(bool tracked)
{
    ui->labelRecStatus->setStyleSheet(tracked ? trackingHoldsStyle : trackingLostStyle);
    showLastTrackedColour(!tracked);
}

// ---------------------------------------------------------------- mesh generation

void MainWindow::generateMeshCpu(const TypedImage<float>& distance,
                                 const TypedImage<unsigned char>* colours)
{
    delete mesh;
    mesh = runOnWorker(tr("Generating mesh ..."), [&] { return extractOnHost(distance, colours); });
}

void MainWindow::generateMeshGpu(ClImage& distance, ClImage* colours)
{
    Stopwatch watch;
    delete mesh;
    const bool onDevice = !cpuMarchingCubes;
    mesh = runOnWorker(tr("Generating mesh ..."), [&]() -> Mesh* {
        if (onDevice) {
            Mesh* extracted = extractMeshOnDevice(distance, colours);
            if (hasSurface(extracted))
                return extracted;
            delete extracted;
            VELTRANE_WARN("The OpenCL device gave no mesh. Extracting it on the CPU.");
        }
        return extractDownloaded(distance, colours);
    });
    if (hasSurface(mesh))
        VELTRANE_INFO("Generating mesh: " << watch.elapsed(false) << " ms");
}

Mesh* MainWindow::extractMeshOnDevice(ClImage& distance, ClImage* colours)
{
    try {
        ClMarchingCubes device(clEnvironment);
        return device.computeMesh(&distance, colours, 0.0f).release();
    } catch (const std::runtime_error&) {
        VELTRANE_WARN("Could not create OpenCL Marching Cubes. Falling back to CPU version.");
        return nullptr;
    }
}

bool MainWindow::showGeneratedMesh()
{
    if (!hasSurface(mesh)) {
        delete mesh;
        mesh = nullptr;
        VELTRANE_ERROR("Could not compute mesh");
        showWarning(tr("Reconstruction"), tr("Nothing was reconstructed."));
        return false;
    }
    mesh->computeBoundingBox();
    showMesh(mesh);
    frameMeshView();
    meshSaved = false;
    return true;
}

// ---------------------------------------------------------------- hooks into the views

void MainWindow::resetPointCloudCamera()
{
    if (Interaction3D* camera = cameraOf(pointCloudView)) {
        camera->reset();
        camera->setTranslation(0.0, 0.0, pointCloudCameraDistance);
    }
}

void MainWindow::orbitPointCloudAround(const std::array<double, 3>& centre)
{
    // The 3-D views draw camera coordinates turned by 180 degrees about x.
    if (Interaction3D* camera = cameraOf(pointCloudView))
        camera->setRotationCenter({centre[0], -centre[1], -centre[2]});
}

void MainWindow::showLastTrackedColour(bool overlay)
{
    if (!colorSliceView || !colorSliceView->slice()->images())
        return;
    SharedImageSet& images = *colorSliceView->slice()->images();
    Selection selection = images.selection();
    selection.first = overlay ? 1 : -1;
    selection.last = overlay ? 1 : -2;
    images.setSelection(selection);
}

void MainWindow::frameMeshView()
{
    Interaction3D* camera = cameraOf(meshView);
    if (!camera)
        return;
    const Mesh::Vector centre = mesh->boundingBoxCenter();
    const double distance = framingDistance(mesh->boundingBoxExtent());
    camera->reset();
    camera->setRotationCenter({centre[0], -centre[1], -centre[2]});
    camera->setTranslation(-centre[0], centre[1], centre[2] - distance);
}

// ---------------------------------------------------------------- refresh

void MainWindow::updateGUI()
{
    refreshViews();
}

}  // namespace Veltrane
