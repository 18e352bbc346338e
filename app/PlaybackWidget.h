#pragma once

#include "core/Progress.h"

#include <QWidget>

#include <atomic>
#include <memory>

namespace Ui {
class PlaybackWidget;
}

namespace Veltrane {

class Playback;

/// The bar under the views that controls a loaded sequence's player: a
/// Play/Pause button, a Stop button, the number of the frame shown, a
/// position slider (display only), the number of frames and a Loop box.
///
/// The main window gives it the player after loading a sequence (`playback`)
/// and registers it as the player's progress observer; it tells the window
/// through finishedPlayback() when the last frame has been delivered. Each
/// command waits, processing events, until the player's thread has taken it
/// (isWaiting() meanwhile).
///
/// Threads: setProgress() runs on the player's thread; it passes the frame
/// numbers to the GUI thread by a queued call and may emit finishedPlayback()
/// there, which reaches receivers on the GUI thread queued. Everything else
/// runs on the GUI thread.
class PlaybackWidget : public QWidget, public Progress {
    Q_OBJECT

public:
    explicit PlaybackWidget(QWidget* parent = nullptr);
    ~PlaybackWidget() override;

    /// The player has delivered frame `value` (from 0) of `maximum`, or rests
    /// stopped at the start: the labels show `value` + 1 and `maximum`, the
    /// slider `value`. The report of the last frame emits finishedPlayback()
    /// unless the player loops; the idle reports of a stopped player are not
    /// frames delivered and emit nothing. Returns true.
    bool setProgress(int value, int maximum) override;

    /// The idle state of a freshly loaded sequence: Play shown and enabled,
    /// Stop disabled, both visible, Loop unchecked (which also turns the
    /// player's looping off), not playing, not in reconstruction mode.
    void resetControls();

    /// Delivers the frame at the start to the player's listeners and leaves
    /// the player stopped there once the frame is delivered. Nothing happens
    /// without a player, or unless it is stopped or paused.
    void showFirstFrame();

    /// Plays the sequence into a reconstruction: reconstruction mode on (Stop
    /// then ends the reconstruction), Play and Stop hidden, the player paced
    /// at 1000 frames per second, so that the consumer of its frames sets the
    /// pace, and set playing from where it stands.
    void playForReconstruction();

    /// Brings the bar to its not-playing state through its own Play/Pause
    /// action, pausing a player that is still playing.
    void leavePlayingState();

    /// The bar has set the player playing (the button shows Pause). Stays set
    /// when the player pauses by itself at the end of the sequence.
    bool isPlaying() const { return m_playing; }
    /// The loop setting last passed to the player.
    bool isLooping() const { return m_loop; }
    /// A command of the bar waits for the player's thread.
    bool isWaiting() const { return m_waiting > 0; }

    /// The player that the bar controls; not owned. Set by the main window.
    Playback* playback = nullptr;
    /// Set while a reconstruction is fed from the sequence: Stop then ends it
    /// through finishedPlayback() instead of showing the first frame again.
    bool reconstructionMode = false;

signals:
    /// The last frame has been delivered (without looping), or Stop was
    /// pressed in reconstruction mode.
    void finishedPlayback();

public slots:
    /// Play/Pause: pauses when playing, otherwise plays (from the start when
    /// stopped, or resuming, from the start again when at the end).
    void start();
    /// Stops the player; in reconstruction mode emits finishedPlayback(),
    /// otherwise shows the first frame again.
    void stop();
    /// Passes the loop setting to the player; nothing without a player.
    void loopChanged(bool value);

private slots:
    void showProgress(int value, int maximum);

private:
    /// Shows Play (`play`) or Pause on the Play/Pause button.
    void showPlayIcon(bool play);

    /// Counts a command of the bar that waits for the player for as long as
    /// it exists.
    class WaitScope {
    public:
        explicit WaitScope(PlaybackWidget& bar) : m_bar(bar) { ++m_bar.m_waiting; }
        ~WaitScope() { --m_bar.m_waiting; }
        WaitScope(const WaitScope&) = delete;
        WaitScope& operator=(const WaitScope&) = delete;

    private:
        PlaybackWidget& m_bar;
    };

    std::unique_ptr<Ui::PlaybackWidget> m_form;
    bool m_playing = false;
    /// Written on the GUI thread, read on the player's.
    std::atomic<bool> m_loop{false};
    int m_waiting = 0;
};

}  // namespace Veltrane
