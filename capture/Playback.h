#pragma once

#include "capture/KorvastelFilePlugin.h"
#include "capture/RGBDListener.h"
#include "capture/VeltraneFile.h"
#include "core/Progress.h"
#include "core/TypedImage.h"

#include <Eigen/Core>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace Veltrane {

enum class PlaybackState : int {
    Closed = 0,    ///< no file
    Stopped = 1,   ///< at the start, position 0
    Playing = 2,
    Paused = 3,
    Stepping = 4,  ///< delivers one frame, then Paused
};

/// Plays a recorded sequence to `RGBDListener`s on a player thread, in place of
/// a camera.
///
/// The GUI thread opens the file and issues play, step, pause and stop; the
/// player thread takes each command over at the start of its next turn, and the
/// command waits for that while the GUI keeps processing its events. Each frame
/// turn lasts at least 1000 / frame rate milliseconds, the listeners' time
/// included. With looping on, playback runs back and forth: 0, 1, ..., n-1,
/// n-2, ..., 0, 1, ...; without it, it pauses after the last frame.
///
/// Listeners and progress observers run on the player thread: a GUI observer
/// forwards the call to its own thread (a queued invocation). close()
/// interrupts the player thread, so a listener that waits for its consumer must
/// wait in Boost interruption points (boost::this_thread::sleep_for) for close()
/// to return while it waits.
class Playback {
public:
    static constexpr int SequenceBlockType = KorvastelFilePlugin::BlockTypeId;
    /// How long a command waits for the player thread before giving up.
    static constexpr int CommandTimeoutMilliseconds = 5000;

    Playback();
    /// Stops and closes.
    ~Playback();
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    /// Appends unless present; call before playing starts.
    void addListener(RGBDListener* listener);
    void addProgress(Progress* observer);

    /// Takes effect at the next end reached.
    void setLoop(bool loop) { m_loop = loop; }
    /// Frames per second for pacing; values that are not positive numbers are
    /// ignored.
    void setFrameRate(double fps);

    /// Opens a sequence file and starts the player thread in Stopped. False
    /// when not Closed, or when the file is not a readable sequence.
    bool open(const std::string& path);
    /// Ends the player thread (after its current turn) and releases the file.
    /// False when Closed.
    bool close();

    /// From Stopped or Paused (starting over when past the end). False, with
    /// nothing changed, from any other state or when the player did not answer.
    bool play();
    /// Delivers one frame from Stopped or Paused, then Paused.
    bool step();
    /// From Playing.
    void pause();
    /// From Playing or Paused: back to position 0.
    void stop();

    /// Waits until the player thread has taken the last command over, sleeping
    /// 10 ms and processing GUI events between checks. False after
    /// CommandTimeoutMilliseconds without an answer (a listener that does not
    /// return); the command then stays pending.
    bool waitForStateChange();

    /// The folder of the opened file.
    std::string directory() const { return m_directoryPath; }

    PlaybackState state() const { return m_state; }
    int position() const { return m_position; }
    int frameCount() const { return m_frameCount; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    /// The camera matrix used for played-back frames (column-major): a fixed
    /// one (fx = fy = 531, cx = 320, cy = 240) for 640 x 480 frames, the
    /// recorded one for frames of other sizes.
    const Eigen::Matrix3d& intrinsics() const { return m_intrinsics; }

private:
    void request(PlaybackState state);
    /// The player thread's loop.
    void run();
    /// Applies a pending command; the player thread only.
    void takeCommand();
    void frameTurn(PlaybackState turnState);
    /// False (and the state changed from `turnState`) when an end was reached
    /// without looping.
    bool handleEnds(PlaybackState turnState);
    void reportProgress(int value);
    /// Moves from `from` to `to` unless a command or close() changed the state
    /// meanwhile.
    void leaveState(PlaybackState from, PlaybackState to);
    void release();

    std::atomic<PlaybackState> m_state{PlaybackState::Closed};
    std::atomic<PlaybackState> m_requestedState{PlaybackState::Closed};
    /// Commands issued by the GUI thread and taken over by the player thread;
    /// a command is pending while they differ.
    std::atomic<unsigned> m_commandsIssued{0};
    std::atomic<unsigned> m_commandsTaken{0};
    Eigen::Matrix3d m_intrinsics = Eigen::Matrix3d::Identity();
    int m_width = 0;
    int m_height = 0;
    std::atomic<double> m_fps{30.0};
    std::atomic<int> m_position{0};
    int m_frameCount = 0;
    std::atomic<bool> m_loop{false};
    std::atomic<int> m_direction{1};
    std::vector<RGBDListener*> m_listeners;
    std::vector<Progress*> m_progressObservers;
    boost::thread m_playerThread;
    boost::mutex m_mutex;
    std::string m_directoryPath;
    std::unique_ptr<VeltraneFile> m_file;
    std::unique_ptr<KorvastelFilePlugin> m_plugin;
    std::unique_ptr<TypedImage<unsigned char>> m_colorImage;
    std::unique_ptr<TypedImage<unsigned short>> m_depthImage;
};

}  // namespace Veltrane
