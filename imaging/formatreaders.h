#pragma once

// The readers behind readPicture, one per library, and what they share. Each one takes its
// bytes from a PictureSource, as its library asks for them, so that every read is bounded by
// the data's length and a file is read only as far as its decoder goes.

#include "imaging/picturereader.h"
#include "imaging/picturesource.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

DecodedPicture readPngData(PictureSource& data, const PictureReadOptions& options);
DecodedPicture readGifData(PictureSource& data, const PictureReadOptions& options);
DecodedPicture readWebpData(PictureSource& data, const PictureReadOptions& options);
DecodedPicture readTiffData(PictureSource& data, const PictureReadOptions& options);
DecodedPicture readHeifData(PictureSource& data, const PictureReadOptions& options);
// The reader of `kind` (not Jpeg or Bitmap) over `data`. When a read was stopped, failed, or
// found the file cut short under it, whatever the reader made is thrown away and the picture is
// unreadable, with that reason.
DecodedPicture readFormat(PictureKind kind, PictureSource& data, const PictureReadOptions& options);

namespace pictureformat {

// Whether a picture of width x height may be decoded: both sides positive and its 8-bit RGB
// form no larger than the options allow. Computed in 64 bits, so no product wraps.
inline bool sizeAllowed(std::int64_t width, std::int64_t height, const PictureReadOptions& options)
{
    if (width <= 0 || height <= 0 || width > (std::int64_t{1} << 31) ||
        height > (std::int64_t{1} << 31))
        return false;
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3 <=
           std::min(options.maximumBytes, MaxPictureBytes);
}

// Gives `image` a dense width x height form. The pixels are left undefined: the reader writes
// every row. Throws std::bad_alloc when the memory cannot be had.
void allocate(RgbImage& image, int width, int height);

// A colour channel with straight (unassociated) alpha, composited over white.
inline std::uint8_t overWhite(unsigned colour, unsigned alpha)
{
    return static_cast<std::uint8_t>((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

// A row of R, G, B, A bytes composited over white into R, G, B. With premultiplied alpha the
// colour already carries its share, and only the white's share is added.
inline void compositeRow(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t width,
                         bool premultiplied)
{
    for (std::size_t x = 0; x < width; ++x, rgba += 4, rgb += 3) {
        const unsigned alpha = rgba[3];
        for (int c = 0; c < 3; ++c) {
            rgb[c] = premultiplied
                         ? static_cast<std::uint8_t>(std::min(255u, rgba[c] + (255 - alpha)))
                         : overWhite(rgba[c], alpha);
        }
    }
}

// The orientation in an EXIF block as PNG's eXIf chunk and WebP's EXIF chunk carry it: a TIFF
// structure, with or without JPEG's "Exif\0\0" in front.
int orientationOfExifPayload(std::span<const std::uint8_t> payload);

// The integer reduction for a picture whose longer side is `longerSide`: the largest factor
// that still leaves at least `minimumLongerSide` pixels (each side rounded up), or 1.
int reductionFor(int longerSide, int minimumLongerSide);

// A picture that could not be read, with the reason.
inline DecodedPicture unreadable(std::string reason)
{
    DecodedPicture picture;
    picture.note = std::move(reason);
    return picture;
}

} // namespace pictureformat
