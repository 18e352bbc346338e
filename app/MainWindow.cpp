#include "app/MainWindow.h"

#include "app/TopWidgetStyle.h"
#include "ui_MainWindow.h"

#include "capture/ImageRecorder.h"
#include "capture/Playback.h"
#include "capture/RGBDSensor.h"
#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClPlatform.h"
#include "core/Logging.h"
#include "core/Mesh.h"
#include "core/SharedImage.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstruction.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMutex>
#include <QProgressDialog>
#include <QScrollBar>
#include <QThread>
#include <QTimer>

#include <boost/thread/thread.hpp>

namespace Veltrane {

namespace {

/// How often a close put off by a waiting playback command is tried again.
constexpr int playbackCommandPoll = 10;

}  // namespace

MainWindow::BusyScope::BusyScope(MainWindow& window) : m_window(window)
{
    ++m_window.busyDepth;
}

MainWindow::BusyScope::~BusyScope()
{
    if (--m_window.busyDepth == 0 && m_window.closeRequested)
        QTimer::singleShot(0, &m_window, &QWidget::close);
}

MainWindow::MainWindow() : ui(std::make_unique<Ui_MainWindow>())
{
    parameters = new ReconstructionParameters;

    ui->setupUi(this);
    restoreSettings();
    ui->scrollArea->verticalScrollBar()->installEventFilter(this);
    setupViews();

    frameMutex = new QMutex;

    parameters->connect([this] { updateVolumeVisualization(); });
    updateVolumeVisualization();

    sensorWaitDialog = new QProgressDialog(this, Qt::FramelessWindowHint);
    sensorWaitDialog->setLabelText(tr("Initializing sensor ..."));
    sensorWaitDialog->setWindowTitle(tr("Initializing"));
    sensorWaitDialog->setRange(0, 0);
    sensorWaitDialog->setSizeGripEnabled(false);
    sensorWaitDialog->setCancelButtonText(tr("Cancel"));
    applyTopWidgetStyle(*sensorWaitDialog);
    connect(sensorWaitDialog, SIGNAL(canceled()), this, SLOT(waitCanceled()));

    createCountDownDialog();

    refreshTimer = new QTimer(this);
    connect(refreshTimer, SIGNAL(timeout()), this, SLOT(updateGUI()));
    refreshTimer->start(20);

    showSensorWaitDialog();

    QTimer::singleShot(20, this, SLOT(onStartCapture()));
    QTimer::singleShot(40, this, SLOT(initCL()));
}

MainWindow::~MainWindow()
{
    // A window destroyed without being closed still stops its threads before
    // what they use goes.
    stopScan();
    deleteScanObjects();
    deleteViews();
}

void MainWindow::showSensorWaitDialog()
{
    sensorWaitDialog->setModal(true);
    sensorWaitDialog->show();
    sensorWaitDialog->raise();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (busyDepth > 0) {
        closeRequested = true;
        event->ignore();
        return;
    }
    if (ui->playbackWidget->isWaiting()) {
        // A command of the playback bar waits for the player, which closing
        // deletes: close once the command is taken.
        event->ignore();
        QTimer::singleShot(playbackCommandPoll, this, &QWidget::close);
        return;
    }
    closeRequested = false;

    if (!offerToSaveMesh()) {
        event->ignore();
        return;
    }

    stopScan();
    saveSettings();
    deleteScanObjects();
    closed = true;

    QCoreApplication::quit();
    event->accept();
}

void MainWindow::stopScan()
{
    if (sensorWaitDialog)
        sensorWaitDialog->hide();

    if (uiMode == 2)
        reconstructing = false;
    if (uiMode == 1 || uiMode == 2) {
        if (sensor)
            sensor->stop();
        if (recording)
            stopRecording();
    }
    // The player waits for the worker to take each frame: it goes first.
    closeSequence();
    stopWorkerThread();
    // The back-end built at start uses the OpenCL environment.
    reconstructionCreation.waitForFinished();

    if (refreshTimer) {
        refreshTimer->stop();
        disconnect(refreshTimer, SIGNAL(timeout()), this, SLOT(updateGUI()));
    }
}

void MainWindow::deleteScanObjects()
{
    auto release = [](auto*& object) {
        delete object;
        object = nullptr;
    };
    // The images' textures go in the display's context; the mesh view lets
    // go of the meshes first.
    makeDisplayCurrent();
    showMesh(nullptr);
    release(playback);
    release(recorder);
    release(reconstruction);
    release(parameters);
    release(sensor);
    release(depthImage);
    release(colorImage);
    release(displayColorImage);
    release(sceneImage);
    release(emptySceneImage);
    release(incomingDepthImage);
    release(incomingColorImage);
    release(frameMutex);
    release(mesh);
    release(cleanPreviewMesh);
    deleteMeshHistory();
    release(clEnvironment);
    clearClDevices();
}

void MainWindow::clearClDevices()
{
    for (auto& [platform, device] : clDevices) {
        delete device;
        delete platform;
    }
    clDevices.clear();
}

void MainWindow::stopWorkerThread()
{
    if (!workerThread)
        return;
    workerRunning = false;
    workerThread->join();
    delete workerThread;
    workerThread = nullptr;
}

void MainWindow::waitFor(const QFuture<void>& future)
{
    const BusyScope busy(*this);
    while (!future.isFinished()) {
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
}

}  // namespace Veltrane
