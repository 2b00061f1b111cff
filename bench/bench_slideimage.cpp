// The CPU half of a change of slide for camera-sized JPEGs: decoding, placement with scaling,
// and the whole prepare() from a file. Run: ./build/bench/bench_slideimage

#include "imaging/jpegdecoder.h"
#include "render/slideimage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

#include <jpeglib.h>

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
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    std::uint32_t seed = 1;
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28);
            row[x * 3] = static_cast<std::uint8_t>(x * 200 / width + noise);
            row[x * 3 + 1] = static_cast<std::uint8_t>(y * 200 / height + noise);
            row[x * 3 + 2] = static_cast<std::uint8_t>((x + y) % 200 + noise);
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
            const std::vector<std::uint8_t>& bytes = jpeg(index);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
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
