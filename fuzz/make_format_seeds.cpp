// Writes the seeds of the format fuzzers: every variant the test pictures know (colour, palette,
// grey, transparency, 16 bits, a turned picture, CMYK, an animation, and TIFF's 12-bit, 16-bit
// CMYK and grey-with-alpha layouts), small, written by each format's own library, and each
// format's embedded colour space and a CIELab TIFF; files whose whole once cost far more than
// their pieces (a GIF cut after the first row of a huge frame, a WebP frame holding only its
// header, the first piece of the sparse ones: a chunk declaring gigabytes), and for the slide
// fuzzer a progressive JPEG whose last scan is repeated. Run: make_format_seeds fuzz/corpus (the
// results are committed).
#include "tests/support/formatpictures.h"
#include "tests/support/heifgrids.h"
#include "tests/support/testpictures.h"
#include "tests/support/testprofiles.h"
#include "tests/support/tifflayout.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

using FormatPictures::Format;
using FormatPictures::Variant;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_format_seeds CORPUS_FOLDER\n", stderr);
        return 2;
    }
    static const char* const variants[] = {
        "rgb",       "palette",           "grey",           "grey-alpha", "alpha",
        "deep",      "oriented",          "cmyk",           "animated",   "12-bit",
        "deep-cmyk", "planar-grey-alpha", "deep-grey-alpha"};
    for (Format format : FormatPictures::AllFormats) {
        // HEIC and AVIF share the HEIF reader and its corpus.
        const std::string extension = FormatPictures::extensionOf(format);
        const std::string folder =
            std::string(argv[1]) + "/" +
            (format == Format::Heic || format == Format::Avif ? std::string("heif")
             : format == Format::Tiff                         ? std::string("tiff")
                                                              : extension.substr(1));
        for (int v = 0; v <= int(FormatPictures::LastVariant); ++v) {
            const auto picture = FormatPictures::sourceFor(format, Variant(v), 24, 16);
            const auto bytes = FormatPictures::encode(format, Variant(v), picture);
            if (bytes.empty())
                continue;
            const std::string path = folder + "/" + variants[v] + extension;
            if (!TestPictures::writeFile(path, bytes)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
        // The colour spaces the readers hand back: an embedded ICC profile, CICP for HEIF.
        PictureColourSpace colours;
        colours.iccProfile = TestProfiles::swapProfile();
        if (format == Format::Avif) {
            colours.iccProfile.clear();
            colours.cicp = CicpColour{12, 13};
        }
        const auto picture = FormatPictures::sourceFor(format, Variant::Rgb, 24, 16);
        const auto bytes = FormatPictures::encode(format, Variant::Rgb, picture, colours);
        const std::string path = folder + "/profile" + extension;
        if (format != Format::Gif && !TestPictures::writeFile(path, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    int costly = 0;
    for (Format format : {Format::Gif, Format::Webp, Format::Png}) {
        const std::string extension = FormatPictures::extensionOf(format);
        for (const auto& file : FormatPictures::costlyAsAWhole(format)) {
            // A fuzz input is held in memory: a sparse file gives its first piece.
            const std::string path = std::string(argv[1]) + "/" + extension.substr(1) + "/costly-" +
                                     std::to_string(++costly) + extension;
            if (!TestPictures::writeFile(path, file.file.pieces.front().second)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return 1;
            }
        }
    }
    const auto scans = TestPictures::withRepeatedScan(
        TestPictures::encodeJpeg(TestPictures::makeImage(48, 32,
                                                         [](int x, int y) {
                                                             return std::array{x * 5, y * 7, 99};
                                                         }),
                                 {.progressive = true, .fullChroma = true}),
        1000, 400);
    std::vector<std::uint8_t> repeated(scans.length);
    for (const auto& [offset, bytes] : scans.pieces)
        std::copy(bytes.begin(), bytes.end(), repeated.begin() + std::ptrdiff_t(offset));
    if (!TestPictures::writeFile(std::string(argv[1]) + "/slide/repeated-scans.jpg", repeated))
        return 1;
    std::vector<std::uint8_t> lab;
    for (int i = 0; i < 24 * 16; ++i)
        lab.insert(lab.end(), {std::uint8_t(i % 256), std::uint8_t(i * 7), std::uint8_t(i * 13)});
    if (!TestPictures::writeFile(std::string(argv[1]) + "/tiff/lab.tif",
                                 FormatPictures::labTiff(24, 16, lab)))
        return 1;
    // Pictures made of parts: grids of tiles with their own data and grids whose cells all
    // decode one tile, strips that overlap, and rows of 65535 samples a pixel.
    const std::string root = argv[1];
    const struct
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } parts[] = {
        {"heif/grid.heic", HeifGrids::grid(3, 2, 64)},
        {"heif/grid-one-tile.heic", HeifGrids::grid(8, 8, 64, HeifGrids::Tiles::OneReferenced)},
        {"heif/grid-shared-data.heic", HeifGrids::grid(4, 4, 64, HeifGrids::Tiles::SharedData)},
        {"tiff/overlapping-strips.tif", TiffLayout::greyStrips(16, 4, {0, 63, 128, 192})},
        {"tiff/widest-rows.tif", TiffLayout::widestRows()},
    };
    for (const auto& part : parts) {
        if (!TestPictures::writeFile(root + "/" + part.name, part.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", part.name);
            return 1;
        }
    }
    return 0;
}
