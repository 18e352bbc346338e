#include "capture/ImageRecorder.h"

#include "core/Logging.h"

#include <chrono>

namespace Veltrane {

namespace {

/// How often the writer looks at the running flag while the queue is empty.
constexpr std::chrono::milliseconds PollInterval(10);

/// A copy of `image` of the same element type, or null when it cannot be made.
template <typename T>
std::unique_ptr<TypedImage<T>> copyOf(const TypedImage<T>& image)
{
    return std::unique_ptr<TypedImage<T>>(static_cast<TypedImage<T>*>(image.clone()));
}

}  // namespace

ImageRecorder::ImageRecorder(const std::string& path) : m_file(path) {}

ImageRecorder::~ImageRecorder()
{
    if (m_plugin)
        finish();
    else
        stop();
}

bool ImageRecorder::open(int width, int height, const double* matrix9)
{
    if (m_plugin || !m_file.open(VeltraneFile::WriteMode))
        return false;
    m_plugin = std::make_unique<KorvastelFilePlugin>();
    if (!m_file.beginWriteBlock(m_plugin.get())) {
        m_plugin.reset();
        return false;
    }
    if (!m_plugin->beginSequence(width, height, matrix9)) {
        m_file.endWriteBlock();
        m_plugin.reset();
        m_file.close();
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_width = width;
    m_height = height;
    m_accepting = true;
    return true;
}

bool ImageRecorder::matchesRecording(const Depth* depth, const Colour* colour) const
{
    return depth && depth->channels == 1 && depth->slices == 1 && depth->width == m_width &&
           depth->height == m_height &&
           (!colour || (colour->channels == 3 && colour->slices == 1 && colour->width == m_width &&
                        colour->height == m_height));
}

bool ImageRecorder::addFrame(const TypedImage<unsigned short>* depth,
                             const TypedImage<unsigned char>* colour)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting)
            return false;
        if (!matchesRecording(depth, colour)) {
            VELTRANE_ERROR("Frame does not match the recording's frame size");
            return false;
        }
        if (static_cast<int>(m_queue.size()) >= m_maxQueueSize)
            return false;
        FramePair pair;
        if (colour && !(pair.second = copyOf(*colour)))
            return false;
        if (!(pair.first = copyOf(*depth)))
            return false;
        m_queue.push_back(std::move(pair));
    }
    m_queueChanged.notify_one();
    return true;
}

void ImageRecorder::stop()
{
    {
        // What is queued now is what the writer will write before it ends.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_accepting = false;
    }
    m_queueChanged.notify_all();
    if (!wait())
        VELTRANE_ERROR("Wait for thread failed");
}

bool ImageRecorder::finish()
{
    stop();
    if (!m_plugin)
        return false;
    if (!m_writeFailed)
        writeQueue();
    bool ok = m_plugin->endSequence();
    ok = m_file.endWriteBlock() >= 0 && ok;
    ok = m_file.close() && ok;
    m_plugin.reset();
    return ok && !m_writeFailed;
}

bool ImageRecorder::writePair(const FramePair& pair)
{
    const Colour* colour = pair.second.get();
    if (!colour) {
        if (!m_black) {
            VELTRANE_WARN("Recording a camera without colour: black colour frames are stored");
            m_black.reset(Colour::create(PixelType::UnsignedByte, m_width, m_height, 1, 3));
            if (!m_black)
                return false;
            m_black->fill(0);
        }
        colour = m_black.get();
    }
    return m_plugin->writeFrame(pair.first.get(), colour);
}

void ImageRecorder::writeQueue()
{
    for (;;) {
        FramePair pair;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_queueChanged.wait_for(lock, PollInterval, [this] { return !m_queue.empty() || !m_running; });
            if (m_queue.empty()) {
                if (m_running)
                    continue;
                // Decided under the lock: a frame offered from now on would
                // never be written.
                m_accepting = false;
                return;
            }
            pair = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!writePair(pair)) {
            VELTRANE_ERROR("Error adding frame");
            m_writeFailed = true;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_accepting = false;
            return;
        }
        ++m_framesWritten;
    }
}

void ImageRecorder::run()
{
    VELTRANE_INFO("Image recorder thread started");
    if (!m_plugin)
        return;
    writeQueue();
    VELTRANE_INFO("Image recorder thread terminated");
}

}  // namespace Veltrane
