// Choice of the compute device and creation of the fusion back-end.

#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include "core/ClDevice.h"
#include "core/ClEnvironment.h"
#include "core/ClPlatform.h"
#include "core/Logging.h"
#include "platform/OpenClRuntime.h"
#include "reconstruction/ClMarchingCubes.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/SurfaceReconstructionGPU.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent>

#include <stdexcept>

namespace Veltrane {

namespace {

/// The entry of the device box that stands for the CPU; not translated.
const QString cpuItem = "CPU";

/// Whether the GPU part `Part` can be built on `environment`; the probe is
/// deleted at once. A part that cannot be built is logged with `fallBack`.
template <typename Part>
bool buildsOn(ClEnvironment* environment, const char* fallBack)
{
    try {
        const Part probe(environment);
        return true;
    } catch (const std::runtime_error&) {
        VELTRANE_WARN(fallBack);
        return false;
    }
}

}  // namespace

void MainWindow::initCL()
{
    if (closed)
        return;
    const BusyScope busy(*this);
    try {
        if (!openClRuntimeInstalled()) {
            VELTRANE_WARN("OpenCL.dll not found on system. Falling back to CPU reconstruction.");
            cpuReconstruction = cpuMarchingCubes = true;
        } else {
            findGpuDevices();
            QCoreApplication::processEvents();
            if (clDevices.empty())
                useCpuOnly();
            else
                probeGpu();
        }
    } catch (const std::exception&) {
        sensorWaitDialog->hide();
        VELTRANE_ERROR("Couldn't create OpenCL objects");
        showCritical(tr("Error"),
                     tr("Couldn't initialize OpenCL components. Please check that you have an "
                        "OpenCL-capable GPU and the newest driver installed. Exiting application."));
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }

    // The device box stays locked while the back-end is built with its device.
    ui->comboBoxComputeDevice->setEnabled(false);
    reconstructionCreation = QtConcurrent::run([this] {
        try {
            createReconstruction();
        } catch (const std::exception&) {
            VELTRANE_ERROR("Couldn't create OpenCL objects");
        }
    });
    waitFor(reconstructionCreation);
    ui->comboBoxComputeDevice->setEnabled(true);
}

void MainWindow::findGpuDevices()
{
    const cl_device_type offered = qEnvironmentVariableIntValue(cpuAsGpuVariable) == 1
                                       ? CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_CPU
                                       : CL_DEVICE_TYPE_GPU;
    for (std::unique_ptr<ClPlatform>& platform : ClPlatform::platforms()) {
        for (std::unique_ptr<ClDevice>& device : platform->devices(offered))
            clDevices.emplace_back(new ClPlatform(platform->id()), device.release());
    }
}

void MainWindow::useCpuOnly()
{
    VELTRANE_ERROR("No GPU OpenCL device");
    showCritical(tr("Error"),
                 tr("Couldn't find OpenCL capable GPU. Please check that you have an "
                    "OpenCL-capable GPU and the newest driver installed. Only CPU reconstruction "
                    "will be available."));
    const QSignalBlocker blocker(ui->comboBoxComputeDevice);
    ui->comboBoxComputeDevice->addItem(cpuItem);
    ui->comboBoxComputeDevice->setCurrentIndex(0);
    cpuReconstruction = cpuMarchingCubes = true;
}

void MainWindow::probeGpu()
{
    for (std::size_t i = 0; i < clDevices.size(); ++i) {
        const ClDevice& device = *clDevices[i].second;
        VELTRANE_INFO("Device " << i);
        VELTRANE_INFO("Name: " << device.name());
        VELTRANE_INFO("Vendor: " << device.vendor());
        VELTRANE_INFO("Max compute units: " << device.maxComputeUnits());
        VELTRANE_INFO("Max work group size: " << device.maxWorkGroupSize());
        VELTRANE_INFO("Global memory: " << device.globalMemSize());
        VELTRANE_INFO("Image support: " << (device.imageSupport() ? 1 : 0));
    }

    clEnvironment = new ClEnvironment(clDevices.front().first, clDevices.front().second);
    VELTRANE_INFO("Using OpenCL device " << clDevices.front().second->name());
    QCoreApplication::processEvents();

    cpuMarchingCubes = !buildsOn<ClMarchingCubes>(
        clEnvironment, "Could not create OpenCL Marching Cubes. Falling back to CPU version.");
    QCoreApplication::processEvents();

    cpuReconstruction = !buildsOn<SurfaceReconstructionGPU>(
        clEnvironment, "Could not create OpenCL reconstruction. Falling back to CPU version.");
    if (cpuReconstruction)
        clearClDevices();
    QCoreApplication::processEvents();

    const QSignalBlocker blocker(ui->comboBoxComputeDevice);
    for (const auto& pair : clDevices)
        ui->comboBoxComputeDevice->addItem(QString::fromStdString(pair.second->name()));
    ui->comboBoxComputeDevice->addItem(cpuItem);
    ui->comboBoxComputeDevice->setCurrentIndex(0);
}

void MainWindow::createReconstruction()
{
    if (cpuReconstruction)
        reconstruction = new SurfaceReconstructionCPU;
    else
        reconstruction = new SurfaceReconstructionGPU(clEnvironment);
}

void MainWindow::onDeviceChanged()
{
    const int index = ui->comboBoxComputeDevice->currentIndex();
    const int deviceCount = static_cast<int>(clDevices.size());
    if (index < 0 || index > deviceCount || !reconstructionCreation.isFinished() || reconstructing)
        return;
    cpuReconstruction = index == deviceCount;

    try {
        const std::lock_guard<std::mutex> lock(backEndMutex);
        delete reconstruction;
        reconstruction = nullptr;
        delete clEnvironment;
        clEnvironment = nullptr;
        if (!cpuReconstruction) {
            const auto& [platform, device] = clDevices[index];
            clEnvironment = new ClEnvironment(platform, device);
            VELTRANE_INFO("Using OpenCL device " << device->name());
        }
        createReconstruction();
    } catch (const std::exception&) {
        reportOpenClFailure();
    }
}

void MainWindow::reportOpenClFailure()
{
    VELTRANE_ERROR("Couldn't create OpenCL objects");
    showCritical(tr("Error"),
                 tr("Couldn't initialize OpenCL components. Please check that you have an "
                    "OpenCL-capable GPU and the newest driver installed."));
}

}  // namespace Veltrane
