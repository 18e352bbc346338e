#include "app/PlaybackWidget.h"

#include "ui_PlaybackWidget.h"

#include "capture/Playback.h"
#include "core/Logging.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace Veltrane {

namespace {

/// Pace of a sequence that feeds a reconstruction: fast enough that only
/// the frame hand-off to the reconstruction holds it back.
constexpr double reconstructionFrameRate = 1000.0;
/// Between two looks at the player while waiting for a stepped frame.
constexpr int stepPollMilliseconds = 10;

}  // namespace

PlaybackWidget::PlaybackWidget(QWidget* parent)
    : QWidget(parent), m_form(std::make_unique<Ui::PlaybackWidget>())
{
    m_form->setupUi(this);
}

PlaybackWidget::~PlaybackWidget() = default;

void PlaybackWidget::showPlayIcon(bool play)
{
    m_form->pushButtonPlay->setIcon(QIcon(play ? ":/Play.png" : ":/Pause.png"));
}

void PlaybackWidget::start()
{
    if (!playback)
        return;
    const WaitScope waiting(*this);
    if (m_playing) {
        if (playback->state() == PlaybackState::Playing)
            playback->pause();
        m_playing = false;
    } else {
        playback->play();
        m_playing = true;
    }
    showPlayIcon(!m_playing);
    m_form->pushButtonPlay->setEnabled(true);
    m_form->pushButtonStop->setEnabled(true);
}

void PlaybackWidget::stop()
{
    if (!playback)
        return;
    {
        const WaitScope waiting(*this);
        playback->stop();
    }
    m_playing = false;
    showPlayIcon(true);
    m_form->pushButtonPlay->setEnabled(true);
    m_form->pushButtonStop->setEnabled(false);
    if (reconstructionMode) {
        // Receivers may close the sequence: nothing may follow.
        emit finishedPlayback();
        return;
    }
    showFirstFrame();
}

void PlaybackWidget::showFirstFrame()
{
    if (!playback)
        return;
    const WaitScope waiting(*this);
    if (!playback->step())
        return;
    // Stopping earlier would drop the stepped frame.
    const QDeadlineTimer deadline(Playback::CommandTimeoutMilliseconds);
    while (playback->state() == PlaybackState::Stepping) {
        if (deadline.hasExpired()) {
            VELTRANE_WARN("The sequence's first frame was not taken in time");
            return;
        }
        QThread::msleep(stepPollMilliseconds);
        QCoreApplication::processEvents();
    }
    if (playback->state() == PlaybackState::Paused)
        playback->stop();
}

void PlaybackWidget::playForReconstruction()
{
    reconstructionMode = true;
    m_form->pushButtonPlay->hide();
    m_form->pushButtonStop->hide();
    leavePlayingState();
    if (playback)
        playback->setFrameRate(reconstructionFrameRate);
    start();
}

void PlaybackWidget::leavePlayingState()
{
    if (m_playing)
        start();
}

void PlaybackWidget::loopChanged(bool value)
{
    if (!playback)
        return;
    playback->setLoop(value);
    m_loop = value;
}

void PlaybackWidget::resetControls()
{
    showPlayIcon(true);
    m_form->pushButtonPlay->setEnabled(true);
    m_form->pushButtonStop->setEnabled(false);
    m_form->pushButtonPlay->show();
    m_form->pushButtonStop->show();
    m_form->checkBoxLoop->setChecked(false);
    reconstructionMode = false;
    m_playing = false;
    m_loop = false;
}

bool PlaybackWidget::setProgress(int value, int maximum)
{
    QMetaObject::invokeMethod(this, "showProgress", Qt::QueuedConnection, Q_ARG(int, value),
                              Q_ARG(int, maximum));
    // A stopped player reports its start again and again; only a frame just
    // delivered (while playing or stepping) can be the last one.
    const PlaybackState state = playback ? playback->state() : PlaybackState::Playing;
    const bool delivered = state == PlaybackState::Playing || state == PlaybackState::Paused
                           || state == PlaybackState::Stepping;
    if (delivered && value == maximum - 1 && !m_loop)
        emit finishedPlayback();
    return true;
}

void PlaybackWidget::showProgress(int value, int maximum)
{
    m_form->labelFrame->setText(QString::number(value + 1));
    m_form->labelFrames->setText(QString::number(maximum));
    m_form->sliderPosition->setRange(0, maximum - 1);
    m_form->sliderPosition->setValue(value);
}

}  // namespace Veltrane
