#include "AppTestSupport.h"

#include "app/PlaybackWidget.h"
#include "capture/Playback.h"
#include "testsupport/Screenshots.h"
#include "testsupport/SequenceRecording.h"
#include "testsupport/SyntheticCamera.h"
#include "testsupport/Trajectory.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <cstring>
#include <mutex>

namespace Veltrane {
namespace {

using namespace TestSupport;

const PinholeCamera smallCamera = PinholeCamera().scaledDown(8);

std::vector<RgbdFrame> orbitFrames(int count)
{
    const SyntheticCamera sensor(SyntheticScene::tabletop(), smallCamera);
    return sensor.renderAll(tabletopOrbit(count).poses());
}

/// Which of the recorded frames each delivered frame was, in delivery order
/// (-1 for one that matches none).
class DeliveredFrames : public RGBDListener {
public:
    explicit DeliveredFrames(const std::vector<RgbdFrame>& recorded) : m_recorded(recorded) {}

    void onNewFrame(const TypedImage<unsigned char>*, const TypedImage<unsigned short>* depth,
                    const double*) override
    {
        int index = -1;
        for (std::size_t i = 0; i < m_recorded.size(); ++i)
            if (std::memcmp(depth->data(), m_recorded[i].depth->data(), depth->byteSize()) == 0)
                index = static_cast<int>(i);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_indices.push_back(index);
    }

    std::vector<int> indices() const
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_indices;
    }
    std::size_t count() const { return indices().size(); }

private:
    const std::vector<RgbdFrame>& m_recorded;
    mutable std::mutex m_mutex;
    std::vector<int> m_indices;
};

/// A bar controlling a player of a recorded sequence of `frameCount` small
/// frames, registered as the window does it.
class PlaybackBarTest : public ::testing::Test {
protected:
    void open(int frameCount)
    {
        frames = orbitFrames(frameCount);
        const std::string path = folder.filePath("sequence.kvs").toStdString();
        ASSERT_TRUE(recordSequence(path, frames, smallCamera));
        player.addListener(&delivered);
        bar.resetControls();
        bar.playback = &player;
        player.addProgress(&bar);
        ASSERT_TRUE(player.open(path));
    }

    QPushButton* button(const char* name) { return bar.findChild<QPushButton*>(name); }
    QString label(const char* name) { return bar.findChild<QLabel*>(name)->text(); }
    QSlider* slider() { return bar.findChild<QSlider*>("sliderPosition"); }
    QCheckBox* loopBox() { return bar.findChild<QCheckBox*>("checkBoxLoop"); }
    bool playerIn(PlaybackState state)
    {
        return waitUntil([&] { return player.state() == state; });
    }

