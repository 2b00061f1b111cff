// The further picture formats through the whole slide preparation: each file must give the
// texture that the same pixels saved as a bitmap give, and a bad file the white square.
#include "imaging/picturereader.h"
#include "scene/slideimage.h"
#include "tests/support/formatpictures.h"
#include "tests/support/testpictures.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using FormatPictures::Format;
using FormatPictures::Variant;

// The HEIC test pictures are written by x265, which keeps some global state to the end of the
// process, and libdav1d 1.0 keeps 40 bytes of an AV1 packet it refuses (the fuzzer's finding in
// tests/data/heif/); LeakSanitizer is told so (the function is only looked for in sanitizer
// builds).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265\nleak:libdav1d\n";
}

namespace {

constexpr int Width = 96;
constexpr int Height = 64;

const char* nameOf(Variant variant)
{
    static const char* const names[] = {"rgb",
                                        "palette",
                                        "grey",
                                        "grey+alpha",
                                        "alpha",
                                        "deep",
                                        "oriented",
                                        "cmyk",
                                        "animated",
                                        "12-bit",
                                        "16-bit cmyk",
                                        "planar grey+alpha",
                                        "16-bit grey+alpha"};
    return names[static_cast<int>(variant)];
}

FormatPictures::RgbaPicture sourceOf(Format format, Variant variant)
{
    return FormatPictures::sourceFor(format, variant, Width, Height);
}

// The mean absolute difference per channel value between two textures.
double meanDifference(const SlideImage& a, const SlideImage& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < SlideImage::TextureBytes; ++i)
        sum += std::abs(int(a.texturePixels()[i]) - int(b.texturePixels()[i]));
    return sum / double(SlideImage::TextureBytes);
}

bool isWhiteSquare(const SlideImage& slide)
{
    return slide.placement() == SlidePlacement{1024, 1024, 0.99f, 1.0f} &&
           std::all_of(slide.texturePixels(), slide.texturePixels() + SlideImage::TextureBytes,
                       [](std::uint8_t v) { return v == 255; });
}

PictureKind kindOf(Format format)
{
    return pictureKindOf(std::string("x") + FormatPictures::extensionOf(format));
}

} // namespace

// Every variant of every format, through SlideImage::prepare, against the bitmap of the same
// pixels composited over white and stood upright.
TEST(PictureFormats, EachVariantGivesTheTextureOfTheSamePixelsAsABitmap)
{
    TestPictures::TempFolder folder("formats");
    for (Format format : FormatPictures::AllFormats) {
        for (int v = 0; v <= int(FormatPictures::LastVariant); ++v) {
            const auto variant = static_cast<Variant>(v);
            const FormatPictures::RgbaPicture source = sourceOf(format, variant);
            const std::vector<std::uint8_t> file = FormatPictures::encode(format, variant, source);
            if (file.empty())
                continue;
            SCOPED_TRACE(std::string(FormatPictures::extensionOf(format)) + " " + nameOf(variant));
            const std::string path = folder.path + "/picture" + FormatPictures::extensionOf(format);
            const std::string bitmap = folder.path + "/picture.bmp";
            ASSERT_TRUE(TestPictures::writeFile(path, file));
            ASSERT_TRUE(TestPictures::writeFile(
                bitmap, TestPictures::encodeBmp(FormatPictures::overWhite(source))));
            SlideImage slide;
            SlideImage expected;
            slide.prepare(path);
            expected.prepare(bitmap);
            EXPECT_EQ(slide.decoderNote(), "");
            EXPECT_EQ(slide.placement(), expected.placement());
            EXPECT_LE(meanDifference(slide, expected), 1.0);
        }
    }
}

// Files of a few hundred bytes that declare far more than they hold (see
// FormatPictures::declaringMoreThanHeld): each is unreadable within a fraction of a second, and
// costs what it holds, not the gigabyte it declares.
TEST(PictureFormats, FilesDeclaringMoreThanTheyHoldCostWhatTheyHold)
{
    const auto peakKilobytes = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    for (Format format : {Format::Png, Format::Tiff}) {
        for (const FormatPictures::NamedFile& file :
             FormatPictures::declaringMoreThanHeld(format)) {
            SCOPED_TRACE(file.name);
            const long peakBefore = peakKilobytes();
            const auto start = std::chrono::steady_clock::now();
            const DecodedPicture picture = readPictureData(kindOf(format), file.bytes);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
            EXPECT_FALSE(picture.readable);
            EXPECT_NE(picture.note, "");
            EXPECT_LT(peakKilobytes() - peakBefore, 150 * 1024);
        }
    }
}

