// The bitmap reader: headers, colour tables, pixel layouts, refusals and files on disk.
#include "tests/imaging/qddibtest.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace QdDibTest;
TEST(QdDib, NewReaderHoldsOneBlackPixel)
{
    QdDib dib;
    EXPECT_EQ(dib.width(), 1);
    EXPECT_EQ(dib.height(), 1);
    const RgbImage image = dib.toRgbImage();
    ASSERT_EQ(image.pixels.size(), 3u);
    EXPECT_EQ(pixelAt(image, 0, 0), kBlack);
}

TEST(QdDib, TwentyFourBitRowsArePaddedAndStoredBottomUp)
{
    // 3 x 2 pixels: 9 pixel bytes and 3 padding bytes a row, 24 bytes of pixel data.
    InfoBmp bmp{.width = 3, .height = 2, .bitCount = 24};
    bmp.pixels = {0,   0,   255, 0, 255, 0, 255, 0,  0,  9, 9, 9,  // bottom: red green blue
                  255, 255, 255, 0, 0,   0, 10,  20, 30, 9, 9, 9}; // top: white black (30,20,10)
    const Bytes file = bmp.build();
    ASSERT_EQ(file.size() - 54, 24u);
    const RgbImage image = decode(file);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(pixelAt(image, 0, 0), kWhite);
    EXPECT_EQ(pixelAt(image, 1, 0), kBlack);
    EXPECT_EQ(pixelAt(image, 2, 0), (Rgb{30, 20, 10}));
    EXPECT_EQ(pixelAt(image, 0, 1), kRed);
    EXPECT_EQ(pixelAt(image, 1, 1), kGreen);
    EXPECT_EQ(pixelAt(image, 2, 1), kBlue);

    // The same rows with a negative height are read top row first.
    bmp.height = -2;
    const RgbImage topDown = decode(bmp.build());
    EXPECT_EQ(topDown.height, 2);
    EXPECT_EQ(pixelAt(topDown, 0, 0), kRed);
    EXPECT_EQ(pixelAt(topDown, 2, 1), (Rgb{30, 20, 10}));
}

