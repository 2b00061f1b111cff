#pragma once

#include "scene/slideconstants.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>

class FramePresenter;

// Asks for the show's frames (frameDue()), in either motion.
//
// Frames: the slide timer, Timer_Slide, restarted once each frame is on screen, so that the next
// frame comes no sooner than one interval later; it runs on while a change waits for its
// picture.
//
// Smooth: one frame per refresh of the display. Where presenting a frame waits for the display's
// vertical blank, the next frame is asked of the window system (QWindow::requestUpdate) as soon
// as one is done, and the swap keeps the beat. Where it does not wait (a virtual or remote X
// server), a precise timer keeps it, aimed at fixed deadlines one refresh period apart so that
// millisecond rounding does not add up. There the frame is asked for a little ahead of its
// deadline, by as much as the recent frames took to draw, and the presenter holds the drawn frame
// back until the deadline: frames reach the screen on the beat even though some take longer to
// draw than others (a change of picture, the camera close to the picture). Which of the two
// applies is found out from the presenter when the frames first start. Nothing is asked for
// while the frames are not seen; they go on when they are seen again.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    // `frameInterval` is the slide timer's, in ms. The frames reach the screen through
    // `presenter`, which says when they are seen and when the display asks for the next one.
    FramePacer(FramePresenter* presenter, SlideMotion motion, int frameInterval,
               QObject* parent = nullptr);

    SlideMotion motion() const { return m_motion; }

    // Frames are due from now on (the first at once in smooth motion). Nothing changes when they
    // already are; in particular the slide timer's interval does not restart.
    void start();
    // No more frames are due.
    void stop();
    bool isActive() const;
    // A frame is on screen: the next one is due one interval or one refresh later.
    void frameDone();
    // A tick drew no frame (the change's picture could not be read) and the show goes on.
    void frameSkipped();
    // A change waits for its picture: smooth motion asks for no frames until frameDone().
    void waitForPicture();

    const QTimer& slideTimer() const { return m_slideTimer; }
    // The display's refresh rate in Hz, 60 where the screen does not say.
    double refreshRate() const;
    // Whether smooth frames follow the swaps (true) or the timer (false); unknown before they
    // start.
    std::optional<bool> followsSwaps() const { return m_followsSwaps; }
    // Timer pacing: how long before its deadline a frame is asked for.
    std::chrono::microseconds drawLead() const;

signals:
    void frameDue();

private:
    using Clock = std::chrono::steady_clock;

    void activate();
    void scheduleNext();
    void smoothFrameDue();
    void exposeChanged();

    FramePresenter* m_presenter;
    const SlideMotion m_motion;
    QTimer m_slideTimer;   // Timer_Slide, frames motion
    QTimer m_refreshTimer; // smooth motion where the swap does not wait
    bool m_active = false;
    // A smooth frame fell due while the frames were not seen.
    bool m_stalled = false;
    std::optional<bool> m_followsSwaps;
    // The deadline of the next frame: when it is to reach the screen.
    Clock::time_point m_deadline{};
    // While a frame asked for is being drawn, when it was asked for; and how long the recent
    // frames took from there until they were drawn.
    std::optional<Clock::time_point> m_askedAt;
    std::array<Clock::duration, 32> m_drawTimes{};
    std::size_t m_drawCount = 0;
};
