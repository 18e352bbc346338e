#include "capture/Playback.h"

#include "capture/ImageRecorder.h"

#include "testsupport/Eventually.h"
#include "testsupport/LogCapture.h"

#include "SequenceFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <boost/thread/thread.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Veltrane {
namespace {

using namespace TestFrames;

constexpr int W = 16;
constexpr int H = 12;

/// Records the index of every delivered frame and checks its contents.
class IndexListener : public RGBDListener {
public:
    void onNewFrame(const TypedImage<unsigned char>* colour, const TypedImage<unsigned short>* depth,
                    const double* pose) override
    {
        const int index = indexOf(*depth);
        const bool intact = colour && !pose && sameBytes(*depth, *depthFrame(W, H, index)) &&
                            sameBytes(*colour, *colourFrame(W, H, index));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_indices.push_back(index);
        m_times.push_back(std::chrono::steady_clock::now());
        m_intact = m_intact && intact;
        m_changed.notify_all();
    }

    /// Waits until `count` frames have arrived; false after the patience ran out.
    bool waitFor(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, Patience, [&] { return m_indices.size() >= count; });
    }

    std::vector<int> indices() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_indices;
    }

    std::vector<std::chrono::steady_clock::time_point> times() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_times;
    }

    bool intact() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_intact;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_indices;
    std::vector<std::chrono::steady_clock::time_point> m_times;
    bool m_intact = true;
};

class ProgressLog : public Progress {
public:
    bool setProgress(int value, int maximum) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.emplace_back(value, maximum);
        return true;
    }

    std::vector<std::pair<int, int>> reports() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reports;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reports.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<int, int>> m_reports;
};

class PlaybackTest : public ::testing::Test {
protected:
    std::string path(const char* name = "sequence.kvs") const
    {
        return m_dir.filePath(name).toStdString();
    }

    /// Opens a fresh sequence of `frames` frames, with the listener and the
    /// progress log attached, at 1000 frames per second.
    void openSequence(int frames)
    {
        ASSERT_TRUE(writeSequence(path(), W, H, frames));
        m_playback.addListener(&m_listener);
        m_playback.addProgress(&m_progress);
        m_playback.setFrameRate(1000.0);
        ASSERT_TRUE(m_playback.open(path()));
    }

    QTemporaryDir m_dir;
    IndexListener m_listener;
    ProgressLog m_progress;
    Playback m_playback;
};

TEST_F(PlaybackTest, OpensInStoppedWithTheRecordedCalibration)
{
    openSequence(2);
    EXPECT_EQ(m_playback.state(), PlaybackState::Stopped);
    EXPECT_EQ(m_playback.frameCount(), 2);
    EXPECT_EQ(m_playback.width(), W);
    EXPECT_EQ(m_playback.height(), H);
    EXPECT_EQ(m_playback.intrinsics(), Eigen::Map<const Eigen::Matrix3d>(Matrix))
        << "frames of another size than 640 x 480 keep the matrix they were recorded with";
    EXPECT_EQ(m_playback.directory(), m_dir.path().toStdString());
    EXPECT_FALSE(m_playback.open(path()));
    EXPECT_TRUE(m_playback.close());
    EXPECT_EQ(m_playback.state(), PlaybackState::Closed);
    EXPECT_FALSE(m_playback.close());
}

TEST_F(PlaybackTest, FramesOf640By480GetTheFixedCalibration)
{
    ASSERT_TRUE(writeSequence(path(), 640, 480, 1));
    ASSERT_TRUE(m_playback.open(path()));
    Eigen::Matrix3d expected;
    expected << 531, 0, 320, 0, 531, 240, 0, 0, 1;
    EXPECT_EQ(m_playback.intrinsics(), expected);
}

TEST_F(PlaybackTest, PlaysARecordingBitIdenticalInOrder)
{
    {
        ImageRecorder recorder(path());
        ASSERT_TRUE(recorder.open(W, H, Matrix));
        recorder.setRunning(true);
        recorder.start();
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(recorder.addFrame(depthFrame(W, H, i).get(), colourFrame(W, H, i).get()));
        ASSERT_TRUE(recorder.finish());
    }
    m_playback.addListener(&m_listener);
    m_playback.setFrameRate(1000.0);
    ASSERT_TRUE(m_playback.open(path()));
    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(6));
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_listener.indices(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(m_listener.intact());
}

