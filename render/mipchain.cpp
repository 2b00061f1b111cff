#include "render/mipchain.h"

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
    for (int level = 1; level < layout.levelCount(); ++level) {
        const int edge = layout.levelSize(level);
        const std::size_t aboveStride = std::size_t(layout.levelSize(level - 1)) * 3;
        const std::uint8_t* above = chain.data() + layout.levelOffset(level - 1);
        std::uint8_t* out = chain.data() + layout.levelOffset(level);
        for (int row = 0; row < edge; ++row) {
            const std::uint8_t* lower = above + std::size_t(2 * row) * aboveStride;
            const std::uint8_t* upper = lower + aboveStride;
            for (int i = 0; i < edge * 3; ++i) {
                // Texel i / 3 of this level covers texels 2 * (i / 3) and 2 * (i / 3) + 1 above;
                // byte i % 3 is its channel.
                const int left = (i / 3) * 6 + i % 3;
                *out++ = static_cast<std::uint8_t>(
                    (lower[left] + lower[left + 3] + upper[left] + upper[left + 3] + 2) / 4);
            }
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
