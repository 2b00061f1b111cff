#include "render/slideimage.h"

#include "imaging/qddib.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <jpeglib.h>

namespace {

constexpr int Size = SlideImage::TextureSize;

struct Rgb
{
    int r;
    int g;
    int b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

const Rgb White{255, 255, 255};
const Rgb TopLeft{220, 30, 30};
const Rgb TopRight{30, 200, 40};
const Rgb BottomLeft{20, 40, 210};
const Rgb BottomRight{240, 230, 20};

RgbImage makeImage(int width, int height, auto colourAt)
{
    RgbImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y);
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(c.r);
            p[1] = static_cast<std::uint8_t>(c.g);
            p[2] = static_cast<std::uint8_t>(c.b);
        }
    }
    return image;
}

RgbImage quadrants(int width, int height)
{
    return makeImage(width, height, [=](int x, int y) {
        const bool left = x < width / 2;
        const bool top = y < height / 2;
        return top ? (left ? TopLeft : TopRight) : (left ? BottomLeft : BottomRight);
    });
}

RgbImage uniform(int width, int height, Rgb colour)
{
    return makeImage(width, height, [=](int, int) { return colour; });
}

// Texel (column, row) of a texture stored bottom row first.
Rgb texel(const std::uint8_t* texture, int column, int row)
{
    const std::uint8_t* p = texture + (static_cast<std::size_t>(row) * Size + column) * 3;
    return {p[0], p[1], p[2]};
}

std::vector<std::uint8_t> encodeJpeg(const RgbImage& image)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 97, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPLE*>(
            &image.pixels[static_cast<std::size_t>(cinfo.next_scanline) * image.width * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

void putLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// A plain 24-bit bottom-up bitmap file: BGR pixels, rows padded to four bytes.
std::vector<std::uint8_t> encodeBmp(const RgbImage& image)
{
    const std::uint32_t stride = (static_cast<std::uint32_t>(image.width) * 3 + 3) & ~3u;
    const std::uint32_t dataSize = stride * static_cast<std::uint32_t>(image.height);
    std::vector<std::uint8_t> out{'B', 'M'};
    putLittleEndian(out, 54 + dataSize, 4);
    putLittleEndian(out, 0, 4);
    putLittleEndian(out, 54, 4);
    putLittleEndian(out, 40, 4);
    putLittleEndian(out, static_cast<std::uint32_t>(image.width), 4);
    putLittleEndian(out, static_cast<std::uint32_t>(image.height), 4);
    putLittleEndian(out, 1, 2);
    putLittleEndian(out, 24, 2);
    putLittleEndian(out, 0, 4);
    putLittleEndian(out, dataSize, 4);
    putLittleEndian(out, 2835, 4);
    putLittleEndian(out, 2835, 4);
    putLittleEndian(out, 0, 4);
    putLittleEndian(out, 0, 4);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p =
                &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
            out.push_back(p[2]);
            out.push_back(p[1]);
            out.push_back(p[0]);
        }
        out.resize(out.size() + (stride - static_cast<std::uint32_t>(image.width) * 3), 0);
    }
    return out;
}

class SlideFiles : public ::testing::Test
{
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::filesystem::path path = m_dir / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }

private:
    std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                  ("lumivane-slide-test-" + std::to_string(getpid()));
};

float extent(int scaled)
{
    return static_cast<float>(static_cast<double>(scaled) / 1024 - 0.01);
}

// Checks that the four corners of a quadrant picture sit in the right texels, upright with the
// picture's bottom row in texture row 0, and that the rest of the texture is white.
void expectQuadrantsPlaced(const SlideImage& slide, int tolerance)
{
    const int w = slide.imageWidth();
    const int h = slide.imageHeight();
    const std::uint8_t* t = slide.texturePixels();
    const auto near = [&](Rgb actual, Rgb expected, const char* where) {
        EXPECT_LE(std::abs(actual.r - expected.r) + std::abs(actual.g - expected.g) +
                      std::abs(actual.b - expected.b),
                  tolerance)
            << where << ": " << actual << " instead of " << expected;
    };
    near(texel(t, 0, 0), BottomLeft, "bottom left");
    near(texel(t, w - 1, 0), BottomRight, "bottom right");
    near(texel(t, 0, h - 1), TopLeft, "top left");
    near(texel(t, w - 1, h - 1), TopRight, "top right");
    if (w < Size) {
        EXPECT_EQ(texel(t, w, 0), White);
        EXPECT_EQ(texel(t, Size - 1, Size - 1), White);
    }
    if (h < Size) {
        EXPECT_EQ(texel(t, 0, h), White);
        EXPECT_EQ(texel(t, Size - 1, Size - 1), White);
    }
}

} // namespace

