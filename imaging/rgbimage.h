#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <unordered_map>
#include <vector>

// Allocates like std::allocator but leaves elements that are made without a value
// uninitialised, so that resizing a pixel buffer which a decoder is about to overwrite does not
// first fill it with zeros. Elements made from a value are constructed as usual.
template <typename T> struct UninitialisedAllocator : std::allocator<T>
{
    template <typename U> struct rebind
    {
        using other = UninitialisedAllocator<U>;
    };

    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}

    template <typename U> void construct(U* place) noexcept { ::new (static_cast<void*>(place)) U; }
    template <typename U, typename... Args> void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};

// Thrown when work on a picture (reading, handing over, scaling) is given up because its stop
// was requested: what it leaves is of no use, and nobody shows this error.
class PictureWorkStopped : public std::runtime_error
{
public:
    PictureWorkStopped() : std::runtime_error("Picture preparation stopped") {}
};

// Pixel bytes. resize() leaves new bytes undefined; assign(n, value) fills them.
using PixelBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// The stored part of one row of a picture in the sparse form: the pixels from `first` on, three
// bytes each. The rest of the row has the picture's background colour.
struct StoredRow
{
    int first = 0;
    std::vector<std::uint8_t> bytes;

    int count() const { return static_cast<int>(bytes.size() / 3); }

    // Makes the pixels [from, to) part of what is stored, of the background colour `fill` where
    // they are new, and returns pixel `from`. The stored part grows to span everything asked for
    // so far; that may throw std::bad_alloc.
    std::uint8_t* cover(int from, int to, std::uint8_t fill = 0)
    {
        if (bytes.empty()) {
            first = from;
            bytes.assign(static_cast<std::size_t>(to - from) * 3, fill);
        } else {
            if (from < first) {
                bytes.insert(bytes.begin(), static_cast<std::size_t>(first - from) * 3, fill);
                first = from;
            }
            if (to > first + count())
                bytes.resize(static_cast<std::size_t>(to - first) * 3, fill);
        }
        return bytes.data() + static_cast<std::size_t>(from - first) * 3;
    }
};

// What a picture holds of one row: `count` pixels from pixel `first` on, three bytes each, at
// `pixels`. Every other pixel of the row has the picture's background colour; a row with nothing
// stored has count 0.
struct RowPixels
{
    const std::uint8_t* pixels = nullptr;
    int first = 0;
    int count = 0;
};

// A decoded picture: 8 bits per channel, red, green, blue, rows top row first, no row padding.
//
// It comes in two forms. The dense form stores every row in `pixels`
// (pixels.size() == width * height * 3). The sparse form stores only what was written of each
// row, from the row's first written pixel to its last, in `storedRows`; a row never written is
// all background and costs nothing. Run-length bitmaps and bitmaps whose data ends early use
// the sparse form with a black background: a file of a few bytes may declare hundreds of
// megabytes of pixels, in many rows or in one, that it leaves nearly all black. A GIF's logical
// screen and a WebP animation's canvas use it with a white one where their first frame leaves
// most of them uncovered.
struct RgbImage
{
    int width = 0;
    int height = 0;
    PixelBuffer pixels;
    bool sparse = false;
    std::unordered_map<int, StoredRow> storedRows; // by row, sparse form only
    // The value of all three channels of every pixel the sparse form does not store: 0 (black)
    // or 255 (white).
    std::uint8_t background = 0;

    // A width x height picture in the sparse form, all of the background colour, with nothing
    // stored.
    static RgbImage makeSparse(int width, int height, std::uint8_t background = 0)
    {
        RgbImage image;
        image.width = width;
        image.height = height;
        image.sparse = true;
        image.background = background;
        return image;
    }

    bool isEmpty() const { return width <= 0 || height <= 0; }

    // What row y (0 = top) holds. Readers go through this rather than `pixels`, so that a
    // picture may leave pixels unstored.
    RowPixels row(int y) const
    {
        if (sparse) {
            const auto stored = storedRows.find(y);
            if (stored == storedRows.end() || stored->second.bytes.empty())
                return {};
            return {stored->second.bytes.data(), stored->second.first, stored->second.count()};
        }
        return {pixels.data() + static_cast<std::size_t>(y) * rowBytes(), 0, width};
    }

    // Pixels [from, to) of row y for writing, 0 <= from < to <= width; the result points at
    // pixel `from`. In the sparse form they are made, of the background colour, when first asked
    // for (see StoredRow::cover); that may throw std::bad_alloc.
    std::uint8_t* writablePixels(int y, int from, int to)
    {
        if (sparse)
            return storedRows[y].cover(from, to, background);
        return pixels.data() + static_cast<std::size_t>(y) * rowBytes() +
               static_cast<std::size_t>(from) * 3;
    }

    // The whole of row y for writing.
    std::uint8_t* writableRow(int y) { return writablePixels(y, 0, width); }

    // True when the stored pixels agree with the size: the dense form holds every row, and
    // what the sparse form stores lies inside the picture in whole pixels.
    bool isWellFormed() const
    {
        if (isEmpty())
            return true;
        if (!sparse) {
            return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3 <=
                   pixels.size();
        }
        for (const auto& [y, stored] : storedRows) {
            if (y < 0 || y >= height || stored.first < 0 || stored.bytes.size() % 3 != 0 ||
                std::int64_t{stored.first} + stored.count() > width)
                return false;
        }
        return true;
    }

private:
    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * 3; }
};
