#include "scene/mipchain.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

int TextureLayout::levelCount() const
{
    if (!mipmaps)
        return 1;
    int levels = 1;
    while ((size >> (levels - 1)) > 1)
        ++levels;
    return levels;
}

std::size_t TextureLayout::levelOffset(int level) const
{
    std::size_t offset = 0;
    for (int i = 0; i < level; ++i) {
        const auto edge = static_cast<std::size_t>(levelSize(i));
        offset += edge * edge * 3;
    }
    return offset;
}

void extendPictureEdges(std::span<std::uint8_t> image, int size, int pictureWidth,
                        int pictureHeight)
{
    if (size <= 0 || image.size() < std::size_t(size) * std::size_t(size) * 3)
        throw std::invalid_argument("extendPictureEdges: the image is smaller than its edge");
    pictureWidth = std::min(pictureWidth, size);
    pictureHeight = std::min(pictureHeight, size);
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return;
    const std::size_t stride = std::size_t(size) * 3;
    for (int row = 0; row < pictureHeight; ++row) {
        std::uint8_t* line = image.data() + std::size_t(row) * stride;
        const std::uint8_t* last = line + std::size_t(pictureWidth - 1) * 3;
        for (int column = pictureWidth; column < size; ++column)
            std::memcpy(line + std::size_t(column) * 3, last, 3);
    }
    const std::uint8_t* top = image.data() + std::size_t(pictureHeight - 1) * stride;
    for (int row = pictureHeight; row < size; ++row)
        std::memcpy(image.data() + std::size_t(row) * stride, top, stride);
}

void buildMipLevels(std::span<std::uint8_t> chain, const TextureLayout& layout)
{
    if (chain.size() < layout.bytes())
        throw std::invalid_argument("buildMipLevels: the chain is smaller than its layout");
    // Each texel covers the 2 x 2 texels beneath it and half a texel's ring around them: the 4 x
    // 4 texels centred on it, whose mean has no trace left of a pattern at the finer level's
    // Nyquist frequency, whatever its phase. The 2 x 2 mean keeps such a pattern (one-texel
    // stripes that line up with the pairs) at full contrast in the next level, where it shimmers
    // as soon as that level is drawn. Rows first, then columns; beyond the edge the edge repeats.
    std::vector<std::uint8_t> padded;
    std::vector<std::uint16_t> rows;
    for (int level = 1; level < layout.levelCount(); ++level) {
        const int edge = layout.levelSize(level);
        const int aboveEdge = edge * 2;
        const std::size_t aboveStride = std::size_t(aboveEdge) * 3;
        const std::size_t stride = std::size_t(edge) * 3;
        const std::uint8_t* above = chain.data() + layout.levelOffset(level - 1);
        std::uint8_t* out = chain.data() + layout.levelOffset(level);
        // Sums of four texels along each row of the level above, one per texel of this level,
        // from a copy of the row with its edge texels repeated once on either side.
        padded.resize(aboveStride + 6);
        rows.resize(std::size_t(aboveEdge) * stride);
        for (int y = 0; y < aboveEdge; ++y) {
            const std::uint8_t* row = above + std::size_t(y) * aboveStride;
            std::memcpy(padded.data() + 3, row, aboveStride);
            std::memcpy(padded.data(), row, 3);
            std::memcpy(padded.data() + 3 + aboveStride, row + aboveStride - 3, 3);
            std::uint16_t* sums = rows.data() + std::size_t(y) * stride;
            // Texel x covers padded texels 2x .. 2x + 3.
            const std::uint8_t* p = padded.data();
            for (int x = 0; x < edge; ++x, p += 6, sums += 3) {
                sums[0] = std::uint16_t(p[0] + p[3] + p[6] + p[9]);
                sums[1] = std::uint16_t(p[1] + p[4] + p[7] + p[10]);
                sums[2] = std::uint16_t(p[2] + p[5] + p[8] + p[11]);
            }
        }
        for (int y = 0; y < edge; ++y) {
            const auto sumsOf = [&](int row) {
                return rows.data() + std::size_t(std::clamp(row, 0, aboveEdge - 1)) * stride;
            };
            const std::uint16_t* a = sumsOf(2 * y - 1);
            const std::uint16_t* b = sumsOf(2 * y);
            const std::uint16_t* c = sumsOf(2 * y + 1);
            const std::uint16_t* d = sumsOf(2 * y + 2);
            for (std::size_t i = 0; i < stride; ++i)
                *out++ = static_cast<std::uint8_t>((a[i] + b[i] + c[i] + d[i] + 8) / 16);
        }
    }
}

namespace {

void sharpenLevel(std::uint8_t* level, int edge, float amount, std::vector<std::uint8_t>& copy)
{
    const std::size_t stride = std::size_t(edge) * 3;
    copy.assign(level, level + stride * std::size_t(edge));
    // value = centre + amount * (centre - mean), with mean = (1-2-1 x 1-2-1) / 16; rows and
    // columns beyond the edge repeat the edge.
    for (int y = 0; y < edge; ++y) {
        const std::uint8_t* above = copy.data() + std::size_t(std::max(y - 1, 0)) * stride;
        const std::uint8_t* row = copy.data() + std::size_t(y) * stride;
        const std::uint8_t* below = copy.data() + std::size_t(std::min(y + 1, edge - 1)) * stride;
        std::uint8_t* out = level + std::size_t(y) * stride;
        for (int x = 0; x < edge; ++x) {
            const std::size_t left = std::size_t(std::max(x - 1, 0)) * 3;
            const std::size_t centre = std::size_t(x) * 3;
            const std::size_t right = std::size_t(std::min(x + 1, edge - 1)) * 3;
            for (std::size_t c = 0; c < 3; ++c) {
                const int sum = above[left + c] + 2 * above[centre + c] + above[right + c] +
                                2 * (row[left + c] + 2 * row[centre + c] + row[right + c]) +
                                below[left + c] + 2 * below[centre + c] + below[right + c];
                const float value =
                    float(row[centre + c]) + amount * (float(row[centre + c]) - float(sum) / 16.0f);
                out[centre + c] = static_cast<std::uint8_t>(std::clamp(int(value + 0.5f), 0, 255));
            }
        }
    }
}

} // namespace

void sharpenLevels(std::span<std::uint8_t> chain, const TextureLayout& layout, float amount)
{
    if (chain.size() < layout.bytes())
        throw std::invalid_argument("sharpenLevels: the chain is smaller than its layout");
    std::vector<std::uint8_t> copy;
    for (int level = 0; level < layout.levelCount(); ++level)
        sharpenLevel(chain.data() + layout.levelOffset(level), layout.levelSize(level), amount,
                     copy);
}
