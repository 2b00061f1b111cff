// Feeds arbitrary bytes to one of the further picture readers, chosen when the target is built
// (LUMIVANE_FUZZ_KIND, a PictureKind), and scales what it gives into the slide texture, the
// path a change of slide runs, with the colour space the file embeds converted as the high quality
// mode converts it. Besides crashes, hangs and sanitizer reports, any of these is a
// finding:
// - a picture whose pixels do not agree with its size and reduction;
// - an orientation outside 1 to 8;
// - a texel outside the picture's placement that is not white.
#include "imaging/picturereader.h"
#include "scene/slideimage.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// libdav1d 1.0 (behind libheif's AV1 decoder) keeps 40 bytes of a packet it refuses as
// invalid; the leak is the library's and small, so LeakSanitizer is told to pass over it (the
// input that found it is kept in tests/data/heif/).
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdav1d\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static std::vector<std::uint8_t> texture(SlideImage::TextureBytes);
    // The high quality mode's colour management: CMYK and Lab through their profiles while
    // decoding, and the embedded profile's parse and transform afterwards.
    static ColourTransformCache colours;
    // The readers' own size limit, as the slideshow reads: a header that declares a huge
    // picture must cost only what the input holds.
    DecodedPicture picture = readPictureData(PictureKind::LUMIVANE_FUZZ_KIND, std::span(data, size),
                                             {.minimumLongerSide = 2 * SlideImage::TextureSize,
                                              .colourTransforms = &colours});
    if (!picture.readable)
        return 0;
    RgbImage& image = picture.image;
    if (const auto lookup = colours.conversionFor(picture.colourSpace);
        lookup.conversion && !image.sparse && image.isWellFormed())
        lookup.conversion->apply(image.pixels.data(),
                                 std::size_t(image.width) * std::size_t(image.height));
    const int reduction = picture.reduction;
    if (reduction < 1 || image.width != (picture.width + reduction - 1) / reduction ||
        image.height != (picture.height + reduction - 1) / reduction || !image.isWellFormed() ||
        picture.orientation < 1 || picture.orientation > 8)
        __builtin_trap();
    const SlidePlacement placement = drawSlideTexture(
        image, {picture.width, picture.height, reduction, picture.orientation}, texture);
    const int size_ = SlideImage::TextureSize;
    if (placement.imageWidth < 0 || placement.imageWidth > size_ || placement.imageHeight < 0 ||
        placement.imageHeight > size_)
        __builtin_trap();
    for (int row = 0; row < size_; ++row) {
        const std::uint8_t* line = texture.data() + static_cast<std::size_t>(row) * size_ * 3;
        for (int column = row < placement.imageHeight ? placement.imageWidth : 0; column < size_;
             ++column) {
            if (line[column * 3] != 255 || line[column * 3 + 1] != 255 ||
                line[column * 3 + 2] != 255)
                __builtin_trap();
        }
    }
    return 0;
}
