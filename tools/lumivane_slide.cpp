// lumivane-slide: runs the CPU half of the slide texture on one picture file, the way the
// slideshow does, and writes the resulting 1024 x 1024 texture image as a binary PPM (top row
// first, as image viewers expect). It prints the placement as
// "ImageWidth ImageHeight TexExtentS TexExtentT" on one line; like the texture, it is that of
// the picture stood upright by its EXIF orientation tag. A file that the bitmap reader
// refuses gives its error text on stderr and exit status 1; an unreadable picture is not an error
// (the slideshow shows it as a white square), but the decoder's note goes to stderr. The tool
// reads pictures as --formats=all does: every format, and bitmaps with version 4 and 5 headers.
// --quality=high before PICTURE writes the first level of the high quality texture at the same
// 1024 x 1024 edge: the picture converted from its file's colour space to sRGB, with its edge
// texels extended over the rest of the texture and its levels sharpened.
//
// With --frame it renders one frame of the slideshow's scene for the picture offscreen, with
// the same drawing code as the window, and writes it as an image file (PNG, PPM, ... by the
// file's extension): --frame PICTURE PATH FRAME WIDTHxHEIGHT OUT.png, with PATH 0..5 and FRAME
// 1..150. It needs an OpenGL context, so a display (for example Xvfb) must be reachable.
// --quality=high before --frame draws the frame as QUALITY=HIGH would on a screen of that size:
// the texture edge the window would choose, with its mipmap levels, and 4x multisampling.

#include "scene/slideconstants.h"
#include "scene/slideimage.h"
#include "tools/framerender.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

namespace {

const char* const Usage =
    "usage: lumivane-slide [--quality=design|high] PICTURE OUT.ppm\n"
    "       lumivane-slide [--quality=design|high] --frame PICTURE PATH FRAME "
    "WIDTHxHEIGHT OUT.png\n";

// What the tool is asked to do. Each mode has its own run function below.
enum class Mode
{
    Texture, // PICTURE OUT.ppm: the slide texture image and its placement
    Frame,   // --frame PICTURE PATH FRAME WxH OUT: one rendered frame of the scene
};

struct Options
{
    Mode mode = Mode::Texture;
    std::string picture;
    std::string output;
    FrameRequest frame;
};

std::optional<int> parseInt(const char* text)
{
    int value = 0;
    const char* end = text + std::strlen(text);
    const auto [ptr, error] = std::from_chars(text, end, value);
    if (error != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::optional<Options> parseArguments(int argc, char** argv)
{
    PictureQuality quality = PictureQuality::Design;
    if ((argc == 8 || argc == 4) && std::strncmp(argv[1], "--quality=", 10) == 0) {
        if (std::strcmp(argv[1] + 10, "high") == 0)
            quality = PictureQuality::High;
        else if (std::strcmp(argv[1] + 10, "design") != 0)
            return std::nullopt;
        ++argv;
        --argc;
    }
    if (argc == 7 && std::strcmp(argv[1], "--frame") == 0) {
        Options options;
        options.mode = Mode::Frame;
        options.picture = argv[2];
        const std::optional<int> path = parseInt(argv[3]);
        const std::optional<int> frame = parseInt(argv[4]);
        const std::string size = argv[5];
        const std::size_t x = size.find('x');
        if (!path || !frame || x == std::string::npos)
            return std::nullopt;
        const std::optional<int> width = parseInt(size.substr(0, x).c_str());
        const std::optional<int> height = parseInt(size.substr(x + 1).c_str());
        if (!width || !height || *path < 0 || *path >= PathCount || *frame < 1 ||
            *frame > SlideFrames || *width < 1 || *height < 1 || *width > 8192 || *height > 8192)
            return std::nullopt;
        options.frame = {*path, *frame, *width, *height, quality};
        options.output = argv[6];
        return options;
    }
    if (argc == 3 && argv[1][0] != '-') {
        Options options;
        options.mode = Mode::Texture;
        options.frame.quality = quality;
        options.picture = argv[1];
        options.output = argv[2];
        return options;
    }
    return std::nullopt;
}

// The shortest text that reads back as the same float, so the printed extents are exact.
std::string formatFloat(float value)
{
    char text[32];
    const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

bool writePpm(const std::string& path, const SlideImage& slide)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "lumivane-slide: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    constexpr int Size = SlideImage::TextureSize;
    constexpr std::size_t RowBytes = std::size_t{Size} * 3;
    bool written = std::fprintf(file, "P6\n%d %d\n255\n", Size, Size) > 0;
    // The texture holds its bottom row first; the image file wants the top row first.
    for (int row = Size - 1; row >= 0 && written; --row) {
        const std::uint8_t* pixels =
            slide.texturePixels() + static_cast<std::size_t>(row) * RowBytes;
        written = std::fwrite(pixels, 1, RowBytes, file) == RowBytes;
    }
    if (std::fclose(file) != 0) {
        written = false;
    }
    if (!written) {
        std::fprintf(stderr, "lumivane-slide: cannot write %s\n", path.c_str());
    }
    return written;
}

int runTexture(const Options& options)
{
    // The high quality texture at the design's edge: its first level is the picture as the
    // show uploads it, colours converted, before the mipmap levels are made from it.
    SlideImage slide(
        TextureLayout{SlideImage::TextureSize, options.frame.quality == PictureQuality::High},
        true);
    try {
        slide.prepare(options.picture);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (!slide.decoderNote().empty()) {
        std::fprintf(stderr, "lumivane-slide: decoder: %s\n", slide.decoderNote().c_str());
    }
    if (!slide.colourNote().empty())
        std::fprintf(stderr, "lumivane-slide: colour: %s\n", slide.colourNote().c_str());
    if (!writePpm(options.output, slide)) {
        return 1;
    }
    std::printf("%d %d %s %s\n", slide.imageWidth(), slide.imageHeight(),
                formatFloat(slide.texExtentS()).c_str(), formatFloat(slide.texExtentT()).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseArguments(argc, argv);
    if (!options) {
        std::fputs(Usage, stderr);
        return 2;
    }
    switch (options->mode) {
    case Mode::Texture:
        return runTexture(*options);
    case Mode::Frame:
        return runFrame(argc, argv, options->picture, options->frame, options->output);
    }
    return 2;
}
