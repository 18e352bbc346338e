#include "capture/ImageRecorder.h"

#include "core/Logging.h"

#include <QMutexLocker>

namespace Veltrane {

namespace {

constexpr int PollMilliseconds = 10;

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
    m_width = width;
    m_height = height;
    return true;
}

bool ImageRecorder::addFrame(const TypedImage<unsigned short>* depth,
                             const TypedImage<unsigned char>* colour)
{
    const bool sized = depth && depth->channels == 1 && depth->slices == 1 &&
                       (!colour || (colour->channels == 3 && colour->slices == 1 &&
                                    colour->width == depth->width &&
                                    colour->height == depth->height)) &&
                       (!m_plugin || (depth->width == m_width && depth->height == m_height));
    if (!sized) {
        VELTRANE_ERROR("Frame does not match the recording's frame size");
        return false;
    }
    {
        QMutexLocker lock(&m_mutex);
        if (static_cast<int>(m_queue.size()) >= m_maxQueueSize)
            return false;
        FramePair pair;
        if (colour && !(pair.second = copyOf(*colour)))
            return false;
        if (!(pair.first = copyOf(*depth)))
            return false;
        m_queue.push_back(std::move(pair));
    }
    m_semaphore.release();
    return true;
}

void ImageRecorder::stop()
{
    m_running = false;
    if (!wait())
        VELTRANE_ERROR("Wait for thread failed");
}

bool ImageRecorder::finish()
{
    stop();
    if (!m_plugin)
        return false;
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

void ImageRecorder::run()
{
    VELTRANE_INFO("Image recorder thread started");
    if (!m_plugin)
        return;
    while (m_running || m_semaphore.available() > 0) {
        if (!m_semaphore.tryAcquire(1, PollMilliseconds))
            continue;
        FramePair pair;
        {
            QMutexLocker lock(&m_mutex);
            pair = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!writePair(pair)) {
            VELTRANE_ERROR("Error adding frame");
            m_writeFailed = true;
            break;
        }
        ++m_framesWritten;
    }
    VELTRANE_INFO("Image recorder thread terminated");
}

}  // namespace Veltrane
