#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "app/CountDownDialog.h"
#include "core/SharedImage.h"
#include "reconstruction/ReconstructionParameters.h"
#include "reconstruction/SurfaceReconstructionCPU.h"
#include "testsupport/LogCapture.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace Veltrane {
namespace {

using namespace TestSupport;

/// Small frames of the table scene, enough to fuse a surface quickly.
const PinholeCamera camera = PinholeCamera().scaledDown(8);

std::vector<RgbdFrame> tableFrames(int count)
{
    return SyntheticCamera(SyntheticScene::tabletop(), camera).renderAll(tabletopOrbit(count).poses());
}

/// The CPU back-end, counting what it is asked to do; the answers of the
/// frames it processes can be replaced by scripted ones.
class ScriptedReconstruction : public SurfaceReconstructionCPU {
public:
    /// Answers of the next frames, given after each frame was fused.
    void script(std::initializer_list<int> results)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_results.insert(m_results.end(), results);
    }

    bool init(ReconstructionParameters* parameters) override
    {
        ++inits;
        return SurfaceReconstructionCPU::init(parameters);
    }
    int processFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* colour,
                     const double* pose, TypedImage<unsigned char>* scene, bool integrate) override
    {
        int result = SurfaceReconstructionCPU::processFrame(depth, colour, pose, scene, integrate);
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_results.empty()) {
            result = m_results.front();
            m_results.pop_front();
        }
        ++frames;
        return result;
    }
    void reset() override
    {
        ++resets;
        SurfaceReconstructionCPU::reset();
    }

    std::atomic<int> inits{0};
    std::atomic<int> frames{0};
    std::atomic<int> resets{0};

private:
    std::mutex m_mutex;
    std::deque<int> m_results;
};

/// A window whose back-ends are scripted ones.
class ScriptedWindow : public MainWindow {
public:
    std::atomic<int> backEndsMade{0};

protected:
    void createReconstruction() override
    {
        MainWindowProbe::reconstruction(*this) = new ScriptedReconstruction;
        ++backEndsMade;
    }
};

/// A window in capture mode, with a scripted back-end, a small volume of
/// 128 voxels a side one metre in front of the camera and the small frames
/// of `camera`, which the test hands in itself.
class ScanControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(window); }, 20000));
        MainWindowProbe::setFrameSize(window, camera.width, camera.height);
        MainWindowProbe::parameters(window)->setIntrinsics(camera.matrix());
        button("pushButtonVolResLow")->click();
        boxesBefore = boxes.boxes().size();
    }
    void TearDown() override { stopFeeding(); }

    template <typename T = QPushButton>
    T* child(const char* name)
    {
        return window.findChild<T*>(name);
    }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    ScriptedReconstruction* backEnd()
    {
        return dynamic_cast<ScriptedReconstruction*>(MainWindowProbe::reconstruction(window));
    }
    bool reconstructing() { return MainWindowProbe::reconstructing(window); }
    int mode() { return MainWindowProbe::uiMode(window); }
    QString light() { return child<QLabel>("labelRecStatus")->styleSheet(); }
    std::size_t newBoxes() { return boxes.boxes().size() - boxesBefore; }

    /// Hands frame `index` to the window as the camera would, and waits
    /// until the back-end has processed it.
    bool feed(int index)
    {
        const int before = backEnd()->frames;
        const RgbdFrame& frame = frames[std::size_t(index)];
        window.onNewFrame(frame.colour.get(), frame.depth.get(), nullptr);
        return waitUntil([&] { return backEnd()->frames > before; });
    }
    /// Hands the frames in over and over on a thread of their own, as a
    /// camera does, until stopFeeding().
    void startFeeding()
    {
        feeding = true;
        feeder = std::thread([this] {
            for (std::size_t i = 0; feeding; i = (i + 1) % frames.size()) {
                window.onNewFrame(frames[i].colour.get(), frames[i].depth.get(), nullptr);
                QThread::msleep(10);
            }
        });
    }
    void stopFeeding()
    {
        feeding = false;
        if (feeder.joinable())
            feeder.join();
    }

    MessageBoxLog boxes{QString(), QMessageBox::No};
    std::size_t boxesBefore = 0;
    const std::vector<RgbdFrame> frames = tableFrames(8);
    ScriptedWindow window;
    std::atomic<bool> feeding{false};
    std::thread feeder;
};

