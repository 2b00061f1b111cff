#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The shape of the slide texture image: its edge in texels and whether it carries the whole chain
// of mipmap levels. The default is the show's texture as it always was: 1024 x 1024, one level.
// The edge is 1024 times a power of two; the picture's placement and the scene stay in 1024
// units whatever it is, so a larger edge only puts more texels into each unit.
struct TextureLayout
{
    int size = 1024;
    bool mipmaps = false;

    // 1 without mipmaps; otherwise every level down to 1 x 1.
    int levelCount() const;
    // The edge of level `level` (0 = full size).
    int levelSize(int level) const { return size >> level; }
    // Where level `level` starts in the image: the levels follow each other, each a square RGB
    // image stored bottom row first without padding.
    std::size_t levelOffset(int level) const;
    // The bytes of every level together.
    std::size_t bytes() const { return levelOffset(levelCount()); }

    bool operator==(const TextureLayout&) const = default;
};

// Extends the picture that covers the lower-left pictureWidth x pictureHeight texels of a square
// RGB image of edge `size` (stored bottom row first) over the rest of it: each row's last picture
// texel is repeated to the right edge, then the top picture row is repeated up to the top edge.
// Filtering at a distance then averages the picture's own edge into its border instead of the
// white around it. An empty picture leaves the image as it is.
void extendPictureEdges(std::span<std::uint8_t> image, int size, int pictureWidth,
                        int pictureHeight);

// Fills levels 1.. of `chain` (laid out as `layout` says) from level 0: each texel of a level is
// the rounded mean of the 4 x 4 texels centred on the 2 x 2 it covers in the level above (the
// edge texels repeated beyond the edge).
void buildMipLevels(std::span<std::uint8_t> chain, const TextureLayout& layout);

// Sharpens every level of `chain` in place with an unsharp mask of strength `amount`: each texel
// moves away from the weighted mean of its 3 x 3 neighbourhood (1-2-1 weights) by `amount` times
// its distance from it. It makes up for the softening of the two resamplings a texel goes
// through, the area average that makes it and the linear filtering that draws it, so that a
// picture seen at about one texel per pixel keeps its fine detail. A uniform area, such as a
// level made from one-pixel stripes, stays as it is.
void sharpenLevels(std::span<std::uint8_t> chain, const TextureLayout& layout, float amount);
