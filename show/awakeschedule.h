#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

// The hours a photo frame is awake, in local time: "07:00-23:00", a range that crosses midnight
// ("22:00-06:00"), or several ranges ("07:00-09:00,17:00-23:00"). No range means awake at all
// hours. A plain value, read from [SHOW] AWAKE and --awake.
class AwakeSchedule
{
public:
    // A time of day, in milliseconds since local midnight (0 to one day, exclusive).
    using TimeOfDay = std::chrono::milliseconds;
    static constexpr TimeOfDay Day = std::chrono::hours(24);

    // A range of the day, from `from` up to (not including) `to`; `to` before `from` crosses
    // midnight. The two are never equal.
    struct Range
    {
        std::chrono::minutes from{0};
        std::chrono::minutes to{0};
        bool operator==(const Range&) const = default;
    };

    // The schedule a text spells: ranges of "H:MM-H:MM" (hours 0 to 23, or 24:00 for the end of
    // the day) parted by commas, blanks allowed around each. An empty text is a schedule without
    // ranges. Returns nothing for anything else: "25:00", "7-9", "07:00-07:00", "abc".
    static std::optional<AwakeSchedule> parse(std::string_view text);

    const std::vector<Range>& ranges() const { return m_ranges; }

    // Whether the schedule ever sleeps; a schedule whose ranges cover the whole day never does.
    bool sleeps() const;

    // Whether a local time of day lies inside one of the ranges (always, without any).
    bool isAwakeAt(TimeOfDay timeOfDay) const;

    // How long after `timeOfDay` the state isAwakeAt() gives first changes, or nothing when it
    // never does.
    std::optional<TimeOfDay> untilChange(TimeOfDay timeOfDay) const;

    // The same for a wall-clock instant whose local time is `utcOffset` ahead of UTC: whether it
    // is awake, and the instant of the next change (wake or sleep), or nothing when there is
    // none. The next change assumes the offset stays as it is; a daylight-saving change or a
    // move to another time zone in between is for the caller to notice by asking again.
    bool isAwake(std::chrono::system_clock::time_point now, std::chrono::seconds utcOffset) const;
    std::optional<std::chrono::system_clock::time_point>
    nextChange(std::chrono::system_clock::time_point now, std::chrono::seconds utcOffset) const;

    bool operator==(const AwakeSchedule&) const = default;

private:
    static TimeOfDay localTimeOfDay(std::chrono::system_clock::time_point now,
                                    std::chrono::seconds utcOffset);

    std::vector<Range> m_ranges;
};
