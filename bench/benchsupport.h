#pragma once

// Small helpers shared by the window benchmarks: summaries of measured intervals, the clock and
// memory they are measured with, the machine's load, and the photo-like JPEG the slide benchmark
// decodes.

#include "tests/support/testpictures.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Microseconds on the monotonic clock, the clock the window's frame log writes its times on.
inline long long nowMicros()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000LL + now.tv_nsec / 1000;
}

// One kB figure of /proc/self/status, named with its colon ("VmRSS:" for the resident memory,
// "VmHWM:" for its peak), or 0 when the line is missing.
inline long processStatusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    }
    return 0;
}

// The load average over one and five minutes, as /proc/loadavg gives it.
inline std::string loadAverage()
{
    std::ifstream load("/proc/loadavg");
    std::string one, five;
    load >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

// A photo-like picture at quality 90, so the decoder sees data like a photograph's.
inline std::vector<std::uint8_t> encodePhotoLike(int width, int height)
{
    return TestPictures::encodeJpeg(TestPictures::makePhotoLike(width, height), {.quality = 90});
}

// Runs the application's event loop for `ms`, as exec() runs it, and returns early once `done`
// holds (checked every 20 ms). QTest::qWait is no stand-in while frames are measured: between
// its turns of the loop it sleeps 10 ms, in which no timer of the window fires, and that shows
// as late frames that the program itself does not have.
template <typename Done> bool runEventLoop(int ms, Done done)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() >= ms)
            loop.quit();
    });
    check.start(std::min(20, ms));
    if (!done())
        loop.exec();
    return done();
}

inline void runEventLoop(int ms)
{
    runEventLoop(ms, [] { return false; });
}

} // namespace bench
