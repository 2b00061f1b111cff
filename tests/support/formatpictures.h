#pragma once

#include "imaging/picturereader.h"
#include "imaging/rgbimage.h"
#include "tests/support/testpictures.h"

#include <cstdint>
#include <vector>

// Pictures of the formats beyond JPEG and BMP, written by each format's own library, for the
// tests, the fuzz seeds and the benchmarks.
namespace FormatPictures {

// What a test file exercises. Not every format has every variant.
enum class Variant
{
    Rgb,       // 8-bit colour
    Palette,   // indexed colour
    Grey,      // one channel
    GreyAlpha, // grey with transparency
    Alpha,     // colour with transparency
    Deep,      // 16 bits a sample (10 for HEIF)
    Oriented,  // stored turned, with the format's tag to turn it upright (6, a quarter clockwise)
    Cmyk,      // ink (TIFF)
    Animated,  // two frames; the first one counts
    // TIFF only, samples that libtiff's RGBA interface refuses or misreads:
    Bits12,          // 12-bit colour
    DeepCmyk,        // ink of 16 bits a sample
    PlanarGreyAlpha, // grey with unassociated alpha, each in its own plane
    DeepGreyAlpha,   // 16-bit grey with associated (premultiplied) alpha
};
inline constexpr Variant LastVariant = Variant::DeepGreyAlpha;

// The formats, by the library that writes them.
enum class Format
{
    Png,
    Gif,
    Webp,
    Tiff,
    Heic,
    Avif,
};
inline constexpr Format AllFormats[] = {Format::Png,  Format::Gif,  Format::Webp,
                                        Format::Tiff, Format::Heic, Format::Avif};

// A picture with straight alpha, four bytes a pixel (R, G, B, A), top row first.
struct RgbaPicture
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// The picture a variant's file is made from, upright: smooth colour for most; 216 colours for
// Palette; red = green = blue for the grey ones; an alpha ramp with fully transparent parts for
// the transparent ones.
RgbaPicture sourceFor(Variant variant, int width, int height);

// The file of `format` that holds `picture` as `variant` says, or nothing when the format has
// no such variant. `picture` must suit the variant (see sourceFor). HEIC and AVIF are lossy.
// `colourSpace` is embedded as the format keeps it: an ICC profile in PNG, WebP, TIFF, HEIC and
// AVIF, CICP in HEIC and AVIF.
std::vector<std::uint8_t> encode(Format format, Variant variant, const RgbaPicture& picture,
                                 const PictureColourSpace& colourSpace = {});

// The same, made to fit the format: GIF holds 256 colours and all-or-nothing transparency.
RgbaPicture sourceFor(Format format, Variant variant, int width, int height);

// A small file of the format whose header declares a picture far beyond the readers' limit:
// 100000 x 100000 pixels; 65535 x 65535 for GIF, whose fields hold no more; 40000 x 40000 for
// WebP and 30000 x 30000 for HEIF, whose libraries refuse 100000 x 100000 themselves.
std::vector<std::uint8_t> hostile(Format format);

// A TIFF of 8-bit CIELab pixels: `lab` holds L (0..255 for 0..100) and a and b as signed
// bytes, three a pixel, top row first.
std::vector<std::uint8_t> labTiff(int width, int height, const std::vector<std::uint8_t>& lab);
// Files of a few hundred bytes whose header or chunks declare far more than they hold, each with
// what it is; only PNG and TIFF have them. Each once cost the reader the size it declares
// (a gigabyte and more): an interlaced picture's whole buffer, a text chunk's declared length,
// a picture decoded from one strip, or from strips that all share the same few bytes.
struct NamedFile
{
    const char* name;
    std::vector<std::uint8_t> bytes;
};
std::vector<NamedFile> declaringMoreThanHeld(Format format);

// Files whose every piece is within the readers' bounds but whose whole once cost a gigabyte or
// seconds: a GIF cut after its first row of a huge frame, a WebP animation frame of 16383 x 16383
// holding only its header, and holes (see TestPictures::SparseFile) of gigabytes in a WebP
// ICCP chunk and in a PNG's unknown chunks. Only GIF, WebP and PNG have them.
struct NamedSparseFile
{
    const char* name;
    TestPictures::SparseFile file;
};
std::vector<NamedSparseFile> costlyAsAWhole(Format format);

// The 96 x 64 RGB PNG `picture` (as encode makes it) with unknown chunks of these lengths, holes,
// between its header and the rest.
TestPictures::SparseFile withUnknownChunks(const std::vector<std::uint8_t>& picture,
                                           const std::vector<std::uint32_t>& lengths);

// The picture composited over white, as the slideshow should show it.
RgbImage overWhite(const RgbaPicture& picture);

// An RGB picture as an RGBA one, every pixel opaque.
RgbaPicture opaque(const RgbImage& image);

// The file name extension of a format, with its dot.
const char* extensionOf(Format format);

} // namespace FormatPictures