// Files whose every piece is within the readers' bounds but whose whole once cost a gigabyte or
// 20 s (see FormatPictures::costlyAsAWhole): each costs what it holds. A cut GIF keeps its first
// row, a WebP frame that holds only its header is refused, a WebP profile of a gigabyte is left
// unread, and a PNG whose chunks besides the picture pass 16 MB ends there as if cut.
TEST(PictureFormats, FilesCostlyOnlyAsAWholeCostWhatTheyHold)
{
    const auto peakKilobytes = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    TestPictures::TempFolder folder("formats");
    for (Format format : {Format::Gif, Format::Webp, Format::Png}) {
        for (const FormatPictures::NamedSparseFile& file : FormatPictures::costlyAsAWhole(format)) {
            SCOPED_TRACE(file.name);
            const std::string path = folder.path + "/costly" + FormatPictures::extensionOf(format);
            ASSERT_TRUE(TestPictures::writeSparseFile(path, file.file));
            const long peakBefore = peakKilobytes();
            const auto start = std::chrono::steady_clock::now();
            const DecodedPicture picture = readPicture(path);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
            EXPECT_LT(peakKilobytes() - peakBefore, 300 * 1024);
            EXPECT_EQ(picture.readable,
                      format != Format::Png && std::strstr(file.name, "header") == nullptr);
            if (format == Format::Gif) {
                ASSERT_TRUE(picture.readable);
                const RowPixels first = picture.image.row(0);
                ASSERT_EQ(first.count, 18176 + (picture.width == 18900 ? 724 : 0));
                EXPECT_EQ(std::vector<int>(first.pixels, first.pixels + 3),
                          (std::vector<int>{255, 0, 0}));
                EXPECT_EQ(picture.image.row(1).count, 0);
            }
            if (format == Format::Webp && picture.readable) {
                EXPECT_EQ(picture.colourSpace.note, PictureColourSpace::TooLargeNote);
            }
            ::unlink(path.c_str());
        }
    }

    // The PNG's budget: 16 MB of chunk data besides the picture, its header's own included, are
    // read through; one byte more ends the file.
    const std::vector<std::uint8_t> png =
        FormatPictures::encode(Format::Png, Variant::Rgb, sourceOf(Format::Png, Variant::Rgb));
    std::uint32_t besides = 0;
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::uint32_t length =
            std::uint32_t(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
        besides += std::memcmp(&png[at + 4], "IDAT", 4) != 0 ? length : 0;
        at += 12 + length;
    }
    const std::uint32_t budget = (16u << 20) - besides;
    const std::string path = folder.path + "/budget.png";
    for (const std::uint32_t more : {0u, 1u}) {
        ASSERT_TRUE(TestPictures::writeSparseFile(
            path,
            FormatPictures::withUnknownChunks(png, {budget / 2, budget - budget / 2 + more})));
        EXPECT_EQ(readPicture(path).readable, more == 0);
    }
}