TEST_F(PlaybackTest, PlaysEveryFrameOfARecordingWhoseFrameCountIsDamaged)
{
    ASSERT_TRUE(writeSequence(path(), W, H, 6));
    std::string bytes = readFile(path());
    putInt32(bytes, 40 + KorvastelFilePlugin::FrameCountOffset, 5);
    writeFile(path(), bytes);
    m_playback.addListener(&m_listener);
    m_playback.setFrameRate(1000.0);
    ASSERT_TRUE(m_playback.open(path()));
    EXPECT_EQ(m_playback.frameCount(), 6);
    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(6));
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_listener.indices(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_TRUE(m_listener.intact());
}

TEST_F(PlaybackTest, StepDeliversOneFrameThenPauses)
{
    openSequence(3);
    ASSERT_TRUE(m_playback.step());
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_listener.indices(), std::vector<int>{0});
    EXPECT_EQ(m_playback.position(), 1);
    EXPECT_TRUE(m_listener.intact());

    ASSERT_TRUE(m_playback.step());
    ASSERT_TRUE(m_listener.waitFor(2));
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_listener.indices(), (std::vector<int>{0, 1}));

    m_progress.clear();
    m_playback.stop();
    EXPECT_EQ(m_playback.state(), PlaybackState::Stopped);
    ASSERT_TRUE(eventually([&] { return !m_progress.reports().empty(); }));
    EXPECT_EQ(m_progress.reports().front(), std::make_pair(0, 3));
    EXPECT_EQ(m_playback.position(), 0);
}

TEST_F(PlaybackTest, PlaysOnceToTheEndAndAgainFromTheStart)
{
    openSequence(3);
    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(3));
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_playback.position(), 3);
    EXPECT_EQ(m_listener.indices(), (std::vector<int>{0, 1, 2}));
    const auto reports = m_progress.reports();
    using Reports = std::vector<std::pair<int, int>>;
    EXPECT_EQ(Reports(reports.end() - 3, reports.end()), (Reports{{0, 3}, {1, 3}, {2, 3}}));

    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(6));
    ASSERT_TRUE(eventually([&] { return m_playback.state() == PlaybackState::Paused; }));
    EXPECT_EQ(m_listener.indices(), (std::vector<int>{0, 1, 2, 0, 1, 2}));
    EXPECT_TRUE(m_listener.intact());
}

TEST_F(PlaybackTest, LoopsBackAndForthWithoutRepeatingAnEnd)
{
    struct Case {
        int frames;
        std::vector<int> order;
    };
    const Case cases[] = {
        {4, {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2}},
        {2, {0, 1, 0, 1, 0}},
        {1, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        IndexListener listener;
        Playback playback;
        ASSERT_TRUE(writeSequence(path(), W, H, c.frames));
        playback.addListener(&listener);
        playback.setLoop(true);
        playback.setFrameRate(1000.0);
        ASSERT_TRUE(playback.open(path()));
        ASSERT_TRUE(playback.play());
        ASSERT_TRUE(listener.waitFor(c.order.size()));
        playback.pause();
        const std::vector<int> delivered = listener.indices();
        EXPECT_EQ(std::vector<int>(delivered.begin(), delivered.begin() + static_cast<long>(c.order.size())),
                  c.order);
    }
}

TEST_F(PlaybackTest, CommandsFromTheWrongStateChangeNothing)
{
    openSequence(3);
    m_playback.pause();
    EXPECT_EQ(m_playback.state(), PlaybackState::Stopped);

    m_playback.setLoop(true);
    ASSERT_TRUE(m_playback.play());
    EXPECT_EQ(m_playback.state(), PlaybackState::Playing);
    EXPECT_FALSE(m_playback.play());
    EXPECT_FALSE(m_playback.step());
    EXPECT_EQ(m_playback.state(), PlaybackState::Playing);

    m_playback.pause();
    EXPECT_EQ(m_playback.state(), PlaybackState::Paused);
    m_playback.pause();
    EXPECT_EQ(m_playback.state(), PlaybackState::Paused);
    m_playback.stop();
    EXPECT_EQ(m_playback.state(), PlaybackState::Stopped);
}

TEST_F(PlaybackTest, KeepsThePace)
{
    openSequence(10);
    m_playback.setFrameRate(30.0);
    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(10));
    const auto times = m_listener.times();
    // Nine frame turns of 33 ms lie between the first and the tenth frame;
    // the bound leaves room for truncated waits and a slow first read.
    EXPECT_GE(times[9] - times[0], std::chrono::milliseconds(250));
    EXPECT_LT(times[9] - times[0], std::chrono::seconds(5));
}