const char* const greenLight = "rgb(0,255,0)";
const char* const redLight = "rgb(255,0,0)";

TEST_F(ScanControlTest, TrackingLightIsRedWhileTrackingIsLostAndGreenOnceItHolds)
{
    window.onStartReconstruction();
    ASSERT_TRUE(reconstructing());
    EXPECT_EQ(mode(), 2);
    backEnd()->script({0, 1, 1, 0});
    const char* expected[] = {greenLight, redLight, redLight, greenLight};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(feed(i));
        EXPECT_TRUE(waitUntil([&] { return light().contains(expected[i]); })) << "frame " << i;
    }
    EXPECT_TRUE(light().contains("border-radius: 10px;"));
    EXPECT_TRUE(reconstructing()) << "a lost tracking goes on";
}

TEST_F(ScanControlTest, ABackEndErrorStopsOnceAndStillGivesAMesh)
{
    LogCapture log;
    window.onStartReconstruction();
    backEnd()->script({0, 0, 0, -5, -5, -5});
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(feed(i));
    startFeeding();
    ASSERT_TRUE(waitUntil([&] { return mode() == 3; }, 20000));
    stopFeeding();
    handleEventsFor(100);

    EXPECT_GE(log.countStartingWith("ERROR Error occurred during reconstruction. Aborting."), 1u);
    const Mesh* mesh = MainWindowProbe::mesh(window);
    ASSERT_NE(mesh, nullptr) << "what was fused before the error";
    EXPECT_FALSE(mesh->faces().empty());
    EXPECT_FALSE(MainWindowProbe::meshSaved(window));
    EXPECT_EQ(newBoxes(), 0u) << "no warning: the scan was not lost";
    EXPECT_EQ(window.backEndsMade, 1) << "the scan ended once, with its mesh";
    EXPECT_EQ(MainWindowProbe::reconstruction(window), nullptr);
    EXPECT_FALSE(MainWindowProbe::parameters(window)->locked) << "the back-end was released";
    EXPECT_FALSE(button("pushButtonMeshUndo")->isEnabled());
    EXPECT_FALSE(button("pushButtonMeshRedo")->isEnabled());
    EXPECT_FALSE(button("pushButtonMeshReset")->isEnabled());
}

TEST_F(ScanControlTest, NothingFusedSaysSoAndGoesBackToCapture)
{
    window.onStartReconstruction();
    window.onStopReconstruction();
    // Then capture starts again, which finds no camera here.
    ASSERT_EQ(newBoxes(), 2u);
    const MessageBoxLog::Box& told = boxes.boxes()[boxesBefore];
    EXPECT_EQ(told.title, "Reconstruction");
    EXPECT_EQ(told.text, "Nothing was reconstructed.");
    EXPECT_EQ(told.icon, QMessageBox::Warning);
    EXPECT_EQ(MainWindowProbe::mesh(window), nullptr);
    EXPECT_EQ(mode(), 1);
    EXPECT_EQ(window.backEndsMade, 2) << "a new back-end for the next scan";
}

TEST_F(ScanControlTest, CancellingReturnsToCaptureWithANewBackEndAndNoMesh)
{
    window.onStartReconstruction();
    ASSERT_TRUE(feed(0));
    button("pushButtonCancelReconstruction")->click();
    EXPECT_FALSE(reconstructing());
    EXPECT_EQ(mode(), 1);
    EXPECT_EQ(MainWindowProbe::mesh(window), nullptr);
    ASSERT_EQ(newBoxes(), 1u) << "only the camera, which capture looks for again";
    EXPECT_TRUE(boxes.boxes().back().text.startsWith("Couldn't start sensor."));
    EXPECT_EQ(window.backEndsMade, 2);
    ASSERT_NE(backEnd(), nullptr);
    EXPECT_EQ(backEnd()->inits, 0) << "not initialised";
    EXPECT_FALSE(MainWindowProbe::parameters(window)->locked);
    EXPECT_TRUE(MainWindowProbe::workerExists(window)) << "capture runs again";
}

TEST_F(ScanControlTest, ResettingEmptiesTheVolumeAndTheScanGoesOn)
{
    window.onStartReconstruction();
    startFeeding();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(waitUntil([&] { return backEnd()->frames > 3 * (i + 1); }));
        button("pushButtonResetVolume")->click();
    }
    stopFeeding();
    EXPECT_EQ(backEnd()->resets, 5);
    EXPECT_TRUE(reconstructing());
    EXPECT_EQ(mode(), 2);
}

