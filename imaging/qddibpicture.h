#pragma once

#include "imaging/rgbimage.h"

#include <array>
#include <cstdint>
#include <vector>

// The 40-byte BITMAPINFOHEADER as the reader holds it. A 12-byte core header is widened into
// this form when it is read.
struct BitmapInfoHeader
{
    std::uint32_t size = 40;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 3780;
    std::int32_t yPelsPerMeter = 3780;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

// One colour-table entry, in the file's order: blue, green, red, reserved.
struct RgbQuad
{
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;
};

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

// The largest picture the reader hands over, in pixels (16384 x 16384). Its RGB form takes
// 768 MiB; anything larger is refused before a buffer for it is made.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// A loaded picture: the header, up to 256 colour-table entries, and the pixel data. The pixels
// are kept as stored for 1, 4, 8 and 24 bits per pixel (possibly run-length encoded); 16- and
// 32-bit files have already been converted to 24-bit rows here.
struct QdDibPicture
{
    std::int32_t width = 1;
    std::int32_t height = 1;
    BitmapInfoHeader header;
    std::array<RgbQuad, 256> colours{};
    PixelBuffer pixels;
    // The ICC profile a version 5 header embeds, as stored; empty when there is none.
    std::vector<std::uint8_t> iccProfile;

    // Rows are stored top row first when the header's height is negative.
    bool isTopDown() const { return header.height < 0; }
};
