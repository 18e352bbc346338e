// Capture control and the frame hand-off from the camera or player thread.

#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "capture/ImageRecorder.h"
#include "capture/OpenNI2RGBDSensor.h"
#include "core/Logging.h"
#include "core/SharedImage.h"
#include "core/TypedImage.h"
#include "reconstruction/ReconstructionParameters.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QProgressDialog>
#include <QTimer>
#include <QUrl>

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <new>

namespace Veltrane {

namespace {

/// The camera matrix every started camera is given, whatever it reports.
const std::array<double, 9> fixedIntrinsics{531, 0, 0, 0, 531, 0, 320, 240, 1};

/// Between two looks of a played sequence at the frame hand-off.
constexpr int playbackPacingPoll = 2;

/// Grey of the empty scene's first and last row.
constexpr double emptySceneTop = 55.0;
constexpr double emptySceneBottom = 95.0;

/// A frame image of `type` and `channels` for the current frame size:
/// `image` resized when it exists, created otherwise. False when the memory
/// cannot be had.
bool provideImage(SharedImage*& image, int type, int channels, int width, int height)
{
    if (image)
        return image->resize(width, height, 1);
    image = new SharedImage(new Image(type, width, height, 1, channels), true);
    return true;
}

template <typename T>
void fillImage(SharedImage* image, T value)
{
    static_cast<TypedImage<T>*>(image->mem())->fill(value);
    image->setMemModified();
}

/// Rows from grey 55 at the top to 95 at the bottom, on all three channels.
void fillEmptyScene(SharedImage* image)
{
    auto* scene = static_cast<TypedImage<unsigned char>*>(image->mem());
    const int width = scene->width;
    const int height = scene->height;
    unsigned char* pixel = scene->typedData();
    for (int y = 0; y < height; ++y) {
        const double t = height > 1 ? double(y) / (height - 1) : 0.0;
        const auto grey = static_cast<unsigned char>((1.0 - t) * emptySceneTop + t * emptySceneBottom);
        pixel = std::fill_n(pixel, std::size_t(width) * 3, grey);
    }
    image->setMemModified();
}

}  // namespace

void MainWindow::onStartCapture()
{
    if (closed)
        return;
    const BusyScope busy(*this);
    if (!sensorWaitDialog->isVisible())
        showSensorWaitDialog();
    QCoreApplication::processEvents();

    if (!sensor) {
        sensor = new OpenNI2RGBDSensor;
        sensor->addListener(this);
    }

    if (startSensor()) {
        const bool whiteBalance = sensor->supportsAutoWhiteBalance();
        const bool exposure = sensor->supportsAutoExposure();
        ui->toolButtonSensor->show();
        ui->toolButtonSensor->setChecked(true);
        ui->groupBoxSensor->show();
        ui->checkBoxAutoWhiteBalance->setVisible(whiteBalance);
        ui->checkBoxAutoExposure->setVisible(exposure);
        if (whiteBalance) {
            const QSignalBlocker blocker(ui->checkBoxAutoWhiteBalance);
            ui->checkBoxAutoWhiteBalance->setChecked(sensor->autoWhiteBalance());
        }
        if (exposure) {
            const QSignalBlocker blocker(ui->checkBoxAutoExposure);
            ui->checkBoxAutoExposure->setChecked(sensor->autoExposure());
        }
    } else {
        ui->toolButtonSensor->hide();
        ui->toolButtonSensor->setChecked(false);
        ui->groupBoxSensor->hide();

        sensorWaitDialog->hide();
        const QString helpPage = QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/"
                                                     + tr("index.html"))
                                     .toEncoded();
        showCritical(tr("Error"),
                     tr("Couldn't start sensor. Please make sure your device is connected, has the "
                        "correct drivers installed and is powered. For setup instructions see the "
                        "<a href='%1'><span style=\" text-decoration: underline; "
                        "color:#00a1d4;\">Readme</span></a>.")
                         .arg(helpPage));
    }

    if (workerThread) {
        VELTRANE_WARN("Other reconstruction thread running");
        stopWorkerThread();
    }
    startWorkerThread();
    uiMode = 1;
    updateUiMode();
}

