#include "scene/slideimage.h"

#include "imaging/jpegdecoder.h"
#include "imaging/qddib.h"
#include "tests/support/testpictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <new>
#include <stop_token>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Allocations of a megabyte or more made through operator new while counting is on: the
// decoded pictures and any copy of one.
std::atomic<bool> g_countLargeAllocations{false};
std::atomic<int> g_largeAllocations{0};
std::atomic<std::size_t> g_largeAllocationBytes{0};

} // namespace

// The replacements pair malloc with free. GCC cannot tell that the two belong together once
// they are inlined into a caller, so its mismatch warning is switched off for them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    if (size >= (std::size_t{1} << 20) && g_countLargeAllocations.load()) {
        ++g_largeAllocations;
        g_largeAllocationBytes += size;
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

#pragma GCC diagnostic pop

namespace {

using TestPictures::encodeBmp;
using TestPictures::encodeJpeg;
using TestPictures::makeImage;

constexpr int Size = SlideImage::TextureSize;

using Colour = std::array<int, 3>;
const Colour White{255, 255, 255};
const Colour TopLeft{220, 30, 30};
const Colour TopRight{30, 200, 40};
const Colour BottomLeft{20, 40, 210};
const Colour BottomRight{240, 230, 20};

RgbImage quadrants(int width, int height)
{
    return makeImage(width, height, [=](int x, int y) {
        const bool left = x < width / 2;
        return y < height / 2 ? (left ? TopLeft : TopRight) : (left ? BottomLeft : BottomRight);
    });
}

// Texel (column, row) of a texture stored bottom row first.
Colour texel(const SlideImage& slide, int column, int row)
{
    const std::uint8_t* p =
        slide.texturePixels() + (static_cast<std::size_t>(row) * Size + column) * 3;
    return {p[0], p[1], p[2]};
}

bool allWhite(const SlideImage& slide)
{
    return std::all_of(slide.texturePixels(), slide.texturePixels() + SlideImage::TextureBytes,
                       [](std::uint8_t v) { return v == 255; });
}

// The four corners of a quadrant picture sit upright in the texture, its bottom row in texture
// row 0, and the texels beside or above it are white.
void expectQuadrantsPlaced(const SlideImage& slide, int tolerance)
{
    const int w = slide.imageWidth();
    const int h = slide.imageHeight();
    const auto near = [&](const Colour& actual, const Colour& expected, const char* where) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(actual[c], expected[c], tolerance) << where << ", channel " << c;
        }
    };
    near(texel(slide, 0, 0), BottomLeft, "bottom left");
    near(texel(slide, w - 1, 0), BottomRight, "bottom right");
    near(texel(slide, 0, h - 1), TopLeft, "top left");
    near(texel(slide, w - 1, h - 1), TopRight, "top right");
    EXPECT_EQ(texel(slide, Size - 1, Size - 1), w < Size || h < Size ? White : TopRight);
    EXPECT_EQ(texel(slide, std::min(w, Size - 1), std::min(h, Size - 1)),
              w < Size || h < Size ? White : TopRight);
}

class SlideFiles : public ::testing::Test
{
protected:
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::filesystem::path path = m_dir / name;
        std::filesystem::create_directories(path.parent_path());
        EXPECT_TRUE(TestPictures::writeFile(path.string(), bytes)) << path;
        return path.string();
    }

    std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                  ("lumivane-slide-test-" + std::to_string(getpid()));
};

float extent(int scaled)
{
    return static_cast<float>(static_cast<double>(scaled) / 1024 - 0.01);
}

const SlidePlacement WhiteSquare{1024, 1024, 0.99f, 1.0f};

// The largest of the three channels' mean absolute differences over the slide's picture.
double meanAbsoluteDifference(const SlideImage& slide, const std::vector<std::uint8_t>& texture)
{
    std::array<double, 3> total{};
    for (int row = 0; row < slide.imageHeight(); ++row) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(slide.imageWidth()) * 3; ++i) {
            const std::size_t at = static_cast<std::size_t>(row) * Size * 3 + i;
            total[i % 3] += std::abs(slide.texturePixels()[at] - texture[at]);
        }
    }
    return *std::max_element(total.begin(), total.end()) /
           (static_cast<double>(slide.imageWidth()) * slide.imageHeight());
}

} // namespace

