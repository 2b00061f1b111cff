// The CPU half of a change of slide for camera-sized JPEGs: decoding, placement with scaling,
// and the whole prepare() from a file, which is also measured against libjpeg-turbo's own
// command-line decoder (djpeg, from libjpeg-turbo-progs) decoding the same file at full size.
// Run: ./build/bench/bench_slideimage

#include "imaging/jpegdecoder.h"
#include "scene/slideimage.h"
#include "tests/support/testpictures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct PictureSize
{
    int width;
    int height;
    const char* label;
};

const PictureSize Sizes[] = {
    {1632, 1224, "2 MP"},
    {4000, 3000, "12 MP"},
    {6000, 4000, "24 MP"},
};

// A photo-like picture at quality 90, so the decoder sees data like a photograph's.
std::vector<std::uint8_t> encodePhotoLike(int width, int height)
{
    return TestPictures::encodeJpeg(TestPictures::makePhotoLike(width, height), {.quality = 90});
}

// The test pictures, made on first use and kept for the whole run.
class Pictures
{
public:
    ~Pictures() { std::filesystem::remove_all(m_dir); }

    const std::vector<std::uint8_t>& jpeg(int index)
    {
        auto found = m_jpegs.find(index);
        if (found == m_jpegs.end()) {
            found = m_jpegs.emplace(index, encodePhotoLike(Sizes[index].width, Sizes[index].height))
                        .first;
        }
        return found->second;
    }

    const RgbImage& decoded(int index)
    {
        auto found = m_decoded.find(index);
        if (found == m_decoded.end()) {
            found = m_decoded.emplace(index, decodeJpegData(jpeg(index))->image).first;
        }
        return found->second;
    }

    // The 24 MP picture as a camera stores a portrait: landscape pixels tagged to be turned a
    // quarter clockwise.
    std::string portraitFile()
    {
        std::filesystem::create_directories(m_dir);
        const std::filesystem::path path = m_dir / "portrait.jpg";
        if (!std::filesystem::exists(path)) {
            const std::vector<std::uint8_t>& landscape = jpeg(2);
            std::vector<std::uint8_t> tagged(landscape.begin(), landscape.begin() + 2);
            const std::vector<std::uint8_t> exif = TestPictures::exifOrientationBlock(6);
            const auto length = static_cast<std::uint16_t>(exif.size() + 2);
            tagged.insert(tagged.end(), {0xFF, 0xE1, static_cast<std::uint8_t>(length >> 8),
                                         static_cast<std::uint8_t>(length & 0xFF)});
            tagged.insert(tagged.end(), exif.begin(), exif.end());
            tagged.insert(tagged.end(), landscape.begin() + 2, landscape.end());
            TestPictures::writeFile(path.string(), tagged);
        }
        return path.string();
    }

    std::string file(int index)
    {
        std::filesystem::create_directories(m_dir);
        const std::filesystem::path path = m_dir / (std::to_string(index) + ".jpg");
        if (!std::filesystem::exists(path)) {
            TestPictures::writeFile(path.string(), jpeg(index));
        }
        return path.string();
    }

private:
    std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                  ("lumivane-bench-slide-" + std::to_string(getpid()));
    std::map<int, std::vector<std::uint8_t>> m_jpegs;
    std::map<int, RgbImage> m_decoded;
};

Pictures& pictures()
{
    static Pictures instance;
    return instance;
}

void BM_DecodeJpeg(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t>& bytes = pictures().jpeg(index);
    for (auto _ : state) {
        std::optional<JpegPicture> picture = decodeJpegData(bytes);
        benchmark::DoNotOptimize(picture);
    }
    state.SetLabel(Sizes[index].label);
}

void BM_PlaceAndScale(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    const RgbImage& image = pictures().decoded(index);
    std::vector<std::uint8_t> texture(SlideImage::TextureBytes);
    for (auto _ : state) {
        benchmark::DoNotOptimize(drawSlideTexture(image, texture));
        benchmark::ClobberMemory();
    }
    state.SetLabel(Sizes[index].label);
}

void BM_PrepareFromFile(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    const std::string path = pictures().file(index);
    SlideImage slide;
    for (auto _ : state) {
        slide.prepare(path);
        benchmark::DoNotOptimize(slide.texturePixels());
    }
    state.SetLabel(Sizes[index].label);
}

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The worker's CPU half in the high quality mode against QUALITY=DESIGN, on the same file: range 0
// the picture size, range 1 the texture edge with its levels (0 for the 1024 texture of
// QUALITY=DESIGN). The time shown is the worker thread's CPU time.
void BM_PrepareHighQuality(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    const int size = static_cast<int>(state.range(1));
    const std::string path = pictures().file(index);
    SlideImage slide(size > 0 ? TextureLayout{size, true} : TextureLayout{});
    for (auto _ : state) {
        const double start = threadCpuSeconds();
        slide.prepare(path);
        benchmark::DoNotOptimize(slide.texturePixels());
        state.SetIterationTime(threadCpuSeconds() - start);
    }
    state.SetLabel(std::string(Sizes[index].label) +
                   (size > 0 ? ", high quality T=" + std::to_string(size) : ", design"));
}

