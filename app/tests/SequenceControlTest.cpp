#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "app/PlaybackWidget.h"
#include "capture/KorvastelFilePlugin.h"
#include "capture/Playback.h"
#include "capture/VeltraneFile.h"
#include "core/SharedImage.h"
#include "reconstruction/ReconstructionParameters.h"
#include "render/DisplayWidget.h"
#include "render/ImageView2D.h"
#include "testsupport/FakeSensor.h"
#include "testsupport/LogCapture.h"
#include "testsupport/Screenshots.h"
#include "testsupport/SequenceRecording.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <set>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera smallCamera = PinholeCamera().scaledDown(8);

std::vector<RgbdFrame> orbitFrames(int count, int firstDegrees = 0)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), smallCamera);
    Orbit orbit = tabletopOrbit(count);
    orbit.startDegrees = firstDegrees;
    return sensor.renderAll(orbit.poses());
}

template <typename T>
bool sameBytes(const TypedImage<T>& a, const TypedImage<T>& b)
{
    return a.byteSize() == b.byteSize() && std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
}

/// How many colours `picture` holds in `rect` (window coordinates of the
/// display widget, y upwards).
int colourCount(const QImage& picture, const QRect& rect)
{
    std::set<QRgb> colours;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            colours.insert(picture.pixel(x, picture.height() - 1 - y));
    return static_cast<int>(colours.size());
}

/// How many frames of the sequence file at `path` match `expected`, frame by
/// frame from the first, depth and colour bit for bit; -1 when the file
/// cannot be read or holds another number of frames.
int matchingFrames(const QString& path, const std::vector<RgbdFrame>& expected)
{
    VeltraneFile file(path.toStdString());
    KorvastelFilePlugin plugin;
    int width = 0, height = 0, count = 0;
    Eigen::Matrix3d matrix;
    if (!file.open(VeltraneFile::ReadMode) || !file.beginReadBlock(0, &plugin)
        || !plugin.readHeader(&width, &height, &matrix, &count)
        || count != static_cast<int>(expected.size()))
        return -1;
    TypedImage<unsigned short> depth(PixelType::UnsignedShort, width, height, 1, 1);
    TypedImage<unsigned char> colour(PixelType::UnsignedByte, width, height, 1, 3);
    int matching = 0;
    for (; matching < count; ++matching) {
        const RgbdFrame& frame = expected[std::size_t(matching)];
        if (!plugin.readFrame(matching, &depth, &colour) || !sameBytes(depth, *frame.depth)
            || !sameBytes(colour, *frame.colour))
            break;
    }
    return matching;
}

/// The last box shown with `title`, or null.
const MessageBoxLog::Box* lastTitled(const MessageBoxLog& log, const QString& title)
{
    const auto& boxes = log.boxes();
    const auto found = std::find_if(boxes.rbegin(), boxes.rend(),
                                    [&](const MessageBoxLog::Box& box) { return box.title == title; });
    return found == boxes.rend() ? nullptr : &*found;
}

/// A window in capture mode whose camera is a fake that delivers `frames`
/// each time it is started; it has been started once already.
class SequenceControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().remove("captureFile");
        QSettings().remove("openSequence");
        // Capture started and the back-end built: no start-up work is left.
        ASSERT_TRUE(waitUntil(
            [&] { return MainWindowProbe::uiMode(window) == 1 && MainWindowProbe::reconstruction(window); },
            20000));
        RGBDSensor*& sensor = MainWindowProbe::sensor(window);
        delete sensor;
        camera = new FakeSensor(orbitFrames(cameraFrames), smallCamera);  // a copy of `frames`
        sensor = camera;
        camera->addListener(&window);
        ASSERT_TRUE(MainWindowProbe::startSensor(window));
        ASSERT_TRUE(waitUntil([&] { return camera->delivered() == cameraFrames; }));
        MainWindowProbe::updateUiMode(window);
    }

    QPushButton* button(const char* name) { return window.findChild<QPushButton*>(name); }
    PlaybackWidget* bar() { return window.findChild<PlaybackWidget*>("playbackWidget"); }
    /// Restarts the fake camera and waits until it has delivered its frames.
    bool deliverAgain()
    {
        camera->stop();
        const int before = camera->delivered();
        return camera->start() && waitUntil([&] { return camera->delivered() == before + cameraFrames; });
    }

    static constexpr int cameraFrames = 12;
    QTemporaryDir folder;
    MessageBoxLog boxes;
    std::vector<RgbdFrame> frames = orbitFrames(cameraFrames);
    MainWindow window;
    FakeSensor* camera = nullptr;  // the window's
};

