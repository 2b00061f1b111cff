#pragma once

#include "imaging/colourprofile.h"
#include "imaging/rgbimage.h"

#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

// The one way into imaging/ for a picture file: it picks the reader by the file name's
// extension and hands back an 8-bit RGB picture.
//
//   .jpg .jpeg                      libjpeg (reduced in the inverse DCT)
//   .png                            libpng
//   .gif                            giflib, the first frame
//   .webp                           libwebp, the first frame, scaled while decoding
//   .tif .tiff                      libtiff, the first page
//   .heic .heif .avif               libheif (HEVC through libde265, AV1 through dav1d or aom)
//   anything else                   the bitmap reader
//
// Transparency is composited over white, 16-bit samples become 8-bit, palette, grey and CMYK
// become RGB. Every reader treats the file as hostile: a FIFO or another file that is not a
// regular file is refused without waiting, the declared size is checked against
// MaxPictureBytes before anything is allocated, and decoding ends at its next check once
// `stop` is requested.

// The largest picture accepted, in bytes of 8-bit RGB at the size the file declares (the
// JPEG decoder's limit, about 357 megapixels).
inline constexpr std::uint64_t MaxPictureBytes = std::uint64_t{1} << 30;

struct PictureReadOptions
{
    // When positive, a reader that can decode at a reduced size does so by an integer factor,
    // as long as the longer side keeps at least this many pixels.
    int minimumLongerSide = 0;
    // Checked every few rows where the library allows it.
    std::stop_token stop = {};
    // A lower limit than MaxPictureBytes for the further formats' readers.
    std::uint64_t maximumBytes = MaxPictureBytes;
    // When set (the high quality mode), pixels whose colours depend on their profile to become
    // RGB at all, CMYK JPEGs with an embedded CMYK profile, are converted through it to the
    // screen's colour space while they are decoded.
    ColourTransformCache* colourTransforms = nullptr;
    // Set where the further formats are shown: the bitmap reader then also takes the version 4
    // and 5 headers, and hands back a version 5 header's embedded profile.
    bool laterBitmapHeaders = false;
};

// A decoded picture. width and height are the size the file declares (after the format's own
// transformations for HEIF); `image` holds it at 1/reduction of that, each side rounded up, as
// stored. `orientation` is the EXIF orientation, 1 to 8, that still has to be applied.
struct DecodedPicture
{
    RgbImage image;
    int width = 0;
    int height = 0;
    int reduction = 1;
    int orientation = 1;
    // The colour space the file gives its pixels in; empty for sRGB.
    PictureColourSpace colourSpace;
    // False when the file could not be read; `note` then says why.
    bool readable = false;
    // The decoder's fatal error or first warning; empty when there was neither.
    std::string note;
};

// Reads the picture at `path` (the file system's bytes). A file that cannot be read comes
// back with readable == false, except for the bitmap reader, whose exceptions pass through
// unchanged: the slideshow reports those. Safe to call from any thread.
DecodedPicture readPicture(const std::string& path, const PictureReadOptions& options = {});

// The kinds of file readPicture tells apart by extension.
enum class PictureKind
{
    Jpeg,
    Png,
    Gif,
    Webp,
    Tiff,
    Heif,
    Bitmap,
};

// The reader for the file-name part of `path` (after the last "/"), by its extension compared
// without regard to the case of ASCII letters.
PictureKind pictureKindOf(const std::string& path);

// Decodes a picture of the given kind held in memory (not Bitmap, which has readers of its own).
DecodedPicture readPictureData(PictureKind kind, std::span<const std::uint8_t> data,
                               const PictureReadOptions& options = {});
