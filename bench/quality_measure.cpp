// Measures what the high quality mode is for, on frames drawn by lumivane-slide (see
// bench/measure_quality.sh, which draws the frames in both modes and runs this on them):
//
//   quality_measure pictures DIR
//       writes DIR/photo.jpg, a 6000 x 4000 photo-like JPEG (gradients and noise at every scale
//       from 1 to 256 pixels), and DIR/stripes.bmp, 1024 x 768 one-pixel black and white
//       vertical stripes.
//   quality_measure detail FRAME.png PICTURE
//       detail kept at a held frame (path 0, camera frame 110): the high-frequency energy of the
//       picture's inside (luminance minus its 3 x 3 mean, squared) relative to that of the
//       picture resampled straight onto the same screen rectangle with a Lanczos-3 filter.
//   quality_measure shimmer PICTURE PATH FRAME.png...
//       for frames of path PATH named ...-NNN.png (NNN = camera frame): the luminance spread
//       (1st to 99th percentile) inside the picture, as a percentage of the full swing; prints
//       the largest and the mean.
//   quality_measure edges FRAME.png PICTURE PATH CAMERAFRAME
//       the share of the pixels crossed by the frame's slanted outer edges (left and right bars)
//       that have an in-between value (10 % to 90 % of the way from the background to the
//       frame's white).
#include "imaging/jpegdecoder.h"
#include "scene/camerapaths.h"
#include "scene/scenegeometry.h"
#include "scene/slideimage.h"
#include "tests/support/screenmeasure.h"
#include "tests/support/testpictures.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using ScreenMeasure::Point;
using ScreenMeasure::project;

double luminance(QRgb c)
{
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

struct Picture
{
    int width = 0;
    int height = 0;
    SlidePlacement placement;
    std::array<ScenePolygon, ScenePolygonCount> scene;
};

std::optional<Picture> pictureOf(const std::string& path)
{
    SlideImage slide;
    try {
        slide.prepare(path);
    } catch (...) {
        return std::nullopt;
    }
    Picture picture;
    picture.placement = slide.placement();
    picture.scene =
        buildScene(slide.imageWidth(), slide.imageHeight(), slide.texExtentS(), slide.texExtentT());
    return picture;
}

// Value noise: a random value per cell of `cell` pixels, interpolated bilinearly.
class ValueNoise
{
public:
    ValueNoise(int width, int height, int cell, std::uint32_t seed)
        : m_cell(cell), m_columns(width / cell + 2)
    {
        std::mt19937 random(seed);
        std::uniform_real_distribution<float> value(-1.0f, 1.0f);
        m_values.resize(std::size_t(m_columns) * std::size_t(height / cell + 2));
        for (float& v : m_values)
            v = value(random);
    }
    float at(int x, int y) const
    {
        const float fx = float(x) / float(m_cell);
        const float fy = float(y) / float(m_cell);
        const int cx = int(fx);
        const int cy = int(fy);
        const float tx = fx - float(cx);
        const float ty = fy - float(cy);
        const auto v = [&](int i, int j) { return m_values[std::size_t(j) * m_columns + i]; };
        return (v(cx, cy) * (1 - tx) + v(cx + 1, cy) * tx) * (1 - ty) +
               (v(cx, cy + 1) * (1 - tx) + v(cx + 1, cy + 1) * tx) * ty;
    }

private:
    int m_cell;
    int m_columns;
    std::vector<float> m_values;
};

int writePictures(const std::string& dir)
{
    constexpr int W = 6000;
    constexpr int H = 4000;
    std::vector<ValueNoise> octaves;
    for (int cell = 1; cell <= 256; cell *= 2)
        octaves.emplace_back(W, H, cell, std::uint32_t(cell));
    const RgbImage photo = TestPictures::makeImage(W, H, [&](int x, int y) {
        float detail = 0;
        for (const ValueNoise& octave : octaves)
            detail += 14.0f * octave.at(x, y);
        const int d = int(std::lround(detail));
        return std::array{std::clamp(60 + x * 120 / W + d, 0, 255),
                          std::clamp(90 + y * 100 / H + d, 0, 255),
                          std::clamp(140 - x * 60 / W + d / 2, 0, 255)};
    });
    const RgbImage stripes = TestPictures::makeImage(1024, 768, [](int x, int) {
        return std::array{x % 2 * 255, x % 2 * 255, x % 2 * 255};
    });
    const bool written =
        TestPictures::writeFile(dir + "/photo.jpg",
                                TestPictures::encodeJpeg(photo, {.quality = 92})) &&
        TestPictures::writeFile(dir + "/stripes.bmp", TestPictures::encodeBmp(stripes)) &&
        TestPictures::writeFile(
            dir + "/gradient.jpg",
            TestPictures::encodeJpeg(TestPictures::makePhotoLike(W, H), {.quality = 90}));
    return written ? 0 : 1;
}

double lanczos(double x)
{
    constexpr double A = 3;
    if (x == 0)
        return 1;
    if (std::abs(x) >= A)
        return 0;
    const double px = std::numbers::pi * x;
    return A * std::sin(px) * std::sin(px / A) / (px * px);
}

// Resamples one axis: out[i] for i in 0..outCount covers source positions start + (i + 0.5) *
// step (in source pixels, centres at +0.5).
std::vector<std::pair<int, std::vector<double>>> lanczosTaps(double start, double step,
                                                             int outCount, int sourceCount)
{
    std::vector<std::pair<int, std::vector<double>>> taps;
    const double support = 3 * std::max(1.0, step);
    for (int i = 0; i < outCount; ++i) {
        const double centre = start + (i + 0.5) * step;
        const int first = std::max(0, int(std::floor(centre - support)));
        const int last = std::min(sourceCount - 1, int(std::ceil(centre + support)));
        std::vector<double> weights;
        double sum = 0;
        for (int j = first; j <= last; ++j) {
            const double w = lanczos((j + 0.5 - centre) / std::max(1.0, step));
            weights.push_back(w);
            sum += w;
        }
        for (double& w : weights)
            w /= sum;
        taps.emplace_back(first, std::move(weights));
    }
    return taps;
}

// Mean of (value - its 3 x 3 mean)^2 over the inside of a w x h luminance grid.
double highFrequency(const std::vector<double>& l, int w, int h)
{
    double total = 0;
    long count = 0;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            double mean = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    mean += l[std::size_t(y + dy) * w + (x + dx)];
            const double r = l[std::size_t(y) * w + x] - mean / 9;
            total += r * r;
            ++count;
        }
    }
    return count > 0 ? total / double(count) : 0;
}

