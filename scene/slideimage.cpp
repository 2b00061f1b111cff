#include "scene/slideimage.h"

#include "imaging/picturereader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int TextureSize = SlideImage::TextureSize;

// Pictures are decoded at no less than twice the texture's size on their longer side, so that
// every texel still averages at least two decoded pixels each way. The texture then differs
// from one made from the full-size picture by well under one level per channel, while a
// large photo is decoded at a half, a quarter or an eighth of its size.
int minimumDecodedSide(int textureSize)
{
    return 2 * textureSize;
}

// The high quality mode's texture is drawn at one to two texels per pixel where the picture is
// held, through an area average and linear (or trilinear) filtering, which together soften it
// more than a picture scaled straight to the screen. A mild unsharp mask on every level keeps
// its fine detail (about two thirds of the ideal's high-frequency energy instead of under a
// half), without the ringing of a stronger one.
constexpr float HighQualitySharpening = 0.5f;

// The source pixels that make up each target pixel along one axis, with their weights. The
// weights of one target pixel sum to 1, so a uniform picture keeps its exact colour.
struct AxisFilter
{
    std::vector<int> first;          // first contributing source pixel, per target pixel
    std::vector<int> count;          // number of contributing source pixels, per target pixel
    std::vector<std::size_t> offset; // index of the first weight in `weights`
    std::vector<float> weights;
};

void addTaps(AxisFilter& filter, int first, std::span<const double> weights)
{
    filter.first.push_back(first);
    filter.count.push_back(static_cast<int>(weights.size()));
    filter.offset.push_back(filter.weights.size());
    for (double weight : weights) {
        filter.weights.push_back(static_cast<float>(weight));
    }
}

// One axis of a decoded picture: `pictureSize` pixels of the picture, decoded at 1/reduction of
// that, so the decoded axis holds pictureSize / reduction pixels rounded up. When the division
// is not exact, the last decoded pixel stands for only part of a pixel's width; the filters map
// the target onto the picture's true extent so that the picture is not stretched.
struct AxisSource
{
    int pictureSize = 0;
    int reduction = 1;
};

// Shrinking (or keeping the size): target pixel i covers the picture interval
// [i * p / t, (i + 1) * p / t), which is [i * p / (r * t), (i + 1) * p / (r * t)) in decoded
// pixels, and averages the decoded pixels in it, each weighted by the part of it that lies
// inside. Measured in units of 1/(r * t) decoded pixel the bounds are integers, so the coverage
// is exact.
AxisFilter makeBoxFilter(const AxisSource& source, int targetSize)
{
    AxisFilter filter;
    const std::int64_t p = source.pictureSize;
    const std::int64_t unitsPerPixel = std::int64_t{source.reduction} * targetSize;
    std::vector<double> weights;
    for (std::int64_t i = 0; i < targetSize; ++i) {
        const std::int64_t left = i * p;
        const std::int64_t right = left + p;
        const std::int64_t first = left / unitsPerPixel;
        const std::int64_t last = (right - 1) / unitsPerPixel;
        weights.clear();
        for (std::int64_t j = first; j <= last; ++j) {
            const std::int64_t covered =
                std::min(right, (j + 1) * unitsPerPixel) - std::max(left, j * unitsPerPixel);
            weights.push_back(static_cast<double>(covered) / static_cast<double>(p));
        }
        addTaps(filter, static_cast<int>(first), weights);
    }
    return filter;
}

// Enlarging: linear interpolation between the two source pixels whose centres surround the
// target pixel's centre; at the edges the outermost source pixel is repeated.
AxisFilter makeLinearFilter(const AxisSource& source, int targetSize)
{
    AxisFilter filter;
    const int sourceSize = (source.pictureSize + source.reduction - 1) / source.reduction;
    const double scale = static_cast<double>(source.pictureSize) /
                         (static_cast<double>(source.reduction) * targetSize);
    for (int i = 0; i < targetSize; ++i) {
        const double centre = (i + 0.5) * scale - 0.5;
        const double floorCentre = std::floor(centre);
        const int left = static_cast<int>(floorCentre);
        const double fraction = centre - floorCentre;
        if (centre <= 0.0) {
            const double one[] = {1.0};
            addTaps(filter, 0, one);
        } else if (left >= sourceSize - 1) {
            const double one[] = {1.0};
            addTaps(filter, sourceSize - 1, one);
        } else {
            const double pair[] = {1.0 - fraction, fraction};
            addTaps(filter, left, pair);
        }
    }
    return filter;
}

