// Recording live frames into a sequence file, playing a sequence in place of
// the camera, and hole filling.

#include "app/MainWindow.h"

#include "app/HoleFilling.h"
#include "app/MessageBoxes.h"
#include "app/PlaybackWidget.h"
#include "app/TopWidgetStyle.h"
#include "ui_MainWindow.h"

#include "capture/ImageRecorder.h"
#include "capture/Playback.h"
#include "capture/RGBDSensor.h"
#include "core/Logging.h"
#include "core/Mesh.h"
#include "reconstruction/ReconstructionParameters.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMutexLocker>
#include <QProgressDialog>
#include <QSettings>
#include <QStandardPaths>
#include <QtConcurrent>

#include <array>
#include <memory>

namespace Veltrane {

namespace {

/// The look of the record button while recording and of the sequence button
/// while a sequence is loaded.
const char* const activeButtonStyle =
    "background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 rgb(200,0,0), stop: 1 "
    "rgb(140,0,0)); color: white;";

/// Settings keys of the folders of the record and the load dialog.
const char* const recordFolderKey = "captureFile";
const char* const loadFolderKey = "openSequence";

/// Frame pairs the recorder may hold before it refuses frames.
constexpr int recorderQueueBound = 100;
/// How long stopping a recording may take before the busy dialog shows.
constexpr int savingDialogDelay = 2000;

std::string toLocalPath(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

QString shownPath(const std::string& path)
{
    return QDir::toNativeSeparators(QFile::decodeName(path.c_str()));
}

}  // namespace

QString MainWindow::askForSequenceFile(const QString& key, const QString& caption, bool save)
{
    QSettings settings;
    const QString folder =
        settings
            .value(key, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
            .toString();
    const QString filter = tr("Korvastel sequences (*.kvs)");
    const QString chosen = save ? QFileDialog::getSaveFileName(this, caption, folder, filter)
                                : QFileDialog::getOpenFileName(this, caption, folder, filter);
    if (!chosen.isEmpty())
        settings.setValue(key, QFileInfo(chosen).absoluteDir().absolutePath());
    return chosen;
}

void MainWindow::withWorkerHeld(const std::function<void()>& change)
{
    const bool workerWasRunning = workerThread != nullptr;
    stopWorkerThread();
    {
        const QMutexLocker lock(frameMutex);
        newFrame = false;
    }
    change();
    if (workerWasRunning)
        startWorkerThread();
}

// ---------------------------------------------------------------- recording

void MainWindow::onRecordSequence()
{
    if (uiMode != 1)
        return;
    if (recording) {
        stopRecording();
        ui->pushButtonLoadSequence->setEnabled(true);
        return;
    }
    const QString path = askForSequenceFile(recordFolderKey, tr("Specify capture file"), true);
    if (path.isEmpty())
        return;
    ui->pushButtonLoadSequence->setEnabled(false);
    if (!startRecording(toLocalPath(path)))
        ui->pushButtonLoadSequence->setEnabled(true);
}

bool MainWindow::startRecording(const std::string& path)
{
    auto newRecorder = std::make_unique<ImageRecorder>(path);
    if (!newRecorder->open(frameWidth, frameHeight, parameters->intrinsics().data())) {
        VELTRANE_ERROR("Couldn't create the sequence file " << path);
        MessageBoxes::showWarning(
            this, tr("Record sequence"),
            tr("The sequence file %1 could not be created. Nothing is recorded.").arg(shownPath(path)),
            Qt::PlainText);
        return false;
    }
    ui->pushButtonRecord->setStyleSheet(activeButtonStyle);
    ui->pushButtonRecord->setText(tr("Stop recording"));
    droppedRecordedFrames = 0;
    newRecorder->setMaxQueueSize(recorderQueueBound);
    newRecorder->setRunning(true);
    newRecorder->start(QThread::InheritPriority);
    recorder = newRecorder.release();
    recording = true;
    return true;
}

void MainWindow::stopRecording()
{
    recording = false;
    {
        // A frame being queued right now is finished under this lock.
        const QMutexLocker lock(frameMutex);
    }
    if (!recorder)
        return;

    QProgressDialog dialog(this, Qt::FramelessWindowHint);
    dialog.setLabelText(tr("Saving frames ..."));
    dialog.setWindowTitle(tr("Record sequence"));
    dialog.setRange(0, 0);
    dialog.setCancelButton(nullptr);
    dialog.setSizeGripEnabled(false);
    applyTopWidgetStyle(dialog);
    dialog.setModal(true);
    dialog.setMinimumDuration(savingDialogDelay);
    dialog.setValue(0);  // shows the dialog once the delay has passed
    ImageRecorder* const stopping = recorder;
    waitFor(QtConcurrent::run([stopping] { stopping->stop(); }));
    dialog.hide();

    const bool complete = recorder->finish();
    const int written = recorder->framesWritten();
    delete recorder;
    recorder = nullptr;
    ui->pushButtonRecord->setStyleSheet(QString());
    ui->pushButtonRecord->setText(tr("Record sequence"));
    VELTRANE_INFO("Recorded " << written << " frames (" << droppedRecordedFrames << " dropped)");
    droppedRecordedFrames = 0;
    if (!complete)
        MessageBoxes::showWarning(this, tr("Record sequence"),
                                  tr("Not every frame could be written to the sequence file. It "
                                     "holds the frames written before the failure."));
}

// ---------------------------------------------------------------- playback

void MainWindow::onLoadSequence()
{
    // The bar's command would lose its player.
    if (ui->playbackWidget->isWaiting())
        return;
    const BusyScope busy(*this);
    if (playback) {
        // The worker takes the player's last frames while it stops.
        closeSequence();
        if (sensor)
            withWorkerHeld([this] { startSensor(); });
        uiMode = 1;
        updateUiMode();
        return;
    }

    const QString fileName = askForSequenceFile(loadFolderKey, tr("Load sequence"), false);
    if (fileName.isEmpty())
        return;
    // The player is registered and opened before anything changes, so that a
    // file that cannot be played leaves the camera running.
    PlaybackWidget* bar = ui->playbackWidget;
    auto player = std::make_unique<Playback>();
    player->addListener(this);
    bar->resetControls();
    bar->playback = player.get();
    player->addProgress(bar);
    if (!player->open(toLocalPath(fileName))) {
        bar->playback = nullptr;
        MessageBoxes::showWarning(
            this, tr("Load sequence"),
            tr("The sequence file %1 could not be opened.").arg(QDir::toNativeSeparators(fileName)),
            Qt::PlainText);
        return;
    }

    if (uiMode == 1 && sensor)
        sensor->stop();
    withWorkerHeld([this, &player] {
        playback = player.release();
        frameWidth = playback->width();
        frameHeight = playback->height();
        allocateFrameImages(frameWidth, frameHeight);
    });
    const Eigen::Matrix3d& camera = playback->intrinsics();
    std::array<double, 9> intrinsics{};
    std::copy(camera.data(), camera.data() + 9, intrinsics.begin());
    parameters->setIntrinsics(intrinsics);

    bar->show();
    ui->pushButtonRecord->setEnabled(false);
    ui->pushButtonLoadSequence->setStyleSheet(activeButtonStyle);
    ui->pushButtonLoadSequence->setText(tr("Close sequence"));
    uiMode = 1;
    updateUiMode();
    bar->showFirstFrame();
}

void MainWindow::closeSequence()
{
    if (!playback)
        return;
    PlaybackWidget* bar = ui->playbackWidget;
    bar->hide();
    bar->reconstructionMode = false;
    playback->stop();
    playback->close();
    bar->playback = nullptr;
    delete playback;
    playback = nullptr;
    ui->pushButtonLoadSequence->setStyleSheet(QString());
    ui->pushButtonLoadSequence->setText(tr("Load sequence"));
    ui->pushButtonRecord->setEnabled(true);
}

void MainWindow::onFinishedPlayback()
{
    if (uiMode != 2)
        return;
    if (ui->playbackWidget->isWaiting()) {
        // Ending the scan closes the player that the bar's command still uses.
        QMetaObject::invokeMethod(this, "onFinishedPlayback", Qt::QueuedConnection);
        return;
    }
    onStopReconstruction();
}

// ---------------------------------------------------------------- hole filling

void MainWindow::fillHolesMesh()
{
    // Read here: the worker touches nothing of the window but the mesh.
    const std::array<int, 3> resolution = parameters->volumeResolution;
    applyMeshTool([resolution](const Mesh& current) { return fillHoles(current, resolution).release(); });
}

}  // namespace Veltrane