TEST(QdDib, IndexedPixelsAreLookedUpInTheColourTable)
{
    // 1 bit, 10 x 1: most significant bit first, 4-byte rows.
    InfoBmp oneBit{.width = 10, .height = 1, .bitCount = 1, .palette = {kBlack, kWhite}};
    oneBit.pixels = {0b10110000, 0b01000000, 0, 0};
    const RgbImage one = decode(oneBit.build());
    const int expectedBits[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(pixelAt(one, x, 0), expectedBits[x] ? kWhite : kBlack) << x;

    // 4 bits, 3 x 2 bottom-up, high nibble first.
    InfoBmp fourBit{.width = 3, .height = 2, .bitCount = 4, .palette = greyRamp(16)};
    fourBit.pixels = {0x12, 0x30, 0, 0, 0xAB, 0xC0, 0, 0};
    const RgbImage four = decode(fourBit.build());
    EXPECT_EQ(pixelAt(four, 0, 0), (Rgb{10, 10, 10}));
    EXPECT_EQ(pixelAt(four, 2, 0), (Rgb{12, 12, 12}));
    EXPECT_EQ(pixelAt(four, 1, 1), (Rgb{2, 2, 2}));

    // 8 bits, top-down: the first stored row is the top row.
    InfoBmp eightBit{.width = 2, .height = -2, .bitCount = 8, .palette = kFourColours};
    eightBit.pixels = {0, 1, 0, 0, 2, 3, 0, 0};
    const RgbImage eight = decode(eightBit.build());
    EXPECT_EQ(eight.height, 2);
    EXPECT_EQ(pixelAt(eight, 0, 0), kRed);
    EXPECT_EQ(pixelAt(eight, 1, 0), kGreen);
    EXPECT_EQ(pixelAt(eight, 0, 1), kBlue);
    EXPECT_EQ(pixelAt(eight, 1, 1), kWhite);
}

TEST(QdDib, ShortColourTablesAndMissingDataShowBlack)
{
    // biClrUsed 4 on 8 bits: index 200 lies beyond the table.
    InfoBmp bmp{.width = 3, .height = 2, .bitCount = 8, .clrUsed = 4, .palette = kFourColours};
    // Only the bottom row and one pixel of the top row are present.
    bmp.pixels = {3, 200, 1, 0, 2};
    const RgbImage image = decode(bmp.build());
    EXPECT_EQ(pixelAt(image, 0, 1), kWhite);
    EXPECT_EQ(pixelAt(image, 1, 1), kBlack);
    EXPECT_EQ(pixelAt(image, 2, 1), kGreen);
    EXPECT_EQ(pixelAt(image, 0, 0), kBlue);
    EXPECT_EQ(pixelAt(image, 1, 0), kBlack);
    EXPECT_EQ(pixelAt(image, 2, 0), kBlack);

    // A few bytes that declare 15 million rows store only the rows they reach, at the bottom of
    // a bottom-up picture and at the top of a top-down one.
    for (const std::int32_t height : {15728642, -15728642}) {
        InfoBmp tall{.width = 10,
                     .height = height,
                     .bitCount = 1,
                     .palette = {kBlack, kWhite},
                     .pixels = {0xFF, 0xC0, 0, 0, 0x80}};
        const RgbImage picture = decode(tall.build());
        const int first = height > 0 ? 15728641 : 0;
        const int second = height > 0 ? first - 1 : 1;
        EXPECT_EQ(picture.storedRows.size(), 2u);
        EXPECT_EQ(pixelAt(picture, 9, first), kWhite);
        EXPECT_EQ(pixelAt(picture, 0, second), kWhite);
        EXPECT_EQ(pixelAt(picture, 1, second), kBlack);
        EXPECT_EQ(pixelAt(picture, 0, 7000000), kBlack);
    }

    // One row of 2^28 pixels (800 MB as RGB) from a few bytes, plain and run-length: only the
    // pixels the data draws are stored.
    InfoBmp plain{.width = 1 << 28,
                  .height = 1,
                  .bitCount = 1,
                  .palette = {kBlack, kWhite},
                  .pixels = Bytes(8, 0xA5)};
    InfoBmp runs{.width = 1 << 28,
                 .height = 1,
                 .bitCount = 8,
                 .compression = 1,
                 .palette = kFourColours,
                 .pixels = {5, 1, 0, 1}};
    for (const auto& [bmp, drawn] : {std::pair{plain, 64}, std::pair{runs, 5}}) {
        const RgbImage wide = decode(bmp.build());
        ASSERT_EQ(wide.storedRows.size(), 1u);
        EXPECT_EQ(wide.storedRows.at(0).count(), drawn);
        EXPECT_EQ(pixelAt(wide, drawn - 1, 0), drawn == 64 ? kWhite : kFourColours[1]);
        EXPECT_EQ(pixelAt(wide, drawn, 0), kBlack);
        EXPECT_EQ(pixelAt(wide, (1 << 28) - 1, 0), kBlack);
    }
}

TEST(QdDib, ColourTableOfMoreThan256EntriesKeepsTheFirst256)
{
    InfoBmp bmp{.width = 2, .height = 1, .bitCount = 8, .clrUsed = 300};
    bmp.palette = greyRamp(256);
    bmp.palette.resize(300, kRed); // the 44 entries beyond 256 are skipped
    bmp.pixels = {255, 7, 0, 0};
    const Bytes file = bmp.build();
    ASSERT_EQ(file.size(), 14u + 40 + 1200 + 4);
    const RgbImage image = decode(file);
    EXPECT_EQ(pixelAt(image, 0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(pixelAt(image, 1, 0), (Rgb{7, 7, 7}));

    // bfOffBits must cover all 300 declared entries.
    bmp.offBits = 14 + 40 + 1200 - 1;
    expectLoadError<EQdDIBInvalidDIB>(bmp.build(),
                                      "TQdInternalDIB.LoadFromFile: bfOffBits is too small");
}

TEST(QdDib, CoreHeaderFilesHaveThreeByteEntriesAndAreBottomUp)
{
    const RgbImage eight = decode(coreBmp(2, 2, 8, greyRamp(256), {10, 20, 0, 0, 30, 40, 0, 0}));
    EXPECT_EQ(pixelAt(eight, 0, 1), (Rgb{10, 10, 10}));
    EXPECT_EQ(pixelAt(eight, 1, 0), (Rgb{40, 40, 40}));

    const RgbImage mono = decode(coreBmp(2, 1, 1, {kRed, kBlue}, {0x40, 0, 0, 0}));
    EXPECT_EQ(pixelAt(mono, 0, 0), kRed);
    EXPECT_EQ(pixelAt(mono, 1, 0), kBlue);

    const RgbImage full = decode(coreBmp(1, 1, 24, {}, {1, 2, 3, 0}));
    EXPECT_EQ(pixelAt(full, 0, 0), (Rgb{3, 2, 1}));
}

Bytes sixteenBit(std::int32_t height, std::uint32_t compression,
                 std::optional<std::array<std::uint32_t, 3>> masks,
                 const std::vector<std::uint16_t>& values)
{
    // Two pixels a row, so each row is exactly 4 bytes.
    InfoBmp bmp{.width = 2, .height = height, .bitCount = 16, .compression = compression};
    bmp.masks = masks;
    for (std::uint16_t v : values)
        bmp.pixels.insert(bmp.pixels.end(),
                          {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)});
    return bmp.build();
}

TEST(QdDib, SixteenBitPixelsScaleEachChannelTo255)
{
    // Default 5-5-5: a 5-bit 1 aligns to 8, and (8 x 255) div 248 = 8.
    const RgbImage def = decode(sixteenBit(1, 0, std::nullopt, {0x7FFF, 0x0421}));
    EXPECT_EQ(pixelAt(def, 0, 0), kWhite);
    EXPECT_EQ(pixelAt(def, 1, 0), (Rgb{8, 8, 8}));

    // 5-6-5 bitfields: green shifts right by 3 (m = 252), blue left by 3 (m = 248).
    const std::array<std::uint32_t, 3> masks565{0xF800, 0x07E0, 0x001F};
    const RgbImage b565 = decode(sixteenBit(2, 3, masks565, {0xFFFF, 0x0020, 0xF800, 0x001F}));
    EXPECT_EQ(pixelAt(b565, 0, 1), kWhite);
    EXPECT_EQ(pixelAt(b565, 1, 1), (Rgb{0, 4, 0})); // (4 x 255) div 252
    EXPECT_EQ(pixelAt(b565, 0, 0), kRed);
    EXPECT_EQ(pixelAt(b565, 1, 0), kBlue);

    // Explicit 5-5-5 bitfields give the same colours as the defaults.
    const std::array<std::uint32_t, 3> masks555{0x7C00, 0x03E0, 0x001F};
    const RgbImage b555 = decode(sixteenBit(1, 3, masks555, {0x7C00, 0x0421}));
    EXPECT_EQ(pixelAt(b555, 0, 0), kRed);
    EXPECT_EQ(pixelAt(b555, 1, 0), (Rgb{8, 8, 8}));

    // A compression that is not BI_BITFIELDS falls back to the default masks.
    const RgbImage rle = decode(sixteenBit(1, 1, std::nullopt, {0x03E0, 0x001F}));
    EXPECT_EQ(pixelAt(rle, 0, 0), kGreen);
    EXPECT_EQ(pixelAt(rle, 1, 0), kBlue);
}

TEST(QdDib, DeepTopDownFilesKeepTheirRowOrder)
{
    const RgbImage image = decode(sixteenBit(-2, 0, std::nullopt, {0x7C00, 0, 0x001F, 0}));
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(pixelAt(image, 0, 0), kRed);
    EXPECT_EQ(pixelAt(image, 0, 1), kBlue);
}

TEST(QdDib, ThirtyTwoBitPixelsIgnoreBitsOutsideTheMasks)
{
    InfoBmp bmp{.width = 2, .height = 1, .bitCount = 32};
    // 0xFF112233 and 0x80FFFFFF: the alpha byte does not matter.
    bmp.pixels = {0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0x80};
    const RgbImage image = decode(bmp.build());
    EXPECT_EQ(pixelAt(image, 0, 0), (Rgb{0x11, 0x22, 0x33}));
    EXPECT_EQ(pixelAt(image, 1, 0), kWhite);

    // Bitfields with red in the low byte and a 4-bit green.
    bmp.compression = 3;
    bmp.masks = std::array<std::uint32_t, 3>{0xFF, 0xF000, 0xFF0000};
    const RgbImage swapped = decode(bmp.build());
    EXPECT_EQ(pixelAt(swapped, 0, 0), (Rgb{0x33, 0x22, 0x11}));
}

// Run-length streams of 4 x 3 pictures, bottom line first.
TEST(QdDib, HandOverRefusesBitCountsThatDoNotFitTheCompression)
{
    InfoBmp bmp{.width = 1, .height = 1, .bitCount = 24, .compression = 1, .pixels = {1, 2, 3, 0}};
    expectHandOverError<EQdDIBInvalidDIB>(bmp.build(),
                                          "TQdInternalDIB.GetPixelFormat: Invalid DIB(24Bit)");
    bmp = {.bitCount = 1, .compression = 2, .palette = {kBlack, kWhite}, .pixels = {0, 0, 0, 0}};
    expectHandOverError<EQdDIBInvalidDIB>(bmp.build(),
                                          "TQdInternalDIB.GetPixelFormat: Invalid DIB(1Bit)");
    bmp = {.bitCount = 4, .compression = 1, .palette = kFourColours, .pixels = {0, 0, 0, 0}};
    expectHandOverError<EQdDIBInvalidDIB>(bmp.build(),
                                          "TQdInternalDIB.GetPixelFormat: Invalid DIB(4Bit)");
    bmp = {.bitCount = 8,
           .compression = 3,
           .palette = kFourColours,
           .masks = std::array<std::uint32_t, 3>{1, 1, 1},
           .pixels = {0, 0, 0, 0}};
    expectHandOverError<EQdDIBInvalidDIB>(bmp.build(),
                                          "TQdInternalDIB.GetPixelFormat: Invalid DIB(8Bit)");
}

TEST(QdDib, MalformedHeadersAreRefusedWithTheirMessages)
{
    const std::string headerSize = "TQdInternalDIB.LoadFromStream: Invalid Bitmap Header Size";
    const std::string offBits = "TQdInternalDIB.LoadFromFile: bfOffBits is too small";
    const std::string dimensions = "TQdInternalDIB.LoadFromStream: Invalid Width or Height";
    const InfoBmp good{.width = 1, .height = 1, .bitCount = 24, .pixels = {1, 2, 3, 0}};

    expectLoadError<EStreamReadError>(Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0},
                                      "ストリームからの読み込みエラー");
    Bytes notBm = good.build();
    notBm[0] = 'M';
    expectLoadError<EQdDIBInvalidDIBFile>(notBm,
                                          "TQdInternalDIB.LoadFromFile: File type is invalid");

    for (std::uint32_t size : {108u, 124u, 64u, 0u}) {
        InfoBmp bmp = good;
        bmp.headerSize = size;
        expectLoadError<EQdDIBInvalidDIB>(bmp.build(), headerSize);
    }

    InfoBmp twoBit = good;
    twoBit.bitCount = 2;
    expectLoadError<EQdDIBInvalidDIB>(twoBit.build(),
                                      "TQdInternalDIB.LoadFromStream: Invalid BitCout");
    expectLoadError<EQdDIBInvalidDIB>(coreBmp(1, 1, 16, {}, {0, 0, 0, 0}),
                                      "TQdInternalDIB.LoadFromStream: Invalid BitCount");

    InfoBmp early = good;
    early.offBits = 53;
    expectLoadError<EQdDIBInvalidDIB>(early.build(), offBits);
    // With bitfields the three masks count too.
    InfoBmp fields{.width = 1,
                   .height = 1,
                   .bitCount = 16,
                   .compression = 3,
                   .masks = std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F},
                   .pixels = {0, 0, 0, 0},
                   .offBits = 65};
    expectLoadError<EQdDIBInvalidDIB>(fields.build(), offBits);
    // 2^30 declared entries end 4 GiB past the headers; a 32-bit sum would wrap to 54.
    InfoBmp wrapping = good;
    wrapping.clrUsed = 0x40000000;
    wrapping.palette = greyRamp(256);
    expectLoadError<EQdDIBInvalidDIB>(wrapping.build(), offBits);
    Bytes core = coreBmp(1, 1, 1, {kRed, kBlue}, {0, 0, 0, 0});
    core[10] = 14 + 12 + 5;
    expectLoadError<EQdDIBInvalidDIB>(core, offBits);

    for (auto [w, h] : {std::pair{0, 1}, {-3, 1}, {1, 0}, {1, INT32_MIN}}) {
        InfoBmp bmp = good;
        bmp.width = w;
        bmp.height = h;
        expectLoadError<EQdDIBInvalidDIB>(bmp.build(), dimensions);
    }
    expectLoadError<EQdDIBInvalidDIB>(coreBmp(0, 1, 24, {}, {0, 0, 0, 0}), dimensions);

    fields.offBits.reset();
    fields.masks = std::array<std::uint32_t, 3>{0x7C00, 0, 0x001F};
    expectLoadError<EQdDIBInvalidDIB>(fields.build(),
                                      "TQdInternalDIB.LoadFromStream: Invalid Masks");
}

