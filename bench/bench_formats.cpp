// The CPU half of a change of slide for a 12-megapixel picture of each further format, against
// the format library's own command-line decoder on the same file, in turns so that both see the
// same machine. With --hostile FOLDER it writes instead the small files that declare huge
// pictures (one per format), for measuring what they cost the slideshow, e.g. with
// "/usr/bin/time -v ./build/tools/lumivane-slide FOLDER/hostile.png /dev/null".
// Run: ./build/bench/bench_formats [ROUNDS]
// Needs convert (ImageMagick), gif2rgb (giflib-tools), dwebp (webp), tiff2rgba (libtiff-tools)
// and heif-convert (libheif-examples).
#include "scene/slideimage.h"
#include "tests/support/formatpictures.h"
#include "tests/support/testpictures.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <webp/encode.h>

extern char** environ;

using FormatPictures::Format;
using FormatPictures::Variant;

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

// The process's CPU time, all threads: libheif and its decoders work on threads of their own.
double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs a shell command line and returns its CPU time (user + system), or -1 on failure.
double commandCpuSeconds(const std::string& command)
{
    const char* arguments[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "sh", nullptr, nullptr, const_cast<char* const*>(arguments),
                     environ) != 0)
        return -1;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A photo-like 12-megapixel picture (a palette one for GIF) as the format stores such photos:
// lossy WebP at quality 90, lossless PNG and TIFF, HEIC and AVIF as the test pictures make them.
std::vector<std::uint8_t> photo(Format format)
{
    if (format == Format::Gif)
        return FormatPictures::encode(
            format, Variant::Palette,
            FormatPictures::sourceFor(format, Variant::Palette, Width, Height));
    const RgbImage rgb = TestPictures::makePhotoLike(Width, Height);
    if (format == Format::Webp) {
        std::uint8_t* out = nullptr;
        const std::size_t size =
            WebPEncodeRGB(rgb.pixels.data(), Width, Height, Width * 3, 90, &out);
        std::vector<std::uint8_t> bytes(out, out + size);
        WebPFree(out);
        return bytes;
    }
    FormatPictures::RgbaPicture picture{Width, Height, {}};
    for (std::size_t i = 0; i < rgb.pixels.size(); i += 3)
        picture.pixels.insert(picture.pixels.end(),
                              {rgb.pixels[i], rgb.pixels[i + 1], rgb.pixels[i + 2], 255});
    return FormatPictures::encode(format, Variant::Rgb, picture);
}

std::string decoderCommand(Format format, const std::string& in, const std::string& out)
{
    switch (format) {
    case Format::Png:
        return "/usr/bin/convert '" + in + "' ppm:- > /dev/null";
    case Format::Gif:
        return "gif2rgb -1 -o '" + out + ".rgb' '" + in + "'";
    case Format::Webp:
        return "dwebp -quiet -ppm '" + in + "' -o '" + out + ".ppm'";
    case Format::Tiff:
        return "tiff2rgba -c none '" + in + "' '" + out + ".tiff'";
    case Format::Heic:
    case Format::Avif:
        return "heif-convert '" + in + "' '" + out + ".y4m' > /dev/null";
    }
    return "false";
}

} // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("lumivane-bench-formats-" + std::to_string(getpid()));
    if (argc == 3 && std::string(argv[1]) == "--hostile") {
        for (Format format : FormatPictures::AllFormats) {
            const std::string path =
                std::string(argv[2]) + "/hostile" + FormatPictures::extensionOf(format);
            TestPictures::writeFile(path, FormatPictures::hostile(format));
            std::printf("%s\n", path.c_str());
        }
        return 0;
    }
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    std::filesystem::create_directories(folder);
    std::printf("%-6s %10s %12s %12s %8s\n", "format", "file KB", "prepare s", "decoder s",
                "ratio");
    for (Format format : FormatPictures::AllFormats) {
        const std::string path =
            (folder / ("photo" + std::string(FormatPictures::extensionOf(format)))).string();
        const std::vector<std::uint8_t> bytes = photo(format);
        TestPictures::writeFile(path, bytes);
        const std::string out = (folder / "out").string();
        SlideImage slide;
        double prepare = 0;
        double decoder = 0;
        for (int round = 0; round < rounds; ++round) {
            const double start = processCpuSeconds();
            slide.prepare(path);
            prepare += processCpuSeconds() - start;
            const double command = commandCpuSeconds(decoderCommand(format, path, out));
            if (command < 0) {
                std::printf("%s: the decoder could not be run\n",
                            FormatPictures::extensionOf(format));
                break;
            }
            decoder += command;
        }
        std::printf("%-6s %10zu %12.3f %12.3f %8.2f%s\n", FormatPictures::extensionOf(format) + 1,
                    bytes.size() / 1024, prepare / rounds, decoder / rounds, prepare / decoder,
                    slide.decoderNote().empty() ? "" : "  (not read!)");
    }
    std::filesystem::remove_all(folder);
    return 0;
}