// A still WebP picture larger than twice the texture is scaled while it is decoded, by the
// integer reduction that keeps its longer side at least twice the texture.
// An odd size is reduced as the decoder rounds: up.
TEST(PictureFormats, LargeWebpIsReducedWhileDecodedAndStillMatches)
{
    for (const int odd : {0, 1}) {
        SCOPED_TRACE(odd);
        const FormatPictures::RgbaPicture source =
            FormatPictures::sourceFor(Variant::Rgb, 4200 + odd, 24 + odd);
        const std::vector<std::uint8_t> file =
            FormatPictures::encode(Format::Webp, Variant::Rgb, source);
        const DecodedPicture picture =
            readPictureData(PictureKind::Webp, file, {.minimumLongerSide = 2048});
        ASSERT_TRUE(picture.readable) << picture.note;
        EXPECT_EQ(picture.reduction, 2);
        EXPECT_EQ(picture.image.width, 2100 + odd);
        EXPECT_EQ(picture.image.height, 12 + odd);
        SlideImage slide;
        SlideImage expected;
        std::vector<std::uint8_t> texture(SlideImage::TextureBytes);
        const SlidePlacement placement = drawSlideTexture(
            picture.image, {picture.width, picture.height, picture.reduction, picture.orientation},
            texture);
        expected.prepareFromImage(FormatPictures::overWhite(source));
        EXPECT_EQ(placement, expected.placement());
        double sum = 0;
        for (std::size_t i = 0; i < texture.size(); ++i)
            sum += std::abs(int(texture[i]) - int(expected.texturePixels()[i]));
        EXPECT_LE(sum / double(texture.size()), 1.0);
    }
}

// Details of single formats: a PNG's EXIF block after its rows, a GIF's interlaced rows, and
// every TIFF orientation.
TEST(PictureFormats, LateExifInterlacedGifAndEveryTiffOrientation)
{
    // The oriented PNG with its EXIF block only behind the picture data, before IEND (libpng
    // writes the chunk on both sides). A chunk's CRC covers only its own type and data, so it
    // moves as it is.
    std::vector<std::uint8_t> png = FormatPictures::encode(
        Format::Png, Variant::Oriented, sourceOf(Format::Png, Variant::Oriented));
    const auto chunkAt = [&](const char* type) {
        std::size_t at = 8;
        while (at + 8 <= png.size() && std::memcmp(&png[at + 4], type, 4) != 0)
            at += 12 + (std::size_t(png[at]) << 24 | std::size_t(png[at + 1]) << 16 |
                        std::size_t(png[at + 2]) << 8 | png[at + 3]);
        return at + 8 <= png.size() ? at : png.size();
    };
    std::vector<std::uint8_t> chunk;
    for (std::size_t exif = chunkAt("eXIf"); exif < png.size(); exif = chunkAt("eXIf")) {
        const auto begin = png.begin() + std::ptrdiff_t(exif);
        const auto end = begin + 12 + png[exif + 3];
        chunk.assign(begin, end);
        png.erase(begin, end);
    }
    ASSERT_FALSE(chunk.empty());
    png.insert(png.begin() + std::ptrdiff_t(chunkAt("IEND")), chunk.begin(), chunk.end());
    EXPECT_LT(chunkAt("IDAT"), chunkAt("eXIf"));
    EXPECT_EQ(readPictureData(PictureKind::Png, png).orientation, 6);

    // An interlaced GIF of 29 grey rows, each its own level: the rows are stored every 8th from
    // 0, every 8th from 4, every 4th from 2 and every 2nd from 1.
    constexpr int Rows = 29;
    std::vector<std::uint8_t> gif;
    int error = 0;
    GifFileType* writer = EGifOpen(
        &gif,
        [](GifFileType* file, const GifByteType* data, int length) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(file->UserData);
            out->insert(out->end(), data, data + length);
            return length;
        },
        &error);
    ASSERT_NE(writer, nullptr);
    std::vector<GifColorType> greys(256);
    for (int i = 0; i < 256; ++i)
        greys[std::size_t(i)] = {GifByteType(i), GifByteType(i), GifByteType(i)};
    ColorMapObject* map = GifMakeMapObject(256, greys.data());
    EGifPutScreenDesc(writer, 5, Rows, 8, 0, map);
    EGifPutImageDesc(writer, 0, 0, 5, Rows, true, nullptr);
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
        for (int y = start; y < Rows; y += step) {
            std::vector<GifPixelType> line(5, GifPixelType(y * 8));
            EGifPutLine(writer, line.data(), 5);
        }
    }
    EGifCloseFile(writer, &error);
    GifFreeMapObject(map);
    const DecodedPicture interlaced = readPictureData(PictureKind::Gif, gif);
    ASSERT_TRUE(interlaced.readable) << interlaced.note;
    ASSERT_EQ(interlaced.image.height, Rows);
    for (int y = 0; y < Rows; ++y) {
        const RowPixels row = interlaced.image.row(y);
        ASSERT_GT(row.count, 0) << y;
        EXPECT_EQ(row.pixels[0], y * 8) << y;
    }

    // The oriented TIFF carries orientation 6 in its directory (tag 0x0112, a SHORT, count 1);
    // every value from 1 to 8 must come through.
    std::vector<std::uint8_t> tiff = FormatPictures::encode(
        Format::Tiff, Variant::Oriented, sourceOf(Format::Tiff, Variant::Oriented));
    ASSERT_EQ(tiff[0], 'I');
    const std::uint8_t entry[] = {0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0};
    const auto tag = std::search(tiff.begin(), tiff.end(), std::begin(entry), std::end(entry));
    ASSERT_NE(tag, tiff.end());
    for (int orientation = 1; orientation <= 8; ++orientation) {
        tag[8] = std::uint8_t(orientation);
        EXPECT_EQ(readPictureData(PictureKind::Tiff, tiff).orientation, orientation);
    }
}

