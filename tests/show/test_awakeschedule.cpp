#include "show/awakeschedule.h"
#include "show/awakewatch.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

namespace {

AwakeSchedule scheduleOf(std::string_view text)
{
    const std::optional<AwakeSchedule> schedule = AwakeSchedule::parse(text);
    EXPECT_TRUE(schedule.has_value()) << text;
    return schedule.value_or(AwakeSchedule{});
}

// A day's midnight in UTC, far from the epoch so that nothing rests on it.
const Clock::time_point Midnight = Clock::time_point(20000 * 24h);

} // namespace

TEST(AwakeSchedule, ParsesRangesAndRefusesAnythingElse)
{
    using std::chrono::minutes;
    using Range = AwakeSchedule::Range;
    EXPECT_EQ(scheduleOf("07:00-23:00").ranges(), (std::vector<Range>{{7h, 23h}}));
    EXPECT_EQ(scheduleOf(" 22:30 - 6:05 ,7:00-09:00,17:00-24:00 ").ranges(),
              (std::vector<Range>{{22h + minutes(30), 6h + minutes(5)}, {7h, 9h}, {17h, 24h}}));
    for (const char* always : {"", "  "})
        EXPECT_TRUE(scheduleOf(always).ranges().empty());

    for (const char* bad :
         {"25:00", "7-9", "abc", "25:00-06:00", "07:00-07:00", "00:00-24:00x", "07:00-", "-07:00",
          "07:00-23:00,", ",07:00-23:00", "24:00-01:00", "07:60-08:00", "007:00-08:00", "7:0-8:00",
          "+7:00-8:00", "07:00-09:00-10:00", "07:00 09:00", "24:30-01:00", "07:/9-08:00"})
        EXPECT_FALSE(AwakeSchedule::parse(bad).has_value()) << bad;
}

// The state at a time of day and the wait for its next change: a range across midnight, several
// ranges, overlapping ones, and schedules that never sleep.
TEST(AwakeSchedule, AwakeInsideTheRangesAndTheNextChange)
{
    const AwakeSchedule night = scheduleOf("22:00-06:00");
    EXPECT_TRUE(night.isAwakeAt(23h));
    EXPECT_TRUE(night.isAwakeAt(0h));
    EXPECT_TRUE(night.isAwakeAt(22h));
    EXPECT_FALSE(night.isAwakeAt(6h));
    EXPECT_FALSE(night.isAwakeAt(21h + 59min));
    EXPECT_EQ(night.untilChange(23h), 7h);
    EXPECT_EQ(night.untilChange(6h - 1ms), 1ms);
    EXPECT_EQ(night.untilChange(6h), 16h);

    const AwakeSchedule twice = scheduleOf("17:00-23:00,07:00-09:00");
    EXPECT_EQ(twice.untilChange(8h), 1h);
    EXPECT_EQ(twice.untilChange(10h), 7h);
    EXPECT_EQ(twice.untilChange(23h + 30min), 7h + 30min);
    EXPECT_FALSE(twice.isAwakeAt(12h));
    EXPECT_TRUE(twice.sleeps());

    // Ranges that overlap change only where the union starts and ends.
    EXPECT_EQ(scheduleOf("07:00-12:00,11:00-13:00,12:30-14:00").untilChange(8h), 6h);

    for (const char* allDay : {"", "00:00-24:00", "22:00-06:00,05:00-23:00"}) {
        const AwakeSchedule schedule = scheduleOf(allDay);
        EXPECT_FALSE(schedule.sleeps()) << allDay;
        EXPECT_TRUE(schedule.isAwakeAt(3h)) << allDay;
        EXPECT_FALSE(schedule.untilChange(3h).has_value()) << allDay;
    }

    // A wall-clock instant counts in local time: 21:30 UTC is 23:30 two hours east.
    const AwakeSchedule day = scheduleOf("07:00-23:00");
    EXPECT_TRUE(day.isAwake(Midnight + 21h + 30min, 0s));
    EXPECT_FALSE(day.isAwake(Midnight + 21h + 30min, 2h));
    EXPECT_EQ(day.nextChange(Midnight + 21h + 30min + 250ms, 2h), Midnight + 29h);
    EXPECT_EQ(day.nextChange(Midnight + 3h, -5h), Midnight + 4h);
    EXPECT_FALSE(scheduleOf("").nextChange(Midnight, 0s).has_value());
}

// The watch follows a clock that the test moves: a change on time, a jump forward over a whole
// night (a resume from suspend), one back, a move to another time zone, and a wake by hand that
// lasts until the next scheduled sleep.
TEST(AwakeWatch, FollowsTheClockAsItRunsAndJumps)
{
    int argc = 0;
    QCoreApplication application(argc, nullptr);
    Clock::time_point now = Midnight + 23h - 500ms;
    std::chrono::seconds offset = 0s;
    AwakeWatch watch(scheduleOf("07:00-23:00"),
                     {[&] { return now; }, [&](Clock::time_point) { return offset; }});
    std::vector<bool> changes;
    QObject::connect(&watch, &AwakeWatch::awakeChanged,
                     [&](bool awake) { changes.push_back(awake); });
    EXPECT_TRUE(watch.isAwake());
    EXPECT_EQ(watch.nextCheck(), 500ms);

    const auto lookAt = [&](Clock::time_point instant) {
        now = instant;
        watch.check();
        return watch.isAwake();
    };
    EXPECT_FALSE(lookAt(Midnight + 23h));
    // Eight hours to the morning, looked at every minute.
    EXPECT_EQ(watch.nextCheck(), AwakeWatch::LongestWait);
    EXPECT_TRUE(lookAt(Midnight + 24h + 7h + 30s));
    EXPECT_FALSE(lookAt(Midnight + 24h + 6h));
    // Moved two hours east: 06:00 UTC is 08:00 there.
    offset = 2h;
    EXPECT_TRUE(lookAt(Midnight + 24h + 6h));
    offset = 0s;
    EXPECT_FALSE(lookAt(Midnight + 24h + 6h + 59min + 59s + 600ms));
    EXPECT_EQ(watch.nextCheck(), 400ms);
    EXPECT_EQ(changes, (std::vector<bool>{false, true, false, true, false}));

    // Woken by hand at night: it stays awake through the morning and sleeps at 23:00.
    changes.clear();
    now = Midnight + 48h + 2h;
    watch.check();
    watch.wakeUntilNextSleep();
    EXPECT_TRUE(watch.isAwake());
    EXPECT_TRUE(lookAt(Midnight + 48h + 6h + 59min));
    EXPECT_TRUE(lookAt(Midnight + 48h + 7h));
    EXPECT_TRUE(lookAt(Midnight + 48h + 22h));
    EXPECT_FALSE(lookAt(Midnight + 48h + 23h));
    EXPECT_FALSE(lookAt(Midnight + 48h + 23h + 30min));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // A schedule without sleep needs no look at the clock.
    AwakeWatch always(AwakeSchedule{},
                      {[&] { return now; }, [&](Clock::time_point) { return offset; }});
    EXPECT_TRUE(always.isAwake());
    EXPECT_LT(always.nextCheck(), 0ms);
}
