#include "show/awakewatch.h"

#include <algorithm>
#include <ctime>

AwakeWatch::Clock AwakeWatch::systemClock()
{
    return {[] { return std::chrono::system_clock::now(); },
            [](std::chrono::system_clock::time_point instant) {
                // tzset() reads TZ and /etc/localtime again, which localtime_r() alone need
                // not do.
                tzset();
                const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
                std::tm local{};
                if (localtime_r(&seconds, &local) == nullptr)
                    return std::chrono::seconds(0);
                return std::chrono::seconds(local.tm_gmtoff);
            }};
}

AwakeWatch::AwakeWatch(AwakeSchedule schedule, Clock clock, QObject* parent)
    : QObject(parent), m_schedule(std::move(schedule)), m_clock(std::move(clock))
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire some percent late: a minute's look would miss the second the
    // show is to wake in.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AwakeWatch::check);
    m_scheduled = scheduledAwake(m_clock.now());
    m_awake = m_scheduled;
    check();
}

bool AwakeWatch::scheduledAwake(std::chrono::system_clock::time_point now) const
{
    return m_schedule.isAwake(now, m_clock.utcOffset(now));
}

void AwakeWatch::wakeUntilNextSleep()
{
    if (m_awake)
        return;
    m_woken = true;
    setAwake(true);
}

void AwakeWatch::check()
{
    if (!m_schedule.sleeps())
        return;
    const auto now = m_clock.now();
    const std::chrono::seconds offset = m_clock.utcOffset(now);
    const bool scheduled = m_schedule.isAwake(now, offset);
    if (m_scheduled && !scheduled)
        m_woken = false;
    m_scheduled = scheduled;

    auto wait = LongestWait;
    if (const auto change = m_schedule.nextChange(now, offset)) {
        wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(*change - now),
                          std::chrono::milliseconds(1), LongestWait);
    }
    m_wait = wait;
    m_timer.start(wait);
    setAwake(scheduled || m_woken);
}

std::chrono::milliseconds AwakeWatch::nextCheck() const
{
    return m_wait;
}

void AwakeWatch::setAwake(bool awake)
{
    if (awake == m_awake)
        return;
    m_awake = awake;
    emit awakeChanged(awake);
}
