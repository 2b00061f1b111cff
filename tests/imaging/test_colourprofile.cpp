#include "imaging/colourprofile.h"

#include "tests/support/testprofiles.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <stop_token>
#include <thread>
#include <vector>

namespace {

using Pixel = std::array<std::uint8_t, 3>;
using TestProfiles::cicpSpace;
using TestProfiles::gridElement;
using TestProfiles::iccSpace;
using TestProfiles::multiProcessProfile;
using TestProfiles::repeated;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Pixel convert(const ColourConversion& conversion, Pixel pixel)
{
    conversion.apply(pixel.data(), 1);
    return pixel;
}

void expectNear(Pixel actual, Pixel expected, int tolerance)
{
    for (int c = 0; c < 3; ++c)
        EXPECT_LE(std::abs(actual[c] - expected[c]), tolerance)
            << "channel " << c << ": " << int{actual[c]} << " for " << int{expected[c]};
}

// The conversion core against colours worked out by hand: the swap profile gives back what it
// swapped, and Display P3's (200, 100, 50) is sRGB's (215, 93, 31), whether the P3 comes as an
// ICC profile or as CICP. Colour spaces that need nothing get no conversion and no note.
TEST(ColourProfile, ConvertsToSrgbAndLeavesSrgbAlone)
{
    ColourTransformCache cache;
    const auto swap = cache.conversionFor(iccSpace(TestProfiles::swapProfile()));
    ASSERT_TRUE(swap.conversion) << swap.note;
    for (int r = 0; r < 256; r += 51)
        for (int g = 0; g < 256; g += 51)
            expectNear(convert(*swap.conversion, {Pixel::value_type(g), Pixel::value_type(r), 77}),
                       {Pixel::value_type(r), Pixel::value_type(g), 77}, 1);

    const PictureColourSpace p3Spaces[] = {iccSpace(TestProfiles::displayP3Profile()),
                                           cicpSpace(12, 13)};
    for (const PictureColourSpace& p3 : p3Spaces) {
        const auto lookup = cache.conversionFor(p3);
        ASSERT_TRUE(lookup.conversion) << lookup.note;
        expectNear(convert(*lookup.conversion, {200, 100, 50}), {215, 93, 31}, 2);
        expectNear(convert(*lookup.conversion, {128, 128, 128}), {128, 128, 128}, 1);
    }

    // A linear grey profile on grey pixels: 128 is half the light, sRGB's 188.
    PictureColourSpace grey = iccSpace(TestProfiles::greyProfile(1.0));
    grey.greyPixels = true;
    const auto linearGrey = cache.conversionFor(grey);
    ASSERT_TRUE(linearGrey.conversion) << linearGrey.note;
    expectNear(convert(*linearGrey.conversion, {128, 128, 128}), {188, 188, 188}, 1);

    const PictureColourSpace plain[] = {
        {}, iccSpace(TestProfiles::srgbProfile()), cicpSpace(1, 13), cicpSpace(2, 2)};
    for (const PictureColourSpace& space : plain) {
        const auto lookup = cache.conversionFor(space);
        EXPECT_FALSE(lookup.conversion);
        EXPECT_EQ(lookup.note, "");
    }
}

// Whatever is wrong with a colour space costs the conversion, never more, and says why.
TEST(ColourProfile, BadProfilesGiveNoConversionAndANote)
{
    ColourTransformCache cache;
    std::vector<std::uint8_t> truncated = TestProfiles::swapProfile();
    truncated.resize(truncated.size() / 2);
    std::vector<std::uint8_t> oversized = TestProfiles::swapProfile();
    oversized.resize(MaxProfileBytes + 1);
    std::vector<std::uint8_t> garbage(500, 0x5a);
    std::vector<std::uint8_t> badCurve = TestProfiles::swapProfile();
    badCurve[36] = 'x'; // the header's signature
    const PictureColourSpace bad[] = {iccSpace(truncated),
                                      iccSpace(oversized),
                                      iccSpace(garbage),
                                      iccSpace(badCurve),
                                      iccSpace(TestProfiles::greyProfile()),
                                      cicpSpace(22, 13),
                                      cicpSpace(1, 16)};
    for (const PictureColourSpace& space : bad) {
        const auto lookup = cache.conversionFor(space);
        EXPECT_FALSE(lookup.conversion);
        EXPECT_NE(lookup.note, "");
        EXPECT_EQ(cache.conversionFor(space).note, lookup.note);
    }
    EXPECT_NE(cache.setDisplayProfile(TestProfiles::greyProfile()), "");
    EXPECT_FALSE(cache.conversionFor({}).conversion);
}

// A display profile becomes the target of every picture, untagged ones too; conversions are
// kept by profile and forgotten when the target changes.
TEST(ColourProfile, DisplayProfileAndCache)
{
    ColourTransformCache cache;
    // Plain and inverted ink of one profile are two conversions: no ink in one is full ink in
    // the other.
    const std::vector<std::uint8_t> ink = TestProfiles::swappedInkProfile();
    const auto plainInk = cache.cmykConversionFor(ink, false).conversion;
    const auto invertedInk = cache.cmykConversionFor(ink, true).conversion;
    ASSERT_TRUE(plainInk && invertedInk);
    const std::uint8_t noInk[4] = {0, 0, 0, 0};
    Pixel paper{};
    plainInk->apply(noInk, paper.data(), 1);
    expectNear(paper, {255, 255, 255}, 2);
    invertedInk->apply(noInk, paper.data(), 1);
    expectNear(paper, {0, 0, 0}, 40);

    const auto first = cache.conversionFor(iccSpace(TestProfiles::adobeRgbProfile()));
    EXPECT_EQ(cache.conversionFor(iccSpace(TestProfiles::adobeRgbProfile())).conversion,
              first.conversion);

    EXPECT_EQ(cache.setDisplayProfile(TestProfiles::swapProfile()), "");
    const auto untagged = cache.conversionFor({});
    ASSERT_TRUE(untagged.conversion);
    expectNear(convert(*untagged.conversion, {10, 200, 90}), {200, 10, 90}, 1);
    EXPECT_NE(cache.conversionFor(iccSpace(TestProfiles::adobeRgbProfile())).conversion,
              first.conversion);
    // A picture in the screen's own space needs nothing.
    EXPECT_FALSE(cache.conversionFor(iccSpace(TestProfiles::swapProfile())).conversion);

    // Older conversions give way to newer ones, a few kept.
    const std::vector<std::uint8_t> profiles[] = {
        TestProfiles::adobeRgbProfile(), TestProfiles::proPhotoProfile(),
        TestProfiles::rec2020Profile(), TestProfiles::displayP3Profile(),
        TestProfiles::srgbProfile()};
    const auto kept = cache.conversionFor(iccSpace(profiles[0])).conversion;
    for (const auto& profile : profiles)
        cache.conversionFor(iccSpace(profile));
    EXPECT_NE(cache.conversionFor(iccSpace(profiles[0])).conversion, kept);
}

// Workers convert while the display profile changes (run under ThreadSanitizer too).
TEST(ColourProfile, SharedBetweenThreads)
{
    ColourTransformCache cache;
    const std::vector<std::uint8_t> profiles[] = {TestProfiles::adobeRgbProfile(),
                                                  TestProfiles::displayP3Profile()};
    std::vector<std::thread> workers;
    for (const auto& profile : profiles) {
        workers.emplace_back([&cache, &profile] {
            std::vector<std::uint8_t> pixels(3000, 128);
            for (int i = 0; i < 20; ++i) {
                if (const auto lookup = cache.conversionFor(iccSpace(profile)); lookup.conversion)
                    lookup.conversion->apply(pixels.data(), pixels.size() / 3);
            }
        });
    }
    for (int i = 0; i < 5; ++i)
        cache.setDisplayProfile(i % 2 ? TestProfiles::swapProfile() : std::vector<std::uint8_t>{});
    for (std::thread& worker : workers)
        worker.join();
}

// Colour tables written as a hostile file writes them, one element's data named by many entries
// of a multi-process table: each is refused before it is built, with a note, whether it comes
// as a picture's profile, a CMYK one or the screen's. Built, the pairs through a grid of 15
// inputs took 5 s each; the 150 grids took 1.7 GB in allocations of 4 MB; the curves 400 MB;
// and the first untagged picture on a screen with the pairs came after 25 s. So is a lut16
// table whose grid would hold more points than its profile can. A table about as costly as is
// taken still converts.
TEST(ColourProfile, CostlyTablesAreRefusedBeforeTheyAreBuilt)
{
    const std::vector<int> fivePairs = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1};
    const std::vector<std::uint8_t> pairs =
        multiProcessProfile({gridElement(3, 15, 2), gridElement(15, 3, 2)}, fivePairs);
    // Elements Little CMS reads and skips; a position table far longer than any real one.
    const std::vector<std::uint8_t> skipped = {'b', 'A', 'C', 'S', 0, 0, 0, 0, 0, 3, 0, 3};
    const std::vector<std::uint8_t> costly[] = {
        pairs,
        multiProcessProfile({gridElement(3, 3, 69)}, repeated(0, 150)),
        multiProcessProfile({TestProfiles::sampledCurvesElement(900000)}, repeated(0, 12)),
        TestProfiles::lut16Profile(4, 40),
        multiProcessProfile({skipped}, repeated(0, 300)),
    };
    ColourTransformCache cache;
    for (const auto& profile : costly) {
        const auto start = Clock::now();
        const auto lookup = cache.conversionFor(iccSpace(profile));
        EXPECT_LT(Clock::now() - start, 1500ms);
        EXPECT_FALSE(lookup.conversion);
        EXPECT_NE(lookup.note.find("more work"), std::string::npos) << lookup.note;
    }
    const auto ink = cache.cmykConversionFor(
        multiProcessProfile({gridElement(4, 15, 2), gridElement(15, 3, 2)}, fivePairs, true), true);
    EXPECT_FALSE(ink.conversion);
    EXPECT_NE(ink.note.find("more work"), std::string::npos) << ink.note;