// A file cut short, a few hundred bytes declaring a huge picture, a FIFO in the file's place and
// a decode whose stop has been requested: each is unreadable, quickly, and shows as the white
// square without an error.
TEST(PictureFormats, BadFilesGiveTheWhiteSquareQuickly)
{
    TestPictures::TempFolder folder("formats");
    for (Format format : FormatPictures::AllFormats) {
        const char* extension = FormatPictures::extensionOf(format);
        SCOPED_TRACE(extension);
        const PictureKind kind = kindOf(format);
        const Variant variant = format == Format::Gif ? Variant::Palette : Variant::Rgb;
        std::vector<std::uint8_t> whole =
            FormatPictures::encode(format, variant, sourceOf(format, variant));

        std::stop_source stopped;
        stopped.request_stop();
        EXPECT_FALSE(readPictureData(kind, whole, {.stop = stopped.get_token()}).readable);

        const std::vector<std::uint8_t> truncated(whole.begin(),
                                                  whole.begin() + whole.size() * 2 / 3);
        const std::vector<std::uint8_t> huge = FormatPictures::hostile(format);
        for (const std::vector<std::uint8_t>* bytes : {&truncated, &huge}) {
            const auto start = std::chrono::steady_clock::now();
            const DecodedPicture picture = readPictureData(kind, *bytes);
            const auto took = std::chrono::steady_clock::now() - start;
            // A cut GIF keeps the rows it holds, as a cut JPEG does.
            EXPECT_EQ(picture.readable, format == Format::Gif && bytes == &truncated);
            EXPECT_NE(picture.note, "");
            EXPECT_LT(took, std::chrono::milliseconds(500));
        }

        const std::string path = folder.path + "/bad" + extension;
        ASSERT_TRUE(TestPictures::writeFile(path, truncated));
        SlideImage slide;
        slide.prepare(path);
        EXPECT_EQ(isWhiteSquare(slide), format != Format::Gif);

        // A gigabyte file that holds nothing on disk, for a picture whose stop is already
        // requested, is left before its first read.
        const std::string sparse = folder.path + "/sparse" + extension;
        ASSERT_TRUE(TestPictures::writeFile(sparse, whole));
        ASSERT_EQ(::truncate(sparse.c_str(), off_t{1} << 30), 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(readPicture(sparse, {.stop = stopped.get_token()}).note, "Decoding stopped");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
        // Without the stop, only what the decoder asks for is read: the picture before the
        // gigabyte of nothing is shown, and a gigabyte of nothing is refused by its first bytes.
        for (const bool withPicture : {true, false}) {
            ASSERT_EQ(::truncate(sparse.c_str(), withPicture ? off_t{1} << 30 : 0), 0);
            ASSERT_EQ(::truncate(sparse.c_str(), off_t{1} << 30), 0);
            const auto begin = std::chrono::steady_clock::now();
            EXPECT_EQ(readPicture(sparse).readable, withPicture);
            EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));
        }
        ::unlink(sparse.c_str());

        const std::string fifo = folder.path + "/fifo" + extension;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        slide.prepare(fifo);
        EXPECT_TRUE(isWhiteSquare(slide));
        EXPECT_EQ(slide.decoderNote(), "Not a regular file");
    }
}

