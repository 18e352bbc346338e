#include "capture/ImageRecorder.h"

#include "testsupport/Eventually.h"
#include "testsupport/LogCapture.h"

#include "SequenceFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

namespace Veltrane {
namespace {

using namespace TestFrames;

constexpr int W = 16;
constexpr int H = 12;

class ImageRecorderTest : public ::testing::Test {
protected:
    std::string path() const { return m_dir.filePath("recording.kvs").toStdString(); }

    static bool add(ImageRecorder& recorder, int index)
    {
        return recorder.addFrame(depthFrame(W, H, index).get(), colourFrame(W, H, index).get());
    }

    static void startWriting(ImageRecorder& recorder)
    {
        recorder.setRunning(true);
        recorder.start(QThread::InheritPriority);
    }

    /// The frame indices stored in the file, in order; checks every frame.
    std::vector<int> recordedIndices(bool withColour = true) const
    {
        SequenceReader reader(path());
        EXPECT_TRUE(reader.opened);
        std::vector<int> indices;
        Depth depth(PixelType::UnsignedShort, W, H, 1, 1);
        Colour colour(PixelType::UnsignedByte, W, H, 1, 3);
        for (int i = 0; i < reader.frameCount; ++i) {
            EXPECT_TRUE(reader.plugin.readFrame(i, &depth, &colour));
            indices.push_back(indexOf(depth));
            EXPECT_TRUE(reader.frameMatches(i, indices.back(), withColour)) << i;
        }
        return indices;
    }

    QTemporaryDir m_dir;
};

std::vector<int> range(int first, int end)
{
    std::vector<int> v;
    for (int i = first; i < end; ++i)
        v.push_back(i);
    return v;
}

TEST_F(ImageRecorderTest, WritesEveryAcceptedFrameInOrder)
{
    LogCapture log;
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    startWriting(recorder);
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(add(recorder, i));
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recorder.framesWritten(), 20);
    EXPECT_EQ(recordedIndices(), range(0, 20));
    EXPECT_EQ(SequenceReader(path()).matrix, Eigen::Map<const Eigen::Matrix3d>(Matrix));
    EXPECT_TRUE(log.mentions("INFO", "Image recorder thread started"));
    EXPECT_TRUE(log.mentions("INFO", "Image recorder thread terminated"));
    EXPECT_TRUE(log.quiet());
}

TEST_F(ImageRecorderTest, RefusesFramesWhileTheQueueIsFull)
{
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    // The writer has not started: nothing leaves the queue.
    for (int i = 0; i < ImageRecorder::DefaultMaxQueueSize; ++i)
        ASSERT_TRUE(add(recorder, i));
    EXPECT_FALSE(add(recorder, 100));

    startWriting(recorder);
    ASSERT_TRUE(eventually([&] { return recorder.framesWritten() > 0; }));
    EXPECT_TRUE(add(recorder, 101));
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recorder.framesWritten(), 101);
    std::vector<int> expected = range(0, 100);
    expected.push_back(101);
    EXPECT_EQ(recordedIndices(), expected);
}

TEST_F(ImageRecorderTest, StopWritesWhatWasQueued)
{
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(add(recorder, i));
    startWriting(recorder);
    recorder.stop();
    EXPECT_EQ(recorder.framesWritten(), 50);
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recordedIndices().size(), 50u);
}

TEST_F(ImageRecorderTest, DestructorFinishesTheFile)
{
    {
        ImageRecorder recorder(path());
        ASSERT_TRUE(recorder.open(W, H, Matrix));
        startWriting(recorder);
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(add(recorder, i));
    }
    LogCapture log;
    EXPECT_EQ(recordedIndices(), range(0, 5));
    EXPECT_TRUE(log.quiet());
}

TEST_F(ImageRecorderTest, RecorderThatCouldNotOpenRefusesFramesAndWritesNothing)
{
    LogCapture log;
    ImageRecorder recorder(m_dir.filePath("missing/recording.kvs").toStdString());
    EXPECT_FALSE(recorder.open(W, H, Matrix));
    startWriting(recorder);
    ASSERT_TRUE(eventually([&] { return recorder.isFinished(); }));
    EXPECT_FALSE(add(recorder, 0));
    EXPECT_FALSE(recorder.finish());
    EXPECT_EQ(recorder.framesWritten(), 0);
    EXPECT_TRUE(log.mentions("INFO", "Image recorder thread started"));
    EXPECT_FALSE(log.mentions("INFO", "Image recorder thread terminated"));
}

TEST_F(ImageRecorderTest, StopWithoutAThreadReturnsAtOnce)
{
    LogCapture log;
    ImageRecorder recorder(path());
    recorder.stop();
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(ImageRecorderTest, DepthOnlyFramesAreRecordedWithBlackColour)
{
    LogCapture log;
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    startWriting(recorder);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(recorder.addFrame(depthFrame(W, H, i).get(), nullptr));
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recordedIndices(false), range(0, 3));
    EXPECT_TRUE(log.mentions("WARN", "without colour"));
}

TEST_F(ImageRecorderTest, RefusesFramesOfAnotherSize)
{
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    LogCapture log;
    EXPECT_FALSE(recorder.addFrame(depthFrame(W + 1, H, 0).get(), colourFrame(W + 1, H, 0).get()));
    EXPECT_FALSE(recorder.addFrame(depthFrame(W, H, 0).get(), colourFrame(W, H + 1, 0).get()));
    EXPECT_FALSE(recorder.addFrame(nullptr, colourFrame(W, H, 0).get()));
    EXPECT_TRUE(log.mentions("ERROR", "does not match"));
    startWriting(recorder);
    EXPECT_TRUE(add(recorder, 7));
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recordedIndices(), std::vector<int>{7});
}

TEST_F(ImageRecorderTest, FullDiskIsReportedByOpen)
{
    ImageRecorder recorder("/dev/full");
    EXPECT_FALSE(recorder.open(W, H, Matrix));
    startWriting(recorder);
    EXPECT_FALSE(add(recorder, 0));
    EXPECT_FALSE(recorder.finish());
}

TEST_F(ImageRecorderTest, EveryFrameAcceptedWhileFinishingIsWritten)
{
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    startWriting(recorder);
    std::atomic<bool> finished{false};
    std::atomic<int> accepted{0};
    // A producer that goes on offering frames while the recording ends.
    std::thread producer([&] {
        for (int i = 0; !finished; ++i) {
            if (add(recorder, i))
                ++accepted;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_TRUE(eventually([&] { return accepted > 10; }));
    const bool ok = recorder.finish();
    finished = true;
    producer.join();
    EXPECT_TRUE(ok);
    EXPECT_FALSE(add(recorder, 0));
    EXPECT_EQ(recorder.framesWritten(), accepted.load());
    EXPECT_EQ(static_cast<int>(recordedIndices().size()), accepted.load());
}

TEST_F(ImageRecorderTest, FramesQueuedForAThreadThatNeverRanAreWrittenByFinish)
{
    ImageRecorder recorder(path());
    ASSERT_TRUE(recorder.open(W, H, Matrix));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(add(recorder, i));
    EXPECT_TRUE(recorder.finish());
    EXPECT_EQ(recordedIndices(), range(0, 3));
}

}  // namespace
}  // namespace Veltrane
