// Stops and files that change under the reader, wherever the decoder is, and files whose parts
// all point at the same data: each ends as an unreadable picture with its reason, quickly, and
// never ends the process.
#include "imaging/filedescriptor.h"
#include "imaging/formatreaders.h"
#include "imaging/heiftiles.h"
#include "imaging/picturereader.h"
#include "imaging/picturesource.h"
#include "tests/support/formatpictures.h"
#include "tests/support/heifgrids.h"
#include "tests/support/testpictures.h"
#include "tests/support/tifflayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <unistd.h>

using FormatPictures::Format;
using FormatPictures::Variant;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The HEIC tiles are written by x265, which keeps some global state to the end of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libx265\nleak:libdav1d\n";
}

namespace {

PictureKind kindOf(Format format)
{
    return pictureKindOf(std::string("x") + FormatPictures::extensionOf(format));
}

// The picture at `path`, read through a source opened before the file is cut to `length`.
DecodedPicture readCutUnderReader(const std::string& path, off_t length, PictureKind kind)
{
    PictureSource source(openWithoutWaiting(path), {});
    EXPECT_EQ(::truncate(path.c_str(), length), 0);
    return readFormat(kind, source, {});
}

} // namespace

// A read of a file is left within its first piece once the stop is requested: nothing is copied
// and the reason says so; a library that cannot take a failed read is given zeros instead.
TEST(HostileReads, SourceStopsWithinALargeRead)
{
    TestPictures::TempFolder folder("reads");
    const std::string path = folder.path + "/sparse.bin";
    ASSERT_TRUE(TestPictures::writeFile(path, Bytes(16, 0xab)));
    ASSERT_EQ(::truncate(path.c_str(), off_t{64} << 20), 0);
    std::stop_source stop;
    stop.request_stop();
    PictureSource source(openWithoutWaiting(path), stop.get_token());
    Bytes buffer(std::size_t{32} << 20, 0xff);
    EXPECT_EQ(source.read(0, buffer.data(), buffer.size()), 0u);
    EXPECT_EQ(source.failure(), "Decoding stopped");
    ASSERT_TRUE(source.readOrZeros(0, buffer.data(), 16));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 16, [](auto v) { return v == 0; }));
    EXPECT_FALSE(source.readOrZeros((std::uint64_t{64} << 20) - 8, buffer.data(), 16));
    EXPECT_TRUE(source.readOrZeros(std::uint64_t{64} << 20, buffer.data(), 0));
}

// Every format's file cut short after it was opened, at several points of its decode: the
// library is handed what its contract allows (an error, or zeros for libheif), returns, and the
// picture is unreadable with the reason. Before, libheif stopped the process on such a read.
TEST(HostileReads, FileCutUnderTheReaderIsUnreadable)
{
    TestPictures::TempFolder folder("reads");
    std::vector<std::pair<PictureKind, Bytes>> files;
    for (const Format format : FormatPictures::AllFormats) {
        const Variant variant = format == Format::Gif ? Variant::Palette : Variant::Rgb;
        files.emplace_back(kindOf(format), FormatPictures::encode(
                                               format, variant,
                                               FormatPictures::sourceFor(format, variant, 200, 150)));
    }
    files.emplace_back(PictureKind::Heif, HeifGrids::grid(4, 3, 256));
    for (const auto& [kind, bytes] : files) {
        const std::string path = folder.path + "/cut";
        for (const int sixths : {1, 3, 5}) {
            SCOPED_TRACE(std::to_string(int(kind)) + " cut at " + std::to_string(sixths) + "/6");
            ASSERT_TRUE(TestPictures::writeFile(path, bytes));
            const DecodedPicture picture =
                readCutUnderReader(path, off_t(bytes.size() * sixths / 6), kind);
            EXPECT_FALSE(picture.readable);
            EXPECT_EQ(picture.note, "The file was cut short while it was read");
        }
    }
}

// A phone-style grid HEIC stopped at several points of its decode ends unreadable, soon after
// the stop; a stop already requested when libheif first reads gives it zeros from the start.
TEST(HostileReads, GridHeicStopsAnywhere)
{
    TestPictures::TempFolder folder("reads");
    const Bytes bytes = HeifGrids::grid(8, 6, 256);
    const std::string path = folder.path + "/grid.heic";
    ASSERT_TRUE(TestPictures::writeFile(path, bytes));
    // The quicker of two decodes: the first one also starts libheif's decoders.
    auto took = Clock::duration::max();
    for (int i = 0; i < 2; ++i) {
        const auto begin = Clock::now();
        const DecodedPicture whole = readPicture(path);
        took = std::min(took, Clock::now() - begin);
        ASSERT_TRUE(whole.readable) << whole.note;
        EXPECT_EQ(whole.width, 8 * 256);
        EXPECT_EQ(whole.height, 6 * 256);
    }

    const auto start = Clock::now();
    for (const int twentieths : {1, 4, 8}) {
        SCOPED_TRACE(twentieths);
        std::stop_source stop;
        std::jthread stopper([&] {
            std::this_thread::sleep_for(took * twentieths / 20);
            stop.request_stop();
        });
        const DecodedPicture picture = readPicture(path, {.stop = stop.get_token()});
        EXPECT_FALSE(picture.readable);
        EXPECT_NE(picture.note.find("stopped"), std::string::npos) << picture.note;
        EXPECT_LT(Clock::now() - start, took * 3 + std::chrono::seconds(2));
    }

    std::stop_source stopped;
    stopped.request_stop();
    PictureSource source(bytes, stopped.get_token());
    EXPECT_EQ(readFormat(PictureKind::Heif, source, {}).note, "Decoding stopped");
}

