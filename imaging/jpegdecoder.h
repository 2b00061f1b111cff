#pragma once

#include "imaging/colourprofile.h"
#include "imaging/rgbimage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <string>

// The largest picture accepted, in bytes of 8-bit RGB at the size the file declares (about 357
// megapixels), at whatever scale it is decoded. A header that claims more is treated as an
// unreadable file, so that a small hostile file cannot make the decoder allocate gigabytes.
inline constexpr std::uint64_t MaxJpegImageBytes = std::uint64_t{1} << 30;

// A file that libjpeg must hold whole while it reads its scans (a progressive file, or one with
// a scan per component) costs two bytes per coefficient of the whole picture at full size,
// whatever the scale it is decoded at. Such a file is refused when that exceeds this: 384 MiB
// holds 64 megapixels with full colour resolution (8000 x 8000 at 4:4:4) and 134 megapixels
// at 4:2:0, while a few hundred bytes declaring 18000 x 18000 would take almost a gigabyte.
inline constexpr std::uint64_t MaxJpegWholePictureBytes = std::uint64_t{384} << 20;

// A decoded JPEG. width and height are the size the file declares; `image` holds the picture
// at 1/reduction of that, each side rounded up (see JpegDecodeOptions), as stored: not yet
// turned as its EXIF orientation tag says. `orientation` is that tag, 1 to 8 (1 when there is
// none or it cannot be trusted).
struct JpegPicture
{
    RgbImage image;
    int width = 0;
    int height = 0;
    int reduction = 1;
    int orientation = 1;
    // The ICC profile the APP2 markers carry, if any.
    PictureColourSpace colourSpace;
};

struct JpegDecodeOptions
{
    // When positive, libjpeg decodes at the smallest of its scales 1/8, 1/4 and 1/2 that still
    // leaves the longer side at least this many pixels, or at full size when none does. The
    // reduction happens inside the inverse DCT, so a large picture costs a fraction of the
    // time and memory of a full decode.
    int minimumLongerSide = 0;
    // Checked every few rows, while the scans of a progressive file are read as well as while
    // rows are decoded, and before each 64 KB the decoder reads: once a stop is requested,
    // decoding ends as a fatal error ("JPEG decoding stopped"), so that work nobody wants any
    // more is given up at once, even in a file of gigabytes that holds no marker.
    std::stop_token stop = {};
    // When set, a CMYK or YCCK file with an embedded CMYK profile is converted through the
    // profile to the target of these transforms, instead of through the fixed formula below;
    // its colour space then says the pixels are on screen already.
    ColourTransformCache* colourTransforms = nullptr;
};

// Decodes a JPEG file through libjpeg with block smoothing. A colour file becomes 8-bit RGB. A
// CMYK or YCCK file is converted to RGB too, taking its ink as inverted (255 = no ink) when it
// carries Adobe's APP14 marker, as Adobe's programs write it, and as plain otherwise; its
// embedded profile, which describes ink rather than RGB, is not handed back. A
// greyscale file is quantised by libjpeg's one-pass quantiser to 236 evenly spaced grey levels
// with Floyd-Steinberg dithering, each level giving red = green = blue.
//
// Returns nullopt when the file cannot be opened, is not a JPEG, is too large (see above), has
// no frame header in its first 16 MB or hits a fatal decoder error. Once every row is decoded,
// at most 1 MB more is read looking for the end marker. After the frame header, the bytes read
// without a new scan or row are a budget of 16 MB for the whole file (each such gap's first
// megabyte free), and the scans' decoding work one of twelve passes over every coefficient;
// either spent ends the data there, as if the file were cut. libjpeg's warnings
// (for example a truncated file) are not failures: the picture decoded so far is returned. When
// `diagnostic` is given it receives the text of the fatal error, or of the first warning, or is
// cleared when there was neither. The path is opened exactly as given (raw bytes). Safe to call
// from any thread.
std::optional<JpegPicture> decodeJpegFile(const std::string& path,
                                          std::string* diagnostic = nullptr,
                                          const JpegDecodeOptions& options = {});

// The same for a JPEG held in memory.
std::optional<JpegPicture> decodeJpegData(std::span<const std::uint8_t> data,
                                          std::string* diagnostic = nullptr,
                                          const JpegDecodeOptions& options = {});
