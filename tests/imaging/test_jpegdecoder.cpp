#include "imaging/jpegdecoder.h"

#include "tests/support/testpictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stop_token>
#include <thread>
#include <unistd.h>

namespace {

using TestPictures::encodeJpeg;
using TestPictures::makeImage;

using Colour = std::array<int, 3>;
const Colour TopLeft{220, 30, 30};
const Colour BottomRight{240, 230, 20};

RgbImage twoColours(int width, int height)
{
    return makeImage(width, height, [=](int x, int y) {
        return x < width / 2 && y < height / 2 ? TopLeft : BottomRight;
    });
}

Colour pixelAt(const RgbImage& image, int x, int y)
{
    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

// The pixels of a full-size decode, which must have the file's own size.
std::optional<RgbImage> decodeFull(std::span<const std::uint8_t> data,
                                   std::string* diagnostic = nullptr)
{
    std::optional<JpegPicture> picture = decodeJpegData(data, diagnostic);
    if (!picture) {
        return std::nullopt;
    }
    EXPECT_EQ(picture->image.width, picture->width);
    EXPECT_EQ(picture->image.height, picture->height);
    return std::move(picture->image);
}

void expectNear(const Colour& actual, const Colour& expected, int tolerance)
{
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(actual[c], expected[c], tolerance) << "channel " << c;
    }
}

} // namespace

TEST(JpegDecoder, ColourFilesKeepSizeOrientationAndColours)
{
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        std::string diagnostic = "stale";
        const std::optional<RgbImage> image =
            decodeFull(encodeJpeg(twoColours(96, 64), {.progressive = progressive}), &diagnostic);
        ASSERT_TRUE(image.has_value()) << diagnostic;
        EXPECT_TRUE(diagnostic.empty());
        ASSERT_EQ(image->width, 96);
        ASSERT_EQ(image->height, 64);
        ASSERT_EQ(image->pixels.size(), 96u * 64u * 3u);
        expectNear(pixelAt(*image, 0, 0), TopLeft, 12);
        expectNear(pixelAt(*image, 95, 63), BottomRight, 12);
    }
}

TEST(JpegDecoder, GreyFilesUse236EvenlySpacedLevelsCloseToTheSource)
{
    const RgbImage source = makeImage(512, 64, [](int x, int y) {
        const int v = (x / 2 + y % 8) % 256;
        return Colour{v, v, v};
    });
    const std::optional<RgbImage> image = decodeFull(encodeJpeg(source, {.greyFromRed = true}));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->pixels.size(), source.pixels.size());

    std::set<int> grid;
    for (int k = 0; k < 236; ++k) {
        grid.insert((k * 255 + 117) / 235);
    }
    std::set<int> levels;
    double totalError = 0;
    for (std::size_t i = 0; i < image->pixels.size(); i += 3) {
        const int v = image->pixels[i];
        ASSERT_TRUE(image->pixels[i + 1] == v && image->pixels[i + 2] == v) << "pixel " << i / 3;
        levels.insert(v);
        totalError += std::abs(v - source.pixels[i]);
    }
    EXPECT_LE(levels.size(), 236u);
    EXPECT_GT(levels.size(), 200u);
    for (int level : levels) {
        EXPECT_TRUE(grid.count(level)) << "level " << level << " is off the grid";
    }
    EXPECT_LT(totalError / static_cast<double>(image->pixels.size() / 3), 3.0);
}

TEST(JpegDecoder, FilesAreOpenedByTheirRawPathAndFailuresGiveAReason)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lumivane-jpeg-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(TestPictures::writeFile(path, bytes)) << path;
        return path;
    };
    // A Shift_JIS file name, which is not valid UTF-8.
    EXPECT_TRUE(decodeJpegFile(write("\x83\x65\x83\x58\x83\x67.jpg", encodeJpeg(twoColours(8, 8))))
                    .has_value());

    std::string diagnostic;
    for (const std::string& path : {(dir / "missing.jpg").string(), write("text.jpg", {'n', 'o'}),
                                    write("empty.jpg", {}), dir.string()}) {
        diagnostic.clear();
        EXPECT_FALSE(decodeJpegFile(path, &diagnostic).has_value()) << path;
        EXPECT_FALSE(diagnostic.empty()) << path;
    }
    std::filesystem::remove_all(dir);
}