TEST_F(SequenceControlTest, RecordsEveryCameraFrameBitIdenticalAndInOrder)
{
    const QString path = folder.filePath("recorded.kvs");
    LogCapture log;
    {
        FileDialogAnswers answers({{path, QString()}});
        button("pushButtonRecord")->click();
    }
    ASSERT_TRUE(MainWindowProbe::recording(window));
    EXPECT_EQ(button("pushButtonRecord")->text(), "Stop recording");
    EXPECT_FALSE(button("pushButtonRecord")->styleSheet().isEmpty());
    EXPECT_FALSE(button("pushButtonLoadSequence")->isEnabled());
    EXPECT_EQ(QSettings().value("captureFile").toString(), folder.path());
    ASSERT_TRUE(deliverAgain());
    window.show();
    saveScreenshot(window, "RecordingSequence");

    button("pushButtonRecord")->click();
    EXPECT_FALSE(MainWindowProbe::recording(window));
    EXPECT_EQ(button("pushButtonRecord")->text(), "Record sequence");
    EXPECT_TRUE(button("pushButtonRecord")->styleSheet().isEmpty());
    EXPECT_TRUE(button("pushButtonLoadSequence")->isEnabled());
    EXPECT_EQ(log.countStartingWith("INFO Recorded 12 frames ("), 1u);
    EXPECT_EQ(matchingFrames(path, frames), cameraFrames);
}

TEST_F(SequenceControlTest, ClosingTheWindowWhileRecordingLeavesACompleteFile)
{
    const QString path = folder.filePath("closed.kvs");
    {
        FileDialogAnswers answers({{path, QString()}});
        button("pushButtonRecord")->click();
    }
    ASSERT_TRUE(deliverAgain());
    window.close();
    EXPECT_EQ(matchingFrames(path, frames), cameraFrames);
}

TEST_F(SequenceControlTest, AFileThatCannotBeCreatedIsReportedAndNothingIsRecorded)
{
    {
        FileDialogAnswers answers({{folder.filePath("missing/recorded.kvs"), QString()}});
        button("pushButtonRecord")->click();
    }
    EXPECT_FALSE(MainWindowProbe::recording(window));
    const MessageBoxLog::Box* told = lastTitled(boxes, "Record sequence");
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->icon, QMessageBox::Warning);
    EXPECT_TRUE(told->text.contains("missing/recorded.kvs could not be created"));
    EXPECT_EQ(button("pushButtonRecord")->text(), "Record sequence");
    EXPECT_TRUE(button("pushButtonRecord")->styleSheet().isEmpty());
    EXPECT_TRUE(button("pushButtonLoadSequence")->isEnabled());
}

TEST_F(SequenceControlTest, RecordingAsksNothingOutsideCaptureModeAndACancelChangesNothing)
{
    FileDialogAnswers answers({{QString(), QString()}});
    MainWindowProbe::uiMode(window) = 3;
    button("pushButtonRecord")->click();
    handleEventsFor(50);
    EXPECT_EQ(answers.openedIn().size(), 0u) << "outside capture mode";

    MainWindowProbe::uiMode(window) = 1;
    button("pushButtonRecord")->click();
    EXPECT_EQ(answers.openedIn().size(), 1u);
    EXPECT_FALSE(MainWindowProbe::recording(window));
    EXPECT_EQ(button("pushButtonRecord")->text(), "Record sequence");
    EXPECT_TRUE(button("pushButtonLoadSequence")->isEnabled());
}