// Runs `djpeg -outfile /dev/null FILE` and returns the CPU time (user + system) it took, or
// nullopt when it could not be run or failed.
std::optional<double> djpegCpuSeconds(const std::string& path)
{
    const char* arguments[] = {"djpeg", "-outfile", "/dev/null", path.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "djpeg", nullptr, nullptr, const_cast<char* const*>(arguments),
                     environ) != 0) {
        return std::nullopt;
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// prepare() and djpeg in turns on the same file, so both see the same machine. The time shown
// is prepare()'s CPU time; the counters give both CPU times and prepare / djpeg.
void BM_PrepareAgainstDjpeg(benchmark::State& state)
{
    const int index = static_cast<int>(state.range(0));
    const std::string path = pictures().file(index);
    SlideImage slide;
    double prepareTotal = 0;
    double djpegTotal = 0;
    for (auto _ : state) {
        const double start = threadCpuSeconds();
        slide.prepare(path);
        benchmark::DoNotOptimize(slide.texturePixels());
        const double prepared = threadCpuSeconds() - start;
        const std::optional<double> djpeg = djpegCpuSeconds(path);
        if (!djpeg) {
            state.SkipWithError("djpeg could not be run (install libjpeg-turbo-progs)");
            break;
        }
        state.SetIterationTime(prepared);
        prepareTotal += prepared;
        djpegTotal += *djpeg;
    }
    if (djpegTotal > 0) {
        const auto iterations = static_cast<double>(state.iterations());
        state.counters["prepare_ms"] = prepareTotal * 1000 / iterations;
        state.counters["djpeg_ms"] = djpegTotal * 1000 / iterations;
        state.counters["ratio"] = prepareTotal / djpegTotal;
    }
    state.SetLabel(Sizes[index].label);
}

// Standing a portrait upright: the tagged 24 MP picture, decoded as the slideshow decodes it,
// scaled with the quarter turn done by the scaler (range 1), scaled as stored (range 0; the
// difference is the cost of the turn), and turned into a new picture first and then scaled
// (range 2, the way the scaler avoids).
void BM_StandUpright(benchmark::State& state)
{
    static const JpegPicture decoded =
        *decodeJpegFile(pictures().portraitFile(), nullptr, {.minimumLongerSide = 2048});
    const RgbImage& image = decoded.image;
    std::vector<std::uint8_t> texture(SlideImage::TextureBytes);
    const int way = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (way == 2) {
            RgbImage upright;
            upright.width = image.height;
            upright.height = image.width;
            upright.pixels.resize(image.pixels.size());
            for (int y = 0; y < image.height; ++y) {
                // Stored row y becomes upright column height - 1 - y, read top to bottom.
                const std::uint8_t* in = image.row(y).pixels;
                std::uint8_t* out = upright.pixels.data() + (image.height - 1 - y) * 3;
                const std::size_t down = static_cast<std::size_t>(upright.width) * 3;
                for (int x = 0; x < image.width; ++x, in += 3, out += down) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                }
            }
            benchmark::DoNotOptimize(drawSlideTexture(
                upright, {decoded.height, decoded.width, decoded.reduction, 1}, texture));
        } else {
            benchmark::DoNotOptimize(drawSlideTexture(
                image, {decoded.width, decoded.height, decoded.reduction, way == 1 ? 6 : 1},
                texture));
        }
        benchmark::ClobberMemory();
    }
    state.SetLabel(way == 0   ? "as stored"
                   : way == 1 ? "turned by the scaler"
                              : "turned, then scaled");
}

void BM_PreparePortraitFromFile(benchmark::State& state)
{
    const std::string path = pictures().portraitFile();
    SlideImage slide;
    for (auto _ : state) {
        slide.prepare(path);
        benchmark::DoNotOptimize(slide.texturePixels());
    }
    state.SetLabel("24 MP, tagged 6");
}

} // namespace

BENCHMARK(BM_DecodeJpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceAndScale)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareFromFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareAgainstDjpeg)->DenseRange(0, 2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StandUpright)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreparePortraitFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareHighQuality)
    ->Args({2, 0})
    ->Args({2, 2048})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