AxisFilter makeAxisFilter(const AxisSource& source, int targetSize)
{
    return source.pictureSize >= std::int64_t{source.reduction} * targetSize
               ? makeBoxFilter(source, targetSize)
               : makeLinearFilter(source, targetSize);
}

std::uint8_t toByte(float value)
{
    return static_cast<std::uint8_t>(std::clamp(static_cast<int>(value + 0.5f), 0, 255));
}

// The vertical pass for one target row: sum[i] = sum over k of weights[k] x rows[k][i], for
// the `count` bytes of each source row. This is the loop that touches every source byte, so
// it keeps each block of sums in registers across all rows and, on x86-64, converts sixteen
// bytes at a time.
void combineRows(float* sum, const std::uint8_t* const* rows, const float* weights, int taps,
                 std::size_t count)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
        __m128 sum0 = _mm_setzero_ps();
        __m128 sum1 = _mm_setzero_ps();
        __m128 sum2 = _mm_setzero_ps();
        __m128 sum3 = _mm_setzero_ps();
        for (int k = 0; k < taps; ++k) {
            const __m128 weight = _mm_set1_ps(weights[k]);
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + i));
            const __m128i low = _mm_unpacklo_epi8(bytes, zero);
            const __m128i high = _mm_unpackhi_epi8(bytes, zero);
            sum0 = _mm_add_ps(sum0,
                              _mm_mul_ps(weight, _mm_cvtepi32_ps(_mm_unpacklo_epi16(low, zero))));
            sum1 = _mm_add_ps(sum1,
                              _mm_mul_ps(weight, _mm_cvtepi32_ps(_mm_unpackhi_epi16(low, zero))));
            sum2 = _mm_add_ps(sum2,
                              _mm_mul_ps(weight, _mm_cvtepi32_ps(_mm_unpacklo_epi16(high, zero))));
            sum3 = _mm_add_ps(sum3,
                              _mm_mul_ps(weight, _mm_cvtepi32_ps(_mm_unpackhi_epi16(high, zero))));
        }
        _mm_storeu_ps(sum + i, sum0);
        _mm_storeu_ps(sum + i + 4, sum1);
        _mm_storeu_ps(sum + i + 8, sum2);
        _mm_storeu_ps(sum + i + 12, sum3);
    }
#endif
    for (; i < count; ++i) {
        float total = 0.0f;
        for (int k = 0; k < taps; ++k) {
            total += weights[k] * static_cast<float>(rows[k][i]);
        }
        sum[i] = total;
    }
}

// The vertical pass for one target row of a sparse picture whose unstored pixels are not black:
// every row adds its share of every pixel, stored or not, in the same order as combineRows, so
// that the sums come out exactly as if the background had been stored. Outside the span that any
// of the rows stores, every sum is the same, and is worked out once.
void combineOverBackground(std::span<float> sum, const RowPixels* rows, const float* weights,
                           int taps, std::uint8_t background)
{
    const auto backgroundValue = static_cast<float>(background);
    float plain = 0.0f;
    std::size_t from = sum.size();
    std::size_t to = 0;
    for (int k = 0; k < taps; ++k) {
        plain += weights[k] * backgroundValue;
        if (rows[k].count > 0) {
            from = std::min(from, static_cast<std::size_t>(rows[k].first) * 3);
            to = std::max(to, static_cast<std::size_t>(rows[k].first + rows[k].count) * 3);
        }
    }
    std::fill(sum.begin(), sum.end(), plain);
    for (std::size_t i = from; i < to; ++i) {
        float total = 0.0f;
        for (int k = 0; k < taps; ++k) {
            const RowPixels& row = rows[k];
            const std::size_t first = static_cast<std::size_t>(row.first) * 3;
            const std::size_t end = first + static_cast<std::size_t>(row.count) * 3;
            const float value =
                i >= first && i < end ? static_cast<float>(row.pixels[i - first]) : backgroundValue;
            total += weights[k] * value;
        }
        sum[i] = total;
    }
}

// Scales one row (3 floats per pixel) horizontally into bytes. Target pixel i goes to
// out + i * step, so that the row may run along a texture row in either direction or down or up
// a texture column.
void filterRow(const float* source, const AxisFilter& filter, std::uint8_t* out,
               std::ptrdiff_t step)
{
    const int targetWidth = static_cast<int>(filter.first.size());
    for (int i = 0; i < targetWidth; ++i) {
        const float* weights = filter.weights.data() + filter.offset[i];
        const float* pixel = source + static_cast<std::size_t>(filter.first[i]) * 3;
        float red = 0.0f;
        float green = 0.0f;
        float blue = 0.0f;
        for (int k = 0; k < filter.count[i]; ++k) {
            red += weights[k] * pixel[k * 3];
            green += weights[k] * pixel[k * 3 + 1];
            blue += weights[k] * pixel[k * 3 + 2];
        }
        std::uint8_t* texel = out + i * step;
        texel[0] = toByte(red);
        texel[1] = toByte(green);
        texel[2] = toByte(blue);
    }
}

