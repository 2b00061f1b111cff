#pragma once

#include "imaging/colourprofile.h"
#include "imaging/rgbimage.h"
#include "scene/mipchain.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

// Where a picture lies in the slide texture and how large it is there, in texels.
// texExtentS and texExtentT are the texture coordinates of the picture's right and top edges.
struct SlidePlacement
{
    int imageWidth = 0;
    int imageHeight = 0;
    float texExtentS = 0.0f;
    float texExtentT = 0.0f;

    bool operator==(const SlidePlacement&) const = default;
};

// The CPU half of turning one picture file into the slide texture: decode, place, scale and
// store the 1024 x 1024 RGB texture image bottom row first, ready for glTexImage2D with
// GL_UNPACK_ALIGNMENT 1. Holds no GL state and no globals, so it may run on any thread; one
// object must not be used by two threads at once.
//
// The high quality mode asks for a larger texture with its mipmap levels (see TextureLayout):
// the picture is scaled to the larger size at the same place, converted from its file's colour
// space to the screen's (see ColourTransformCache::shared()), its edge texels are extended over
// the texture's unused part, and the levels follow level 0 in the same buffer.
class SlideImage
{
public:
    static constexpr int TextureSize = 1024;
    static constexpr std::size_t TextureBytes = std::size_t{TextureSize} * TextureSize * 3;

    // The texture starts all white with the placement of an empty picture (all zero).
    SlideImage() = default;
    // `furtherFormats` where the further formats are shown (--formats=all): bitmaps with the
    // version 4 and 5 headers are read too, with their embedded profile.
    explicit SlideImage(const TextureLayout& layout, bool furtherFormats = false);
    SlideImage(const SlideImage&) = delete;
    SlideImage& operator=(const SlideImage&) = delete;

    // Decodes the picture at `openPath` (the path as found on disk) through readPicture and
    // makes it the texture. The extension picks the reader: ".jpg" and ".jpeg" the JPEG
    // decoder, ".png", ".gif", ".webp", ".tif", ".tiff", ".heic", ".heif" and ".avif" theirs;
    // a picture any of these cannot read is not an error and shows as an all-white square
    // picture. Every other name goes to the bitmap reader, whose exceptions pass through
    // unchanged; the placement, the texture and decoderNote() then keep their previous values.
    // A stop requested through `stop` ends the work early: a picture's decoding at its next check,
    // or a bitmap's reading, hand-over or scaling with PictureWorkStopped; what it leaves is of no
    // use.
    void prepare(const std::string& openPath, std::stop_token stop = {});

    // Makes an already decoded picture the texture (an empty one gives the white square).
    void prepareFromImage(const RgbImage& source, const std::stop_token& stop = {});

    const SlidePlacement& placement() const { return m_placement; }
    int imageWidth() const { return m_placement.imageWidth; }
    int imageHeight() const { return m_placement.imageHeight; }
    float texExtentS() const { return m_placement.texExtentS; }
    float texExtentT() const { return m_placement.texExtentT; }

    // TextureBytes bytes: row r (0 = bottom) starts at byte r * 3072, three bytes R, G, B per
    // texel, no padding. With a layout of its own, layout().bytes() bytes: every level.
    const std::uint8_t* texturePixels() const { return m_texturePixels.data(); }
    const TextureLayout& layout() const { return m_layout; }

    // The decoder's fatal error or first warning from the last prepare(), empty if there was
    // none or the picture was a bitmap. The slideshow never shows it; developer tools do.
    const std::string& decoderNote() const { return m_decoderNote; }

    // Why the picture's colour space was left aside in the high quality mode (a profile that
    // cannot be read, or of the wrong kind), empty when it was converted or needed nothing.
    const std::string& colourNote() const { return m_colourNote; }

private:
    void finishLevels();

    TextureLayout m_layout;
    bool m_furtherFormats = false;
    std::vector<std::uint8_t> m_texturePixels = std::vector<std::uint8_t>(m_layout.bytes(), 255);
    SlidePlacement m_placement;
    std::string m_decoderNote;
    std::string m_colourNote;
};

// True when the file-name part of `path` (after the last "/") ends in ".jpg" or ".jpeg",
// compared without regard to the case of ASCII letters.
bool hasJpegExtension(const std::string& path);

// The placement of a width x height picture: its longer side spans the texture, the shorter
// one is scaled in integers (multiplication first, truncating division) and loses 0.01 from
// its extent. A picture with no pixels gets the placement of a square one.
SlidePlacement placeSlide(int width, int height);

// What a decoded picture stands for: the picture's own size in pixels as stored, the factor by
// which the decoder reduced it, and how it stands. A picture of width x height decoded at
// 1/reduction holds width / reduction x height / reduction pixels, each rounded up. The
// orientation takes the values of the EXIF orientation tag: 1 as stored, 2 mirrored left to
// right, 3 turned half way, 4 mirrored top to bottom, 5 mirrored along the main diagonal,
// 6 turned a quarter clockwise, 7 mirrored along the other diagonal, 8 turned a quarter
// anticlockwise; any other value counts as 1.
struct SourceGeometry
{
    int width = 0;
    int height = 0;
    int reduction = 1;
    int orientation = 1;
};

// Scales `source` into the placement of the upright picture (geometry.width x geometry.height,
// or the other way round for orientations 5 to 8) within an all-white texture image, stored
// bottom row first, turned and mirrored as the orientation says, and returns that placement.
// Shrinking averages the covered source pixels with fractional weights; enlarging interpolates
// linearly. `texture` must hold textureSize x textureSize x 3 bytes, and the source's size must
// be the one the geometry gives (std::invalid_argument otherwise). Allocates its working memory
// before writing anything, so a failed allocation leaves `texture` untouched. Once `stop` is
// requested it ends with PictureWorkStopped, leaving the texture part written. A `textureSize`
// above 1024 (1024 times a power of two) scales the picture into a texture of that edge at the same
// place, with proportionally more texels; the placement returned stays in 1024 units.
SlidePlacement drawSlideTexture(const RgbImage& source, const SourceGeometry& geometry,
                                std::span<std::uint8_t> texture, const std::stop_token& stop = {},
                                int textureSize = SlideImage::TextureSize);

// The same for a picture decoded at its own size.
SlidePlacement drawSlideTexture(const RgbImage& source, std::span<std::uint8_t> texture);

// Converts the lower-left pictureWidth x pictureHeight texels of level 0 of a texture of edge
// `textureSize` (stored bottom row first) through `conversion`, a band of rows at a time with a
// look at `stop` before each (PictureWorkStopped once it is requested).
void convertTextureColours(std::span<std::uint8_t> texture, int textureSize, int pictureWidth,
                           int pictureHeight, const ColourConversion& conversion,
                           const std::stop_token& stop = {});
