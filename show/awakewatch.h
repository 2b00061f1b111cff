#pragma once

#include "show/awakeschedule.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Tells the show when its awake hours begin and end. It looks at the wall clock when the next
// change is due, and at least once a minute in between, so that a clock that jumps (a resume
// from suspend, an NTP correction, a move to another time zone, a daylight-saving change) is
// followed within a minute; a schedule that never sleeps needs no timer at all. The clock is
// injected, so that tests can move it as they like and call check() themselves.
class AwakeWatch : public QObject
{
    Q_OBJECT

public:
    // The wall clock, and the local time's offset from UTC at an instant.
    struct Clock
    {
        std::function<std::chrono::system_clock::time_point()> now;
        std::function<std::chrono::seconds(std::chrono::system_clock::time_point)> utcOffset;
    };
    // The system's clock and time zone, the zone read again at every look, so that a changed
    // zone is followed.
    static Clock systemClock();

    // The longest wait between two looks at the clock.
    static constexpr std::chrono::milliseconds LongestWait = std::chrono::minutes(1);

    explicit AwakeWatch(AwakeSchedule schedule, Clock clock = systemClock(),
                        QObject* parent = nullptr);

    // Whether the show is in its awake hours now, or woken by hand.
    bool isAwake() const { return m_awake; }

    // A key or a click while asleep: awake until the schedule next goes to sleep. Emits
    // awakeChanged(true) when it was asleep.
    void wakeUntilNextSleep();

    // Looks at the clock: emits awakeChanged() when the state changed, and sets the next look.
    void check();

    // The wait set at the last look until the next one, or a negative time when there is none
    // (a schedule that never sleeps).
    std::chrono::milliseconds nextCheck() const;

signals:
    void awakeChanged(bool awake);

private:
    bool scheduledAwake(std::chrono::system_clock::time_point now) const;
    void setAwake(bool awake);

    AwakeSchedule m_schedule;
    Clock m_clock;
    QTimer m_timer;
    std::chrono::milliseconds m_wait{-1};
    // What the schedule said at the last look.
    bool m_scheduled = true;
    // Woken by hand while the schedule sleeps; ends when the schedule next goes to sleep.
    bool m_woken = false;
    bool m_awake = true;
};
