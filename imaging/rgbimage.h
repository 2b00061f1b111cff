#pragma once

#include <cstddef>
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

    // Row y (0 = top) of width * 3 bytes. Readers go through this rather than `pixels`, so
    // that a picture may leave rows unstored: nullptr stands for a row that is all black.
    const std::uint8_t* row(int y) const
    {
        return pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
    }
};