TEST_F(PlaybackTest, CloseWhilePlayingEndsThePlayer)
{
    openSequence(4);
    m_playback.setLoop(true);
    ASSERT_TRUE(m_playback.play());
    ASSERT_TRUE(m_listener.waitFor(5));
    EXPECT_TRUE(m_playback.close());
    EXPECT_EQ(m_playback.state(), PlaybackState::Closed);
    const std::size_t delivered = m_listener.indices().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(m_listener.indices().size(), delivered);

    // The same player opens again.
    ASSERT_TRUE(m_playback.open(path()));
    ASSERT_TRUE(m_playback.step());
    EXPECT_TRUE(m_listener.waitFor(delivered + 1));
}

/// A consumer that stopped taking frames: it waits for ever, in interruptible
/// sleeps.
class StuckListener : public RGBDListener {
public:
    void onNewFrame(const TypedImage<unsigned char>*, const TypedImage<unsigned short>*,
                    const double*) override
    {
        entered = true;
        for (;;)
            boost::this_thread::sleep_for(boost::chrono::milliseconds(2));
    }
    std::atomic<bool> entered{false};
};

TEST_F(PlaybackTest, CommandsAndCloseReturnWhenTheListenerNeverDoes)
{
    ASSERT_TRUE(writeSequence(path(), W, H, 2));
    StuckListener listener;
    Playback playback;
    playback.addListener(&listener);
    ASSERT_TRUE(playback.open(path()));
    ASSERT_TRUE(playback.play());
    ASSERT_TRUE(eventually([&] { return listener.entered.load(); }));
    LogCapture log;
    playback.pause();
    EXPECT_TRUE(log.mentions("WARN", "did not take the command over"));
    EXPECT_TRUE(playback.close());
    EXPECT_EQ(playback.state(), PlaybackState::Closed);
}

TEST_F(PlaybackTest, FilesThatCannotBePlayedLeaveItClosed)
{
    ASSERT_TRUE(writeSequence(path("empty.kvs"), W, H, 0));
    ASSERT_TRUE(writeSequence(path("other.kvs"), W, H, 1));
    std::string otherType = readFile(path("other.kvs"));
    putInt32(otherType, 24, 7);
    writeFile(path("other.kvs"), otherType);
    writeFile(path("text.kvs"), "not a sequence at all");
    struct Case {
        std::string file;
        const char* error;
    };
    const Case cases[] = {
        {path("missing.kvs"), "Couldn't open file"},
        {path("text.kvs"), "Couldn't open file"},
        {path("other.kvs"), "Block type not found in file"},
        {path("empty.kvs"), "Invalid file format"},
    };
    ASSERT_TRUE(writeSequence(path(), W, H, 2));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        LogCapture log;
        EXPECT_FALSE(m_playback.open(c.file));
        EXPECT_EQ(m_playback.state(), PlaybackState::Closed);
        EXPECT_TRUE(log.mentions("ERROR", c.error));
        ASSERT_TRUE(m_playback.open(path()));
        EXPECT_TRUE(m_playback.close());
    }
}

TEST_F(PlaybackTest, IgnoresFrameRatesThatAreNotPositive)
{
    openSequence(3);
    for (double fps : {0.0, -30.0, std::nan("")})
        m_playback.setFrameRate(fps);
    ASSERT_TRUE(m_playback.play());
    EXPECT_TRUE(m_listener.waitFor(3));
}

}  // namespace
}  // namespace Veltrane