TEST(JpegDecoder, ATruncatedFileShowsWhatWasDecoded)
{
    // Noise keeps the scan data much larger than the headers, so half the file holds rows.
    const RgbImage source = makeImage(256, 256, [](int x, int y) {
        const int noise =
            static_cast<int>((static_cast<unsigned>(x * 7919 + y * 104729) >> 3) % 16);
        return x < 128 && y < 128 ? Colour{TopLeft[0] + noise, TopLeft[1] + noise, TopLeft[2]}
                                  : Colour{128 + noise, 128, 128 - noise};
    });
    const std::vector<std::uint8_t> file = encodeJpeg(source);
    const std::vector<std::uint8_t> half(file.begin(), file.begin() + file.size() / 2);
    std::string diagnostic;
    const std::optional<RgbImage> image = decodeFull(half, &diagnostic);
    ASSERT_TRUE(image.has_value()) << diagnostic;
    EXPECT_NE(diagnostic.find("Premature end"), std::string::npos) << diagnostic;
    ASSERT_EQ(image->width, 256);
    expectNear(pixelAt(*image, 4, 4), TopLeft, 20);
}

TEST(JpegDecoder, HostileFilesNeitherCrashNorAllocateWildly)
{
    // A frame header (SOF0: FF C0, length, precision, height, width) claiming 60000 x 60000:
    // refused before 10 GB are allocated.
    std::vector<std::uint8_t> huge = encodeJpeg(twoColours(16, 16));
    const std::uint8_t marker[] = {0xFF, 0xC0};
    const auto sof = std::search(huge.begin(), huge.end(), std::begin(marker), std::end(marker));
    ASSERT_NE(sof, huge.end());
    std::fill(sof + 5, sof + 9, std::uint8_t{0xEA}); // 0xEAEA = 60138
    // Also when an eighth of it would do.
    for (const int longerSide : {0, 2048}) {
        const auto start = std::chrono::steady_clock::now();
        std::string diagnostic;
        EXPECT_FALSE(
            decodeJpegData(huge, &diagnostic, {.minimumLongerSide = longerSide}).has_value());
        EXPECT_NE(diagnostic.find("too large"), std::string::npos) << diagnostic;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }

    // A progressive frame header (SOF2) claiming 18000 x 18000 in a few hundred bytes: its
    // coefficients alone would take about a gigabyte, and the file cannot hold such a picture.
    std::vector<std::uint8_t> tall = encodeJpeg(twoColours(16, 16), {.progressive = true});
    const std::uint8_t progressiveMarker[] = {0xFF, 0xC2};
    const auto sof2 = std::search(tall.begin(), tall.end(), std::begin(progressiveMarker),
                                  std::end(progressiveMarker));
    ASSERT_NE(sof2, tall.end());
    for (int field : {5, 7}) {
        sof2[field] = 0x46; // 0x4650 = 18000
        sof2[field + 1] = 0x50;
    }
    {
        const auto start = std::chrono::steady_clock::now();
        std::string diagnostic;
        EXPECT_FALSE(decodeJpegData(tall, &diagnostic, {.minimumLongerSide = 2048}).has_value());
        EXPECT_NE(diagnostic.find("too short"), std::string::npos) << diagnostic;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }

    // A real progressive picture of that class is shown: 8192 x 5504 in 4:2:0 takes 135 MB of
    // coefficients, above the limit below which any length is trusted, and a plain grey one,
    // which a progressive file holds in as few bytes as any picture, is still long enough.
    {
        RgbImage plain;
        plain.width = 8192;
        plain.height = 5504;
        plain.pixels.assign(std::size_t{8192} * 5504 * 3, 128);
        const std::vector<std::uint8_t> grey =
            encodeJpeg(plain, {.quality = 90, .progressive = true});
        std::string diagnostic;
        const std::optional<JpegPicture> picture =
            decodeJpegData(grey, &diagnostic, {.minimumLongerSide = 2048});
        ASSERT_TRUE(picture.has_value()) << diagnostic << ", " << grey.size() << " bytes";
        EXPECT_EQ(picture->width, 8192);
    }

    // Damaged and cut copies end with a consistent picture or none; the sanitizer build turns
    // any stray read or write into a failure.
    const std::vector<std::uint8_t> original =
        encodeJpeg(twoColours(40, 24), {.progressive = true});
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> file = original;
        for (int flips = 0; flips <= round % 4; ++flips) {
            seed = seed * 1664525u + 1013904223u;
            file[seed % file.size()] = static_cast<std::uint8_t>(seed >> 24);
        }
        if (round % 5 == 0) {
            file.resize(seed % file.size());
        }
        if (const std::optional<RgbImage> image = decodeFull(file)) {
            EXPECT_EQ(image->pixels.size(),
                      static_cast<std::size_t>(image->width) * image->height * 3);
        }
    }
}