// Grids whose cells all decode the same tile are refused before any tile is decoded, whether
// they list one tile item for every cell or give every cell's item the same bytes; so is a TIFF
// whose strips overlap, while strips that only touch are read.
TEST(HostileReads, PartsSharingTheirDataAreRefused)
{
    for (const auto boxes : {HeifGrids::Boxes::Compact, HeifGrids::Boxes::Large}) {
        for (const auto tiles : {HeifGrids::Tiles::OneReferenced, HeifGrids::Tiles::SharedData,
                                 HeifGrids::Tiles::AlphaSharing}) {
            const Bytes bytes = HeifGrids::grid(tiles == HeifGrids::Tiles::AlphaSharing ? 3 : 32,
                                                tiles == HeifGrids::Tiles::AlphaSharing ? 2 : 31,
                                                512, tiles, boxes);
            const auto start = Clock::now();
            const DecodedPicture picture = readPictureData(PictureKind::Heif, bytes);
            // Decoding the grid takes 15 s and more; refusing it, a fraction of a second (more
            // under the sanitizers).
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
            EXPECT_EQ(picture.note, "HEIF tiles share their data");
        }
        EXPECT_TRUE(readPictureData(PictureKind::Heif,
                                    HeifGrids::grid(3, 2, 64, HeifGrids::Tiles::Own, boxes))
                        .readable);
    }

    const Bytes touching = TiffLayout::greyStrips(16, 4, {0, 64, 128, 192});
    EXPECT_TRUE(readPictureData(PictureKind::Tiff, touching).readable);
    for (const std::vector<std::uint32_t>& offsets :
         {std::vector<std::uint32_t>{0, 63, 128, 192}, std::vector<std::uint32_t>{0, 64, 64, 192},
          std::vector<std::uint32_t>{192, 64, 128, 191}}) {
        EXPECT_EQ(readPictureData(PictureKind::Tiff, TiffLayout::greyStrips(16, 4, offsets)).note,
                  "TIFF strips share their data");
    }
}

// Item boxes that do not hold together are refused, before libheif is asked to decode anything
// they describe; empty boxes among them are not a fault.
TEST(HostileReads, HeifItemBoxesThatDoNotFitAreRefused)
{
    const auto check = [](const Bytes& metaBody) {
        Bytes file = {0, 0, 0, std::uint8_t(8 + metaBody.size()), 'm', 'e', 't', 'a'};
        file.insert(file.end(), metaBody.begin(), metaBody.end());
        PictureSource source(file);
        const char* reason = heifTilesShareData(source);
        return std::string(reason ? reason : "");
    };
    const Bytes version = {0, 0, 0, 0};
    const Bytes emptyFree = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
    Bytes good = version;
    good.insert(good.end(), emptyFree.begin(), emptyFree.end());
    EXPECT_EQ(check(good), "");
    Bytes overrun = good;
    overrun[7] = 9;
    EXPECT_EQ(check(overrun), "HEIF item boxes cannot be read");
    EXPECT_EQ(check({0, 0}), "HEIF item boxes cannot be read");
}

// A TIFF stopped between bands, for each way its data is read (rows, strips of separate planes,
// tiles): the reader's own look at the stop, not the source's, ends it. And a row declaring
// 65535 samples a pixel over 65535 pixels is refused before its band's samples are allocated.
TEST(HostileReads, TiffStopsBetweenBandsAndRefusesHugeRows)
{
    const std::uint32_t side = 64;
    Bytes pixels(std::size_t{side} * side * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = std::uint8_t(i);
    const std::vector<TiffLayout::Field> common = {
        {256, 3, {side}}, {257, 3, {side}}, {258, 3, {8, 8, 8}}, {259, 3, {1}},
        {262, 3, {2}},    {277, 3, {3}},
    };
    const auto with = [&](std::vector<TiffLayout::Field> extra) {
        std::vector<TiffLayout::Field> fields = common;
        fields.insert(fields.end(), extra.begin(), extra.end());
        return TiffLayout::file(pixels, fields);
    };
    const std::uint32_t plane = side * side;
    const std::uint32_t tile = 16 * 16 * 3;
    std::vector<std::uint32_t> tileOffsets;
    for (std::uint32_t i = 0; i < 16; ++i)
        tileOffsets.push_back(8 + i * tile);
    const Bytes files[] = {
        with({{273, 4, {8}}, {278, 3, {side}}, {279, 4, {plane * 3}}}),
        with({{273, 4, {8, 8 + plane, 8 + 2 * plane}},
              {278, 3, {side}},
              {279, 4, {plane, plane, plane}},
              {284, 3, {2}}}),
        with({{322, 3, {16}},
              {323, 3, {16}},
              {324, 4, tileOffsets},
              {325, 4, std::vector<std::uint32_t>(16, tile)}}),
    };
    std::stop_source stop;
    stop.request_stop();
    for (const Bytes& file : files) {
        EXPECT_TRUE(readPictureData(PictureKind::Tiff, file).readable);
        PictureSource source(file);
        EXPECT_EQ(readFormat(PictureKind::Tiff, source, {.stop = stop.get_token()}).note,
                  "TIFF decoding stopped");
    }

    const Bytes wide = TiffLayout::widestRows();
    EXPECT_EQ(readPictureData(PictureKind::Tiff, wide).note, "TIFF picture too wide to decode");
}
