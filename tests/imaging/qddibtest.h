#pragma once

// The bitmap reader tests' files, written field by field, and their checks (header only).
#include "imaging/picturereader.h"
#include "imaging/qddib.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <unistd.h>
#include <vector>

// The test bitmaps are written with designated initializers that name only the fields that
// matter; the others keep their defaults on purpose. GCC 12 still warns about them.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace QdDibTest {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<std::uint8_t, 3>;

// Writes little-endian fields, the way bitmap files store them.
class ByteWriter
{
public:
    ByteWriter& u8(std::uint8_t v)
    {
        m_bytes.push_back(v);
        return *this;
    }
    ByteWriter& u16(std::uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    ByteWriter& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    ByteWriter& bytes(const Bytes& v)
    {
        m_bytes.insert(m_bytes.end(), v.begin(), v.end());
        return *this;
    }
    void patchU32(std::size_t offset, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    std::size_t size() const { return m_bytes.size(); }
    Bytes take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

// A bitmap with a 40-byte header. The colour table is written as given (red, green, blue
// triples) and declared with its own size unless clrUsed says otherwise; the pixels are written
// exactly as stored. bfOffBits and bfSize are right unless overridden.
struct InfoBmp
{
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<Rgb> palette;
    std::optional<std::array<std::uint32_t, 3>> masks;
    Bytes pixels;
    std::uint32_t headerSize = 40;
    std::optional<std::uint32_t> offBits;
    std::optional<std::uint32_t> fileSize;

    Bytes build() const
    {
        ByteWriter w;
        w.u8('B').u8('M').u32(0).u32(0).u32(0);
        w.u32(headerSize).u32(width).u32(height).u16(1).u16(bitCount).u32(compression);
        w.u32(0).u32(0).u32(0).u32(clrUsed ? clrUsed : palette.size()).u32(0);
        if (masks)
            w.u32((*masks)[0]).u32((*masks)[1]).u32((*masks)[2]);
        for (const Rgb& c : palette)
            w.u8(c[2]).u8(c[1]).u8(c[0]).u8(0);
        const std::size_t dataStart = w.size();
        w.bytes(pixels);
        w.patchU32(10, offBits.value_or(dataStart));
        w.patchU32(2, fileSize.value_or(w.size()));
        return w.take();
    }
};

// A bitmap with a 12-byte core header and 3-byte colour entries.
inline Bytes coreBmp(std::uint16_t width, std::uint16_t height, std::uint16_t bitCount,
              const std::vector<Rgb>& palette, const Bytes& pixels)
{
    ByteWriter w;
    w.u8('B').u8('M').u32(0).u32(0).u32(0);
    w.u32(12).u16(width).u16(height).u16(1).u16(bitCount);
    for (const Rgb& c : palette)
        w.u8(c[2]).u8(c[1]).u8(c[0]);
    w.patchU32(10, static_cast<std::uint32_t>(w.size()));
    w.bytes(pixels);
    w.patchU32(2, static_cast<std::uint32_t>(w.size()));
    return w.take();
}

inline Rgb pixelAt(const RgbImage& image, int x, int y)
{
    const RowPixels row = image.row(y);
    if (x < row.first || x >= row.first + row.count)
        return {0, 0, 0};
    const std::uint8_t* pixel = row.pixels + static_cast<std::size_t>(x - row.first) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

inline RgbImage decode(const Bytes& file)
{
    QdDib dib;
    dib.loadFromBytes(file);
    RgbImage image = dib.toRgbImage();
    EXPECT_TRUE(image.isWellFormed());
    return image;
}

// Expects the given exception type with exactly the given text.
template <typename Error, typename Action> void expectError(Action action, const std::string& text)
{
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << text;
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), text);
    }
}

template <typename Error> void expectLoadError(const Bytes& file, const std::string& text)
{
    QdDib dib;
    expectError<Error>([&] { dib.loadFromBytes(file); }, text);
}

template <typename Error> void expectHandOverError(const Bytes& file, const std::string& text)
{
    QdDib dib;
    dib.loadFromBytes(file); // loads without error
    expectError<Error>([&] { dib.toRgbImage(); }, text);
}

inline const Rgb kBlack{0, 0, 0};
inline const Rgb kWhite{255, 255, 255};
inline const Rgb kRed{255, 0, 0};
inline const Rgb kGreen{0, 255, 0};
inline const Rgb kBlue{0, 0, 255};

inline const std::vector<Rgb> kFourColours{kRed, kGreen, kBlue, kWhite};

inline std::vector<Rgb> greyRamp(int entries)
{
    std::vector<Rgb> palette;
    for (int i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        palette.push_back({v, v, v});
    }
    return palette;
}


} // namespace QdDibTest