// Where the scaled picture's rows go in the texture. The picture is scaled as stored, row by row
// (width x height texels, top row first); the orientation tag then says how it stands: row y
// starts at texel offset start(y) and runs on by `step` bytes a texel. The upright picture
// occupies the lower-left uprightWidth x uprightHeight texels of a texture stored bottom row
// first.
struct RowPlacement
{
    std::ptrdiff_t first = 0;   // start of stored row 0
    std::ptrdiff_t advance = 0; // from the start of one stored row to the next
    std::ptrdiff_t step = 3;    // from one texel of a stored row to the next

    std::ptrdiff_t start(int y) const { return first + advance * y; }
};

RowPlacement placeRows(int orientation, int width, int height, std::size_t textureStride)
{
    const std::ptrdiff_t texel = 3;
    const auto line = static_cast<std::ptrdiff_t>(textureStride);
    const std::ptrdiff_t lastColumn = (width - 1) * texel;
    switch (orientation) {
    case 2: // mirrored left to right
        return {(height - 1) * line + lastColumn, -line, -texel};
    case 3: // turned half way round
        return {lastColumn, line, -texel};
    case 4: // mirrored top to bottom
        return {0, line, texel};
    case 5: // mirrored along the diagonal: stored rows become columns, left to right
        return {(width - 1) * line, texel, -line};
    case 6: // to be turned a quarter clockwise: row 0 becomes the right-hand column
        return {(width - 1) * line + (height - 1) * texel, -texel, -line};
    case 7: // mirrored along the other diagonal
        return {(height - 1) * texel, -texel, line};
    case 8: // to be turned a quarter anticlockwise: row 0 becomes the left-hand column
        return {0, texel, line};
    default: // as stored
        return {(height - 1) * line, -line, texel};
    }
}

} // namespace

bool hasJpegExtension(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) {
        return false;
    }
    std::string extension = path.substr(dot);
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return extension == ".jpg" || extension == ".jpeg";
}

SlidePlacement placeSlide(int width, int height)
{
    // A picture with no pixels (an unreadable JPEG) is shown as a white square.
    if (width <= 0 || height <= 0) {
        width = 1;
        height = 1;
    }
    const std::int64_t w = width;
    const std::int64_t h = height;
    SlidePlacement placement;
    if (w > h) {
        const std::int64_t a = TextureSize * h / w;
        placement.imageWidth = TextureSize;
        placement.imageHeight = static_cast<int>(a);
        placement.texExtentS = 1.0f;
        placement.texExtentT = static_cast<float>(static_cast<double>(a) / TextureSize - 0.01);
    } else {
        const std::int64_t b = TextureSize * w / h;
        placement.imageWidth = static_cast<int>(b);
        placement.imageHeight = TextureSize;
        placement.texExtentS = static_cast<float>(static_cast<double>(b) / TextureSize - 0.01);
        placement.texExtentT = 1.0f;
    }
    return placement;
}

