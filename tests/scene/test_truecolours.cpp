// Colour spaces from every format's file to the high quality texture: the readers hand back the
// profile or the CICP values, and the texture of a picture saved in another colour space is the
// texture of the original.
#include "imaging/picturereader.h"
#include "scene/slideimage.h"
#include "tests/support/formatpictures.h"
#include "tests/support/testpictures.h"
#include "tests/support/testprofiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using FormatPictures::Format;
using FormatPictures::Variant;

// See test_pictureformats.cpp: x265 and dav1d keep a little memory to the end of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265\nleak:libdav1d\n";
}

namespace {

using Bytes = std::vector<std::uint8_t>;
using TestProfiles::cicpSpace;
using TestProfiles::iccSpace;

// The file of `format` holding `image` with `colours` embedded.
Bytes encode(Format format, const RgbImage& image, const PictureColourSpace& colours)
{
    return FormatPictures::encode(format, Variant::Rgb, FormatPictures::opaque(image), colours);
}

Bytes encodeJpeg(const RgbImage& image, const Bytes& profile)
{
    return TestPictures::encodeJpeg(image,
                                    {.quality = 95, .iccProfile = profile, .fullChroma = true});
}

struct Difference
{
    double mean = 0.0;
    int largest = 0;
};

// Between the first levels of two textures.
Difference differenceOf(const SlideImage& a, const SlideImage& b)
{
    Difference difference;
    const std::size_t bytes = SlideImage::TextureBytes;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const int d = std::abs(int{a.texturePixels()[i]} - int{b.texturePixels()[i]});
        total += static_cast<std::uint64_t>(d);
        difference.largest = std::max(difference.largest, d);
    }
    difference.mean = static_cast<double>(total) / static_cast<double>(bytes);
    return difference;
}