TEST(JpegDecoder, OrientationComesFromTheExifBlockAndAnythingDoubtfulMeansAsStored)
{
    using TestPictures::exifOrientationBlock;
    const RgbImage picture = twoColours(24, 16);
    const auto orientationOf = [&](const std::vector<std::uint8_t>& app1) {
        const std::optional<JpegPicture> decoded =
            decodeJpegData(encodeJpeg(picture, {.app1 = app1}));
        EXPECT_TRUE(decoded.has_value());
        return decoded ? decoded->orientation : -1;
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        EXPECT_EQ(orientationOf(exifOrientationBlock(orientation, false)), orientation);
        EXPECT_EQ(orientationOf(exifOrientationBlock(orientation, true)), orientation);
    }

    // Byte offsets in the block: 6 the byte order, 10 the first directory's offset, 14 its
    // entry count, 16 the orientation entry (tag, type, count, value at 24).
    const std::vector<std::uint8_t> good = exifOrientationBlock(6);
    const auto changed = [&](std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        std::vector<std::uint8_t> block = good;
        std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
        return block;
    };
    std::vector<std::uint8_t> twoTags = good;
    twoTags[14] = 2;
    twoTags.insert(twoTags.begin() + 28, good.begin() + 16, good.begin() + 28);
    twoTags[24 + 12] = 3;
    std::vector<std::uint8_t> cutInTheDirectory = good;
    cutInTheDirectory.resize(22);
    const std::pair<const char*, std::vector<std::uint8_t>> doubtful[] = {
        {"bad byte order", changed(6, {'I', 'M'})},
        {"directory cut short", cutInTheDirectory},
        {"more entries than the block holds", changed(14, {5, 0})},
        {"directory offset outside the block", changed(10, {0xF0, 0xFF, 0xFF, 0x7F})},
        {"orientation 0", exifOrientationBlock(0)},
        {"orientation 9", exifOrientationBlock(9)},
        {"orientation 0xFFFF", exifOrientationBlock(0xFFFF)},
        {"two orientation tags", twoTags},
        {"a LONG instead of a SHORT", changed(18, {4, 0})},
        {"no EXIF header", changed(0, {'X'})},
        {"header only", std::vector<std::uint8_t>(good.begin(), good.begin() + 6)},
    };
    for (const auto& [what, block] : doubtful) {
        EXPECT_EQ(orientationOf(block), 1) << what;
    }
}