TEST_F(SequenceControlTest, LoadingStopsTheCameraShowsTheFirstFrameAndClosingBringsTheCameraBack)
{
    const PinholeCamera sequenceCamera = PinholeCamera().scaledDown(4);
    const SyntheticCamera renderer(SyntheticScene::tabletop(), sequenceCamera);
    const std::vector<RgbdFrame> recorded = renderer.renderAll(tabletopOrbit(5).poses());
    const QString path = folder.filePath("loaded.kvs");
    ASSERT_TRUE(recordSequence(path.toStdString(), recorded, sequenceCamera));
    ReconstructionParameters& parameters = *MainWindowProbe::parameters(window);
    parameters.setIntrinsics({1, 0, 0, 0, 1, 0, 0, 0, 1});

    {
        FileDialogAnswers answers({{path, QString()}});
        button("pushButtonLoadSequence")->click();
    }
    Playback* player = MainWindowProbe::playback(window);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(QSettings().value("openSequence").toString(), folder.path());
    EXPECT_FALSE(camera->stop()) << "the camera was stopped";
    EXPECT_EQ(player->state(), PlaybackState::Stopped) << "resting at the start";
    EXPECT_EQ(MainWindowProbe::frameWidth(window), sequenceCamera.width);
    EXPECT_TRUE(sameBytes(*static_cast<TypedImage<unsigned short>*>(
                              MainWindowProbe::incomingDepthImage(window)->mem()),
                          *recorded.front().depth))
        << "the first frame is handed on";
    EXPECT_EQ(parameters.intrinsics(), sequenceCamera.matrix())
        << "a sequence of another size than 640 x 480 keeps its own calibration";
    EXPECT_TRUE(bar()->isVisibleTo(&window));
    EXPECT_EQ(bar()->playback, player);
    EXPECT_EQ(button("pushButtonLoadSequence")->text(), "Close sequence");
    EXPECT_FALSE(button("pushButtonLoadSequence")->styleSheet().isEmpty());
    EXPECT_FALSE(button("pushButtonRecord")->isEnabled());
    EXPECT_TRUE(button("pushButtonStartReconstruction")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return bar()->findChild<QLabel*>("labelFrames")->text() == "5"; }));

    // The worker takes the first frame, and the colour and depth views draw it.
    EXPECT_TRUE(waitUntil([&] {
        return sameBytes(*static_cast<TypedImage<unsigned short>*>(MainWindowProbe::depthImage(window)->memPointer()),
                         *recorded.front().depth)
               && sameBytes(*static_cast<TypedImage<unsigned char>*>(MainWindowProbe::colorImage(window)->memPointer()),
                            *recorded.front().colour);
    }));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage picture = window.findChild<DisplayWidget*>("displayWidget")->picture();
    const MainWindowProbe::Views views = MainWindowProbe::views(window);
    for (const InteractiveView* view : std::initializer_list<const InteractiveView*>{views.color, views.depth})
        EXPECT_GT(colourCount(picture, view->rect()), 8) << "a picture, not a plain view";
    saveWindowScreenshot(window, "SequenceLoaded");

    const int delivered = camera->delivered();
    button("pushButtonLoadSequence")->click();
    EXPECT_EQ(MainWindowProbe::playback(window), nullptr);
    EXPECT_EQ(bar()->playback, nullptr);
    EXPECT_FALSE(bar()->isVisibleTo(&window));
    EXPECT_EQ(button("pushButtonLoadSequence")->text(), "Load sequence");
    EXPECT_TRUE(button("pushButtonLoadSequence")->styleSheet().isEmpty());
    EXPECT_TRUE(button("pushButtonRecord")->isEnabled());
    EXPECT_EQ(MainWindowProbe::uiMode(window), 1);
    EXPECT_TRUE(waitUntil([&] { return camera->delivered() == delivered + cameraFrames; }))
        << "the camera runs again";
    EXPECT_EQ(MainWindowProbe::frameWidth(window), smallCamera.width);
}

TEST_F(SequenceControlTest, APlayerWhoseFramesNobodyTakesClosesAtOnce)
{
    const QString path = folder.filePath("untaken.kvs");
    ASSERT_TRUE(recordSequence(path.toStdString(), orbitFrames(30), smallCamera));
    for (const bool closeWindow : {false, true}) {
        SCOPED_TRACE(closeWindow ? "closing the window" : "closing the sequence");
        {
            FileDialogAnswers answers({{path, QString()}});
            button("pushButtonLoadSequence")->click();
        }
        ASSERT_NE(MainWindowProbe::playback(window), nullptr);
        MainWindowProbe::stopWorkerThread(window);
        bar()->start();
        QElapsedTimer clock;
        clock.start();
        if (closeWindow)
            EXPECT_TRUE(window.close());
        else
            button("pushButtonLoadSequence")->click();
        EXPECT_LT(clock.elapsed(), 2000);
        EXPECT_EQ(MainWindowProbe::playback(window), nullptr);
    }
}

TEST_F(SequenceControlTest, AFileThatCannotBeLoadedIsReportedAndTheCameraKeepsRunning)
{
    const QString path = folder.filePath("broken.kvs");
    std::ofstream(path.toStdString()) << "not a sequence";
    {
        FileDialogAnswers answers({{path, QString()}, {QString(), QString()}});
        button("pushButtonLoadSequence")->click();
        button("pushButtonLoadSequence")->click();  // cancelled
    }
    EXPECT_EQ(MainWindowProbe::playback(window), nullptr);
    const MessageBoxLog::Box* told = lastTitled(boxes, "Load sequence");
    ASSERT_NE(told, nullptr);
    EXPECT_EQ(told->icon, QMessageBox::Warning);
    EXPECT_TRUE(told->text.contains("broken.kvs could not be opened"));
    EXPECT_FALSE(bar()->isVisibleTo(&window));
    EXPECT_EQ(bar()->playback, nullptr);
    EXPECT_EQ(button("pushButtonLoadSequence")->text(), "Load sequence");
    EXPECT_TRUE(button("pushButtonRecord")->isEnabled());
    EXPECT_TRUE(camera->stop()) << "the camera was never stopped";
}

}  // namespace
}  // namespace Veltrane
