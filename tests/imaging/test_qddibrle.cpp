// The bitmap reader's run-length records, 8 and 4 bits per pixel.
#include "tests/imaging/qddibtest.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace QdDibTest;

TEST(QdDib, RunLength8DecodesEveryRecordKind)
{
    InfoBmp bmp{.width = 4, .height = 3, .bitCount = 8, .compression = 1, .palette = kFourColours};
    bmp.pixels = {
        3, 1,             // run of three greens
        0, 0,             // end of line
        0, 2, 0, 1,       // delta: up one line, leaving the middle line empty
        0, 3, 2, 3, 1, 0, // literal blue white green, padded to 16 bits
        1, 0,             // run of one red
        0, 1,             // end of bitmap
        4, 3,             // never reached
    };
    const RgbImage image = decode(bmp.build());
    // The line the delta skips is black without being stored.
    EXPECT_EQ(image.storedRows.size(), 2u);
    const Rgb expected[3][4] = {
        {kBlue, kWhite, kGreen, kRed},
        {kBlack, kBlack, kBlack, kBlack},
        {kGreen, kGreen, kGreen, kBlack},
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(image, x, y), expected[y][x]) << x << "," << y;
}

// A long stream stops once the stop is asked for, as the uncompressed rows do.
TEST(QdDib, RunLengthDecodingStopsWhenAsked)
{
    InfoBmp bmp{
        .width = 5000, .height = 1, .bitCount = 8, .compression = 1, .palette = kFourColours};
    for (int i = 0; i < 5000; ++i)
        bmp.pixels.insert(bmp.pixels.end(), {1, 1});
    QdDib dib;
    dib.loadFromBytes(bmp.build());
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(dib.toRgbImage(stop.get_token()), PictureWorkStopped);
    EXPECT_EQ(pixelAt(dib.toRgbImage(), 4999, 0), kGreen);
}

TEST(QdDib, RunLength4DecodesEveryRecordKind)
{
    InfoBmp bmp{.width = 4, .height = 3, .bitCount = 4, .compression = 2, .palette = kFourColours};
    bmp.pixels = {
        5, 0x01,             // run alternating red green, clipped at the line's end
        0, 0,                // end of line
        0, 2,    2,    1,    // delta: right 2, up 1
        0, 3,    0x32, 0x10, // literal white blue green, three nibbles in two bytes
        // The data ends here without an end of bitmap.
    };
    const RgbImage image = decode(bmp.build());
    const Rgb expected[3][4] = {
        {kBlack, kBlack, kWhite, kBlue},
        {kBlack, kBlack, kBlack, kBlack},
        {kRed, kGreen, kRed, kGreen},
    };
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(image, x, y), expected[y][x]) << x << "," << y;
}

TEST(QdDib, RunsThatEndExactlyAtTheEndOfTheDataAreDrawnWhole)
{
    // Each stream draws red, green, blue, white... in some order, and its last record, a literal
    // or a run, ends with the data itself: no end of line, no end of bitmap, no byte to spare.
    const struct
    {
        std::uint16_t bitCount;
        Bytes pixels;
        Rgb expected[4];
    } cases[] = {
        {8, {0, 4, 3, 2, 1, 0}, {kWhite, kBlue, kGreen, kRed}},
        {8, {0, 3, 1, 2, 3, 0, 1, 0}, {kGreen, kBlue, kWhite, kRed}},
        {4, {0, 4, 0x32, 0x10}, {kWhite, kBlue, kGreen, kRed}},
        {4, {0, 3, 0x32, 0x10, 1, 0x00}, {kWhite, kBlue, kGreen, kRed}},
    };
    for (const auto& c : cases) {
        InfoBmp bmp{.width = 4,
                    .height = 1,
                    .bitCount = c.bitCount,
                    .compression = c.bitCount == 8 ? 1u : 2u,
                    .palette = kFourColours,
                    .pixels = c.pixels};
        const RgbImage image = decode(bmp.build());
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(pixelAt(image, x, 0), c.expected[x])
                << "RLE" << c.bitCount << " stream of " << c.pixels.size() << " bytes, x " << x;
    }
}

TEST(QdDib, RunLengthEdgeCasesStayInsideThePicture)
{
    // A top-down run-length file has no defined form and shows black.
    InfoBmp topDown{
        .width = 2, .height = -2, .bitCount = 8, .compression = 1, .palette = kFourColours};
    topDown.pixels = {2, 3, 0, 0, 2, 3, 0, 1};
    const RgbImage black = decode(topDown.build());
    EXPECT_EQ(pixelAt(black, 0, 0), kBlack);
    EXPECT_EQ(pixelAt(black, 1, 1), kBlack);

    // A run clipped at the line's end, a literal wholly outside it, then a delta past the top.
    InfoBmp wild{.width = 2, .height = 1, .bitCount = 8, .compression = 1, .palette = kFourColours};
    wild.pixels = {255, 1, 0, 5, 3, 3, 3, 3, 3, 0, 0, 2, 200, 200, 2, 2};
    const RgbImage clipped = decode(wild.build());
    EXPECT_EQ(pixelAt(clipped, 0, 0), kGreen);
    EXPECT_EQ(pixelAt(clipped, 1, 0), kGreen);

    // A 16384 x 16384 picture whose data ends at once costs no rows at all.
    InfoBmp empty{.width = 16384,
                  .height = 16384,
                  .bitCount = 8,
                  .compression = 1,
                  .palette = kFourColours,
                  .pixels = {0, 1}};
    const RgbImage nothing = decode(empty.build());
    EXPECT_TRUE(nothing.storedRows.empty());
    EXPECT_EQ(pixelAt(nothing, 16383, 0), kBlack);

    // A literal cut off by the end of the data draws what is there.
    wild.pixels = {0, 9, 2};
    const RgbImage cut = decode(wild.build());
    EXPECT_EQ(pixelAt(cut, 0, 0), kBlue);
    EXPECT_EQ(pixelAt(cut, 1, 0), kBlack);
}

} // namespace