namespace {

// The first frame of `gif` moved to (left, top) on a logical screen of width x height.
std::vector<std::uint8_t> onScreen(std::vector<std::uint8_t> gif, int width, int height, int left,
                                   int top)
{
    const auto put = [&](std::size_t at, int value) {
        gif[at] = std::uint8_t(value);
        gif[at + 1] = std::uint8_t(value >> 8);
    };
    std::size_t at = 13 + ((gif[10] & 0x80) != 0 ? 3u << ((gif[10] & 7) + 1) : 0);
    while (gif[at] == 0x21) { // extensions: introducer, label, sub-blocks
        for (at += 2; gif[at] != 0; at += gif[at] + 1u) {
        }
        ++at;
    }
    put(6, width);
    put(8, height);
    put(at + 1, left);
    put(at + 3, top);
    return gif;
}

// A still lossless WebP made the first frame, at (left, top), of an animation on a canvas of
// width x height.
std::vector<std::uint8_t> onCanvas(const std::vector<std::uint8_t>& still, int width, int height,
                                   int left, int top)
{
    std::vector<std::uint8_t> out;
    const auto bytes = [&](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            out.push_back(std::uint8_t(value >> (8 * i)));
    };
    const auto chunk = [&](const char* tag, std::uint32_t size) {
        out.insert(out.end(), tag, tag + 4);
        bytes(size, 4);
    };
    const std::vector<std::uint8_t> frame(still.begin() + 12, still.end());
    const int frameWidth = ((frame[9] | frame[10] << 8) & 0x3fff) + 1;
    const int frameHeight = ((frame[10] >> 6 | frame[11] << 2 | frame[12] << 10) & 0x3fff) + 1;
    out.insert(out.end(), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'});
    chunk("VP8X", 10);
    bytes(0x02, 4); // an animation
    bytes(std::uint32_t(width - 1), 3);
    bytes(std::uint32_t(height - 1), 3);
    chunk("ANIM", 6);
    bytes(0xffffffff, 4);
    bytes(0, 2);
    chunk("ANMF", std::uint32_t(16 + frame.size()));
    bytes(std::uint32_t(left / 2), 3);
    bytes(std::uint32_t(top / 2), 3);
    bytes(std::uint32_t(frameWidth - 1), 3);
    bytes(std::uint32_t(frameHeight - 1), 3);
    bytes(100, 3);
    bytes(0, 1);
    out.insert(out.end(), frame.begin(), frame.end());
    const auto riff = std::uint32_t(out.size() - 8);
    for (int i = 0; i < 4; ++i)
        out[4 + i] = std::uint8_t(riff >> (8 * i));
    return out;
}

} // namespace

// A GIF's logical screen and a WebP animation's canvas around a smaller first frame: the frame
// is stored alone over white. A few bytes declaring a huge screen cost what the frame holds
// (before, 18000 x 18000 took a gigabyte and seconds), and a real one gives exactly the texture
// of the whole screen stored white around the frame.
TEST(PictureFormats, ScreenAroundTheFirstFrameCostsWhatTheFrameHolds)
{
    for (const Format format : {Format::Gif, Format::Webp}) {
        SCOPED_TRACE(FormatPictures::extensionOf(format));
        const Variant variant = format == Format::Gif ? Variant::Palette : Variant::Rgb;
        const auto place = [&](int pictureWidth, int pictureHeight, int side, int left, int top) {
            const std::vector<std::uint8_t> plain = FormatPictures::encode(
                format, variant,
                FormatPictures::sourceFor(format, variant, pictureWidth, pictureHeight));
            return std::pair(plain, format == Format::Gif
                                        ? onScreen(plain, side, side * 3 / 4, left, top)
                                        : onCanvas(plain, side, side * 3 / 4, left, top));
        };
        const auto start = std::chrono::steady_clock::now();
        const DecodedPicture huge =
            readPictureData(kindOf(format), place(1, 1, 16000, 0, 0).second);
        ASSERT_TRUE(huge.readable) << huge.note;
        EXPECT_EQ(huge.width, 16000);
        EXPECT_TRUE(huge.image.sparse);
        EXPECT_LE(huge.image.storedRows.size(), 1u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        if (format == Format::Webp) {
            // A container that declares a gigabyte over a sparse file: only the chunks the first
            // frame needs are read (before, the demuxer took 5 GB for its empty chunks).
            TestPictures::TempFolder folder("formats");
            std::vector<std::uint8_t> file = place(1, 1, 16000, 0, 0).second;
            file[7] = 0x3f;
            const std::string path = folder.path + "/declared.webp";
            ASSERT_TRUE(TestPictures::writeFile(path, file));
            ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
            const auto begin = std::chrono::steady_clock::now();
            EXPECT_TRUE(readPicture(path).readable);
            EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(500));
        }

        const auto [plain, placed] = place(Width, Height, 200, 40, 22);
        const DecodedPicture frame = readPictureData(kindOf(format), plain);
        const DecodedPicture onWhite = readPictureData(kindOf(format), placed);
        ASSERT_TRUE(frame.readable && onWhite.readable);
        if (format == Format::Gif) {
            // Cut after its first rows, the frame keeps them in their place.
            const std::vector<std::uint8_t> cut(placed.begin(), placed.begin() + 1500);
            const DecodedPicture kept = readPictureData(kindOf(format), cut);
            ASSERT_TRUE(kept.readable);
            const RowPixels top = kept.image.row(22);
            ASSERT_EQ(top.first, 40);
            ASSERT_EQ(top.count, Width);
            EXPECT_EQ(std::memcmp(top.pixels, frame.image.row(0).pixels, Width * 3), 0);
        }
        RgbImage expected;
        expected.width = 200;
        expected.height = 150;
        expected.pixels.assign(std::size_t{200} * 150 * 3, 255);
        for (int y = 0; y < Height; ++y)
            std::memcpy(expected.writablePixels(22 + y, 40, 40 + Width), frame.image.row(y).pixels,
                        std::size_t{Width} * 3);
        std::vector<std::uint8_t> texture(SlideImage::TextureBytes);
        std::vector<std::uint8_t> expectedTexture(SlideImage::TextureBytes);
        drawSlideTexture(onWhite.image, texture);
        drawSlideTexture(expected, expectedTexture);
        EXPECT_TRUE(texture == expectedTexture);
    }
}

// GIFs that giflib alone would refuse and other decoders show: one without any colour table
// shows its indices as grey levels, and one whose codes start 12 bits wide (minimum code size
// 11) is decoded.
TEST(PictureFormats, GifsThatOtherDecodersShowAreShown)
{
    const std::vector<std::uint8_t> gif = {
        'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, // screen, no table
        ',', 0,   0,   0,   0,   1,   0, 1, 0, 0, 8, 4, 0x00, 0x91, 0x05, 0x04, 0, ';', // index 200
    };
    const DecodedPicture picture = readPictureData(PictureKind::Gif, gif);
    ASSERT_TRUE(picture.readable) << picture.note;
    EXPECT_FALSE(picture.image.sparse); // a frame that covers its screen fills it
    const RowPixels row = picture.image.row(0);
    EXPECT_EQ(std::vector<int>(row.pixels, row.pixels + 3), (std::vector<int>{200, 200, 200}));

    // 2 x 2 pixels of a 4-colour table: a clear code, four pixels and the end code, 12 bits each.
    const std::vector<std::uint8_t> wide = {
        'G', 'I', 'F', '8', '9', 'a',  2,    0,    2,    0,    0x81, 0,    0,    255,  0, 0,
        0,   255, 0,   0,   0,   255,  255,  255,  0,    ',',  0,    0,    0,    0,    2, 0,
        2,   0,   0,   11,  9,   0x00, 0x08, 0x00, 0x01, 0x20, 0x00, 0x03, 0x10, 0x80, 0, ';'};
    const DecodedPicture decoded = readPictureData(PictureKind::Gif, wide);
    ASSERT_TRUE(decoded.readable) << decoded.note;
    const RowPixels second = decoded.image.row(1);
    EXPECT_EQ(std::vector<int>(second.pixels, second.pixels + 6),
              (std::vector<int>{0, 0, 255, 255, 255, 0}));

    // 2 x 1 pixels of an 8-colour table, indices 1 and 8 in 5-bit codes (clear, 1, 8, end): the
    // index equal to the table's size is past it, and black. (The table's 24 bytes fill their
    // allocation exactly, so a read past it would see the next one's bookkeeping, not zeros.)
    std::vector<std::uint8_t> past = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x82, 0, 0};
    for (int i = 0; i < 8; ++i)
        past.insert(past.end(), {std::uint8_t(i == 1 ? 0x20 : 9), std::uint8_t(i == 1 ? 0x40 : 9),
                                 std::uint8_t(i == 1 ? 0x80 : 9)});
    past.insert(past.end(), {',', 0, 0, 0, 0, 2, 0, 1, 0, 0, 4, 3, 0x30, 0xa0, 0x08, 0, ';'});
    const DecodedPicture beyond = readPictureData(PictureKind::Gif, past);
    ASSERT_TRUE(beyond.readable) << beyond.note;
    const RowPixels pair = beyond.image.row(0);
    EXPECT_EQ(std::vector<int>(pair.pixels, pair.pixels + 6),
              (std::vector<int>{0x20, 0x40, 0x80, 0, 0, 0}));
}

