// The further picture formats through the whole slide preparation: each file must give the
// texture that the same pixels saved as a bitmap give, and a bad file the white square.
#include "imaging/picturereader.h"
#include "render/slideimage.h"
#include "tests/support/formatpictures.h"
#include "tests/support/testpictures.h"

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

struct TempFolder
{
    std::string path;
    TempFolder()
    {
        char pattern[] = "/tmp/lumivane-formats-XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

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
    TempFolder folder;
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

// A still WebP picture larger than twice the texture is scaled while it is decoded, by the
// integer reduction that keeps its longer side at least twice the texture.
TEST(PictureFormats, LargeWebpIsReducedWhileDecodedAndStillMatches)
{
    const FormatPictures::RgbaPicture source = FormatPictures::sourceFor(Variant::Rgb, 4200, 24);
    const std::vector<std::uint8_t> file =
        FormatPictures::encode(Format::Webp, Variant::Rgb, source);
    const DecodedPicture picture =
        readPictureData(PictureKind::Webp, file, {.minimumLongerSide = 2048});
    ASSERT_TRUE(picture.readable) << picture.note;
    EXPECT_EQ(picture.reduction, 2);
    EXPECT_EQ(picture.image.width, 2100);
    EXPECT_EQ(picture.image.height, 12);
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

// A file cut short, a few hundred bytes declaring a huge picture, a FIFO in the file's place and
// a decode whose stop has been requested: each is unreadable, quickly, and shows as the white
// square without an error.
TEST(PictureFormats, BadFilesGiveTheWhiteSquareQuickly)
{
    TempFolder folder;
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
            EXPECT_FALSE(picture.readable);
            EXPECT_NE(picture.note, "");
            EXPECT_LT(took, std::chrono::milliseconds(500));
        }

        const std::string path = folder.path + "/bad" + extension;
        ASSERT_TRUE(TestPictures::writeFile(path, truncated));
        SlideImage slide;
        slide.prepare(path);
        EXPECT_TRUE(isWhiteSquare(slide));

        // A gigabyte file that holds nothing on disk, for a picture whose stop is already
        // requested, is left before its first read.
        const std::string sparse = folder.path + "/sparse" + extension;
        ASSERT_TRUE(TestPictures::writeFile(sparse, whole));
        ASSERT_EQ(::truncate(sparse.c_str(), off_t{1} << 30), 0);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(readPicture(sparse, {.stop = stopped.get_token()}).note, "Decoding stopped");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
        ::unlink(sparse.c_str());

        const std::string fifo = folder.path + "/fifo" + extension;
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        slide.prepare(fifo);
        EXPECT_TRUE(isWhiteSquare(slide));
        EXPECT_EQ(slide.decoderNote(), "Not a regular file");
    }
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
