#pragma once

// Small helpers shared by the window benchmarks: summaries of measured intervals, the machine's
// load, and the photo-like JPEG the slide benchmark decodes.

#include "tests/support/testpictures.h"

#include <algorithm>
#include <cstdint>
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

} // namespace bench
