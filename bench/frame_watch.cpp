// Frame times seen from outside the program, as a screen recorder or a compositor sees them
// (see bench/measure_motion.sh, which runs the real program in both motions under it):
//
//   frame_watch pictures DIR
//       writes six 6000 x 4000 photo-like JPEGs (24 MP) into DIR.
//   frame_watch watch SECONDS FRAMELOG
//       time-stamps, for SECONDS, every change the X server reports to the screen's contents
//       (the Damage extension), takes the reports of one presented frame as one (a frame's
//       reports come within 2 ms of each other, frames at least a few ms apart) and prints the
//       median and worst interval between frames, the worst of the three intervals that end
//       with each change of picture and the two frames after it, and how many intervals exceed
//       1.5 x the median. The changes are found in the program's frame log (LUMIVANE_FRAME_LOG),
//       whose times are on the same clock; the log's times are also checked against the
//       frames seen here.
#include "bench/benchsupport.h"
#include "tests/support/testpictures.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::nowMicros;

// Only reports over a large part of the screen count as a frame; the status line, the page text
// and the mouse pointer change small areas.
constexpr int FrameArea = 100000;
constexpr long long SameFrameMicros = 2000;

std::vector<long long> watchFrames(int seconds)
{
    std::vector<long long> frames;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "frame_watch: cannot open the display\n");
        return frames;
    }
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(connection, &xcb_damage_id);
    if (damage == nullptr || damage->present == 0) {
        std::fprintf(stderr, "frame_watch: the X server has no Damage extension\n");
        xcb_disconnect(connection);
        return frames;
    }
    std::free(xcb_damage_query_version_reply(
        connection, xcb_damage_query_version(connection, XCB_DAMAGE_MAJOR_VERSION, 1), nullptr));
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_damage_damage_t watched = xcb_generate_id(connection);
    xcb_damage_create(connection, watched, screen->root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    xcb_flush(connection);
    const long long end = nowMicros() + seconds * 1000000LL;
    while (nowMicros() < end) {
        std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(
            xcb_poll_for_event(connection), &std::free);
        if (!event) {
            if (xcb_connection_has_error(connection) != 0)
                break;
            timespec pause{0, 200000}; // 0.2 ms: the times stay well inside a frame
            nanosleep(&pause, nullptr);
            continue;
        }
        if ((event->response_type & 0x7f) != damage->first_event + XCB_DAMAGE_NOTIFY)
            continue;
        const long long at = nowMicros();
        const auto* notify = reinterpret_cast<const xcb_damage_notify_event_t*>(event.get());
        if (notify->area.width * notify->area.height < FrameArea)
            continue;
        if (frames.empty() || at - frames.back() > SameFrameMicros)
            frames.push_back(at);
    }
    xcb_damage_destroy(connection, watched);
    xcb_disconnect(connection);
    return frames;
}

int watch(int seconds, const char* logPath)
{
    const std::vector<long long> frames = watchFrames(seconds);
    if (frames.size() < 3) {
        std::fprintf(stderr, "frame_watch: saw %zu frames\n", frames.size());
        return 1;
    }
    std::vector<long long> logged;
    std::vector<long long> changes;
    {
        std::ifstream log(logPath);
        long long time = 0;
        int picture = 0;
        int previous = -1;
        std::string position;
        std::string path;
        while (log >> time >> picture >> position >> path) {
            logged.push_back(time);
            if (previous >= 0 && picture != previous)
                changes.push_back(time);
            previous = picture;
        }
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < frames.size(); ++i)
        intervals.push_back(double(frames[i] - frames[i - 1]) / 1000);
    const double middle = bench::median(intervals);
    // The frame seen here that a logged frame is: the first seen at most 5 ms before the log
    // line, which is written once the frame is presented.
    const auto seenAs = [&](long long time) {
        return std::size_t(std::lower_bound(frames.begin(), frames.end(), time - 5000) -
                           frames.begin());
    };
    std::vector<double> atChange;
    for (const long long change : changes) {
        const std::size_t i = seenAs(change);
        if (i < 1 || i + 2 >= frames.size() || change > frames.back())
            continue;
        atChange.push_back(*std::max_element(intervals.begin() + std::ptrdiff_t(i - 1),
                                             intervals.begin() + std::ptrdiff_t(i + 2)));
    }
    std::vector<double> logLag;
    for (const long long time : logged) {
        const std::size_t i = seenAs(time);
        if (time >= frames.front() && i < frames.size())
            logLag.push_back(double(time - frames[i]) / 1000);
    }
    const auto late = std::count_if(intervals.begin(), intervals.end(),
                                    [&](double interval) { return interval > 1.5 * middle; });
    std::printf("%zu frames, interval median %.1f ms, worst %.1f ms; at %zu changes worst %.1f ms "
                "(%.2f x median); %td over 1.5 x median; frame log time minus the time seen: "
                "median %.2f ms, worst %.2f ms\n",
                frames.size(), middle, bench::maximum(intervals), atChange.size(),
                bench::maximum(atChange), bench::maximum(atChange) / middle, late,
                bench::median(logLag), bench::maximum(logLag));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pictures" && argc == 3) {
        const std::vector<std::uint8_t> jpeg = bench::encodePhotoLike(6000, 4000);
        for (int i = 0; i < 6; ++i)
            TestPictures::writeFile(std::string(argv[2]) + "/p" + std::to_string(i) + ".jpg", jpeg);
        return 0;
    }
    if (command == "watch" && argc == 4)
        return watch(std::atoi(argv[2]), argv[3]);
    std::fprintf(stderr, "usage: frame_watch pictures DIR | watch SECONDS FRAMELOG\n");
    return 2;
}
