#pragma once

#include <cstdint>
#include <span>

// The orientation tag (0x0112) of the main picture in an EXIF block: the payload of a JPEG APP1
// marker, starting with "Exif\0\0". Returns 1 to 8 as the tag gives it, and 1 ("as stored")
// for anything else: no block, a block libexif cannot read, a first directory that is cut
// short, a tag given twice, a value of the wrong type or out of range. The block is only read,
// never trusted: every read is bounded by its size. Safe to call from any thread.
int exifOrientation(std::span<const std::uint8_t> block);

// Whether an APP1 payload is an EXIF block (it starts with "Exif\0\0"), rather than, say, XMP.
bool isExifBlock(std::span<const std::uint8_t> block);