SlidePlacement drawSlideTexture(const RgbImage& source, const SourceGeometry& geometry,
                                std::span<std::uint8_t> texture, const std::stop_token& stop,
                                int textureSize)
{
    if (textureSize < TextureSize || textureSize > 16 * TextureSize ||
        textureSize % TextureSize != 0 || (textureSize & (textureSize - 1)) != 0) {
        throw std::invalid_argument("drawSlideTexture: the texture size must be 1024 x 2^n");
    }
    const std::size_t textureStride = std::size_t(textureSize) * 3;
    if (texture.size() != textureStride * std::size_t(textureSize)) {
        throw std::invalid_argument(
            "drawSlideTexture: the texture must hold its size squared x 3 bytes");
    }
    // Texels per unit of the placement, which stays in 1024 units.
    const int scale = textureSize / TextureSize;
    const bool empty = source.isEmpty();
    if (!empty && !source.isWellFormed()) {
        throw std::invalid_argument("drawSlideTexture: the picture has fewer pixels than its size");
    }
    const auto decodedSize = [&](int pictureSize) {
        return geometry.reduction > 0
                   ? (std::int64_t{pictureSize} + geometry.reduction - 1) / geometry.reduction
                   : -1;
    };
    if (!empty && (decodedSize(geometry.width) != source.width ||
                   decodedSize(geometry.height) != source.height)) {
        throw std::invalid_argument("drawSlideTexture: the picture does not match its geometry");
    }
    // The placement follows the picture as it stands; it is scaled as it is stored, so for a
    // quarter turn the stored width becomes the upright height.
    const int orientation =
        geometry.orientation >= 1 && geometry.orientation <= 8 ? geometry.orientation : 1;
    const bool turned = orientation >= 5;
    const SlidePlacement placement = empty    ? placeSlide(0, 0)
                                     : turned ? placeSlide(geometry.height, geometry.width)
                                              : placeSlide(geometry.width, geometry.height);
    const int uprightWidth = empty ? 0 : placement.imageWidth * scale;
    const int uprightHeight = empty ? 0 : placement.imageHeight * scale;
    if (uprightWidth == 0 || uprightHeight == 0) {
        std::fill(texture.begin(), texture.end(), std::uint8_t{255});
        return placement;
    }
    const int targetWidth = turned ? uprightHeight : uprightWidth;
    const int targetHeight = turned ? uprightWidth : uprightHeight;

    // Everything that may fail to allocate comes before the first write to the texture.
    const AxisFilter columns = makeAxisFilter({geometry.width, geometry.reduction}, targetWidth);
    const AxisFilter rows = makeAxisFilter({geometry.height, geometry.reduction}, targetHeight);
    const std::size_t sourceStride = static_cast<std::size_t>(source.width) * 3;
    std::vector<float> sum(sourceStride);
    const auto mostTaps =
        static_cast<std::size_t>(*std::max_element(rows.count.begin(), rows.count.end()));
    std::vector<RowPixels> tapRows(mostTaps);
    std::vector<const std::uint8_t*> sourceRows(mostTaps);
    std::vector<float> rowWeights(mostTaps);

    // Texels right of or above the picture are white.
    const std::size_t pictureBytes = static_cast<std::size_t>(uprightWidth) * 3;
    for (int row = 0; row < uprightHeight; ++row) {
        std::memset(texture.data() + row * textureStride + pictureBytes, 255,
                    textureStride - pictureBytes);
    }
    std::memset(texture.data() + static_cast<std::size_t>(uprightHeight) * textureStride, 255,
                static_cast<std::size_t>(textureSize - uprightHeight) * textureStride);

    // Each target row first combines its source rows at full width (contiguous memory, so the
    // per-pixel work vectorises), then scales that one row horizontally straight into its place
    // in the texture. Turning the picture costs nothing here but the order of the writes, which
    // is far cheaper than turning the decoded picture before scaling it.
    const RowPlacement rowPlacement =
        placeRows(orientation, targetWidth, targetHeight, textureStride);
    for (int y = 0; y < targetHeight; ++y) {
        if (stop.stop_requested())
            throw PictureWorkStopped();
        // Pixels the picture does not store are of its background colour. Black adds nothing
        // to the sums, so rows that store nothing are left out then.
        int taps = 0;
        bool wholeRows = true;
        for (int k = 0; k < rows.count[y]; ++k) {
            const RowPixels row = source.row(rows.first[y] + k);
            if (row.count > 0 || source.background != 0) {
                const auto tap = static_cast<std::size_t>(taps);
                tapRows[tap] = row;
                sourceRows[tap] = row.pixels;
                rowWeights[tap] = rows.weights[rows.offset[y] + k];
                wholeRows = wholeRows && row.first == 0 && row.count == source.width;
                ++taps;
            }
        }
        if (wholeRows) {
            combineRows(sum.data(), sourceRows.data(), rowWeights.data(), taps, sourceStride);
        } else if (source.background != 0) {
            combineOverBackground(sum, tapRows.data(), rowWeights.data(), taps, source.background);
        } else {
            // Rows stored in part add up only what they hold, in the same order as above, so
            // the sums come out exactly as if the rest had been stored black.
            std::fill(sum.begin(), sum.end(), 0.0f);
            for (int k = 0; k < taps; ++k) {
                const RowPixels& row = tapRows[static_cast<std::size_t>(k)];
                const float weight = rowWeights[static_cast<std::size_t>(k)];
                float* out = sum.data() + static_cast<std::size_t>(row.first) * 3;
                const std::size_t bytes = static_cast<std::size_t>(row.count) * 3;
                for (std::size_t i = 0; i < bytes; ++i)
                    out[i] += weight * static_cast<float>(row.pixels[i]);
            }
        }
        filterRow(sum.data(), columns, texture.data() + rowPlacement.start(y), rowPlacement.step);
    }
    return placement;
}