int measureDetail(const std::string& framePath, const std::string& picturePath)
{
    const QImage frame(QString::fromStdString(framePath));
    const std::optional<Picture> picture = pictureOf(picturePath);
    const std::optional<JpegPicture> source = decodeJpegFile(picturePath);
    if (frame.isNull() || !picture || !source)
        return 1;
    const CameraPose pose = CameraPaths().pose(110, 0);
    const ScenePolygon& quad = picture->scene[3];
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (const SceneVertex& v : quad.vertices) {
        const Point p = project(pose, frame.width(), frame.height(), v.x, v.y, v.z);
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    // The part of the source the quad shows: s 0..ES and t 0..ET of the texture, whose picture
    // spans imageWidth x imageHeight texels from the lower left.
    const int w = source->width;
    const int h = source->height;
    const double fx = double(picture->placement.texExtentS) * 1024 / picture->placement.imageWidth;
    const double fy = double(picture->placement.texExtentT) * 1024 / picture->placement.imageHeight;
    constexpr int Margin = 4;
    const int left = int(std::ceil(x0)) + Margin;
    const int top = int(std::ceil(y0)) + Margin;
    const int cols = int(std::floor(x1)) - Margin - left;
    const int rows = int(std::floor(y1)) - Margin - top;
    // Source luminance, then Lanczos onto the screen pixels left..left+cols, top..top+rows.
    std::vector<float> lum(std::size_t(w) * h);
    for (std::size_t i = 0; i < lum.size(); ++i)
        lum[i] =
            float(0.299 * source->image.pixels[i * 3] + 0.587 * source->image.pixels[i * 3 + 1] +
                  0.114 * source->image.pixels[i * 3 + 2]);
    const double stepX = fx * w / (x1 - x0);
    const double stepY = fy * h / (y1 - y0);
    const auto tapsX = lanczosTaps((left - x0) * stepX, stepX, cols, w);
    const auto tapsY = lanczosTaps(h * (1 - fy) + (top - y0) * stepY, stepY, rows, h);
    std::vector<double> across(std::size_t(h) * cols);
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < cols; ++i) {
            double sum = 0;
            const auto& [first, weights] = tapsX[std::size_t(i)];
            for (std::size_t k = 0; k < weights.size(); ++k)
                sum += weights[k] * lum[std::size_t(y) * w + first + k];
            across[std::size_t(y) * cols + i] = sum;
        }
    std::vector<double> ideal(std::size_t(rows) * cols);
    std::vector<double> shown(std::size_t(rows) * cols);
    for (int j = 0; j < rows; ++j) {
        const auto& [first, weights] = tapsY[std::size_t(j)];
        for (int i = 0; i < cols; ++i) {
            double sum = 0;
            for (std::size_t k = 0; k < weights.size(); ++k)
                sum += weights[k] * across[(first + k) * cols + i];
            ideal[std::size_t(j) * cols + i] = std::clamp(sum, 0.0, 255.0);
            shown[std::size_t(j) * cols + i] = luminance(frame.pixel(left + i, top + j));
        }
    }
    const double kept = highFrequency(shown, cols, rows) / highFrequency(ideal, cols, rows);
    std::printf("picture on screen %.0f x %.0f px, detail kept %.2f\n", x1 - x0, y1 - y0, kept);
    return 0;
}