    // The screen's profile is refused when it is set; pictures then go out as sRGB at once.
    const auto start = Clock::now();
    EXPECT_NE(cache.setDisplayProfile(pairs).find("more work"), std::string::npos);
    EXPECT_FALSE(cache.conversionFor({}).conversion);
    EXPECT_TRUE(cache.conversionFor(iccSpace(TestProfiles::displayP3Profile())).conversion);
    EXPECT_LT(Clock::now() - start, 3s);

    const std::vector<std::uint8_t> bounded = multiProcessProfile(
        {TestProfiles::sampledCurvesElement(256), gridElement(3, 7, 2), gridElement(7, 3, 2)},
        {0, 1, 2, 1, 2});
    const auto taken = cache.conversionFor(iccSpace(bounded));
    EXPECT_TRUE(taken.conversion) << taken.note;
    EXPECT_EQ(cache.setDisplayProfile(bounded), "");
    EXPECT_TRUE(cache.conversionFor({}).conversion);
}

// Once a stop is requested no build starts, and the conversion not made is not kept as refused:
// the next picture in that colour space gets it.
TEST(ColourProfile, StoppedBuildIsNotKept)
{
    ColourTransformCache cache;
    std::stop_source stopped;
    stopped.request_stop();
    const PictureColourSpace adobe = iccSpace(TestProfiles::adobeRgbProfile());
    const auto before = cache.conversionFor(adobe, stopped.get_token());
    EXPECT_FALSE(before.conversion);
    EXPECT_EQ(before.note, "");
    EXPECT_TRUE(cache.conversionFor(adobe).conversion);
    EXPECT_FALSE(
        cache.cmykConversionFor(TestProfiles::swappedInkProfile(), false, stopped.get_token())
            .conversion);
}

// Every pair of the CICP primaries and transfers known here makes a profile; others make none.
TEST(ColourProfile, CicpProfiles)
{
    for (const int primaries : {1, 9, 11, 12})
        for (const int transfer : {1, 4, 5, 6, 8, 13, 14, 15})
            EXPECT_TRUE(profileForCicp({primaries, transfer})) << primaries << " " << transfer;
    EXPECT_FALSE(profileForCicp({5, 13}));
    EXPECT_FALSE(profileForCicp({1, 18}));
}

} // namespace