TEST(QdDib, DataMissingFromTheFileIsAReadErrorNotAnAllocation)
{
    const std::string readError = "ストリームからの読み込みエラー";
    InfoBmp bmp{.width = 1, .height = 1, .bitCount = 24, .pixels = {1, 2, 3, 0}};

    // bfSize claims 4 GB on a file of 58 bytes.
    bmp.fileSize = 0xFFFFFFF0;
    expectLoadError<EStreamReadError>(bmp.build(), readError);

    // Pixel data that starts beyond the end of the file.
    bmp.offBits = 1000;
    bmp.fileSize = 1004;
    expectLoadError<EStreamReadError>(bmp.build(), readError);

    // A colour table cut short.
    Bytes table = InfoBmp{.bitCount = 8, .palette = greyRamp(256), .pixels = {0, 0, 0, 0}}.build();
    table.resize(54 + 500);
    expectLoadError<EStreamReadError>(table, readError);

    // 16-bit rows are read from the file: 1000 x 1000 pixels with 4 bytes present.
    InfoBmp deep{.width = 1000, .height = 1000, .bitCount = 16, .pixels = {0, 0, 0, 0}};
    expectLoadError<EStreamReadError>(deep.build(), readError);
}

TEST(QdDib, EmptyPixelDataAndHugePicturesAreOutOfResources)
{
    const std::string noMapping = "GetMemory: Cannot Make File Mapping Object";
    InfoBmp bmp{.width = 1, .height = 1, .bitCount = 24, .pixels = {1, 2, 3, 0}};
    bmp.fileSize = 54; // bfSize equal to bfOffBits: no pixel data
    expectLoadError<EOutOfResources>(bmp.build(), noMapping);
    bmp.fileSize = 10; // smaller: a negative length
    expectLoadError<EOutOfResources>(bmp.build(), noMapping);

    // A run-length picture may legitimately be far larger than its data, but one of 10^10
    // pixels is refused at load, before its data is read or any buffer is made for it.
    InfoBmp huge{.width = 100000,
                 .height = 100000,
                 .bitCount = 8,
                 .compression = 1,
                 .palette = kFourColours,
                 .pixels = {0, 1}};
    expectLoadError<EOutOfResources>(huge.build(), noMapping);
    huge = {.width = 100000, .height = -100000, .bitCount = 16, .pixels = {0, 0, 0, 0}};
    expectLoadError<EOutOfResources>(huge.build(), noMapping);
}

