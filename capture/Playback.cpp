#include "capture/Playback.h"

#include "core/Logging.h"
#include "core/Stopwatch.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

namespace Veltrane {

namespace {

constexpr int IdleMilliseconds = 20;
constexpr int CommandPollMilliseconds = 10;
/// Longest pacing sleep, so that a tiny frame rate cannot overflow the wait.
constexpr double LongestFrameMilliseconds = 24.0 * 3600.0 * 1000.0;

template <typename T>
void appendOnce(std::vector<T*>& list, T* item)
{
    if (item && std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(item);
}

/// The frame size of the cameras whose sequences are played with a fixed
/// calibration.
constexpr int calibratedWidth = 640;
constexpr int calibratedHeight = 480;

/// The fixed calibration that played-back 640 x 480 frames are reconstructed
/// with.
Eigen::Matrix3d playbackIntrinsics()
{
    Eigen::Matrix3d k;
    k << 531.0, 0.0, 320.0, 0.0, 531.0, 240.0, 0.0, 0.0, 1.0;
    return k;
}

}  // namespace

Playback::Playback() = default;

Playback::~Playback()
{
    const PlaybackState s = m_state;
    if (s == PlaybackState::Playing || s == PlaybackState::Paused)
        stop();
    close();
}

void Playback::addListener(RGBDListener* listener) { appendOnce(m_listeners, listener); }

void Playback::addProgress(Progress* observer) { appendOnce(m_progressObservers, observer); }

void Playback::setFrameRate(double fps)
{
    if (std::isfinite(fps) && fps > 0.0)
        m_fps = fps;
}

bool Playback::open(const std::string& path)
{
    if (m_state != PlaybackState::Closed)
        return false;
    m_file = std::make_unique<VeltraneFile>(path);
    if (!m_file->open(VeltraneFile::ReadMode)) {
        VELTRANE_ERROR("Couldn't open file");
        m_file.reset();
        return false;
    }
    std::vector<int> typeIds;
    m_file->listBlocks(&typeIds, nullptr);
    const auto block = std::find(typeIds.begin(), typeIds.end(), SequenceBlockType);
    if (block == typeIds.end()) {
        VELTRANE_ERROR("Block type not found in file");
        m_file.reset();
        return false;
    }
    m_plugin = std::make_unique<KorvastelFilePlugin>();
    if (!m_file->beginReadBlock(static_cast<int>(block - typeIds.begin()), m_plugin.get()) ||
        !m_plugin->readHeader(&m_width, &m_height, &m_intrinsics, &m_frameCount)) {
        m_plugin.reset();
        m_file->close();
        m_file.reset();
        return false;
    }
    // The fixed matrix belongs to 640 x 480 frames; frames of any other size
    // keep the matrix they were recorded with.
    if (m_width == calibratedWidth && m_height == calibratedHeight) {
        VELTRANE_INFO("Overriding playback calibration");
        m_intrinsics = playbackIntrinsics();
    }
    m_directoryPath = std::filesystem::path(path).parent_path().string();
    m_colorImage.reset(
        TypedImage<unsigned char>::create(PixelType::UnsignedByte, m_width, m_height, 1, 3));
    m_depthImage.reset(
        TypedImage<unsigned short>::create(PixelType::UnsignedShort, m_width, m_height, 1, 1));
    if (!m_colorImage || !m_depthImage) {
        VELTRANE_ERROR("Cannot allocate the frame images");
        release();
        return false;
    }
    m_state = PlaybackState::Stopped;
    try {
        m_playerThread = boost::thread(&Playback::run, this);
    } catch (const boost::thread_resource_error&) {
        VELTRANE_ERROR("Cannot start the playback thread");
        m_state = PlaybackState::Closed;
        release();
        return false;
    }
    return true;
}

bool Playback::close()
{
    if (m_state == PlaybackState::Closed)
        return false;
    m_state = PlaybackState::Closed;
    m_playerThread.interrupt();
    m_playerThread.join();
    release();
    return true;
}

void Playback::release()
{
    if (m_file) {
        m_file->endReadBlock();
        m_file->close();
    }
    m_file.reset();
    m_plugin.reset();
    m_colorImage.reset();
    m_depthImage.reset();
}

bool Playback::play()
{
    const PlaybackState s = m_state;
    if (s == PlaybackState::Stopped)
        m_direction = 1;
    else if (s == PlaybackState::Paused && m_position >= m_frameCount)
        m_position = 0;
    else if (s != PlaybackState::Paused)
        return false;
    request(PlaybackState::Playing);
    return waitForStateChange();
}

bool Playback::step()
{
    const PlaybackState s = m_state;
    if (s != PlaybackState::Stopped && s != PlaybackState::Paused)
        return false;
    request(PlaybackState::Stepping);
    return waitForStateChange();
}

void Playback::pause()
{
    if (m_state != PlaybackState::Playing)
        return;
    request(PlaybackState::Paused);
    waitForStateChange();
}

void Playback::stop()
{
    const PlaybackState s = m_state;
    if (s != PlaybackState::Playing && s != PlaybackState::Paused)
        return;
    request(PlaybackState::Stopped);
    waitForStateChange();
}

void Playback::request(PlaybackState state)
{
    m_requestedState = state;
    ++m_commandsIssued;
}

bool Playback::waitForStateChange()
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(CommandTimeoutMilliseconds);
    while (m_commandsTaken != m_commandsIssued) {
        if (std::chrono::steady_clock::now() > deadline) {
            VELTRANE_WARN("The playback thread did not take the command over");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(CommandPollMilliseconds));
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

void Playback::takeCommand()
{
    if (m_commandsTaken == m_commandsIssued)
        return;
    boost::lock_guard<boost::mutex> lock(m_mutex);
    const unsigned issued = m_commandsIssued;
    PlaybackState current = m_state;
    // close() sets Closed directly; no command may bring the player back.
    if (current != PlaybackState::Closed)
        m_state.compare_exchange_strong(current, m_requestedState.load());
    m_commandsTaken = issued;
}

void Playback::leaveState(PlaybackState from, PlaybackState to)
{
    m_state.compare_exchange_strong(from, to);
}

void Playback::reportProgress(int value)
{
    for (Progress* observer : m_progressObservers)
        observer->setProgress(value, m_frameCount);
}

void Playback::run()
{
    try {
        m_position = 0;
        reportProgress(0);
        for (;;) {
            takeCommand();
            const PlaybackState s = m_state;
            if (s == PlaybackState::Closed)
                return;
            if (s == PlaybackState::Stopped) {
                m_position = 0;
                m_direction = 1;
                reportProgress(0);
                boost::this_thread::sleep_for(boost::chrono::milliseconds(IdleMilliseconds));
            } else if (s == PlaybackState::Paused) {
                boost::this_thread::sleep_for(boost::chrono::milliseconds(IdleMilliseconds));
            } else {
                frameTurn(s);
            }
        }
    } catch (const boost::thread_interrupted&) {
        // close() ends the thread.
    }
}

bool Playback::handleEnds(PlaybackState turnState)
{
    int position = m_position;
    if (position >= m_frameCount) {
        if (!m_loop) {
            leaveState(turnState, PlaybackState::Paused);
            return false;
        }
        position = std::max(m_frameCount - 2, 0);
        m_direction = -m_direction;
    } else if (position < 0) {
        if (!m_loop) {
            leaveState(turnState, PlaybackState::Stopped);
            return false;
        }
        position = m_frameCount >= 2 ? 1 : m_frameCount - 1;
        m_direction = -m_direction;
    }
    m_position = position;
    return true;
}

void Playback::frameTurn(PlaybackState turnState)
{
    Stopwatch watch;
    if (!handleEnds(turnState))
        return;
    const int position = m_position;
    if (!m_plugin->readFrame(position, m_depthImage.get(), m_colorImage.get())) {
        leaveState(turnState, PlaybackState::Stopped);
        return;
    }
    for (RGBDListener* listener : m_listeners)
        listener->onNewFrame(m_colorImage.get(), m_depthImage.get(), nullptr);
    if (turnState == PlaybackState::Stepping)
        leaveState(PlaybackState::Stepping, PlaybackState::Paused);
    reportProgress(position);
    m_position = position + m_direction;

    const double wait =
        std::min(1000.0 / m_fps - watch.elapsed(false), LongestFrameMilliseconds);
    if (wait >= 1.0)
        boost::this_thread::sleep_for(boost::chrono::milliseconds(static_cast<long long>(wait)));
}

}  // namespace Veltrane