    QTemporaryDir folder;
    std::vector<RgbdFrame> frames;
    DeliveredFrames delivered{frames};
    PlaybackWidget bar;
    Playback player;  // goes before the bar that observes it
};

TEST_F(PlaybackBarTest, PlaysTenFramesToTheEndShowingEachPositionAndFinishesOnce)
{
    open(10);
    QSignalSpy finished(&bar, &PlaybackWidget::finishedPlayback);
    QStringList shown;
    const QObject connection;  // ends the connection with the test
    QObject::connect(slider(), &QSlider::valueChanged, &connection, [&] { shown << label("labelFrame"); });
    ASSERT_TRUE(waitUntil([&] { return label("labelFrames") == "10"; })) << "the stopped player reports";
    EXPECT_EQ(label("labelFrame"), "1");
    EXPECT_FALSE(button("pushButtonStop")->isEnabled());

    button("pushButtonPlay")->click();
    EXPECT_TRUE(bar.isPlaying());
    EXPECT_TRUE(button("pushButtonStop")->isEnabled());
    ASSERT_TRUE(playerIn(PlaybackState::Paused)) << "the player pauses after the last frame";
    handleEventsFor(100);

    EXPECT_EQ(delivered.indices(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(shown, (QStringList{"2", "3", "4", "5", "6", "7", "8", "9", "10"}));
    EXPECT_EQ(label("labelFrames"), "10");
    EXPECT_EQ(slider()->minimum(), 0);
    EXPECT_EQ(slider()->maximum(), 9);
    EXPECT_EQ(finished.count(), 1);
    saveScreenshot(bar, "PlaybackBarAtTheEnd");

    // The bar still shows Pause: one press only turns it to Play, the next
    // plays from the first frame again.
    EXPECT_TRUE(bar.isPlaying());
    button("pushButtonPlay")->click();
    EXPECT_FALSE(bar.isPlaying());
    EXPECT_EQ(player.state(), PlaybackState::Paused);
    EXPECT_EQ(delivered.count(), 10u);
    button("pushButtonPlay")->click();
    ASSERT_TRUE(waitUntil([&] { return delivered.count() == 20 && player.state() == PlaybackState::Paused; }));
    handleEventsFor(100);
    EXPECT_EQ(delivered.indices()[10], 0);
    EXPECT_EQ(finished.count(), 2);
}

TEST_F(PlaybackBarTest, WithLoopTurnsRoundAtTheEndsAndNeverFinishes)
{
    open(10);
    player.setFrameRate(200.0);
    QSignalSpy finished(&bar, &PlaybackWidget::finishedPlayback);
    loopBox()->setChecked(true);
    EXPECT_TRUE(bar.isLooping());

    button("pushButtonPlay")->click();
    ASSERT_TRUE(waitUntil([&] { return delivered.count() >= 25; }));
    EXPECT_EQ(player.state(), PlaybackState::Playing);
    const std::vector<int> indices = delivered.indices();
    const std::vector<int> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2};
    EXPECT_EQ(std::vector<int>(indices.begin(), indices.begin() + 21), expected);
    handleEventsFor(50);
    EXPECT_EQ(finished.count(), 0);
}

TEST_F(PlaybackBarTest, StopWhilePlayingShowsTheFirstFrameAndLeavesThePlayerStopped)
{
    open(10);
    button("pushButtonPlay")->click();
    ASSERT_TRUE(waitUntil([&] { return delivered.count() >= 3; }));

    button("pushButtonStop")->click();
    EXPECT_FALSE(bar.isPlaying());
    EXPECT_TRUE(button("pushButtonPlay")->isEnabled());
    EXPECT_FALSE(button("pushButtonStop")->isEnabled());
    EXPECT_EQ(delivered.indices().back(), 0) << "the first frame is shown again";
    EXPECT_EQ(player.state(), PlaybackState::Stopped);
    const std::size_t afterStop = delivered.count();
    handleEventsFor(100);
    EXPECT_EQ(delivered.count(), afterStop) << "nothing plays on";
}

TEST_F(PlaybackBarTest, PlayPauseThenStop)
{
    open(10);
    button("pushButtonPlay")->click();
    button("pushButtonPlay")->click();
    EXPECT_EQ(player.state(), PlaybackState::Paused);
    EXPECT_FALSE(bar.isPlaying());
    EXPECT_TRUE(button("pushButtonStop")->isEnabled());

    button("pushButtonStop")->click();
    EXPECT_EQ(player.state(), PlaybackState::Stopped);
    EXPECT_FALSE(button("pushButtonStop")->isEnabled());
}

TEST_F(PlaybackBarTest, InReconstructionModeStopStopsThePlayerAndFinishesWithoutAFrame)
{
    open(10);
    QSignalSpy finished(&bar, &PlaybackWidget::finishedPlayback);
    button("pushButtonPlay")->click();
    ASSERT_TRUE(waitUntil([&] { return delivered.count() >= 2; }));
    bar.reconstructionMode = true;

    bar.stop();
    const std::size_t afterStop = delivered.count();
    EXPECT_EQ(player.state(), PlaybackState::Stopped);
    EXPECT_EQ(finished.count(), 1);
    handleEventsFor(100);
    EXPECT_EQ(delivered.count(), afterStop) << "no frame stepped";
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(PlaybackBarTest, PlayingForAReconstructionHidesTheButtonsAndRunsToTheEnd)
{
    open(10);
    QSignalSpy finished(&bar, &PlaybackWidget::finishedPlayback);
    button("pushButtonPlay")->click();  // already playing: the bar pauses first
    ASSERT_TRUE(waitUntil([&] { return delivered.count() >= 1; }));

    bar.playForReconstruction();
    EXPECT_TRUE(bar.reconstructionMode);
    EXPECT_TRUE(bar.isPlaying());
    EXPECT_TRUE(button("pushButtonPlay")->isHidden());
    EXPECT_TRUE(button("pushButtonStop")->isHidden());
    ASSERT_TRUE(playerIn(PlaybackState::Paused));
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(delivered.indices().back(), 9);

    bar.resetControls();
    EXPECT_FALSE(bar.reconstructionMode);
    EXPECT_FALSE(button("pushButtonPlay")->isHidden());
    EXPECT_FALSE(button("pushButtonStop")->isHidden());
}

TEST_F(PlaybackBarTest, AOneFrameSequenceFinishesOncePerDeliveredFrameNotWhileResting)
{
    open(1);
    QSignalSpy finished(&bar, &PlaybackWidget::finishedPlayback);
    handleEventsFor(150);  // several idle reports of the stopped player
    EXPECT_EQ(label("labelFrame"), "1");
    EXPECT_EQ(label("labelFrames"), "1");
    EXPECT_EQ(finished.count(), 0);

    button("pushButtonPlay")->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }));
    handleEventsFor(100);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(delivered.count(), 1u);
}

TEST_F(PlaybackBarTest, ProgressReachesTheLabelsOnlyThroughTheEventLoop)
{
    open(10);
    ASSERT_TRUE(waitUntil([&] { return label("labelFrames") == "10"; }));
    bar.setProgress(4, 10);
    EXPECT_EQ(label("labelFrame"), "1") << "a report is passed on, not shown on the caller's thread";
    ASSERT_TRUE(waitUntil([&] { return label("labelFrame") == "5"; }));
    EXPECT_EQ(slider()->value(), 4);
}

TEST(PlaybackBar, LoopWithoutAPlayerChangesNothingAndAResetTurnsLoopingOff)
{
    PlaybackWidget bar;
    auto* loop = bar.findChild<QCheckBox*>("checkBoxLoop");
    loop->setChecked(true);
    EXPECT_FALSE(bar.isLooping());
    bar.start();
    bar.stop();
    EXPECT_FALSE(bar.isPlaying());

    Playback player;  // never opened
    bar.playback = &player;
    loop->setChecked(false);
    loop->setChecked(true);
    EXPECT_TRUE(bar.isLooping());
    bar.resetControls();
    EXPECT_FALSE(loop->isChecked());
    EXPECT_FALSE(bar.isLooping());
    bar.playback = nullptr;
}

}  // namespace
}  // namespace Veltrane