TEST(SlidePlacement, FollowsTheScalingTable)
{
    const std::tuple<int, int, SlidePlacement> cases[] = {
        {1600, 1200, {1024, 768, 1.0f, extent(768)}},
        {1200, 1600, {768, 1024, extent(768), 1.0f}},
        {640, 480, {1024, 768, 1.0f, extent(768)}},
        {500, 500, WhiteSquare},
        {1000, 3, {1024, 3, 1.0f, extent(3)}},
        {2048, 1, {1024, 0, 1.0f, -0.01f}},
        {1, 2048, {0, 1024, -0.01f, 1.0f}},
        {INT_MAX, INT_MAX - 1, {1024, 1023, 1.0f, extent(1023)}}, // no 32-bit overflow
        {0, 0, WhiteSquare},                                      // the unreadable picture
    };
    for (const auto& [width, height, expected] : cases) {
        const SlidePlacement actual = placeSlide(width, height);
        EXPECT_EQ(actual.imageWidth, expected.imageWidth) << width << " x " << height;
        EXPECT_EQ(actual.imageHeight, expected.imageHeight) << width << " x " << height;
        EXPECT_EQ(actual.texExtentS, expected.texExtentS) << width << " x " << height;
        EXPECT_EQ(actual.texExtentT, expected.texExtentT) << width << " x " << height;
    }
    EXPECT_FLOAT_EQ(placeSlide(1600, 1200).texExtentT, 0.74f);
    EXPECT_NEAR(placeSlide(1000, 3).texExtentT, -0.00707, 1e-5);
}