// Each reader hands back what its format keeps: the ICC profile in JPEG, PNG, WebP, TIFF, HEIC
// and AVIF, CICP in AVIF. A JPEG profile whose chunks do not fit together, and a profile over
// the limit, are left aside with the picture read all the same.
TEST(TrueColours, ReadersHandBackTheColourSpace)
{
    const RgbImage image = TestPictures::makePhotoLike(40, 30);
    const Bytes profile = TestProfiles::swapProfile();
    const PictureColourSpace tagged = iccSpace(profile);

    EXPECT_EQ(readPictureData(PictureKind::Jpeg, encodeJpeg(image, profile)).colourSpace.iccProfile,
              profile);
    const std::pair<Format, PictureKind> formats[] = {{Format::Png, PictureKind::Png},
                                                      {Format::Webp, PictureKind::Webp},
                                                      {Format::Tiff, PictureKind::Tiff},
                                                      {Format::Heic, PictureKind::Heif},
                                                      {Format::Avif, PictureKind::Heif}};
    for (const auto& [format, kind] : formats) {
        const DecodedPicture picture = readPictureData(kind, encode(format, image, tagged));
        EXPECT_TRUE(picture.readable) << FormatPictures::extensionOf(format);
        EXPECT_EQ(picture.colourSpace.iccProfile, profile) << FormatPictures::extensionOf(format);
    }
    // Grey pixels say so, for a grey profile to apply to them.
    const Bytes grey = TestProfiles::greyProfile();
    const DecodedPicture greyJpeg =
        readPictureData(PictureKind::Jpeg,
                        TestPictures::encodeJpeg(image, {.greyFromRed = true, .iccProfile = grey}));
    EXPECT_EQ(greyJpeg.colourSpace.iccProfile, grey);
    EXPECT_TRUE(greyJpeg.colourSpace.greyPixels);
    const DecodedPicture greyPng = readPictureData(
        PictureKind::Png,
        FormatPictures::encode(Format::Png, Variant::Grey,
                               FormatPictures::sourceFor(Format::Png, Variant::Grey, 40, 30),
                               iccSpace(grey)));
    EXPECT_EQ(greyPng.colourSpace.iccProfile, grey);
    EXPECT_TRUE(greyPng.colourSpace.greyPixels);
    EXPECT_FALSE(
        readPictureData(PictureKind::Jpeg, encodeJpeg(image, profile)).colourSpace.greyPixels);

    const DecodedPicture avif =
        readPictureData(PictureKind::Heif, encode(Format::Avif, image, cicpSpace(12, 13)));
    ASSERT_TRUE(avif.colourSpace.cicp);
    EXPECT_EQ(*avif.colourSpace.cicp, (CicpColour{12, 13}));
    const DecodedPicture gif = readPictureData(
        PictureKind::Gif,
        FormatPictures::encode(Format::Gif, Variant::Palette,
                               FormatPictures::sourceFor(Format::Gif, Variant::Palette, 40, 30)));
    EXPECT_TRUE(gif.readable);
    EXPECT_FALSE(gif.colourSpace.isTagged());
    EXPECT_FALSE(
        readPictureData(PictureKind::Png, encode(Format::Png, image, {})).colourSpace.isTagged());

    // A profile of 100000 bytes takes two APP2 markers; the second then claims to be the third.
    Bytes padded = profile;
    padded.resize(100000);
    Bytes jpeg = encodeJpeg(image, padded);
    const std::string tag("ICC_PROFILE");
    auto second = std::search(jpeg.begin(), jpeg.end(), tag.begin(), tag.end());
    second = std::search(second + 1, jpeg.end(), tag.begin(), tag.end());
    ASSERT_NE(second, jpeg.end());
    second[12] = 3;
    const DecodedPicture cut = readPictureData(PictureKind::Jpeg, jpeg);
    EXPECT_TRUE(cut.readable);
    EXPECT_FALSE(cut.colourSpace.isTagged());

    // libpng checks the header's length against the chunk's.
    Bytes oversized = profile;
    oversized.resize(MaxProfileBytes + 4);
    const std::size_t length = oversized.size();
    for (int i = 0; i < 4; ++i)
        oversized[std::size_t(i)] = std::uint8_t(length >> (24 - 8 * i));
    const DecodedPicture large =
        readPictureData(PictureKind::Png, encode(Format::Png, image, iccSpace(oversized)));
    EXPECT_TRUE(large.readable);
    EXPECT_FALSE(large.colourSpace.isTagged());
    EXPECT_NE(large.colourSpace.note, "");
}

