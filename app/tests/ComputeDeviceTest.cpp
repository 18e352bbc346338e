#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "core/Mesh.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "reconstruction/SurfaceReconstructionGPU.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <QComboBox>

#include <atomic>
#include <QPushButton>

namespace Veltrane {
namespace {

using namespace TestSupport;

/// A window whose device marching cubes can be made to fail.
class DeviceWindow : public MainWindow {
public:
    std::atomic<bool> deviceFails{false};
    std::atomic<int> deviceExtractions{0};

protected:
    Mesh* extractMeshOnDevice(ClImage& distance, ClImage* colours) override
    {
        ++deviceExtractions;
        return deviceFails ? nullptr : MainWindow::extractMeshOnDevice(distance, colours);
    }
};

/// A window started with the OpenCL CPU device standing in for a GPU.
class ComputeDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(*window); }, 60000));
        devices = window->findChild<QComboBox*>("comboBoxComputeDevice");
    }

    /// Hands `count` frames of the table scene to a reconstruction at 128
    /// voxels a side and ends it. (The device back-end takes frame sizes
    /// whose pyramid levels suit the device's buffer alignment: 320 x 240
    /// does.)
    void scan(int count)
    {
        const PinholeCamera camera = PinholeCamera().scaledDown(2);
        MainWindowProbe::setFrameSize(*window, camera.width, camera.height);
        MainWindowProbe::parameters(*window)->setIntrinsics(camera.matrix());
        window->findChild<QPushButton*>("pushButtonVolResLow")->click();
        window->onStartReconstruction();
        ASSERT_TRUE(MainWindowProbe::reconstructing(*window));
        const SyntheticCamera renderer(SyntheticScene::tabletop(), camera);
        for (const Eigen::Matrix4d& pose : tabletopOrbit(count).poses()) {
            const RgbdFrame frame = renderer.render(pose);
            window->onNewFrame(frame.colour.get(), frame.depth.get(), nullptr);
            ASSERT_TRUE(waitUntil([&] { return !MainWindowProbe::newFrame(*window); }));
        }
        handleEventsFor(200);
        window->onStopReconstruction();
    }

    LogCapture log;
    EnvironmentSetting cpuAsGpu{MainWindow::cpuAsGpuVariable, "1"};
    MessageBoxLog boxes{QString(), QMessageBox::No};
    std::unique_ptr<DeviceWindow> window = std::make_unique<DeviceWindow>();
    QComboBox* devices = nullptr;
};

TEST_F(ComputeDeviceTest, ACpuDeviceStandsInForAGpuAndTheBoxSwitchesBetweenThem)
{
    ASSERT_EQ(devices->count(), 2);
    EXPECT_EQ(devices->itemText(1), "CPU");
    EXPECT_EQ(devices->currentIndex(), 0);
    EXPECT_EQ(log.countStartingWith("INFO Device 0"), 1u);
    EXPECT_EQ(log.countStartingWith("INFO Using OpenCL device " + devices->itemText(0).toStdString()), 1u);
    EXPECT_FALSE(MainWindowProbe::cpuReconstruction(*window));
    EXPECT_FALSE(MainWindowProbe::cpuMarchingCubes(*window));
    EXPECT_NE(dynamic_cast<SurfaceReconstructionGPU*>(MainWindowProbe::reconstruction(*window)), nullptr);
    EXPECT_EQ(boxes.boxes().size(), 1u) << "the camera's box only: a GPU was found";

    devices->setCurrentIndex(1);
    EXPECT_NE(dynamic_cast<SurfaceReconstructionCPU*>(MainWindowProbe::reconstruction(*window)), nullptr);
    EXPECT_EQ(MainWindowProbe::clEnvironment(*window), nullptr);
    devices->setCurrentIndex(0);
    EXPECT_NE(dynamic_cast<SurfaceReconstructionGPU*>(MainWindowProbe::reconstruction(*window)), nullptr);
    EXPECT_NE(MainWindowProbe::clEnvironment(*window), nullptr);
}

TEST_F(ComputeDeviceTest, DeviceScanGivesItsMeshOnTheDeviceOrFromTheDownloadedVolumes)
{
    struct Case {
        const char* name;
        bool hostMarchingCubes;  ///< the device's did not build at start
        bool deviceFails;
        bool colour;
    };
    const Case cases[] = {
        {"device", false, false, true},
        {"device fails", false, true, true},
        {"host, colour", true, false, true},
        {"host, shape only", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MainWindowProbe::cpuMarchingCubes(*window) = c.hostMarchingCubes;
        window->deviceFails = c.deviceFails;
        window->deviceExtractions = 0;
        window->findChild<QPushButton*>(c.colour ? "pushButtonVolTypeColor" : "pushButtonVolTypeShape")
            ->click();
        ASSERT_EQ(MainWindowProbe::parameters(*window)->colorVolume, c.colour);
        log.clear();
        const std::size_t boxesBefore = boxes.boxes().size();
        scan(4);
        ASSERT_EQ(MainWindowProbe::uiMode(*window), 3);
        const Mesh* mesh = MainWindowProbe::mesh(*window);
        ASSERT_NE(mesh, nullptr);
        EXPECT_GT(mesh->faces().size(), 1000u);
        EXPECT_EQ(mesh->normals().size(), mesh->vertices().size());
        EXPECT_EQ(mesh->colors().size(), c.colour ? mesh->vertices().size() : 0u);
        EXPECT_EQ(log.countStartingWith("INFO Generating mesh: "), 1u);
        EXPECT_EQ(window->deviceExtractions, c.hostMarchingCubes ? 0 : 1);
        EXPECT_EQ(log.countStartingWith("WARN The OpenCL device gave no mesh."), c.deviceFails ? 1u : 0u);
        EXPECT_EQ(boxes.boxes().size(), boxesBefore) << "no message: the scan was not lost";
        window->onFinish();
        ASSERT_EQ(MainWindowProbe::uiMode(*window), 1);
    }
}

}  // namespace
}  // namespace Veltrane
