#pragma once

#include "imaging/rgbimage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Pictures made in memory for the tests and benchmarks, so that no test depends on sample files
// and every test can say exactly which colours it expects back.
namespace TestPictures {

// A width x height picture whose every pixel is colourAt(x, y), any range of three channel values
// (red, green, blue). The pixels are asked for row by row from the top, each once, so a colour
// function may carry state such as a noise generator.
template <typename ColourAt> RgbImage makeImage(int width, int height, ColourAt colourAt)
{
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.reserve(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int value : colourAt(x, y)) {
                image.pixels.push_back(static_cast<std::uint8_t>(value));
            }
        }
    }
    return image;
}

// A picture with the statistics of a photograph as far as a decoder cares: smooth gradients in
// all three channels with a little noise on every pixel.
RgbImage makePhotoLike(int width, int height);

struct JpegOptions
{
    int quality = 97;
    // Writes a one-channel file from the red channel, so a grey source keeps its levels.
    bool greyFromRed = false;
    bool progressive = false;
    // When not empty, written as an APP1 marker right after the file's start (an EXIF block
    // begins with "Exif\0\0").
    std::vector<std::uint8_t> app1 = {};
    // When not empty, written in APP2 ICC_PROFILE markers.
    std::vector<std::uint8_t> iccProfile = {};
    // Colour at full resolution (4:4:4) instead of libjpeg's default 4:2:0.
    bool fullChroma = false;
};

// The picture as a JPEG file made by libjpeg's compressor.
std::vector<std::uint8_t> encodeJpeg(const RgbImage& image, const JpegOptions& options = {});

// How a CMYK JPEG stores its ink. Plain: as given, 255 = full ink, no Adobe marker. Adobe:
// inverted (255 = no ink) with Adobe's APP14 marker, as Adobe's programs write CMYK. AdobeYcck:
// the same ink transformed to YCCK, which always carries the marker.
enum class CmykForm
{
    Plain,
    Adobe,
    AdobeYcck,
};

// A width x height CMYK JPEG from ink amounts (cyan, magenta, yellow, black; 0 = none, 255 = full),
// four bytes a pixel, top row first.
std::vector<std::uint8_t> encodeCmykJpeg(int width, int height,
                                         const std::vector<std::uint8_t>& ink, CmykForm form,
                                         const std::vector<std::uint8_t>& iccProfile = {});

// An EXIF block ("Exif\0\0" and a TIFF structure) whose first directory holds one orientation
// entry (a SHORT) with the given value, in little- or big-endian byte order.
std::vector<std::uint8_t> exifOrientationBlock(int orientation, bool bigEndian = false);

// The picture as a plain 24-bit bottom-up bitmap file: 54 header bytes, then BGR pixels with rows
// padded to 4 bytes.
std::vector<std::uint8_t> encodeBmp(const RgbImage& image);

// A progressive JPEG cut right after the data of its first scan: libjpeg then looks for the next
// marker in whatever follows. Empty when the file has no scan.
std::vector<std::uint8_t> firstScanOf(const std::vector<std::uint8_t>& progressiveJpeg);

// A file of `length` bytes that holds each piece's bytes at its offset and nothing elsewhere: holes
// that read as zeros and take no disk, so that a file of gigabytes costs a few kilobytes.
struct SparseFile
{
    std::uint64_t length = 0;
    std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> pieces;
};

// Writes the sparse file with seeks over its holes. Returns whether every piece was written.
bool writeSparseFile(const std::string& path, const SparseFile& file);

// The progressive JPEG with its scans in order up to scan `repeated` (from 0), and that scan
// (with the tables before it) again until the file holds `scans` scans. With a gap, every scan
// stands behind a hole of that many bytes, where libjpeg looks for its next marker.
SparseFile withRepeatedScan(const std::vector<std::uint8_t>& progressiveJpeg, int repeated,
                            int scans, std::uint64_t gap = 0);

// Writes the bytes to a file named by its raw bytes, which need not be valid UTF-8. Returns
// whether every byte was written.
bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// A new folder /tmp/lumivane-NAME-XXXXXX, removed with all it holds when this ends.
struct TempFolder
{
    std::string path;
    explicit TempFolder(const std::string& name);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

} // namespace TestPictures
