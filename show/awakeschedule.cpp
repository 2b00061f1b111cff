#include "show/awakeschedule.h"

#include <algorithm>

namespace {

using std::chrono::minutes;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "7:00", "07:00" or "24:00": one or two digits of hours, a colon, two digits of minutes.
std::optional<minutes> parseClock(std::string_view text)
{
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    if (!std::all_of(text.begin(), text.begin() + colon, isDigit) || !isDigit(text[colon + 1]) ||
        !isDigit(text[colon + 2]))
        return std::nullopt;
    int hours = 0;
    for (std::size_t i = 0; i < colon; ++i)
        hours = hours * 10 + (text[i] - '0');
    const int mins = (text[colon + 1] - '0') * 10 + (text[colon + 2] - '0');
    if (mins > 59 || hours > 24 || (hours == 24 && mins != 0))
        return std::nullopt;
    return minutes(hours * 60 + mins);
}

} // namespace

std::optional<AwakeSchedule> AwakeSchedule::parse(std::string_view text)
{
    AwakeSchedule schedule;
    if (trimmed(text).empty())
        return schedule;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view range = trimmed(text.substr(0, comma));
        const std::size_t dash = range.find('-');
        if (dash == std::string_view::npos)
            return std::nullopt;
        const std::optional<minutes> from = parseClock(trimmed(range.substr(0, dash)));
        const std::optional<minutes> to = parseClock(trimmed(range.substr(dash + 1)));
        // 24:00 ends a day and starts none; a range from a time to the same time is no range.
        if (!from || !to || *from == Day || *from == *to)
            return std::nullopt;
        schedule.m_ranges.push_back({*from, *to});
        if (comma == std::string_view::npos)
            return schedule;
        text.remove_prefix(comma + 1);
    }
}

bool AwakeSchedule::sleeps() const
{
    return untilChange(TimeOfDay(0)).has_value();
}

bool AwakeSchedule::isAwakeAt(TimeOfDay timeOfDay) const
{
    if (m_ranges.empty())
        return true;
    return std::any_of(m_ranges.begin(), m_ranges.end(), [timeOfDay](const Range& range) {
        const TimeOfDay from = range.from;
        const TimeOfDay to = range.to;
        return from < to ? from <= timeOfDay && timeOfDay < to
                         : timeOfDay >= from || timeOfDay < to;
    });
}

std::optional<AwakeSchedule::TimeOfDay> AwakeSchedule::untilChange(TimeOfDay timeOfDay) const
{
    // The state can only change where a range starts or ends: try those in the order they come
    // after `timeOfDay`, and take the first whose state differs. Overlapping ranges make some of
    // them no change at all.
    std::vector<TimeOfDay> waits;
    for (const Range& range : m_ranges) {
        for (const TimeOfDay edge : {TimeOfDay(range.from), TimeOfDay(range.to)}) {
            const TimeOfDay wait = ((edge - timeOfDay) % Day + Day) % Day;
            waits.push_back(wait == TimeOfDay(0) ? Day : wait);
        }
    }
    std::sort(waits.begin(), waits.end());
    const bool awake = isAwakeAt(timeOfDay);
    for (const TimeOfDay wait : waits) {
        if (isAwakeAt((timeOfDay + wait) % Day) != awake)
            return wait;
    }
    return std::nullopt;
}

AwakeSchedule::TimeOfDay AwakeSchedule::localTimeOfDay(std::chrono::system_clock::time_point now,
                                                       std::chrono::seconds utcOffset)
{
    const auto local = std::chrono::duration_cast<TimeOfDay>(now.time_since_epoch()) + utcOffset;
    return (local % Day + Day) % Day;
}

bool AwakeSchedule::isAwake(std::chrono::system_clock::time_point now,
                            std::chrono::seconds utcOffset) const
{
    return isAwakeAt(localTimeOfDay(now, utcOffset));
}

std::optional<std::chrono::system_clock::time_point>
AwakeSchedule::nextChange(std::chrono::system_clock::time_point now,
                          std::chrono::seconds utcOffset) const
{
    const TimeOfDay timeOfDay = localTimeOfDay(now, utcOffset);
    const std::optional<TimeOfDay> wait = untilChange(timeOfDay);
    if (!wait)
        return std::nullopt;
    // The change comes at a whole minute of local time: count from the instant's own
    // millisecond, so that the result lands on it exactly.
    return std::chrono::time_point_cast<TimeOfDay>(now) + *wait;
}
