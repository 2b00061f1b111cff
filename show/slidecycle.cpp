#include "show/slidecycle.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// A frame that took longer than this from its tick to the screen was held up by something else
// (a message box, a busy machine); it must not push the following frames' poses far ahead.
constexpr std::chrono::milliseconds MaxLatencySample{50};

} // namespace

SlideCycle::SlideCycle(int count, Motion motion, double seconds, Now now)
    : m_count(std::max(count, 1)), m_motion(motion),
      m_seconds(
          std::clamp(std::isfinite(seconds) ? seconds : DefaultSeconds, MinSeconds, MaxSeconds)),
      m_now(std::move(now))
{}

int SlideCycle::frameInterval() const
{
    return int(std::lround(m_seconds * 1000 / SlideFrames));
}

bool SlideCycle::beginTick()
{
    m_tickAt = m_now();
    // A change requested while the previous one still waits for its picture moves its target
    // on, so the latest click decides which picture comes.
    const bool timeUp = m_motion == Motion::Frames
                            ? m_frameCounter >= SlideFrames
                            : m_clockRunning && expectedElapsed() >= Duration(m_seconds);
    if (m_changeRequested || timeUp) {
        m_changeRequested = false;
        m_frameCounter = 0;
        ++m_position;
        if (m_position >= m_count) {
            m_position = 0;
            if (m_roundHandler)
                m_roundHandler(+1);
        }
        m_changePending = true;
        m_clockRunning = false;
    }
    return m_changePending;
}

void SlideCycle::changeDone()
{
    m_changePending = false;
    m_frameCounter = 0;
    m_clockRunning = false;
    m_resumeAt = {};
    m_lastElapsed = {};
}

SlideCycle::Duration SlideCycle::expectedElapsed() const
{
    return m_tickAt + std::chrono::duration_cast<Clock::duration>(m_latency) - m_start;
}

double SlideCycle::positionAt(Duration elapsed) const
{
    // Entry 1 at the start of the slide, entry SlideFrames at its end.
    const double position = 1 + (SlideFrames - 1) * (elapsed.count() / m_seconds);
    return std::clamp(position, 1.0, double(SlideFrames));
}

double SlideCycle::tablePosition()
{
    if (m_motion == Motion::Frames)
        return m_frameCounter + 1;
    m_lastElapsed = m_clockRunning ? expectedElapsed() : m_resumeAt;
    return positionAt(m_lastElapsed);
}

void SlideCycle::frameShown()
{
    ++m_frameCounter;
    if (m_motion == Motion::Frames)
        return;
    const Clock::time_point now = m_now();
    if (!m_clockRunning) {
        // The slide's clock starts (or resumes) as its first frame reaches the screen, so the
        // motion goes on from exactly the pose shown.
        m_start = now - std::chrono::duration_cast<Clock::duration>(m_resumeAt);
        m_clockRunning = true;
        return;
    }
    const Duration sample = std::min<Duration>(now - m_tickAt, MaxLatencySample);
    // A running average of a few frames: steady against one frame's hiccup.
    m_latency = m_haveLatency ? m_latency + (sample - m_latency) / 8 : sample;
    m_haveLatency = true;
}

void SlideCycle::next()
{
    m_frameCounter = SlideFrames;
    m_changeRequested = true;
    m_paused = false;
}

void SlideCycle::previous()
{
    // The change adds 1 before it takes its picture, so stepping back lowers the position by 2.
    // From the first picture that wraps to the last, and with one picture to the same one.
    m_position -= 2;
    if (m_position < -1) {
        m_position = m_count - 2;
        if (m_roundHandler)
            m_roundHandler(-1);
    }
    next();
}

void SlideCycle::step(int pictures)
{
    // The first step of a tick asks for the change as a click does; each further one moves the
    // change's target (the position plus 1) on by one, across the round's ends.
    for (; pictures > 0; --pictures) {
        if (!m_changeRequested) {
            next();
            continue;
        }
        if (++m_position >= m_count) {
            m_position -= m_count;
            if (m_roundHandler)
                m_roundHandler(+1);
        }
    }
    for (; pictures < 0; ++pictures) {
        if (!m_changeRequested) {
            previous();
            continue;
        }
        if (--m_position < -1) {
            m_position += m_count;
            if (m_roundHandler)
                m_roundHandler(-1);
        }
    }
}

bool SlideCycle::togglePause()
{
    m_paused = !m_paused;
    if (m_paused && m_clockRunning) {
        m_clockRunning = false;
        m_resumeAt = m_lastElapsed;
    }
    return m_paused;
}
