#pragma once

#include <cstdint>
#include <vector>

// A decoded picture: 8 bits per channel, red, green, blue, rows top row first, no row padding.
// pixels.size() == width * height * 3.
struct RgbImage
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    bool isEmpty() const { return width <= 0 || height <= 0; }
};