// The quad's corners pulled towards its centre by `shrink` of the way.
std::array<Point, 4> insideOf(const std::array<Point, 4>& corners, double shrink)
{
    Point centre;
    for (const Point& p : corners) {
        centre.x += p.x / 4;
        centre.y += p.y / 4;
    }
    std::array<Point, 4> inside;
    for (int i = 0; i < 4; ++i)
        inside[i] = {corners[i].x + (centre.x - corners[i].x) * shrink,
                     corners[i].y + (centre.y - corners[i].y) * shrink};
    return inside;
}

bool contains(const std::array<Point, 4>& quad, double x, double y)
{
    int sign = 0;
    for (int i = 0; i < 4; ++i) {
        const Point a = quad[i];
        const Point b = quad[(i + 1) % 4];
        const double c = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
        const int s = c > 0 ? 1 : -1;
        if (sign != 0 && s != sign)
            return false;
        sign = s;
    }
    return true;
}

int measureShimmer(const std::string& picturePath, int path, int argc, char** frames)
{
    const std::optional<Picture> picture = pictureOf(picturePath);
    if (!picture)
        return 1;
    const CameraPaths paths;
    double worst = 0;
    double sum = 0;
    int counted = 0;
    for (int i = 0; i < argc; ++i) {
        const std::string name = frames[i];
        const int cameraFrame = std::atoi(name.substr(name.rfind('-') + 1).c_str());
        const QImage frame(QString::fromStdString(name));
        if (frame.isNull() || cameraFrame < 1)
            return 1;
        const CameraPose pose = paths.pose(cameraFrame, path);
        std::array<Point, 4> corners;
        for (int k = 0; k < 4; ++k) {
            const SceneVertex& v = picture->scene[3].vertices[std::size_t(k)];
            corners[std::size_t(k)] = project(pose, frame.width(), frame.height(), v.x, v.y, v.z);
        }
        const std::array<Point, 4> inside = insideOf(corners, 0.15);
        std::vector<double> values;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                if (contains(inside, x + 0.5, y + 0.5))
                    values.push_back(luminance(frame.pixel(x, y)));
        if (values.size() < 100)
            continue;
        std::sort(values.begin(), values.end());
        const double spread =
            (values[values.size() * 99 / 100] - values[values.size() / 100]) / 255.0 * 100.0;
        worst = std::max(worst, spread);
        sum += spread;
        ++counted;
    }
    std::printf("luminance spread over %d frames: largest %.1f %%, mean %.1f %%\n", counted, worst,
                counted ? sum / counted : 0.0);
    return 0;
}

int measureEdges(const std::string& framePath, const std::string& picturePath, int path,
                 int cameraFrame)
{
    const QImage frame(QString::fromStdString(framePath));
    const std::optional<Picture> picture = pictureOf(picturePath);
    if (frame.isNull() || !picture)
        return 1;
    const ScreenMeasure::EdgeShare edges =
        ScreenMeasure::slantedEdges(frame, picture->scene, CameraPaths().pose(cameraFrame, path));
    const int crossed = edges.crossed;
    const int between = edges.between;
    std::printf("edge pixels %d, in-between %d: share %.2f\n", crossed, between,
                crossed ? double(between) / crossed : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pictures" && argc == 3)
        return writePictures(argv[2]);
    if (command == "detail" && argc == 4)
        return measureDetail(argv[2], argv[3]);
    if (command == "shimmer" && argc >= 5)
        return measureShimmer(argv[2], std::atoi(argv[3]), argc - 4, argv + 4);
    if (command == "edges" && argc == 6)
        return measureEdges(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]));
    std::fputs(
        "usage: quality_measure pictures DIR | detail FRAME.png PICTURE |\n"
        "       shimmer PICTURE PATH FRAME-NNN.png... | edges FRAME.png PICTURE PATH FRAME\n",
        stderr);
    return 2;
}
