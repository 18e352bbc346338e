#include "testsupport/SequenceRecording.h"

#include "capture/ImageRecorder.h"

#include <chrono>
#include <thread>

namespace Veltrane::TestSupport {

namespace {

/// How long a full queue may keep a frame waiting.
constexpr auto queueTimeout = std::chrono::seconds(10);
constexpr auto queuePoll = std::chrono::milliseconds(2);

}  // namespace

bool queueFrame(ImageRecorder& recorder, const RgbdFrame& frame)
{
    const auto deadline = std::chrono::steady_clock::now() + queueTimeout;
    while (!recorder.addFrame(frame.depth.get(), frame.colour.get())) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(queuePoll);
    }
    return true;
}

bool recordSequence(const std::string& path, const std::vector<RgbdFrame>& frames,
                    const PinholeCamera& camera)
{
    ImageRecorder recorder(path);
    if (!recorder.open(camera.width, camera.height, camera.matrix().data()))
        return false;
    recorder.setRunning(true);
    recorder.start();
    bool queued = true;
    for (const RgbdFrame& frame : frames)
        queued = queued && queueFrame(recorder, frame);
    return recorder.finish() && queued
           && recorder.framesWritten() == static_cast<int>(frames.size());
}

}  // namespace Veltrane::TestSupport
