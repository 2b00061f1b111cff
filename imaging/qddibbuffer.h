#pragma once

#include "imaging/rgbimage.h"

#include <cstddef>
#include <cstdint>

// Makes a zero-filled buffer for pixel data. Throws EOutOfResources when the memory cannot be
// had. The caller has already checked the size against the data present or against kMaxPixels.
//
// Buffers of several megabytes are advised to use huge pages before they are first touched: a
// picture's buffer is written once from end to end, and with 4 KiB pages the page faults of a
// 6000 x 4000 picture cost more than decoding it.
PixelBuffer makePixelBuffer(std::uint64_t size);

// The same without filling: for a buffer the caller overwrites whole straight away. Filling
// 800 MB first would cost a second, and a second in which a stop could not be seen.
PixelBuffer makeUnfilledPixelBuffer(std::uint64_t size);

// Reserves `size` bytes for an empty buffer, advising huge pages as above, without touching
// them. Throws std::bad_alloc when the memory cannot be had.
void reservePixelBuffer(PixelBuffer& buffer, std::size_t size);
