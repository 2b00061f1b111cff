#include "imaging/qddibhandover.h"

#include "imaging/qddib.h"
#include "imaging/qddibbuffer.h"
#include "imaging/qddibpicture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

constexpr char kInvalid1Bit[] = "TQdInternalDIB.GetPixelFormat: Invalid DIB(1Bit)";
constexpr char kInvalid4Bit[] = "TQdInternalDIB.GetPixelFormat: Invalid DIB(4Bit)";
constexpr char kInvalid8Bit[] = "TQdInternalDIB.GetPixelFormat: Invalid DIB(8Bit)";
constexpr char kInvalid24Bit[] = "TQdInternalDIB.GetPixelFormat: Invalid DIB(24Bit)";

// The colour table as red, green, blue, unused: four bytes per entry so that a pixel can be
// written with one 4-byte copy. Entries beyond the table are black.
using Palette = std::array<std::uint8_t, 256 * 4>;

void checkPixelFormat(const BitmapInfoHeader& header)
{
    const std::uint32_t compression = header.compression;
    switch (header.bitCount) {
    case 1:
        if (compression != kBiRgb)
            throw EQdDIBInvalidDIB(kInvalid1Bit);
        return;
    case 4:
        if (compression != kBiRgb && compression != kBiRle4)
            throw EQdDIBInvalidDIB(kInvalid4Bit);
        return;
    case 8:
        if (compression != kBiRgb && compression != kBiRle8)
            throw EQdDIBInvalidDIB(kInvalid8Bit);
        return;
    default:
        // Loading leaves only 24 bits here: 16- and 32-bit pixels were converted to 24.
        if (compression != kBiRgb)
            throw EQdDIBInvalidDIB(kInvalid24Bit);
        return;
    }
}

Palette makePalette(const QdDibPicture& picture)
{
    Palette palette{};
    const std::uint32_t entries = std::min<std::uint32_t>(picture.header.clrUsed, 256);
    for (std::uint32_t i = 0; i < entries; ++i) {
        palette[i * 4] = picture.colours[i].red;
        palette[i * 4 + 1] = picture.colours[i].green;
        palette[i * 4 + 2] = picture.colours[i].blue;
    }
    return palette;
}

// Writes one palette colour. The 4-byte copy spills one byte into the next pixel, which is
// written afterwards; only the very last pixel of a row takes the exact 3-byte copy.
inline void putColour(std::uint8_t* out, const Palette& palette, unsigned index)
{
    std::memcpy(out, palette.data() + index * 4, 4);
}

inline void putLastColour(std::uint8_t* out, const Palette& palette, unsigned index)
{
    std::memcpy(out, palette.data() + index * 4, 3);
}

// Writes the pixels [from, to) of a row, from `out` on, with the colours indexOf(position)
// gives. The last one takes the exact copy, so nothing is written past it.
template <typename IndexOf>
inline void putPixels(std::uint8_t* out, std::int64_t from, std::int64_t to, const Palette& palette,
                      IndexOf indexOf)
{
    if (from >= to)
        return;
    for (std::int64_t at = from; at + 1 < to; ++at, out += 3)
        putColour(out, palette, indexOf(at));
    putLastColour(out, palette, indexOf(to - 1));
}

// Expands count indexed pixels of the given bit count from a packed row (most significant bits
// first) into RGB.
void expandIndexedRow(const std::uint8_t* in, int bitCount, std::size_t count,
                      const Palette& palette, std::uint8_t* out)
{
    if (count == 0)
        return;
    const std::size_t last = count - 1;
    if (bitCount == 8) {
        for (std::size_t x = 0; x < last; ++x)
            putColour(out + x * 3, palette, in[x]);
        putLastColour(out + last * 3, palette, in[last]);
        return;
    }
    const unsigned pixelsPerByte = 8 / static_cast<unsigned>(bitCount);
    const unsigned valueMask = (1u << bitCount) - 1;
    for (std::size_t x = 0; x < last; ++x) {
        const unsigned shift = 8 - bitCount * (1 + static_cast<unsigned>(x % pixelsPerByte));
        putColour(out + x * 3, palette, (in[x / pixelsPerByte] >> shift) & valueMask);
    }
    const unsigned shift = 8 - bitCount * (1 + static_cast<unsigned>(last % pixelsPerByte));
    putLastColour(out + last * 3, palette, (in[last / pixelsPerByte] >> shift) & valueMask);
}