TEST(SlidePlacement, FollowsTheScalingTable)
{
    struct Case
    {
        int width;
        int height;
        SlidePlacement expected;
    };
    const Case cases[] = {
        {1600, 1200, {1024, 768, 1.0f, extent(768)}},
        {1200, 1600, {768, 1024, extent(768), 1.0f}},
        {640, 480, {1024, 768, 1.0f, extent(768)}},
        {500, 500, {1024, 1024, 0.99f, 1.0f}},
        {3000, 3000, {1024, 1024, 0.99f, 1.0f}},
        {1000, 3, {1024, 3, 1.0f, extent(3)}},
        {2048, 1, {1024, 0, 1.0f, -0.01f}},
        {1, 2048, {0, 1024, -0.01f, 1.0f}},
        {1025, 1024, {1024, 1023, 1.0f, extent(1023)}},
        // The multiplication must not overflow 32 bits.
        {INT_MAX, INT_MAX - 1, {1024, 1023, 1.0f, extent(1023)}},
        // A picture with no pixels is placed like a square one.
        {0, 0, {1024, 1024, 0.99f, 1.0f}},
    };
    for (const Case& c : cases) {
        const SlidePlacement actual = placeSlide(c.width, c.height);
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        EXPECT_EQ(actual.imageWidth, c.expected.imageWidth);
        EXPECT_EQ(actual.imageHeight, c.expected.imageHeight);
        EXPECT_EQ(actual.texExtentS, c.expected.texExtentS);
        EXPECT_EQ(actual.texExtentT, c.expected.texExtentT);
    }
    EXPECT_FLOAT_EQ(placeSlide(1600, 1200).texExtentT, 0.74f);
    EXPECT_NEAR(placeSlide(1000, 3).texExtentT, -0.00707, 1e-5);
}

TEST(SlideTexture, PicturesLandUprightBottomRowFirstWithWhiteOutside)
{
    SlideImage slide;
    for (const auto& [width, height] :
         {std::pair{160, 120}, std::pair{120, 160}, std::pair{2000, 1500}, std::pair{64, 64}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        slide.prepareFromImage(quadrants(width, height));
        EXPECT_EQ(slide.placement(), placeSlide(width, height));
        expectQuadrantsPlaced(slide, 0);
    }
}

TEST(SlideTexture, DegeneratePicturesGiveAnAllWhiteTexture)
{
    SlideImage slide;
    for (const RgbImage& picture :
         {uniform(2048, 1, {0, 0, 0}), uniform(1, 2048, {0, 0, 0}), RgbImage{}}) {
        slide.prepareFromImage(quadrants(10, 10));
        slide.prepareFromImage(picture);
        const std::uint8_t* t = slide.texturePixels();
        EXPECT_TRUE(
            std::all_of(t, t + SlideImage::TextureBytes, [](std::uint8_t v) { return v == 255; }))
            << picture.width << " x " << picture.height;
    }
    EXPECT_EQ(slide.placement(), (SlidePlacement{1024, 1024, 0.99f, 1.0f}));
}

TEST(SlideTexture, ScalingKeepsUniformColoursExactly)
{
    // Fractional box weights when shrinking and interpolation when enlarging must both sum to 1.
    const Rgb colour{37, 150, 201};
    SlideImage slide;
    for (const auto& [width, height] :
         {std::pair{1601, 1203}, std::pair{333, 7001}, std::pair{640, 480}, std::pair{5, 3}}) {
        slide.prepareFromImage(uniform(width, height, colour));
        int wrong = 0;
        for (int row = 0; row < slide.imageHeight(); ++row) {
            for (int column = 0; column < slide.imageWidth(); ++column) {
                wrong += texel(slide.texturePixels(), column, row) != colour;
            }
        }
        EXPECT_EQ(wrong, 0) << width << " x " << height;
    }
}

TEST(SlideTexture, ShrinkingAveragesAFineCheckerboardToGrey)
{
    SlideImage slide;
    for (const auto& [width, height] :
         {std::pair{2048, 1536}, std::pair{1600, 1200}, std::pair{3001, 4003}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        slide.prepareFromImage(makeImage(width, height, [](int x, int y) {
            return (x + y) % 2 ? White : Rgb{0, 0, 0};
        }));
        int lowest = 255;
        int highest = 0;
        double total = 0;
        for (int row = 0; row < slide.imageHeight(); ++row) {
            for (int column = 0; column < slide.imageWidth(); ++column) {
                const int value = texel(slide.texturePixels(), column, row).g;
                lowest = std::min(lowest, value);
                highest = std::max(highest, value);
                total += value;
            }
        }
        EXPECT_GE(lowest, 90);
        EXPECT_LE(highest, 165);
        EXPECT_NEAR(total / (slide.imageWidth() * slide.imageHeight()), 127.5, 1.0);
    }
}

TEST_F(SlideFiles, JpegAndBitmapFilesLandUpright)
{
    SlideImage slide;
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{240, 320}}) {
        const RgbImage picture = quadrants(width, height);
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        slide.prepare(write("photo.jpg", encodeJpeg(picture)));
        EXPECT_EQ(slide.placement(), placeSlide(width, height));
        expectQuadrantsPlaced(slide, 30);
        slide.prepare(write("photo.bmp", encodeBmp(picture)));
        EXPECT_EQ(slide.placement(), placeSlide(width, height));
        expectQuadrantsPlaced(slide, 0);
    }
}