// The channel-swap and wide-gamut goals through the worker's whole path: a picture saved with
// red and green swapped and the swap profile, or converted into Display P3 and tagged so, gives
// the original's high quality texture within 2 levels on average, in every format. Without the
// conversion the swap is about 60 levels off; in the design mode the profile changes nothing.
TEST(TrueColours, HighQualityTextureShowsTheOriginal)
{
    TestPictures::TempFolder folder("colours");
    // Large enough for the JPEG to be converted in the texture, small enough for the others to
    // be converted before they are enlarged.
    const RgbImage large = TestPictures::makePhotoLike(2400, 1600);
    const RgbImage small = TestPictures::makePhotoLike(200, 150);
    const Bytes swap = TestProfiles::swapProfile();
    const Bytes p3 = TestProfiles::displayP3Profile();

    struct Case
    {
        const char* name;
        Bytes original;
        Bytes converted;
        Bytes unconverted; // the same pixels without the colour space, for the design mode
    };
    const RgbImage largeSwapped = TestProfiles::convertFromSrgb(large, swap);
    const RgbImage smallSwapped = TestProfiles::convertFromSrgb(small, swap);
    const RgbImage smallP3 = TestProfiles::convertFromSrgb(small, p3);
    std::vector<Case> cases;
    cases.push_back({"swap.jpg", encodeJpeg(large, {}), encodeJpeg(largeSwapped, swap),
                     encodeJpeg(largeSwapped, {})});
    for (const Format format :
         {Format::Png, Format::Webp, Format::Tiff, Format::Heic, Format::Avif}) {
        cases.push_back({"swap", encode(format, small, {}),
                         encode(format, smallSwapped, iccSpace(swap)),
                         encode(format, smallSwapped, {})});
        cases.back().name = FormatPictures::extensionOf(format);
    }
    cases.push_back({"p3.png", encode(Format::Png, small, {}),
                     encode(Format::Png, smallP3, iccSpace(p3)), encode(Format::Png, smallP3, {})});
    cases.push_back({"p3-cicp.avif", encode(Format::Avif, small, {}),
                     encode(Format::Avif, smallP3, cicpSpace(12, 13)),
                     encode(Format::Avif, smallP3, {})});

    for (const Case& test : cases) {
        const std::string extension =
            std::string(test.name).substr(std::string(test.name).rfind('.'));
        const auto write = [&](const char* stem, const Bytes& bytes) {
            const std::string path = folder.path + "/" + stem + extension;
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            return path;
        };
        const TextureLayout high{SlideImage::TextureSize, true};
        SlideImage original(high);
        SlideImage converted(high);
        SlideImage unconverted(high);
        original.prepare(write("original", test.original));
        converted.prepare(write("converted", test.converted));
        unconverted.prepare(write("unconverted", test.unconverted));
        EXPECT_EQ(converted.colourNote(), "") << test.name;
        const Difference shown = differenceOf(converted, original);
        EXPECT_LE(shown.mean, 2.0) << test.name;
        std::printf("%-14s mean %.2f, largest %d\n", test.name, shown.mean, shown.largest);
        if (std::string(test.name).find("p3") == std::string::npos) {
            EXPECT_GT(differenceOf(unconverted, original).mean, 20.0) << test.name;
        }

        SlideImage designConverted;
        SlideImage designUnconverted;
        designConverted.prepare(write("converted", test.converted));
        designUnconverted.prepare(write("unconverted", test.unconverted));
        EXPECT_EQ(differenceOf(designConverted, designUnconverted).largest, 0) << test.name;
    }
}