// Copies count 24-bit pixels from blue-green-red into red-green-blue.
void flipBgrRow(const std::uint8_t* in, std::size_t count, std::uint8_t* out)
{
    for (std::size_t x = 0; x < count; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// Bytes per stored row of an uncompressed picture, padded to a multiple of 4.
std::uint64_t storedStride(const QdDibPicture& picture)
{
    return (static_cast<std::uint64_t>(picture.width) * picture.header.bitCount + 31) / 32 * 4;
}

// Hands over uncompressed rows. Rows, or parts of rows, that the stored data does not reach stay
// black.
void copyRows(const QdDibPicture& picture, const Palette& palette, RgbImage& image,
              const std::stop_token& stop)
{
    const int bitCount = picture.header.bitCount;
    const std::uint64_t width = static_cast<std::uint64_t>(picture.width);
    const std::uint64_t stride = storedStride(picture);
    const std::uint64_t available = picture.pixels.size();
    const bool topDown = picture.isTopDown();
    for (std::uint64_t y = 0; y < static_cast<std::uint64_t>(picture.height); ++y) {
        const std::uint64_t storedRow = topDown ? y : picture.height - 1 - y;
        const std::uint64_t offset = storedRow * stride;
        if (offset >= available)
            continue;
        const std::uint64_t rowBytes = std::min(stride, available - offset);
        const std::uint64_t pixelsInData =
            bitCount == 24 ? rowBytes / 3 : rowBytes * 8 / static_cast<std::uint64_t>(bitCount);
        const std::size_t count = static_cast<std::size_t>(std::min(width, pixelsInData));
        if (count == 0)
            continue;
        if (stop.stop_requested())
            throw PictureWorkStopped();
        const std::uint8_t* in = picture.pixels.data() + offset;
        // Only the pixels the data reaches are made: one wide row of a few bytes costs those.
        std::uint8_t* out = image.writablePixels(static_cast<int>(y), 0, static_cast<int>(count));
        if (bitCount == 24)
            flipBgrRow(in, count, out);
        else
            expandIndexedRow(in, bitCount, count, palette, out);
    }
}

// Decodes BI_RLE8 or BI_RLE4 data. Records: a non-zero count with a value is an encoded run; a
// zero followed by 0 ends the line, by 1 ends the bitmap, by 2 moves by the two bytes that
// follow (delta), and by n >= 3 starts a literal run of n pixels padded to 16 bits. Lines go
// from the bottom of the picture up. Pixels outside the picture are dropped, and decoding stops
// where the data ends.
void decodeRunLength(const QdDibPicture& picture, const Palette& palette, RgbImage& image,
                     const std::stop_token& stop)
{
    const bool fourBit = picture.header.bitCount == 4;
    const std::uint8_t* data = picture.pixels.data();
    const std::size_t size = picture.pixels.size();
    const std::int64_t width = picture.width;
    const std::int64_t height = picture.height;
    std::size_t pos = 0;
    std::int64_t x = 0;
    std::int64_t line = 0; // stored line, 0 is the bottom row
    // The picture row of the current line, stored only from the first pixel drawn to the last,
    // so that the lines a stream skips or never reaches, and the parts of a line it leaves
    // unset, cost nothing.
    StoredRow* row = nullptr;
    const auto pixelsOf = [&](std::int64_t from, std::int64_t to) {
        if (row == nullptr) {
            row = &image.storedRows[static_cast<int>(height - 1 - line)];
            // Room for all the line can still draw, so that it grows without moving: each byte
            // left moves it at most 128 pixels on (a record of two bytes draws up to 255).
            const std::uint64_t reach = std::min<std::uint64_t>(
                static_cast<std::uint64_t>(width - from),
                static_cast<std::uint64_t>(to - from) + std::uint64_t{size - pos} * 128);
            row->bytes.reserve(static_cast<std::size_t>(reach) * 3);
        }
        return row->cover(static_cast<int>(from), static_cast<int>(to));
    };

    std::uint32_t records = 0;
    while (pos + 2 <= size && line < height) {
        if (++records % 4096 == 0 && stop.stop_requested())
            throw PictureWorkStopped();
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            const std::int64_t end = std::min<std::int64_t>(x + count, width);
            if (x < end && fourBit) {
                const unsigned pair[2] = {value >> 4, value & 0x0F};
                const std::int64_t start = x;
                putPixels(pixelsOf(x, end), x, end, palette,
                          [&](std::int64_t at) { return pair[(at - start) & 1]; });
            } else if (x < end) {
                putPixels(pixelsOf(x, end), x, end, palette,
                          [value](std::int64_t) { return value; });
            }
            x += count;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++line;
            if (line >= height)
                return;
            row = nullptr;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // delta
            if (pos + 2 > size)
                return;
            x += data[pos];
            const unsigned down = data[pos + 1];
            pos += 2;
            line += down;
            if (line >= height)
                return;
            if (down > 0)
                row = nullptr;
            break;
        }
        default: { // literal run
            const std::size_t bytes = fourBit ? (value + 1) / 2 : value;
            const std::size_t present = std::min(bytes, size - pos);
            const std::int64_t pixels =
                std::min<std::int64_t>(value, fourBit ? present * 2 : present);
            const std::int64_t end = std::min<std::int64_t>(x + pixels, width);
            const std::uint8_t* in = data + pos;
            const std::int64_t start = x;
            if (x < end && fourBit) {
                putPixels(pixelsOf(x, end), x, end, palette, [in, start](std::int64_t at) {
                    const std::int64_t i = at - start;
                    const unsigned byte = in[i / 2];
                    return i & 1 ? byte & 0x0F : byte >> 4;
                });
            } else if (x < end) {
                putPixels(pixelsOf(x, end), x, end, palette,
                          [in, start](std::int64_t at) { return unsigned{in[at - start]}; });
            }
            if (present < bytes)
                return;
            x += value;
            pos += bytes + (bytes & 1);
            break;
        }
        }
    }
}

} // namespace

