#include "scene/camerapaths.h"
#include "scene/mipchain.h"
#include "scene/slideimage.h"
#include "scene/texturesize.h"
#include "tests/support/testpictures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace {

// The texel (x, y) of level `level`, counted from the bottom-left.
std::array<int, 3> texel(const SlideImage& slide, int level, int x, int y)
{
    const TextureLayout& layout = slide.layout();
    const std::uint8_t* p = slide.texturePixels() + layout.levelOffset(level) +
                            (std::size_t(y) * std::size_t(layout.levelSize(level)) + x) * 3;
    return {p[0], p[1], p[2]};
}

} // namespace

// One texel per device pixel where the picture is held: the screens of the table, the same
// screens at other device pixel ratios, and the driver's limit.
TEST(HighQualityTextureSize, FollowsTheDevicePixelsOfTheWindow)
{
    const CameraPaths paths;
    struct Case
    {
        int width;
        int height;
        double ratio;
        int maxTexture;
        int expected;
    };
    const Case cases[] = {
        {1920, 1080, 1.0, 16384, 1024}, {2560, 1440, 1.0, 16384, 2048},
        {3840, 2160, 1.0, 16384, 2048}, {5120, 2880, 1.0, 16384, 4096},
        {1920, 1080, 2.0, 16384, 2048}, {2560, 1440, 1.5, 16384, 2048},
        {2560, 1440, 2.0, 16384, 4096}, {1280, 720, 1.0, 16384, 1024},
        {7680, 4320, 1.0, 16384, 4096}, {5120, 2880, 1.0, 2048, 2048},
        {3840, 2160, 1.0, 512, 1024},   {1080, 1920, 1.0, 16384, 2048},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseTextureSize(c.width, c.height, c.ratio, c.maxTexture, paths), c.expected)
            << c.width << "x" << c.height << " at " << c.ratio << ", limit " << c.maxTexture;
    // The held picture at 1920 x 1080 covers 958 of its 1024 units' width.
    EXPECT_NEAR(heldPixelsPerUnit(1920, 1080, paths) * 1024, 958, 1);
    // Half a level sharper where the held picture falls between levels: 2048 texels on 1277
    // pixels at 2560 x 1440; hardly any at 1920 x 1080 and 3840 x 2160; none when magnified.
    EXPECT_NEAR(heldLevelBias(2048, 2560, 1440, paths), -0.34, 0.01);
    EXPECT_NEAR(heldLevelBias(1024, 1920, 1080, paths), -0.05, 0.01);
    EXPECT_NEAR(heldLevelBias(2048, 3840, 2160, paths), -0.05, 0.01);
    EXPECT_EQ(heldLevelBias(1024, 3840, 2160, paths), 0.0f);
}

// A 4 x 4 picture's levels: each texel the rounded mean of the four above it.
TEST(HighQualityMipChain, EachLevelIsTheRoundedFourByFourMeanOfTheOneAbove)
{
    const TextureLayout layout{4, true};
    ASSERT_EQ(layout.levelCount(), 3);
    EXPECT_EQ(layout.levelOffset(1), 48u);
    EXPECT_EQ(layout.levelOffset(2), 60u);
    EXPECT_EQ(layout.bytes(), 63u);
    EXPECT_EQ((TextureLayout{1024, true}.levelCount()), 11);
    EXPECT_EQ((TextureLayout{1024, false}.bytes()), SlideImage::TextureBytes);

    std::vector<std::uint8_t> chain(layout.bytes(), 7);
    // Level 0: red runs 0, 10, 20, ... 150 texel by texel; green is 255 in the left half and 0
    // in the right; blue 1 except one texel of 2.
    for (int i = 0; i < 16; ++i) {
        chain[std::size_t(i) * 3] = std::uint8_t(i * 10);
        chain[std::size_t(i) * 3 + 1] = i % 4 < 2 ? 255 : 0;
        chain[std::size_t(i) * 3 + 2] = i == 5 ? 2 : 1;
    }
    buildMipLevels(chain, layout);
    // Level 1, bottom row first: texel (0,0) is the mean of rows 0,0,1,2 and columns 0,0,1,2 of
    // level 0 (the edge repeats): red (2 x (0+0+10+20) + 40+40+50+60 + 80+80+90+100) / 16 = 37.5
    // rounds to 38; green 3 of 4 columns at 255 gives 191; a one-texel pattern that a 2 x 2 mean
    // would keep does not survive.
    const std::vector<std::uint8_t> level1(chain.begin() + 48, chain.begin() + 60);
    EXPECT_EQ(level1, (std::vector<std::uint8_t>{38, 191, 1, 53, 64, 1, 98, 191, 1, 113, 64, 1}));
    const std::vector<std::uint8_t> level2(chain.begin() + 60, chain.end());
    EXPECT_EQ(level2, (std::vector<std::uint8_t>{76, 128, 1}));
}