// A PNG whose profile names one costly pair of colour tables five times over (666 bytes, and a
// build of 25 s) shows in the high quality mode as soon as a plain one would: unconverted, with
// the note.
TEST(TrueColours, CostlyProfileLeavesThePictureUnconverted)
{
    using TestProfiles::gridElement;
    TestPictures::TempFolder folder("costly");
    const RgbImage image = TestPictures::makePhotoLike(64, 48);
    const Bytes pairs = TestProfiles::multiProcessProfile(
        {gridElement(3, 15, 2), gridElement(15, 3, 2)}, {0, 1, 0, 1, 0, 1, 0, 1, 0, 1});
    const std::pair<const char*, Bytes> files[] = {
        {"/plain.png", encode(Format::Png, image, {})},
        {"/costly.png", encode(Format::Png, image, iccSpace(pairs))}};
    const TextureLayout high{SlideImage::TextureSize, true};
    SlideImage plain(high);
    SlideImage costly(high);
    for (const auto& [name, bytes] : files)
        std::ofstream(folder.path + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    plain.prepare(folder.path + "/plain.png");
    const auto start = std::chrono::steady_clock::now();
    costly.prepare(folder.path + "/costly.png");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_NE(costly.colourNote().find("more work"), std::string::npos) << costly.colourNote();
    EXPECT_EQ(differenceOf(costly, plain).largest, 0);
}

// A CMYK JPEG with its ink's profile goes through the profile when colours are managed (Adobe's
// inverted CMYK and YCCK as well as plain CMYK), and through the fixed formula otherwise or when
// the profile is not a CMYK one.
TEST(TrueColours, CmykThroughItsProfile)
{
    using Ink = std::array<int, 4>;
    const Ink patches[] = {{200, 0, 0, 0}, {0, 150, 60, 0}, {40, 90, 0, 80}, {0, 0, 0, 0}};
    constexpr int Side = 16;
    Bytes ink;
    for (int y = 0; y < Side; ++y)
        for (const Ink& patch : patches)
            for (int x = 0; x < Side; ++x)
                ink.insert(ink.end(), patch.begin(), patch.end());
    const auto light = [](int a, int b) { return (255 - a) * (255 - b) / 255; };
    const auto check = [&](const DecodedPicture& picture, bool throughProfile, const char* what) {
        ASSERT_TRUE(picture.readable) << what;
        for (std::size_t p = 0; p < std::size(patches); ++p) {
            const auto [c, m, yellow, k] = patches[p];
            const int expected[] = {light(throughProfile ? m : c, k),
                                    light(throughProfile ? c : m, k), light(yellow, k)};
            const std::uint8_t* pixel =
                picture.image.row(Side / 2).pixels + (p * Side + Side / 2) * 3;
            for (int channel = 0; channel < 3; ++channel)
                EXPECT_NEAR(pixel[channel], expected[channel], 6)
                    << what << ", patch " << p << ", channel " << channel;
        }
    };
    using TestPictures::CmykForm;
    const int width = Side * int(std::size(patches));
    for (const CmykForm form : {CmykForm::Plain, CmykForm::Adobe, CmykForm::AdobeYcck}) {
        const Bytes jpeg =
            TestPictures::encodeCmykJpeg(width, Side, ink, form, TestProfiles::swappedInkProfile());
        ColourTransformCache cache;
        PictureReadOptions managed;
        managed.colourTransforms = &cache;
        const DecodedPicture converted = readPictureData(PictureKind::Jpeg, jpeg, managed);
        check(converted, true, "through the profile");
        EXPECT_TRUE(converted.colourSpace.onScreen);
        EXPECT_EQ(cache.conversionFor(converted.colourSpace).conversion, nullptr);
        check(readPictureData(PictureKind::Jpeg, jpeg), false, "formula");
    }
    ColourTransformCache cache;
    PictureReadOptions managed;
    managed.colourTransforms = &cache;
    const DecodedPicture wrong =
        readPictureData(PictureKind::Jpeg,
                        TestPictures::encodeCmykJpeg(width, Side, ink, CmykForm::Adobe,
                                                     TestProfiles::swapProfile()),
                        managed);
    check(wrong, false, "RGB profile on CMYK");
    EXPECT_NE(wrong.colourSpace.note, "");
}

// CIELab TIFFs are decoded through Little CMS in every mode: sRGB colours stored as Lab (8-bit
// L, whole a and b) come back as themselves (libtiff's own conversion is several levels off).
TEST(TrueColours, LabTiff)
{
    // L scaled to 0..255, a and b signed.
    const int lab[][3] = {{121, 55, 45}, {166, -49, 35}, {90, 29, -71}, {128, 0, 0}};
    const int expected[][3] = {{200, 61, 40}, {60, 180, 91}, {51, 70, 200}, {119, 119, 119}};
    Bytes pixels;
    for (const auto& colour : lab)
        for (int value : colour)
            pixels.push_back(std::uint8_t(value));
    const Bytes tiff = FormatPictures::labTiff(4, 1, pixels);
    ColourTransformCache swapScreen;
    swapScreen.setDisplayProfile(TestProfiles::swapProfile());
    PictureReadOptions high;
    high.colourTransforms = &swapScreen;
    for (const bool managed : {false, true}) {
        const DecodedPicture picture =
            readPictureData(PictureKind::Tiff, tiff, managed ? high : PictureReadOptions{});
        ASSERT_TRUE(picture.readable);
        EXPECT_TRUE(picture.colourSpace.onScreen);
        for (int p = 0; p < 4; ++p) {
            for (int c = 0; c < 3; ++c) {
                // On the swapped screen red and green trade places.
                const int channel = managed && c < 2 ? 1 - c : c;
                EXPECT_NEAR(picture.image.pixels[std::size_t(p * 3 + channel)], expected[p][c], 2)
                    << "colour " << p << ", channel " << c << (managed ? ", swapped screen" : "");
            }
        }
    }
}

} // namespace