RgbImage handOverToRgb(const QdDibPicture& picture, const std::stop_token& stop)
{
    checkPixelFormat(picture.header);
    const std::uint64_t pixelCount =
        static_cast<std::uint64_t>(picture.width) * static_cast<std::uint64_t>(picture.height);
    if (pixelCount > kMaxPixels)
        throw EOutOfResources(kCannotMakeFileMapping);

    const Palette palette = makePalette(picture);
    const std::uint32_t compression = picture.header.compression;
    const bool runLength = compression == kBiRle8 || compression == kBiRle4;
    // Nothing ties a run-length picture's declared size to its data, and uncompressed data may
    // end long before the last of the pixels a few bytes declare, across rows or within one.
    // Such a picture stores only the pixels the data draws; the rest stay black without being
    // stored. A file that lacks no more than the padding of its last row is whole.
    const std::uint64_t stride = storedStride(picture);
    const std::uint64_t lastRowBytes =
        (static_cast<std::uint64_t>(picture.width) * picture.header.bitCount + 7) / 8;
    const bool shortData =
        !runLength && picture.pixels.size() <
                          stride * static_cast<std::uint64_t>(picture.height - 1) + lastRowBytes;
    if (runLength || shortData) {
        RgbImage image = RgbImage::makeSparse(picture.width, picture.height);
        try {
            if (shortData)
                copyRows(picture, palette, image, stop);
            // Run-length data has no top-down form; such a picture stays black.
            else if (!picture.isTopDown())
                decodeRunLength(picture, palette, image, stop);
        } catch (const std::bad_alloc&) {
            throw EOutOfResources(kCannotMakeViewOfFileMap);
        }
        return image;
    }
    RgbImage image;
    image.width = picture.width;
    image.height = picture.height;
    // The data reaches every pixel of every row here, so each is written below.
    image.pixels = makeUnfilledPixelBuffer(pixelCount * 3);
    copyRows(picture, palette, image, stop);
    return image;
}