TEST(SlideTexture, PicturesLandUprightBottomRowFirstWithWhiteElsewhere)
{
    SlideImage slide;
    for (const auto& [width, height] :
         {std::pair{160, 120}, std::pair{120, 160}, std::pair{2000, 1500}, std::pair{64, 64}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        slide.prepareFromImage(quadrants(width, height));
        EXPECT_EQ(slide.placement(), placeSlide(width, height));
        expectQuadrantsPlaced(slide, 0);
    }
    // Nothing of a picture more than 1024 times wider than high is drawn, nor of an empty one.
    for (const RgbImage& picture : {quadrants(2048, 1), quadrants(1, 2048), RgbImage{}}) {
        slide.prepareFromImage(quadrants(10, 10));
        slide.prepareFromImage(picture);
        EXPECT_TRUE(allWhite(slide)) << picture.width << " x " << picture.height;
    }
    EXPECT_EQ(slide.placement(), WhiteSquare);
}

TEST(SlideTexture, ShrinkingAveragesCoveredPixelsWithWeightsThatSumToOne)
{
    SlideImage slide;
    // A fine checkerboard turns mid grey; dropping rows and columns would leave black or white.
    for (const auto& [width, height] :
         {std::pair{2048, 1536}, std::pair{1600, 1200}, std::pair{3001, 4003}}) {
        slide.prepareFromImage(makeImage(width, height, [](int x, int y) {
            return (x + y) % 2 ? White : Colour{0, 0, 0};
        }));
        int lowest = 255;
        int highest = 0;
        double total = 0;
        for (int row = 0; row < slide.imageHeight(); ++row) {
            for (int column = 0; column < slide.imageWidth(); ++column) {
                const int value = texel(slide, column, row)[1];
                lowest = std::min(lowest, value);
                highest = std::max(highest, value);
                total += value;
            }
        }
        EXPECT_GE(lowest, 90) << width << " x " << height;
        EXPECT_LE(highest, 165) << width << " x " << height;
        EXPECT_NEAR(total / (slide.imageWidth() * slide.imageHeight()), 127.5, 1.0);
    }
    // A uniform picture keeps its exact colour whether shrunk by fractions or enlarged.
    const Colour colour{37, 150, 201};
    for (const auto& [width, height] :
         {std::pair{1601, 1203}, std::pair{333, 7001}, std::pair{640, 480}, std::pair{5, 3}}) {
        slide.prepareFromImage(makeImage(width, height, [&](int, int) { return colour; }));
        int wrong = 0;
        for (int row = 0; row < slide.imageHeight(); ++row) {
            for (int column = 0; column < slide.imageWidth(); ++column) {
                wrong += texel(slide, column, row) != colour;
            }
        }
        EXPECT_EQ(wrong, 0) << width << " x " << height;
    }
}

// Weights worked out by hand, at ratios where source pixels are only partly covered: a wrong
// weight still keeps a checkerboard grey and a uniform picture uniform, but not these values.
TEST(SlideTexture, PartlyCoveredPixelsWeighByTheirCoveredPart)
{
    SlideImage slide;
    // 1536 x 3 onto 1024 x 2: three source pixels onto two texels each way. Red steps 0, 90,
    // 180 along a row, green down a column. A texel covers one pixel whole (2/3 of its area)
    // and half of the next (1/3): 2/3 x 0 + 1/3 x 90 = 30, then 1/3 x 90 + 2/3 x 180 = 150.
    slide.prepareFromImage(makeImage(1536, 3, [](int x, int y) {
        return Colour{x % 3 * 90, y * 90, 0};
    }));
    ASSERT_EQ(slide.placement(), placeSlide(1536, 3));
    ASSERT_EQ(slide.imageHeight(), 2);
    int wrong = 0;
    for (int column = 0; column < 1024; ++column) {
        // Texture row 1 is the picture's top.
        wrong += texel(slide, column, 1) != Colour{column % 2 ? 150 : 30, 30, 0};
        wrong += texel(slide, column, 0) != Colour{column % 2 ? 150 : 30, 150, 0};
    }
    EXPECT_EQ(wrong, 0);

    // 1000 x 500 onto 1024 x 512, enlarging: texel i interpolates at source position
    // (i + 0.5) x 1000 / 1024 - 0.5 between its two neighbours. Red is 200 in odd columns.
    slide.prepareFromImage(makeImage(1000, 500, [](int x, int) {
        return Colour{x % 2 * 200, 0, 0};
    }));
    ASSERT_EQ(slide.imageWidth(), 1024);
    const std::pair<int, int> columns[] = {
        {0, 0},      // -0.0117: before the first centre, the first pixel
        {1, 193},    // 0.9648: 0.0352 x 0 + 0.9648 x 200
        {2, 12},     // 1.9414: 0.0586 x 200 + 0.9414 x 0
        {100, 71},   // 97.6445: 0.3555 x 200 + 0.6445 x 0
        {512, 2},    // 499.9883: 0.0117 x 200 + 0.9883 x 0
        {1023, 200}, // 999.0117: past the last centre, the last pixel
    };
    for (const auto& [column, red] : columns)
        EXPECT_EQ(texel(slide, column, 300)[0], red) << "column " << column;
}

// A picture that stores only some of its rows, or parts of them, gives exactly the texture of the
// same picture with the missing pixels stored black, shrunk or enlarged; one that stores rows of
// the wrong size is refused rather than read past their end.
TEST(SlideTexture, UnstoredRowsAreBlack)
{
    SlideImage slide;
    std::vector<std::uint8_t> sparseTexture;
    for (const auto& [width, height] : {std::pair{3001, 2003}, std::pair{300, 701}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        RgbImage sparse = RgbImage::makeSparse(width, height);
        RgbImage dense = makeImage(width, height, [](int, int) { return Colour{0, 0, 0}; });
        for (int y = 0; y < height; y += 1 + y % 7) {
            // Whole rows, and parts of rows that leave black at either end.
            const int from = y % 3 == 0 ? 0 : y * 37 % (width / 2);
            const int to = y % 3 == 0 ? width : width - y * 53 % (width / 2);
            std::uint8_t* stored = sparse.writablePixels(y, from, to);
            for (int i = from * 3; i < to * 3; ++i)
                stored[i - from * 3] = dense.writableRow(y)[i] =
                    static_cast<std::uint8_t>(y * 7 + i);
        }
        slide.prepareFromImage(sparse);
        sparseTexture.assign(slide.texturePixels(),
                             slide.texturePixels() + SlideImage::TextureBytes);
        slide.prepareFromImage(dense);
        EXPECT_TRUE(std::equal(sparseTexture.begin(), sparseTexture.end(), slide.texturePixels()));
    }

    slide.prepareFromImage(RgbImage::makeSparse(16384, 16384));
    EXPECT_EQ(slide.placement(), WhiteSquare);
    EXPECT_EQ(texel(slide, 0, 0), (Colour{0, 0, 0}));
    EXPECT_EQ(texel(slide, 1023, 1023), (Colour{0, 0, 0}));

    RgbImage broken = RgbImage::makeSparse(4, 4);
    broken.storedRows[2].bytes.assign(15, 0);
    EXPECT_THROW(slide.prepareFromImage(broken), std::invalid_argument);
}

TEST(SlideRouting, OnlyJpgAndJpegNamesGoToTheJpegDecoder)
{
    for (const char* name : {"a.jpg", "a.JPG", "a.Jpeg", "/p/x.y/a.jPeG", ".jpg"}) {
        EXPECT_TRUE(hasJpegExtension(name)) << name;
    }
    for (const char* name :
         {"a.bmp", "a.BMP", "a.png", "a", "/p/x.jpg/a", "a.jpg.bmp", "a.jpe", "", "/p/a.jpg/"}) {
        EXPECT_FALSE(hasJpegExtension(name)) << name;
    }
}

TEST_F(SlideFiles, EachFileReachesItsDecoderAndLandsUpright)
{
    SlideImage slide;
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{240, 320}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const RgbImage picture = quadrants(width, height);
        for (const char* name : {"a.jpg", "b.JPG", "c.Jpeg"}) {
            slide.prepare(write(name, encodeJpeg(picture)));
            EXPECT_EQ(slide.placement(), placeSlide(width, height)) << name;
            expectQuadrantsPlaced(slide, 30);
        }
        // Every name that no other reader claims goes to the bitmap reader (".png" and the
        // other further formats have readers of their own).
        for (const char* name : {"d.bmp", "e.BMP", "f.pcx", "noextension", "dir.jpg/g"}) {
            slide.prepare(write(name, encodeBmp(picture)));
            EXPECT_EQ(slide.placement(), placeSlide(width, height)) << name;
            expectQuadrantsPlaced(slide, 0);
        }
    }
    // Bitmap bytes behind a JPEG name reach libjpeg, which cannot read them: a white square.
    slide.prepare(write("h.jpg", encodeBmp(quadrants(64, 48))));
    EXPECT_EQ(slide.placement(), WhiteSquare);
    EXPECT_TRUE(allWhite(slide));
    EXPECT_FALSE(slide.decoderNote().empty());
}

TEST_F(SlideFiles, BitmapErrorsPassThroughAndChangeNothing)
{
    SlideImage slide;
    std::vector<std::uint8_t> truncated = encodeJpeg(quadrants(600, 400));
    truncated.resize(truncated.size() * 3 / 4);
    slide.prepare(write("truncated.jpg", truncated));
    ASSERT_FALSE(slide.decoderNote().empty());
    const SlidePlacement placement = slide.placement();
    const std::vector<std::uint8_t> texture(slide.texturePixels(),
                                            slide.texturePixels() + SlideImage::TextureBytes);
    const std::string note = slide.decoderNote();

    const auto expectUnchanged = [&] {
        EXPECT_EQ(slide.placement(), placement);
        EXPECT_EQ(slide.decoderNote(), note);
        EXPECT_TRUE(std::equal(texture.begin(), texture.end(), slide.texturePixels()));
    };
    EXPECT_THROW(slide.prepare(write("jpeg.bmp", encodeJpeg(quadrants(64, 48)))),
                 EQdDIBInvalidDIBFile);
    expectUnchanged();
    EXPECT_THROW(slide.prepare((m_dir / "missing.bmp").string()), EFileOpenError);
    expectUnchanged();
    EXPECT_THROW(slide.prepare(write("short.bmp", {'B', 'M', 1, 2, 3})), EStreamReadError);
    expectUnchanged();
}

TEST_F(SlideFiles, LargeJpegsAreDecodedReducedOnceAndLookLikeTheFullDecode)
{
    struct Case
    {
        std::string path;
        int reduction = 1; // the scale the longer side allows while staying at 2048 or more
    };
    // The last size also tells a placement from the file's size (31 texels high) from one
    // made from the reduced picture's (2048 x 64 gives 32).
    std::vector<Case> cases;
    // The second is tagged to be turned, which the reduced decode must follow as well.
    for (const auto& [width, height, reduction, orientation] :
         {std::tuple{4096, 2304, 2, 1}, std::tuple{1024, 8192, 4, 8},
          std::tuple{16384, 505, 8, 1}}) {
        const std::string name = std::to_string(width) + "x" + std::to_string(height) + ".jpg";
        cases.push_back(
            {write(name, encodeJpeg(TestPictures::makePhotoLike(width, height),
                                    {.quality = 90,
                                     .app1 = TestPictures::exifOrientationBlock(orientation)})),
             reduction});
    }
    for (const char* sample :
         {"01 hills.jpg", "02 sunset portrait.JPG", "Travel/04 grey hills.jpeg"}) {
        cases.push_back({std::string(LUMIVANE_SOURCE_DIR "/samples/") + sample, 1});
    }

    SlideImage slide;
    std::vector<std::uint8_t> fullTexture(SlideImage::TextureBytes);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.path);
        const std::optional<JpegPicture> full = decodeJpegFile(test.path);
        ASSERT_TRUE(full.has_value());
        drawSlideTexture(full->image, {full->width, full->height, 1, full->orientation},
                         fullTexture);

        g_largeAllocations = 0;
        g_largeAllocationBytes = 0;
        g_countLargeAllocations = true;
        slide.prepare(test.path);
        g_countLargeAllocations = false;

        // One buffer at the reduced size: no full-size decode and no copy of the picture.
        const auto reduced = [&](int side) {
            return static_cast<std::size_t>((side + test.reduction - 1) / test.reduction);
        };
        const std::size_t reducedBytes = reduced(full->width) * reduced(full->height) * 3;
        EXPECT_EQ(g_largeAllocations, reducedBytes >= (std::size_t{1} << 20) ? 1 : 0);
        if (reducedBytes >= (std::size_t{1} << 20)) {
            EXPECT_EQ(g_largeAllocationBytes, reducedBytes);
        }
        EXPECT_EQ(slide.placement(), full->orientation >= 5
                                         ? placeSlide(full->height, full->width)
                                         : placeSlide(full->width, full->height));
        EXPECT_LE(meanAbsoluteDifference(slide, fullTexture), 1.0);
    }
}

