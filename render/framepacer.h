#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

class SlideSurface;

// Asks for the frames of smooth motion, one per refresh of the display. Where presenting a
// frame waits for the display's vertical blank, the next frame is asked of the window system
// (QWindow::requestUpdate) as soon as one is done, and the swap keeps the beat. Where it does not
// wait (a virtual or remote X server), a precise timer keeps it, aimed at fixed deadlines one
// refresh period apart so that millisecond rounding does not add up. Which of the two applies
// is found out from the surface when the frames first start.
class FramePacer : public QObject
{
    Q_OBJECT

public:
    explicit FramePacer(SlideSurface* surface, QObject* parent = nullptr);

    // Frames are due from now on, the first at once. Nothing changes when they already are.
    void start();
    // No more frames are due.
    void stop();
    bool isActive() const { return m_active; }
    // A frame has been handled: asks for the next one, also after a stop.
    void requestNext();

    // The display's refresh rate in Hz, 60 where the screen does not say.
    double refreshRate() const;
    // Whether the frames follow the swaps (true) or the timer (false); unknown before start().
    std::optional<bool> followsSwaps() const { return m_followsSwaps; }

signals:
    void frameDue();

private:
    using Clock = std::chrono::steady_clock;

    void activate();

    SlideSurface* m_surface;
    QTimer m_timer;
    bool m_active = false;
    std::optional<bool> m_followsSwaps;
    Clock::time_point m_deadline{};
};