TEST(SlideRouting, OnlyJpgAndJpegNamesGoToTheJpegDecoder)
{
    for (const char* name : {"a.jpg", "a.JPG", "a.Jpeg", "/p/x.y/a.jPeG", ".jpg", "a.bmp.jpg"}) {
        EXPECT_TRUE(hasJpegExtension(name)) << name;
    }
    for (const char* name : {"a.bmp", "a.BMP", "a.png", "a", "/p/x.jpg/a", "a.jpg.bmp", "a.jpe",
                             "a.jpgx", "", "/p/a.jpg/"}) {
        EXPECT_FALSE(hasJpegExtension(name)) << name;
    }
}

TEST_F(SlideFiles, EachNameReachesItsDecoder)
{
    const RgbImage picture = quadrants(64, 48);
    const SlidePlacement landscape = placeSlide(64, 48);
    const SlidePlacement unreadable{1024, 1024, 0.99f, 1.0f};
    SlideImage slide;

    for (const char* name : {"a.JPG", "b.Jpeg"}) {
        slide.prepare(write(name, encodeJpeg(picture)));
        EXPECT_EQ(slide.placement(), landscape) << name;
    }
    for (const char* name : {"c.bmp", "d.BMP", "e.png", "noextension", "dir.jpg/f"}) {
        slide.prepare(write(name, encodeBmp(picture)));
        EXPECT_EQ(slide.placement(), landscape) << name;
    }
    // Bitmap bytes behind a JPEG name reach libjpeg, which cannot read them: a white square.
    slide.prepare(write("g.jpg", encodeBmp(picture)));
    EXPECT_EQ(slide.placement(), unreadable);
    EXPECT_FALSE(slide.decoderNote().empty());
    const std::uint8_t* t = slide.texturePixels();
    EXPECT_TRUE(
        std::all_of(t, t + SlideImage::TextureBytes, [](std::uint8_t v) { return v == 255; }));
    slide.prepare(path("missing.jpg"));
    EXPECT_EQ(slide.placement(), unreadable);
}

TEST_F(SlideFiles, BitmapErrorsPassThroughAndChangeNothing)
{
    SlideImage slide;
    slide.prepare(write("truncated.jpg", [&] {
        std::vector<std::uint8_t> bytes = encodeJpeg(quadrants(600, 400));
        bytes.resize(bytes.size() * 3 / 4);
        return bytes;
    }()));
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
    // JPEG bytes behind a bitmap name: the bitmap reader refuses them.
    EXPECT_THROW(slide.prepare(write("photo.bmp", encodeJpeg(quadrants(64, 48)))),
                 EQdDIBInvalidDIBFile);
    expectUnchanged();
    EXPECT_THROW(slide.prepare(path("missing.bmp")), EFileOpenError);
    expectUnchanged();
    EXPECT_THROW(slide.prepare(write("short.bmp", {'B', 'M', 1, 2, 3})), EStreamReadError);
    expectUnchanged();
}