// A PNG damaged after all its rows (cut where its end chunk starts) shows every row.
TEST(PictureFormats, PngDamagedAfterItsRowsShowsThem)
{
    const std::vector<std::uint8_t> whole =
        FormatPictures::encode(Format::Png, Variant::Rgb, sourceOf(Format::Png, Variant::Rgb));
    const std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 12);
    const DecodedPicture complete = readPictureData(PictureKind::Png, whole);
    const DecodedPicture damaged = readPictureData(PictureKind::Png, cut);
    ASSERT_TRUE(damaged.readable);
    EXPECT_NE(damaged.note, "");
    ASSERT_EQ(damaged.height, Height);
    for (int y = 0; y < Height; ++y)
        EXPECT_EQ(std::memcmp(damaged.image.row(y).pixels, complete.image.row(y).pixels, Width * 3),
                  0);
}

// A lossless WebP of 2 x 1 pixels whose palette holds one colour, and whose second pixel's
// index points past it: that pixel is transparent black, and shows white.
TEST(PictureFormats, WebpIndexPastThePaletteShowsWhite)
{
    const std::vector<std::uint8_t> webp = {
        'R',  'I',  'F',  'F',  0x1e, 0,    0,    0,    'W',  'E',  'B',  'P',  'V',
        'P',  '8',  'L',  0x12, 0,    0,    0,    0x2f, 0x01, 0x00, 0x00, 0x00, 0x07,
        0x50, 0xa0, 0x82, 0x14, 0xb0, 0xff, 0x81, 0x0a, 0x44, 0xf4, 0x3f, 0x00,
    };
    const DecodedPicture picture = readPictureData(PictureKind::Webp, webp);
    ASSERT_TRUE(picture.readable) << picture.note;
    const RowPixels row = picture.image.row(0);
    ASSERT_EQ(row.count, 2);
    EXPECT_EQ(std::vector<int>(row.pixels, row.pixels + 6),
              (std::vector<int>{0x20, 0x40, 0x80, 255, 255, 255}));
}

// The inputs the fuzzers found, kept beside the tests: each is read without harm, through the
// reader its extension names.
TEST(PictureFormats, KeptFuzzFindingsAreReadWithoutHarm)
{
    for (const char* folder : {"png", "gif", "webp", "tiff", "heif"}) {
        const std::filesystem::path path = std::filesystem::path(LUMIVANE_TEST_DATA_DIR) / folder;
        if (!std::filesystem::exists(path))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            SCOPED_TRACE(entry.path().string());
            SlideImage slide;
            slide.prepare(entry.path().string());
            EXPECT_LE(slide.imageWidth(), SlideImage::TextureSize);
            EXPECT_LE(slide.imageHeight(), SlideImage::TextureSize);
        }
    }
}
