#include "imaging/jpegdecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <unistd.h>

#include <jpeglib.h>

namespace {

struct Rgb
{
    int r;
    int g;
    int b;
};

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

// Encodes with libjpeg's compressor; a greyscale file takes the red channel.
std::vector<std::uint8_t> encodeJpeg(const RgbImage& image, bool grey, bool progressive = false)
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
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 97, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const std::uint8_t* source =
            &image.pixels[static_cast<std::size_t>(cinfo.next_scanline) * image.width * 3];
        for (int x = 0; x < image.width; ++x) {
            if (grey) {
                row[x] = source[x * 3];
            } else {
                row[x * 3] = source[x * 3];
                row[x * 3 + 1] = source[x * 3 + 1];
                row[x * 3 + 2] = source[x * 3 + 2];
            }
        }
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

Rgb pixelAt(const RgbImage& image, int x, int y)
{
    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    return {p[0], p[1], p[2]};
}

void expectNear(const Rgb& actual, const Rgb& expected, int tolerance, const char* where)
{
    SCOPED_TRACE(where);
    EXPECT_NEAR(actual.r, expected.r, tolerance);
    EXPECT_NEAR(actual.g, expected.g, tolerance);
    EXPECT_NEAR(actual.b, expected.b, tolerance);
}

const Rgb TopLeft{220, 30, 30};
const Rgb TopRight{30, 200, 40};
const Rgb BottomLeft{20, 40, 210};
const Rgb BottomRight{240, 230, 20};

RgbImage quadrants(int width, int height)
{
    return makeImage(width, height, [=](int x, int y) {
        const bool left = x < width / 2;
        const bool top = y < height / 2;
        return top ? (left ? TopLeft : TopRight) : (left ? BottomLeft : BottomRight);
    });
}

class TempDir
{
public:
    TempDir()
        : m_path(std::filesystem::temp_directory_path() /
                 ("lumivane-jpeg-test-" + std::to_string(getpid())))
    {
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() { std::filesystem::remove_all(m_path); }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const std::string path = (m_path / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::string path(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

} // namespace

TEST(JpegDecoder, ColourFilesKeepSizeOrientationAndColours)
{
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const std::vector<std::uint8_t> file = encodeJpeg(quadrants(96, 64), false, progressive);
        std::string diagnostic = "stale";
        const std::optional<RgbImage> image = decodeJpegData(file, &diagnostic);
        ASSERT_TRUE(image.has_value()) << diagnostic;
        EXPECT_TRUE(diagnostic.empty());
        ASSERT_EQ(image->width, 96);
        ASSERT_EQ(image->height, 64);
        ASSERT_EQ(image->pixels.size(), 96u * 64u * 3u);
        expectNear(pixelAt(*image, 0, 0), TopLeft, 12, "top left");
        expectNear(pixelAt(*image, 95, 0), TopRight, 12, "top right");
        expectNear(pixelAt(*image, 0, 63), BottomLeft, 12, "bottom left");
        expectNear(pixelAt(*image, 95, 63), BottomRight, 12, "bottom right");
    }
}

TEST(JpegDecoder, GreyFilesUse236EvenlySpacedLevelsCloseToTheSource)
{
    // A horizontal ramp over the whole range with a little structure in y.
    const RgbImage source = makeImage(512, 64, [](int x, int y) {
        const int v = (x / 2 + (y % 8)) % 256;
        return Rgb{v, v, v};
    });
    const std::optional<RgbImage> image = decodeJpegData(encodeJpeg(source, true));
    ASSERT_TRUE(image.has_value());
    ASSERT_EQ(image->width, 512);
    ASSERT_EQ(image->height, 64);

    std::set<int> grid;
    for (int k = 0; k < 236; ++k) {
        grid.insert((k * 255 + 117) / 235);
    }
    std::set<int> levels;
    double totalError = 0;
    for (std::size_t i = 0; i < image->pixels.size(); i += 3) {
        const int r = image->pixels[i];
        ASSERT_EQ(image->pixels[i + 1], r);
        ASSERT_EQ(image->pixels[i + 2], r);
        levels.insert(r);
        totalError += std::abs(r - source.pixels[i]);
    }
    EXPECT_LE(levels.size(), 236u);
    EXPECT_GT(levels.size(), 200u);
    for (int level : levels) {
        EXPECT_TRUE(grid.count(level)) << "level " << level << " is off the grid";
    }
    EXPECT_LT(totalError / (image->pixels.size() / 3), 3.0);
}

TEST(JpegDecoder, UnreadableInputGivesNothingWithAReason)
{
    TempDir dir;
    std::string diagnostic;
    EXPECT_FALSE(decodeJpegFile(dir.path("missing.jpg"), &diagnostic).has_value());
    EXPECT_FALSE(diagnostic.empty());

    const std::vector<std::uint8_t> text{'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    EXPECT_FALSE(decodeJpegFile(dir.write("text.jpg", text), &diagnostic).has_value());
    EXPECT_FALSE(diagnostic.empty());
    EXPECT_FALSE(decodeJpegFile(dir.write("empty.jpg", {})).has_value());
    EXPECT_FALSE(decodeJpegData({}).has_value());
    EXPECT_FALSE(decodeJpegFile(dir.path("")).has_value()); // a folder
}

TEST(JpegDecoder, ATruncatedFileShowsWhatWasDecoded)
{
    // Noise keeps the scan data much larger than the headers, so half the file holds rows.
    const RgbImage source = makeImage(256, 256, [](int x, int y) {
        const int noise =
            static_cast<int>((static_cast<unsigned>(x * 7919 + y * 104729) >> 3) % 16);
        return x < 128 && y < 128 ? Rgb{TopLeft.r + noise, TopLeft.g + noise, TopLeft.b + noise}
                                  : Rgb{128 + noise, 128, 128 - noise};
    });
    const std::vector<std::uint8_t> file = encodeJpeg(source, false);
    const std::vector<std::uint8_t> half(file.begin(), file.begin() + file.size() / 2);
    std::string diagnostic;
    const std::optional<RgbImage> image = decodeJpegData(half, &diagnostic);
    ASSERT_TRUE(image.has_value()) << diagnostic;
    EXPECT_NE(diagnostic.find("Premature end"), std::string::npos) << diagnostic;
    ASSERT_EQ(image->width, 256);
    ASSERT_EQ(image->height, 256);
    expectNear(pixelAt(*image, 4, 4), TopLeft, 20, "decoded top left");
}

TEST(JpegDecoder, AnOversizedHeaderIsRefusedBeforeAllocating)
{
    std::vector<std::uint8_t> file = encodeJpeg(quadrants(16, 16), false);
    // Patch the frame header (SOF0: FF C0, length, precision, height, width) to 60000 x 60000.
    bool patched = false;
    for (std::size_t i = 0; i + 8 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = 60000 >> 8;
            file[i + 6] = 60000 & 0xFF;
            file[i + 7] = 60000 >> 8;
            file[i + 8] = 60000 & 0xFF;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    const auto start = std::chrono::steady_clock::now();
    std::string diagnostic;
    EXPECT_FALSE(decodeJpegData(file, &diagnostic).has_value());
    EXPECT_NE(diagnostic.find("too large"), std::string::npos) << diagnostic;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(JpegDecoder, DamagedFilesNeverCrash)
{
    // Every decode of a damaged copy must end with a picture of the header's size or nothing;
    // the sanitizer build turns any stray read or write into a failure.
    const std::vector<std::uint8_t> original = encodeJpeg(quadrants(40, 24), false, true);
    std::uint32_t seed = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> file = original;
        for (int flips = 0; flips < 1 + round % 4; ++flips) {
            seed = seed * 1664525u + 1013904223u;
            file[seed % file.size()] = static_cast<std::uint8_t>(seed >> 24);
        }
        if (round % 5 == 0) {
            file.resize(seed % file.size());
        }
        const std::optional<RgbImage> image = decodeJpegData(file);
        if (image) {
            EXPECT_EQ(image->pixels.size(),
                      static_cast<std::size_t>(image->width) * image->height * 3);
        }
    }
}

TEST(JpegDecoder, OpensThePathAsRawBytes)
{
    TempDir dir;
    // A Shift_JIS file name that is not valid UTF-8.
    const std::string path =
        dir.write("\x83\x65\x83\x58\x83\x67.jpg", encodeJpeg(quadrants(8, 8), false));
    EXPECT_TRUE(decodeJpegFile(path).has_value());
}
