#pragma once

#include "capture/KorvastelFilePlugin.h"
#include "capture/VeltraneFile.h"
#include "core/TypedImage.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace Veltrane {

/// Records frame pairs into a sequence file on a thread of its own.
///
/// The producer hands each pair to addFrame(), which only copies it into a
/// bounded queue; the recorder thread takes the pairs out in arrival order and
/// compresses and writes them. A frame that addFrame() accepts is written
/// unless writing fails; when the queue is full, or the recording is not open
/// or has ended, a frame is refused and the producer counts it as dropped.
///
/// Use: construct with the path; open(); setRunning(true); start(); addFrame()
/// for every frame; finish() (on a worker thread, it waits for the queue to
/// drain); delete.
class ImageRecorder : public QThread {
public:
    static constexpr int DefaultMaxQueueSize = 100;

    explicit ImageRecorder(const std::string& path);
    /// finish() when the owner did not.
    ~ImageRecorder() override;

    /// Creates the file and writes the sequence header. False when opened
    /// before or when the file cannot be created or written.
    bool open(int width, int height, const double* matrix9);

    /// Queues copies of the pair; false (nothing queued) when open() has not
    /// succeeded, stop() has been called or a write failed, the queue is full,
    /// the depth image is missing or does not have the recorded size, or the
    /// copies cannot be made. A null colour image (a camera without colour) is
    /// recorded as a black colour frame.
    bool addFrame(const TypedImage<unsigned short>* depth, const TypedImage<unsigned char>* colour);

    /// Clears the running flag, refuses further frames and waits until the
    /// thread has written every pair queued before and ended. Returns at once
    /// when the thread never ran.
    void stop();

    /// stop(), writes what a thread that never ran left queued, then ends the
    /// sequence and closes the file; no frame is accepted afterwards. False
    /// when open() had failed, a frame could not be written, or ending or
    /// closing the file failed (a file cut short this way keeps every frame
    /// written before).
    bool finish();

    void setRunning(bool running) { m_running = running; }
    bool running() const { return m_running; }
    /// Frames written so far; exact once the thread has ended.
    int framesWritten() const { return m_framesWritten; }
    void setMaxQueueSize(int size) { m_maxQueueSize = size; }
    int maxQueueSize() const { return m_maxQueueSize; }

protected:
    /// The writer loop.
    void run() override;

private:
    using Depth = TypedImage<unsigned short>;
    using Colour = TypedImage<unsigned char>;
    /// Depth copy and colour copy (null for a depth-only frame).
    using FramePair = std::pair<std::unique_ptr<Depth>, std::unique_ptr<Colour>>;

    /// The pair has the recorded size (and channels, one slice).
    bool matchesRecording(const Depth* depth, const Colour* colour) const;
    /// Writes the queued pairs in order, waiting for more while the recorder
    /// runs, until the queue is empty and the running flag cleared, or a write
    /// fails; then refuses further frames.
    void writeQueue();
    bool writePair(const FramePair& pair);

    VeltraneFile m_file;
    std::unique_ptr<KorvastelFilePlugin> m_plugin;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_framesWritten{0};
    /// Guards the queue, the acceptance of frames and the recorded size.
    std::mutex m_mutex;
    /// Signalled when a pair is queued or the running flag is cleared.
    std::condition_variable m_queueChanged;
    std::deque<FramePair> m_queue;
    /// Frames are accepted from a successful open() until stop() or the end
    /// of the writer.
    bool m_accepting = false;
    int m_maxQueueSize = DefaultMaxQueueSize;
    int m_width = 0;
    int m_height = 0;
    std::atomic<bool> m_writeFailed{false};
    /// Stands in for the colour of depth-only frames; used by whoever writes
    /// the queue (the thread, or finish() after it).
    std::unique_ptr<Colour> m_black;
};

}  // namespace Veltrane