TEST(JpegDecoder, CmykAndYcckFilesShowTheirInksAsRgb)
{
    // Patches of full cyan, magenta, yellow and black ink and one without ink.
    const std::array<std::array<std::uint8_t, 4>, 5> inks{
        {{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {0, 0, 0, 255}, {0, 0, 0, 0}}};
    const std::array<Colour, 5> colours{
        {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0}, {255, 255, 255}}};
    constexpr int Patch = 16;
    const int width = Patch * static_cast<int>(inks.size());
    std::vector<std::uint8_t> ink;
    for (int y = 0; y < Patch; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto& patch = inks[static_cast<std::size_t>(x / Patch)];
            ink.insert(ink.end(), patch.begin(), patch.end());
        }
    }
    using TestPictures::CmykForm;
    for (const CmykForm form : {CmykForm::Plain, CmykForm::Adobe, CmykForm::AdobeYcck}) {
        SCOPED_TRACE(static_cast<int>(form));
        std::string diagnostic;
        const std::optional<RgbImage> image =
            decodeFull(TestPictures::encodeCmykJpeg(width, Patch, ink, form), &diagnostic);
        ASSERT_TRUE(image.has_value()) << diagnostic;
        for (std::size_t patch = 0; patch < inks.size(); ++patch) {
            SCOPED_TRACE("patch " + std::to_string(patch));
            expectNear(pixelAt(*image, static_cast<int>(patch) * Patch + Patch / 2, Patch / 2),
                       colours[patch], 8);
        }
    }
}

// Files that libjpeg would have to hold whole while it reads their scans: a sequential file with
// one scan per component, an arithmetic-coded progressive file, and a progressive file long
// enough (1 MB of zeros) to pass for its picture, each declaring 18000 x 18000. They are refused
// from their headers, whatever their length, before the coefficients are asked for.
TEST(JpegDecoder, WholePictureBuffersAreBoundedWhateverTheFilesLength)
{
    for (const char* name : {"scan-per-component-18000.jpg", "arithmetic-progressive-18000.jpg",
                             "progressive-18000-zeros.jpg"}) {
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        std::string diagnostic;
        EXPECT_FALSE(decodeJpegFile(std::string(LUMIVANE_SOURCE_DIR "/fuzz/corpus/slide/") + name,
                                    &diagnostic, {.minimumLongerSide = 2048})
                         .has_value());
        EXPECT_NE(diagnostic.find("too large"), std::string::npos) << diagnostic;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    }
}

// Sparse files of gigabytes that hold a few bytes of JPEG: only as much is read as can matter,
// and a stop request ends the reading at once wherever libjpeg is.
TEST(JpegDecoder, HugeFilesAreReadOnlyAsFarAsTheyMatterAndStopAtOnce)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("lumivane-jpeg-sparse-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto sparse = [&](const std::string& name, const std::vector<std::uint8_t>& start) {
        const std::string path = (dir / name).string();
        EXPECT_TRUE(TestPictures::writeFile(path, start));
        std::filesystem::resize_file(path, std::uintmax_t{4} << 30);
        return path;
    };
    using Clock = std::chrono::steady_clock;
    std::string diagnostic;

    // A start of image and 4 GB without a marker: refused after the first 16 MB.
    auto start = Clock::now();
    EXPECT_FALSE(decodeJpegFile(sparse("no-frame.jpg", {0xFF, 0xD8}), &diagnostic).has_value());
    EXPECT_NE(diagnostic.find("frame header"), std::string::npos) << diagnostic;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // A whole picture without its end marker: shown, without reading the 4 GB that follow.
    std::vector<std::uint8_t> picture = encodeJpeg(twoColours(32, 16));
    picture.resize(picture.size() - 2);
    start = Clock::now();
    const std::optional<JpegPicture> shown =
        decodeJpegFile(sparse("no-end.jpg", picture), &diagnostic);
    ASSERT_TRUE(shown.has_value()) << diagnostic;
    expectNear(pixelAt(shown->image, 0, 0), TopLeft, 12);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // Gigabytes without a marker between the frame header and the first scan, or after the
    // first scan of a progressive file: libjpeg skips them looking for the next marker, which
    // ends 16 MB on as if the file were cut there. The first is refused, the second shows its
    // first scan.
    const std::vector<std::uint8_t> scan =
        TestPictures::firstScanOf(encodeJpeg(twoColours(32, 16), {.progressive = true}));
    const std::uint8_t startOfScan[] = {0xFF, 0xDA};
    const std::vector<std::uint8_t> headers(
        scan.begin(), std::search(scan.begin(), scan.end(), startOfScan, startOfScan + 2));
    start = Clock::now();
    EXPECT_FALSE(decodeJpegFile(sparse("no-scan.jpg", headers), &diagnostic).has_value());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    const std::string endless = sparse("endless.jpg", scan);
    start = Clock::now();
    const std::optional<JpegPicture> firstScan = decodeJpegFile(endless, &diagnostic);
    ASSERT_TRUE(firstScan.has_value()) << diagnostic;
    EXPECT_EQ(firstScan->width, 32);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // The bytes skipped are a budget for the whole file, not for each scan: 499 scans, each
    // behind 15 MB of nothing, end as cut within the budget (before, 7.5 GB were skipped, in
    // 20 s and more), and the picture keeps the scans before.
    const std::string gaps = (dir / "gaps.jpg").string();
    ASSERT_TRUE(TestPictures::writeSparseFile(
        gaps, TestPictures::withRepeatedScan(encodeJpeg(twoColours(32, 16), {.progressive = true}),
                                             0, 499, std::uint64_t{15} << 20)));
    start = Clock::now();
    const std::optional<JpegPicture> gapped = decodeJpegFile(gaps, &diagnostic);
    ASSERT_TRUE(gapped.has_value()) << diagnostic;
    EXPECT_EQ(gapped->width, 32);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // A stop requested before the decode ends it before its first read.
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(decodeJpegFile(endless, &diagnostic, {.stop = stop.get_token()}).has_value());
    EXPECT_EQ(diagnostic, "JPEG decoding stopped");
    std::filesystem::remove_all(dir);
}

