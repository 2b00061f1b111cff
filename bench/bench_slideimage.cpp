// The CPU half of a change of slide for camera-sized JPEGs: decoding, placement with scaling,
// and the whole prepare() from a file. Run: ./build/bench/bench_slideimage

#include "imaging/jpegdecoder.h"
#include "render/slideimage.h"
#include "tests/support/testpictures.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <unistd.h>

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

// A gradient with noise at quality 90, so the decoder sees data like a photograph's.
std::vector<std::uint8_t> encodePhotoLike(int width, int height)
{
    std::uint32_t seed = 1;
    const RgbImage image = TestPictures::makeImage(width, height, [&](int x, int y) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 28);
        return std::array{x * 200 / width + noise, y * 200 / height + noise, (x + y) % 200 + noise};
    });
    return TestPictures::encodeJpeg(image, {.quality = 90});
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
            found = m_decoded.emplace(index, *decodeJpegData(jpeg(index))).first;
        }
        return found->second;
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
        std::optional<RgbImage> image = decodeJpegData(bytes);
        benchmark::DoNotOptimize(image);
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

} // namespace

BENCHMARK(BM_DecodeJpeg)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceAndScale)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareFromFile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