TEST(QdDib, FailedLoadKeepsTheHeldPicture)
{
    QdDib dib;
    InfoBmp bmp{.width = 2, .height = 1, .bitCount = 24, .pixels = {0, 0, 255, 255, 0, 0, 0, 0}};
    dib.loadFromBytes(bmp.build());
    bmp.width = 0;
    EXPECT_THROW(dib.loadFromBytes(bmp.build()), EQdDIBError);
    bmp.width = 5;
    bmp.fileSize = 0x7FFFFFFF;
    EXPECT_THROW(dib.loadFromBytes(bmp.build()), EStreamReadError);
    ASSERT_EQ(dib.width(), 2);
    const RgbImage image = dib.toRgbImage();
    EXPECT_EQ(pixelAt(image, 0, 0), kRed);
    EXPECT_EQ(pixelAt(image, 1, 0), kBlue);
}

class QdDibFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qddib-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (m_folder / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::filesystem::path m_folder;
};

TEST_F(QdDibFileTest, LoadsAFileAndReportsOnesThatCannotBeOpened)
{
    InfoBmp bmp{.width = 1, .height = 1, .bitCount = 24, .pixels = {1, 2, 3, 0}};
    const std::string path = write("写真.bmp", bmp.build());
    QdDib dib;
    dib.loadFromFile(path);
    EXPECT_EQ(pixelAt(dib.toRgbImage(), 0, 0), (Rgb{3, 2, 1}));

    const std::string missing = (m_folder / "missing.bmp").string();
    expectError<EFileOpenError>([&] { dib.loadFromFile(missing); },
                                "ファイル \"" + missing + "\". " + std::strerror(ENOENT) +
                                    " は開けません");
    expectError<EFileOpenError>([&] { dib.loadFromFile(m_folder.string()); },
                                "ファイル \"" + m_folder.string() + "\". " + std::strerror(EISDIR) +
                                    " は開けません");

    // The file's real length bounds the reads, whatever bfSize claims.
    bmp.fileSize = 0xFFFFFFFF;
    const std::string lying = write("lying.bmp", bmp.build());
    EXPECT_THROW(dib.loadFromFile(lying), EStreamReadError);
    EXPECT_EQ(pixelAt(dib.toRgbImage(), 0, 0), (Rgb{3, 2, 1}));
}

