#pragma once

#include "scene/slideconstants.h"

#include <chrono>
#include <functional>
#include <utility>

// The slide cycle of the show: which play position is on screen, how far its slide has run, the
// change of picture that is due or waits for its picture, pause, and what the mouse buttons do
// to them. It knows no window and no OpenGL: the window feeds it ticks, clicks and ready pictures
// and draws the camera position it answers. Time comes from an injected clock, so that tests can
// step it.
//
// Positions are play positions 0..count - 1 (the window maps them to list indexes); after a
// right click the position may be -1 until the change, which adds 1 before it takes a picture.
//
// Two motions:
//  - Frames: one camera table entry per frame. A slide is SlideFrames frames, and the window's
//    slide timer runs at frameInterval(), restarted after each frame is on screen.
//  - Smooth: the camera position follows the clock. Table entries 1..SlideFrames are spread
//    evenly over the slide's time, from the moment its first frame is on screen, and the
//    position between two entries is fractional. Each frame is posed for the moment it is
//    expected on screen: its tick plus the time the recent frames took to get there.
//
// One tick of the window: beginTick(); when a change is pending, changeDone() once its picture
// (or its error) is in place, else no frame; then tablePosition(), the frame, frameShown().
class SlideCycle
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    using Motion = SlideMotion;

    static constexpr double MinSeconds = 1;
    static constexpr double MaxSeconds = 3600;
    static constexpr double DefaultSeconds = 4.5;

    // `count` pictures (at least 1), each shown for `seconds` (kept within MinSeconds and
    // MaxSeconds).
    SlideCycle(int count, Motion motion, double seconds, Now now = &Clock::now);

    Motion motion() const { return m_motion; }
    double seconds() const { return m_seconds; }
    int count() const { return m_count; }

    // Frames: the slide timer's interval, seconds x 1000 / SlideFrames ms (30 ms at 4.5 s).
    int frameInterval() const;

    // Starts a tick. When the slide's time is up, or a click asked for it, the change of picture
    // begins: the position moves on by one (after the last comes the first) and the change stays
    // pending until changeDone(). Returns whether a change is pending, in which case no frame is
    // drawn before its picture is in place.
    bool beginTick();
    bool changePending() const { return m_changePending; }
    // The change's picture is on the surface, or could not be read (the previous picture then
    // stays): the new slide starts with table entry 1, its clock when its first frame is on
    // screen.
    void changeDone();

    // The camera position of the frame to draw now, in table entries: 1..SlideFrames. Whole
    // numbers in Frames; in Smooth the position for the frame's expected time on screen.
    double tablePosition();
    // The frame drawn at tablePosition() is on screen.
    void frameShown();

    // Left button: the next picture at the next tick; a paused show resumes.
    void next();
    // Right button: the previous picture at the next tick (from the first, the last; with one
    // picture, the same one again); a paused show resumes.
    void previous();
    // Keys and the wheel: `pictures` pictures on (negative: back), counted from the picture the
    // next change would show; a paused show resumes. Unlike the buttons' clicks, steps add up:
    // n steps taken before the next tick move n pictures either way, crossing the ends of the
    // round as often as they are passed.
    void step(int pictures);
    // Middle button: pauses or resumes. Smooth motion resumes from the pose of the last frame.
    // Returns whether the show is paused now.
    bool togglePause();
    bool paused() const { return m_paused; }

    // Called with +1 when a change wraps from the last position to the first, and with -1 when
    // a right click wraps from the first back to the last: a play order that draws a new round
    // each time moves to its next or previous round there.
    void setRoundHandler(std::function<void(int)> handler) { m_roundHandler = std::move(handler); }

    // The picture list changed while the show runs: `count` pictures now (at least 1 is kept),
    // and the current picture at `position` (-1 when the one on screen left from the first).
    void relist(int count, int position)
    {
        m_count = count < 1 ? 1 : count;
        m_position = position;
    }

    // The position on screen, or the one the pending or requested change counts from.
    int position() const { return m_position; }
    // Frames drawn of the slide; in Frames, SlideFrames or more means a change is due.
    int frameCounter() const { return m_frameCounter; }

private:
    using Duration = std::chrono::duration<double>;

    // The time into the slide at which the frame of this tick is expected on screen.
    Duration expectedElapsed() const;
    double positionAt(Duration elapsed) const;

    int m_count;
    const Motion m_motion;
    const double m_seconds;
    const Now m_now;
    std::function<void(int)> m_roundHandler;

    int m_position = 0;
    int m_frameCounter = 0;
    bool m_changeRequested = false;
    bool m_changePending = false;
    bool m_paused = false;

    // Smooth: the slide's clock. While it is stopped (a new slide, or a resumed pause) the next
    // frame shows m_resumeAt and starts it when on screen: m_start is then that moment less
    // m_resumeAt.
    bool m_clockRunning = false;
    Clock::time_point m_start{};
    Duration m_resumeAt{0};
    // The time into the slide of the last frame drawn, where a pause resumes.
    Duration m_lastElapsed{0};
    // When this tick began, and how long a frame takes from its tick to the screen.
    Clock::time_point m_tickAt{};
    Duration m_latency{0};
    bool m_haveLatency = false;
};