void convertTextureColours(std::span<std::uint8_t> texture, int textureSize, int pictureWidth,
                           int pictureHeight, const ColourConversion& conversion,
                           const std::stop_token& stop)
{
    constexpr int BandRows = 64;
    const std::size_t stride = static_cast<std::size_t>(textureSize) * 3;
    for (int row = 0; row < pictureHeight; ++row) {
        if (row % BandRows == 0 && stop.stop_requested())
            throw PictureWorkStopped();
        conversion.apply(texture.data() + row * stride, static_cast<std::size_t>(pictureWidth));
    }
}

SlidePlacement drawSlideTexture(const RgbImage& source, std::span<std::uint8_t> texture)
{
    return drawSlideTexture(source, {source.width, source.height}, texture);
}

// The texture's buffer is sized from the layout where it is declared, after it.
SlideImage::SlideImage(const TextureLayout& layout, bool furtherFormats)
    : m_layout(layout), m_furtherFormats(furtherFormats)
{}

void SlideImage::prepare(const std::string& openPath, std::stop_token stop)
{
    // The bitmap reader's exceptions leave this function before anything is written.
    DecodedPicture picture =
        readPicture(openPath, {.minimumLongerSide = minimumDecodedSide(m_layout.size),
                               .stop = stop,
                               .colourTransforms =
                                   m_layout.mipmaps ? &ColourTransformCache::shared() : nullptr,
                               .laterBitmapHeaders = m_furtherFormats});
    m_colourNote.clear();
    if (picture.readable) {
        const std::span<std::uint8_t> level0 =
            std::span(m_texturePixels).first(m_layout.levelOffset(1));
        // Colours are converted in the high quality mode only, on whichever holds fewer
        // pixels: the scaled picture in the texture, or the decoded picture. A large photo is
        // decoded at twice the texture's size or more, so the texture holds at most a quarter of
        // its pixels; a small picture enlarged into the texture is converted before it is
        // enlarged. A conversion of an area's mean differs from the mean of the converted
        // pixels by far less than a level, so either gives the same texture to the eye.
        const ColourTransformCache::Lookup colours =
            m_layout.mipmaps
                ? ColourTransformCache::shared().conversionFor(picture.colourSpace, stop)
                : ColourTransformCache::Lookup{};
        m_colourNote =
            colours.note.empty() && m_layout.mipmaps ? picture.colourSpace.note : colours.note;
        const int scale = m_layout.size / TextureSize;
        const SlidePlacement upright = placeSlide(picture.width, picture.height);
        const auto texturePixels = std::uint64_t(upright.imageWidth) * upright.imageHeight *
                                   std::uint64_t(scale) * std::uint64_t(scale);
        const bool convertDecoded =
            colours.conversion && !picture.image.sparse &&
            std::uint64_t(picture.image.width) * std::uint64_t(picture.image.height) <
                texturePixels;
        if (convertDecoded)
            colours.conversion->apply(picture.image.pixels.data(),
                                      std::size_t(picture.image.width) *
                                          std::size_t(picture.image.height));
        m_placement = drawSlideTexture(
            picture.image, {picture.width, picture.height, picture.reduction, picture.orientation},
            level0, stop, m_layout.size);
        if (colours.conversion && !convertDecoded)
            convertTextureColours(level0, m_layout.size, m_placement.imageWidth * scale,
                                  m_placement.imageHeight * scale, *colours.conversion, stop);
        finishLevels();
    } else {
        prepareFromImage(RgbImage{});
    }
    m_decoderNote = std::move(picture.note);
}

void SlideImage::prepareFromImage(const RgbImage& source, const std::stop_token& stop)
{
    m_placement = drawSlideTexture(source, {source.width, source.height},
                                   std::span(m_texturePixels).first(m_layout.levelOffset(1)), stop,
                                   m_layout.size);
    finishLevels();
}

void SlideImage::finishLevels()
{
    // QUALITY=DESIGN's texture has one level and keeps its white border.
    if (!m_layout.mipmaps)
        return;
    const int scale = m_layout.size / TextureSize;
    extendPictureEdges(m_texturePixels, m_layout.size, m_placement.imageWidth * scale,
                       m_placement.imageHeight * scale);
    buildMipLevels(m_texturePixels, m_layout);
    sharpenLevels(m_texturePixels, m_layout, HighQualitySharpening);
}