// Version 4 and 5 headers, as GIMP and ImageMagick write them: refused by the design's reader,
// read where the further formats are shown. The masks lie inside the header, the colour table
// after it, and a version 5 header's embedded profile is handed back when it lies in the file.
TEST_F(QdDibFileTest, LaterHeaderVersionsAreReadOnlyWhereAsked)
{
    // 2 x 1 pixels after a header of `size` bytes; colour space type and profile where given.
    const auto later = [](std::uint32_t size, std::uint16_t bitCount, std::uint32_t compression,
                          const Bytes& table, const Bytes& pixels, std::uint32_t profileAt,
                          const Bytes& profile) {
        ByteWriter w;
        w.u8('B').u8('M').u32(0).u32(0).u32(0);
        w.u32(size).u32(2).u32(1).u16(1).u16(bitCount).u32(compression);
        w.u32(0).u32(0).u32(0).u32(std::uint32_t(table.size() / 4)).u32(0);
        w.u32(0x00FF0000).u32(0x0000FF00).u32(0x000000FF).u32(0xFF000000);
        w.u32(profile.empty() ? 0x73524742 : 0x4D424544); // "sRGB" or "MBED"
        for (int i = 0; i < 12; ++i)
            w.u32(0);
        if (size == 124)
            w.u32(4).u32(profileAt).u32(std::uint32_t(profile.size())).u32(0);
        w.bytes(table);
        w.patchU32(10, std::uint32_t(w.size()));
        w.bytes(pixels);
        w.bytes(profile);
        w.patchU32(2, std::uint32_t(w.size()));
        return w.take();
    };
    const Bytes profile = {'a', 'c', 's', 'p', 1, 2, 3, 4};
    // 124 header + 14 file header + 8 bytes of pixels: the profile follows them.
    const Bytes v5 = later(124, 24, 0, {}, {0, 0, 255, 255, 0, 0, 0, 0}, 124 + 8, profile);
    const Bytes v4 = later(108, 32, 3, {}, {0, 0, 255, 0, 0, 255, 0, 0}, 0, {});
    const Bytes palette = later(124, 8, 0, {255, 0, 0, 0, 0, 0, 255, 0}, {1, 0, 0, 0}, 0, {});
    const Bytes lost = later(124, 24, 0, {}, {0, 0, 255, 255, 0, 0, 0, 0}, 4000, profile);
    const std::string header = "TQdInternalDIB.LoadFromStream: Invalid Bitmap Header Size";
    for (const Bytes* file : {&v5, &v4, &palette}) {
        QdDib dib;
        expectError<EQdDIBInvalidDIB>([&] { dib.loadFromBytes(*file); }, header);
        dib.loadFromBytes(*file, BitmapHeaders::WithLaterVersions);
        const RgbImage image = dib.toRgbImage();
        EXPECT_EQ(pixelAt(image, 0, 0), kRed);
        EXPECT_EQ(pixelAt(image, 1, 0), file == &v4 ? kGreen : kBlue);
        EXPECT_EQ(dib.iccProfile(), file == &v5 ? profile : Bytes{});
    }
    // A profile that lies outside the file, or that the header does not call embedded, is not
    // taken.
    const Bytes named = [&] {
        Bytes bytes = v5;
        bytes[14 + 56] = 'B';
        return bytes;
    }();
    for (const Bytes* file : {&lost, &named}) {
        QdDib dib;
        dib.loadFromBytes(*file, BitmapHeaders::WithLaterVersions);
        EXPECT_TRUE(dib.iccProfile().empty());
    }

    // The picture reader hands the profile on, where the further formats are shown.
    const std::string path = write("v5.bmp", v5);
    EXPECT_THROW(readPicture(path), EQdDIBInvalidDIB);
    EXPECT_EQ(readPicture(path, {.laterBitmapHeaders = true}).colourSpace.iccProfile, profile);
}