bool MainWindow::startSensor()
{
    if (!sensor->isInitialized() && !sensor->initialize())
        return false;

    ui->pushButtonVolTypeColor->setEnabled(sensor->hasColor());

    frameWidth = sensor->width();
    frameHeight = sensor->height();
    allocateFrameImages(frameWidth, frameHeight);

    const Eigen::Matrix3d camera = sensor->intrinsics();
    std::array<double, 9> reported{};
    std::copy(camera.data(), camera.data() + 9, reported.begin());
    parameters->setIntrinsics(reported);
    VELTRANE_INFO("Overriding internal calibration");
    parameters->setIntrinsics(fixedIntrinsics);

    return sensor->start();
}

void MainWindow::allocateFrameImages(int width, int height)
{
    using PixelType::UnsignedByte;
    using PixelType::UnsignedShort;
    // Images shown in the views have textures, resized with them.
    makeDisplayCurrent();
    bool allocated = false;
    try {
        allocated = provideImage(colorImage, UnsignedByte, 3, width, height)
                    && provideImage(displayColorImage, UnsignedByte, 3, width, height)
                    && provideImage(depthImage, UnsignedShort, 1, width, height)
                    && provideImage(sceneImage, UnsignedByte, 3, width, height)
                    && provideImage(emptySceneImage, UnsignedByte, 3, width, height)
                    && provideImage(incomingColorImage, UnsignedByte, 3, width, height)
                    && provideImage(incomingDepthImage, UnsignedShort, 1, width, height);
        if (allocated) {
            fillImage<unsigned short>(depthImage, 0);
            fillImage<unsigned char>(incomingColorImage, 0);
            fillImage<unsigned short>(incomingDepthImage, 0);
            fillEmptyScene(emptySceneImage);
        }
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (allocated)
        return;

    VELTRANE_ERROR("Couldn't allocate memory for images");
    showCritical(tr("Error"), tr("Couldn't allocate memory for internal buffers. Please check that "
                                 "you have enough memory available. Exiting application."));
    QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::startWorkerThread()
{
    workerRunning = true;
    workerThread = new boost::thread([this] { reconstructionThread(); });
}

void MainWindow::onStopCapture()
{
    if (sensor)
        sensor->stop();
    if (recording) {
        stopRecording();
        ui->pushButtonLoadSequence->setEnabled(true);
    }
    stopWorkerThread();
    if (sensor) {
        sensor->removeListener(this);
        delete sensor;
        sensor = nullptr;
    }
}

void MainWindow::waitCanceled()
{
    sensorWaitDialog->close();
}

void MainWindow::onNewFrame(const TypedImage<unsigned char>* colour,
                            const TypedImage<unsigned short>* depth, const double*)
{
    if (!depth)
        return;
    QMetaObject::invokeMethod(sensorWaitDialog, "hide");

    // A played sequence waits until the worker has taken its previous frame,
    // in steps that closing the player can interrupt. Without a worker
    // nobody takes it: the frame is replaced, as a live one would be.
    if (playback) {
        while (newFrame && workerRunning)
            boost::this_thread::sleep_for(boost::chrono::milliseconds(playbackPacingPoll));
    }

    {
        // A live frame that the worker has not taken yet is replaced; it was
        // recorded all the same, so it counts as dropped by nobody.
        const QMutexLocker lock(frameMutex);
        incomingDepthImage->assign(depth, true);
        if (colour)
            incomingColorImage->assign(colour, true);
        newFrame = true;
    }

    if (recording) {
        // Without a colour frame the hand-off's colour stands in, which is
        // what the worker shows for it; only this thread writes it. Under the
        // lock the recorder stays: stopRecording() clears `recording`, then
        // waits for the lock before it lets the recorder go.
        const QMutexLocker lock(frameMutex);
        const auto* recordedColour =
            colour ? colour
                   : static_cast<const TypedImage<unsigned char>*>(incomingColorImage->memPointer());
        if (recording && recorder && !recorder->addFrame(depth, recordedColour))
            ++droppedRecordedFrames;
    }

    if (cameraRate.countFrame())
        QMetaObject::invokeMethod(ui->labelRecVideoFPS, "setText",
                                  Q_ARG(QString, frameRateText(cameraRate.rate())));
}

}  // namespace Veltrane