TEST_F(ScanControlTest, DepthBeyondTheCutOffIsDroppedBeforeFusion)
{
    child<QCheckBox>("checkBoxDepthCutoff")->setChecked(true);
    child<QSpinBox>("spinBoxDepthCutoff")->setValue(80);
    window.onStartReconstruction();
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, camera.width, camera.height, 1, 1);
    depth.fill(800);
    depth.typedData()[0] = 801;
    window.onNewFrame(frames[0].colour.get(), &depth, nullptr);
    ASSERT_TRUE(waitUntil([&] { return backEnd()->frames == 1; }));
    const auto* shown =
        static_cast<TypedImage<unsigned short>*>(MainWindowProbe::depthImage(window)->mem())->typedData();
    EXPECT_EQ(shown[0], 0);
    EXPECT_EQ(shown[1], 800);
}

TEST_F(ScanControlTest, StartingWithoutABackEndIsRefusedWithAMessage)
{
    SurfaceReconstruction*& made = MainWindowProbe::reconstruction(window);
    delete made;
    made = nullptr;
    window.onStartReconstruction();
    EXPECT_FALSE(reconstructing());
    EXPECT_EQ(mode(), 1);
    ASSERT_EQ(newBoxes(), 1u);
    EXPECT_EQ(boxes.boxes().back().title, "Reconstruction");
    EXPECT_TRUE(boxes.boxes().back().text.startsWith("The compute device is not ready"));
}

TEST_F(ScanControlTest, DelayedStartCountsDownAndACancelledCountDownStartsNothing)
{
    auto* dialog = window.findChild<CountDownDialog*>();
    ASSERT_NE(dialog, nullptr);
    child<QSpinBox>("spinBoxStartDelay")->setValue(1);

    window.onStartReconstruction();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), "Reconstruction");
    EXPECT_EQ(dialog->objectName(), "topWidget");
    EXPECT_TRUE(dialog->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dialog->count(), 1);
    EXPECT_FALSE(reconstructing());
    ASSERT_TRUE(waitUntil([&] { return reconstructing(); }, 3000));
    EXPECT_EQ(mode(), 2);
    window.onCancelReconstruction();

    // Cancelled, then started again at once: only the second start counts.
    window.onStartReconstruction();
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
    child<QSpinBox>("spinBoxStartDelay")->setValue(0);
    window.onStartReconstruction();
    ASSERT_TRUE(reconstructing());
    handleEventsFor(1500);
    EXPECT_EQ(backEnd()->inits, 1);
    window.onCancelReconstruction();

    child<QSpinBox>("spinBoxStartDelay")->setValue(1);
    window.onStartReconstruction();
    dialog->reject();
    handleEventsFor(1500);
    EXPECT_FALSE(reconstructing());
    EXPECT_EQ(backEnd()->inits, 0);
    EXPECT_EQ(mode(), 1);
}

TEST_F(ScanControlTest, TimedStopEndsItsScanOnlyAndGivesAMesh)
{
    child<QCheckBox>("checkBoxDuration")->setChecked(true);
    child<QSpinBox>("spinBoxDuration")->setValue(1);

    // A scan ended by the user before its time leaves no stop behind for the
    // next one.
    window.onStartReconstruction();
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(feed(i));
    window.onStopReconstruction();
    ASSERT_EQ(mode(), 3);
    window.onFinish();
    ASSERT_EQ(mode(), 1);
    MainWindowProbe::setFrameSize(window, camera.width, camera.height);
    child<QCheckBox>("checkBoxDuration")->setChecked(false);
    window.onStartReconstruction();
    handleEventsFor(1500);
    EXPECT_TRUE(reconstructing()) << "the first scan's timed stop is gone";
    window.onCancelReconstruction();

    MainWindowProbe::setFrameSize(window, camera.width, camera.height);
    child<QCheckBox>("checkBoxDuration")->setChecked(true);
    window.onStartReconstruction();
    startFeeding();
    EXPECT_TRUE(waitUntil([&] { return mode() == 3; }, 5000)) << "stopped after a second";
    stopFeeding();
    ASSERT_NE(MainWindowProbe::mesh(window), nullptr);
    EXPECT_FALSE(MainWindowProbe::mesh(window)->faces().empty());
}

}  // namespace
}  // namespace Veltrane