// The picture's last column and top row are repeated over the rest of the image; an empty
// picture leaves it alone.
TEST(HighQualityMipChain, EdgeExtensionRepeatsTheLastColumnAndTheTopRow)
{
    constexpr int Size = 8;
    std::vector<std::uint8_t> image(Size * Size * 3, 255);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                image[std::size_t((y * Size + x) * 3 + c)] = std::uint8_t(10 * y + x + c);
    std::vector<std::uint8_t> untouched = image;
    extendPictureEdges(untouched, Size, 0, 3);
    EXPECT_EQ(untouched, image);

    extendPictureEdges(image, Size, 5, 3);
    const auto at = [&](int x, int y, int c) { return image[std::size_t((y * Size + x) * 3 + c)]; };
    for (int y = 0; y < Size; ++y) {
        for (int x = 0; x < Size; ++x) {
            const int fromY = std::min(y, 2);
            const int fromX = std::min(x, 4);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(at(x, y, c), 10 * fromY + fromX + c) << x << "," << y;
        }
    }
}

// The unsharp mask rounds to the nearest level and keeps a black and white edge at 0 and 255
// instead of letting it run past them.
TEST(HighQualityMipChain, SharpeningRoundsAndClampsToTheLevelsRange)
{
    const TextureLayout layout{4, false};
    std::vector<std::uint8_t> level(layout.bytes(), 100);
    const auto at = [&](int x, int y, int c) -> std::uint8_t& {
        return level[std::size_t((y * 4 + x) * 3 + c)];
    };
    at(1, 1, 0) = 116;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            at(x, y, 1) = x < 2 ? 0 : 255;
    sharpenLevels(level, layout, 0.375f);
    EXPECT_EQ(at(1, 1, 0), 121); // 116 + 0.375 * (116 - 104) = 120.5
    EXPECT_EQ(at(0, 1, 0), 99);  // 100 + 0.375 * (100 - 102) = 99.25
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(at(1, y, 1), 0) << y;
        EXPECT_EQ(at(2, y, 1), 255) << y;
    }
}

// A high quality texture shows the same picture in the same place with four times the texels
// of QUALITY=DESIGN's at 2048, and no white from the texture's unused part reaches any level: a
// picture without green keeps every texel of every level free of it. A uniform picture keeps
// its exact colour on every level, sharpening included.
TEST(HighQualitySlide, SamePlaceMoreTexelsAndNoWhiteAtAnyLevel)
{
    const RgbImage picture = TestPictures::makeImage(400, 300, [](int, int y) {
        return y < 150 ? std::array{200, 0, 40} : std::array{20, 0, 180};
    });
    SlideImage design;
    design.prepareFromImage(picture);
    SlideImage high(TextureLayout{2048, true});
    high.prepareFromImage(picture);
    EXPECT_EQ(high.placement(), design.placement());
    ASSERT_EQ(design.imageHeight(), 768);

    // The upper half of the picture (red) lies above row 384 of 768 in 1024-texel units.
    EXPECT_EQ(texel(high, 0, 1000, 2 * 600), (std::array{200, 0, 40}));
    EXPECT_EQ(texel(high, 0, 1000, 2 * 100), (std::array{20, 0, 180}));
    EXPECT_EQ(texel(design, 0, 500, 600), (std::array{200, 0, 40}));

    const TextureLayout& layout = high.layout();
    ASSERT_EQ(layout.levelCount(), 12);
    for (int level = 0; level < layout.levelCount(); ++level) {
        const std::size_t begin = layout.levelOffset(level);
        const std::size_t end = layout.levelOffset(level + 1);
        for (std::size_t i = begin + 1; i < end; i += 3)
            ASSERT_EQ(high.texturePixels()[i], 0) << "level " << level << " byte " << i - begin;
    }
    // Above the picture, the top row repeats: red, not white.
    EXPECT_EQ(texel(high, 0, 10, 2040), (std::array{200, 0, 40}));

    SlideImage uniform(TextureLayout{1024, true});
    uniform.prepareFromImage(TestPictures::makeImage(64, 64, [](int, int) {
        return std::array{90, 140, 33};
    }));
    for (int level = 0; level < uniform.layout().levelCount(); ++level) {
        const int edge = uniform.layout().levelSize(level);
        EXPECT_EQ(texel(uniform, level, edge - 1, edge - 1), (std::array{90, 140, 33}));
        EXPECT_EQ(texel(uniform, level, 0, 0), (std::array{90, 140, 33}));
    }
}