// A 2 GB picture is refused by its header alone, whatever its bit count: neither its pixel data
// (sparse here, so it takes no disk space) nor its missing part is read.
TEST_F(QdDibFileTest, HugePicturesAreRefusedBeforeTheirPixelsAreRead)
{
    const std::string noMapping = "GetMemory: Cannot Make File Mapping Object";
    const std::int32_t width = 32768;
    const std::int32_t height = 21846;
    for (std::uint16_t bitCount : {1, 4, 8, 24}) {
        SCOPED_TRACE(bitCount);
        InfoBmp bmp{.width = width,
                    .height = bitCount == 24 ? height : -height,
                    .bitCount = bitCount,
                    .palette = bitCount == 24 ? std::vector<Rgb>{} : kFourColours};
        const Bytes headers = bmp.build();
        const std::uint64_t stride = (std::uint64_t{width} * bitCount + 31) / 32 * 4;
        const std::uint64_t length = headers.size() + stride * height;
        ASSERT_LE(length, 0xFFFFFFFFu);
        Bytes declared = headers;
        for (int i = 0; i < 4; ++i)
            declared[2 + i] = static_cast<std::uint8_t>(length >> (8 * i));

        const std::string whole = write("whole.bmp", declared);
        ASSERT_EQ(::truncate(whole.c_str(), static_cast<off_t>(length)), 0);
        const std::string cut = write("cut.bmp", declared);
        QdDib dib;
        expectError<EOutOfResources>([&] { dib.loadFromFile(whole); }, noMapping);
        expectError<EOutOfResources>([&] { dib.loadFromFile(cut); }, noMapping);
        EXPECT_EQ(dib.width(), 1);
    }
}

// Files that once upset the reader, and the fuzzer's seed corpus of every kind of bitmap: each
// must load and hand over a whole picture, or fail with one of the reader's own errors.
TEST(QdDib, RegressionAndSeedFilesNeverCrash)
{
    int files = 0;
    for (const char* folder :
         {LUMIVANE_TEST_DATA_DIR "/bmp", LUMIVANE_SOURCE_DIR "/fuzz/corpus/bmp"}) {
        if (!std::filesystem::is_directory(folder))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            ++files;
            QdDib dib;
            try {
                dib.loadFromFile(entry.path().string());
                const RgbImage image = dib.toRgbImage();
                EXPECT_TRUE(image.isWellFormed());
            } catch (const EQdDIBError&) {
            } catch (const EStreamReadError&) {
            } catch (const EOutOfResources&) {
            }
        }
    }
    EXPECT_GT(files, 0);
}

} // namespace