// The decoding work of a file with several scans follows a budget, whatever its scans cost each:
// a progressive file whose last scan, a refinement of every coefficient of a 4:4:4 picture, is
// repeated to 499 scans takes a few times the decode of the real file, not the hundred times
// each scan's pass over the picture would (a 64-megapixel one took 20 s). It still shows its
// picture.
TEST(JpegDecoder, ManyScansCostAFewPassesOverThePicture)
{
    const std::vector<std::uint8_t> file = encodeJpeg(TestPictures::makePhotoLike(1536, 1536),
                                                      {.progressive = true, .fullChroma = true});
    const TestPictures::SparseFile repeated = TestPictures::withRepeatedScan(file, 1000, 499);
    std::vector<std::uint8_t> scans(repeated.length);
    for (const auto& [offset, bytes] : repeated.pieces)
        std::copy(bytes.begin(), bytes.end(), scans.begin() + std::ptrdiff_t(offset));
    std::string diagnostic;
    const auto timeOf = [&](const std::vector<std::uint8_t>& data) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(decodeJpegData(data, &diagnostic).has_value());
        return std::chrono::steady_clock::now() - start;
    };
    const auto real = timeOf(file);
    const auto crafted = timeOf(scans);
    // The first warning is kept: libjpeg's, about the repeated scan, not the budget's later one.
    EXPECT_NE(diagnostic.find("progression"), std::string::npos) << diagnostic;
    EXPECT_LT(crafted, real * 8) << std::chrono::duration<double>(crafted).count() << " s against "
                                 << std::chrono::duration<double>(real).count() << " s";

    // Scans as cheap as one coefficient of each block fit the budget, but more than 500 of them
    // are refused.
    const TestPictures::SparseFile dcScans = TestPictures::withRepeatedScan(file, 0, 501);
    std::vector<std::uint8_t> many(dcScans.length);
    for (const auto& [offset, bytes] : dcScans.pieces)
        std::copy(bytes.begin(), bytes.end(), many.begin() + std::ptrdiff_t(offset));
    EXPECT_FALSE(decodeJpegData(many, &diagnostic).has_value());
    EXPECT_EQ(diagnostic, "Too many scans in progressive JPEG file");
}
