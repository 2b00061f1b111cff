#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

// Pixel bytes. resize() leaves new bytes undefined; assign(n, value) fills them.
using PixelBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// A decoded picture: 8 bits per channel, red, green, blue, rows top row first, no row padding.
//
// It comes in two forms. The dense form stores every row in `pixels`
// (pixels.size() == width * height * 3). The sparse form stores only the rows that were written,
// each on its own in `storedRows`; a row never written is all black and costs nothing. Run-length
// bitmaps use the sparse form: a file of a few hundred bytes may declare a picture of hundreds of
// megabytes whose rows are nearly all left black.
struct RgbImage
{
    int width = 0;
    int height = 0;
    PixelBuffer pixels;
    bool sparse = false;
    std::unordered_map<int, std::vector<std::uint8_t>> storedRows; // by row, sparse form only

    // A width x height picture in the sparse form, all black, with no row stored.
    static RgbImage makeSparse(int width, int height)
    {
        RgbImage image;
        image.width = width;
        image.height = height;
        image.sparse = true;
        return image;
    }

    bool isEmpty() const { return width <= 0 || height <= 0; }

    // Row y (0 = top) of width * 3 bytes. Readers go through this rather than `pixels`, so
    // that a picture may leave rows unstored: nullptr stands for a row that is all black.
    const std::uint8_t* row(int y) const
    {
        if (sparse) {
            const auto stored = storedRows.find(y);
            return stored == storedRows.end() ? nullptr : stored->second.data();
        }
        return pixels.data() + static_cast<std::size_t>(y) * rowBytes();
    }

    // Row y for writing. In the sparse form the row is made, black, when it is first asked
    // for; that may throw std::bad_alloc.
    std::uint8_t* writableRow(int y)
    {
        if (sparse) {
            std::vector<std::uint8_t>& stored = storedRows[y];
            if (stored.empty())
                stored.assign(rowBytes(), 0);
            return stored.data();
        }
        return pixels.data() + static_cast<std::size_t>(y) * rowBytes();
    }

    // True when the stored pixels agree with the size: the dense form holds every row, and
    // every row the sparse form stores lies inside the picture and is a whole row.
    bool isWellFormed() const
    {
        if (isEmpty())
            return true;
        if (!sparse) {
            return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3 <=
                   pixels.size();
        }
        for (const auto& [y, stored] : storedRows) {
            if (y < 0 || y >= height || stored.size() != rowBytes())
                return false;
        }
        return true;
    }

private:
    std::size_t rowBytes() const { return static_cast<std::size_t>(width) * 3; }
};
