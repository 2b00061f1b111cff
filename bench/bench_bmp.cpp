// Load + hand-over of large bitmap files by the reader, next to Qt's own QImage reading of the
// same files. The files are generated at start into a temporary folder: a 6000 x 4000 24-bit
// picture and a 6000 x 4000 8-bit run-length-encoded one. At the end the ratio of the times is
// printed (reader time / QImage time; below 1 means the reader is faster).
#include "imaging/qddib.h"

#include <QImage>
#include <QString>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

std::string g24BitPath;
std::string gRle8Path;

class Writer
{
public:
    void u16(std::uint16_t v)
    {
        bytes.push_back(v & 0xFF);
        bytes.push_back(v >> 8);
    }
    void u32(std::uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    std::vector<std::uint8_t> bytes;
};

// Writes the file header and a 40-byte info header; the caller appends the table and pixels.
Writer startBitmap(int bitCount, std::uint32_t compression, std::uint32_t colours)
{
    Writer w;
    w.bytes = {'B', 'M'};
    w.u32(0);
    w.u32(0);
    w.u32(14 + 40 + colours * 4);
    w.u32(40);
    w.u32(kWidth);
    w.u32(kHeight);
    w.u16(1);
    w.u16(static_cast<std::uint16_t>(bitCount));
    w.u32(compression);
    w.u32(0);
    w.u32(2835);
    w.u32(2835);
    w.u32(colours);
    w.u32(0);
    return w;
}

void finish(Writer& w, const std::string& path)
{
    const std::uint32_t size = static_cast<std::uint32_t>(w.bytes.size());
    for (int i = 0; i < 4; ++i)
        w.bytes[2 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(w.bytes.data()),
               static_cast<std::streamsize>(w.bytes.size()));
}

void write24Bit(const std::string& path)
{
    Writer w = startBitmap(24, 0, 0);
    const std::size_t stride = (kWidth * 3 + 3) & ~3;
    w.bytes.reserve(w.bytes.size() + stride * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            w.bytes.push_back(static_cast<std::uint8_t>(x ^ y));
            w.bytes.push_back(static_cast<std::uint8_t>(x + y));
            w.bytes.push_back(static_cast<std::uint8_t>(y >> 4));
        }
        w.bytes.resize(w.bytes.size() + stride - kWidth * 3, 0);
    }
    finish(w, path);
}

// An 8-bit picture of flat runs of 1 to 32 pixels, the way a drawing or a poster compresses:
// runs of three or more become encoded records, shorter ones are gathered into literal records.
void writeRle8(const std::string& path)
{
    Writer w = startBitmap(8, 1, 256);
    for (int i = 0; i < 256; ++i) {
        w.bytes.push_back(static_cast<std::uint8_t>(i));
        w.bytes.push_back(static_cast<std::uint8_t>(255 - i));
        w.bytes.push_back(static_cast<std::uint8_t>(i * 7));
        w.bytes.push_back(0);
    }
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    std::vector<std::uint8_t> row(kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth;) {
            const int run = std::min<int>(1 + next() % 32, kWidth - x);
            const auto value = static_cast<std::uint8_t>(next());
            std::fill_n(row.begin() + x, run, value);
            x += run;
        }
        std::vector<std::uint8_t> literal;
        auto flushLiteral = [&] {
            std::size_t i = 0;
            while (literal.size() - i >= 3) {
                const std::size_t n = std::min<std::size_t>(255, literal.size() - i);
                w.bytes.push_back(0);
                w.bytes.push_back(static_cast<std::uint8_t>(n));
                w.bytes.insert(w.bytes.end(), literal.begin() + i, literal.begin() + i + n);
                if (n & 1)
                    w.bytes.push_back(0);
                i += n;
            }
            for (; i < literal.size(); ++i) {
                w.bytes.push_back(1);
                w.bytes.push_back(literal[i]);
            }
            literal.clear();
        };
        for (int x = 0; x < kWidth;) {
            int run = 1;
            while (x + run < kWidth && row[x + run] == row[x] && run < 255)
                ++run;
            if (run >= 3) {
                flushLiteral();
                w.bytes.push_back(static_cast<std::uint8_t>(run));
                w.bytes.push_back(row[x]);
            } else {
                literal.insert(literal.end(), row.begin() + x, row.begin() + x + run);
            }
            x += run;
        }
        flushLiteral();
        w.bytes.push_back(0);
        w.bytes.push_back(y + 1 == kHeight ? 1 : 0);
    }
    finish(w, path);
}

void readerLoad(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        QdDib dib;
        dib.loadFromFile(path);
        RgbImage image = dib.toRgbImage();
        benchmark::DoNotOptimize(image.pixels.data());
    }
}

void qimageLoad(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        QImage image(QString::fromStdString(path), "BMP");
        if (image.isNull())
            state.SkipWithError("QImage could not read the file");
        benchmark::DoNotOptimize(image.constBits());
    }
}

// QImage keeps 8-bit files indexed; this one also makes the same RGB form the reader hands over.
void qimageLoadRgb(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        QImage image =
            QImage(QString::fromStdString(path), "BMP").convertToFormat(QImage::Format_RGB888);
        benchmark::DoNotOptimize(image.constBits());
    }
}

// Remembers the real time per iteration of every benchmark, for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions the mean stands for the benchmark; a single run stands for itself.
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                m_times[run.run_name.str()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio(const std::string& reader, const std::string& qimage) const
    {
        const auto a = m_times.find(reader);
        const auto b = m_times.find(qimage);
        if (a == m_times.end() || b == m_times.end() || b->second <= 0)
            return;
        std::printf("%-32s / %-32s = %.2f\n", reader.c_str(), qimage.c_str(),
                    a->second / b->second);
    }

private:
    std::map<std::string, double> m_times;
};

} // namespace

int main(int argc, char** argv)
{
    char pattern[] = "/tmp/lumivane-bench-bmp-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    g24BitPath = (folder / "rgb24.bmp").string();
    gRle8Path = (folder / "rle8.bmp").string();
    write24Bit(g24BitPath);
    writeRle8(gRle8Path);

    // One untimed pass over both files with both readers: the first use of this much fresh memory
    // costs the process far more than any later one, and it would land on whichever benchmark
    // runs first.
    for (const std::string& path : {g24BitPath, gRle8Path}) {
        QdDib dib;
        dib.loadFromFile(path);
        benchmark::DoNotOptimize(dib.toRgbImage().pixels.data());
        benchmark::DoNotOptimize(QImage(QString::fromStdString(path), "BMP").constBits());
    }

    const auto ms = benchmark::kMillisecond;
    benchmark::RegisterBenchmark("Reader/24bit", readerLoad, g24BitPath)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("QImage/24bit", qimageLoad, g24BitPath)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("Reader/rle8", readerLoad, gRle8Path)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("QImage/rle8", qimageLoad, gRle8Path)->Unit(ms)->UseRealTime();
    benchmark::RegisterBenchmark("QImage/rle8+toRGB888", qimageLoadRgb, gRle8Path)
        ->Unit(ms)
        ->UseRealTime();

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nTime ratio, reader / QImage (below 1: the reader is faster)\n");
    reporter.printRatio("Reader/24bit/real_time", "QImage/24bit/real_time");
    reporter.printRatio("Reader/rle8/real_time", "QImage/rle8/real_time");
    reporter.printRatio("Reader/rle8/real_time", "QImage/rle8+toRGB888/real_time");
    benchmark::Shutdown();

    std::filesystem::remove_all(folder);
    return 0;
}