TEST_F(SlideFiles, AJpegNameOnAFifoIsTheWhiteSquareWithoutWaiting)
{
    std::filesystem::create_directories(m_dir);
    const std::string fifo = (m_dir / "x.jpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    SlideImage slide;
    slide.prepareFromImage(quadrants(64, 48));
    std::future<void> prepared = std::async(std::launch::async, [&] { slide.prepare(fifo); });
    if (prepared.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "preparing a FIFO waits for a writer";
        // Become the writer, so that the blocked reader sees the end of the data.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) {
            ::close(writer);
        }
    }
    prepared.get();
    EXPECT_EQ(slide.placement(), WhiteSquare);
    EXPECT_TRUE(allWhite(slide));
    EXPECT_FALSE(slide.decoderNote().empty());
}

// Once its stop is requested, a bitmap's preparation ends at whichever step it is: reading (here
// a sparse file of 800 MB, which takes seconds to read in full), hand-over or scaling.
TEST_F(SlideFiles, AStopEndsABitmapsPreparationAtOnce)
{
    const std::uint32_t side = 16384;
    const std::uint64_t length = 54 + std::uint64_t{side} * side * 3;
    std::vector<std::uint8_t> header(54, 0);
    const auto put = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put(2, static_cast<std::uint32_t>(length));
    put(10, 54);
    put(14, 40);
    put(18, side);
    put(22, side);
    header[26] = 1;
    header[28] = 24;
    const std::string path = write("huge.bmp", header);
    std::filesystem::resize_file(path, length);

    std::stop_source stop;
    stop.request_stop();
    SlideImage slide;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(slide.prepare(path, stop.get_token()), PictureWorkStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    QdDib small;
    small.loadFromBytes(TestPictures::encodeBmp(quadrants(64, 48)));
    EXPECT_THROW(small.toRgbImage(stop.get_token()), PictureWorkStopped);
    EXPECT_THROW(slide.prepareFromImage(quadrants(64, 48), stop.get_token()), PictureWorkStopped);
}

TEST_F(SlideFiles, EveryOrientationTagStandsThePictureUpright)
{
    // The stored picture's corners (top left, top right, bottom left, bottom right) that each
    // tag brings to the upright picture's top left, top right, bottom left and bottom right.
    const std::array<std::array<Colour, 4>, 9> corners{{
        {},
        {TopLeft, TopRight, BottomLeft, BottomRight},
        {TopRight, TopLeft, BottomRight, BottomLeft},
        {BottomRight, BottomLeft, TopRight, TopLeft},
        {BottomLeft, BottomRight, TopLeft, TopRight},
        {TopLeft, BottomLeft, TopRight, BottomRight},
        {BottomLeft, TopLeft, BottomRight, TopRight},
        {BottomRight, TopRight, BottomLeft, TopLeft},
        {TopRight, BottomRight, TopLeft, BottomLeft},
    }};
    SlideImage slide;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        slide.prepare(write("tagged.jpg", encodeJpeg(quadrants(320, 240),
                                                     {.app1 = TestPictures::exifOrientationBlock(
                                                          orientation, orientation % 2 == 0)})));
        EXPECT_EQ(slide.placement(),
                  orientation >= 5 ? placeSlide(240, 320) : placeSlide(320, 240));
        const int w = slide.imageWidth();
        const int h = slide.imageHeight();
        const std::array<Colour, 4> actual{texel(slide, 0, h - 1), texel(slide, w - 1, h - 1),
                                           texel(slide, 0, 0), texel(slide, w - 1, 0)};
        for (int corner = 0; corner < 4; ++corner) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(actual[corner][c], corners[orientation][corner][c], 30)
                    << "corner " << corner << ", channel " << c;
            }
        }
        // Beside or above the upright picture the texture stays white.
        EXPECT_EQ(texel(slide, std::min(w, Size - 1), std::min(h, Size - 1)), White);
    }
}
