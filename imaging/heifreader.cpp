#include "imaging/formatreaders.h"
#include "imaging/heiftiles.h"

#include <cstring>
#include <memory>
#include <vector>

#include <libheif/heif.h>

namespace {

struct ContextFree
{
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease
{
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease
{
    void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree
{
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

// libheif's decoder plugins are registered once per process.
void initialiseOnce()
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)initialised;
}

// libheif's reader over a PictureSource: it reads the boxes it parses and the items it
// decodes, where they lie, and nothing else of the file.
struct HeifSource
{
    PictureSource& data;
    std::int64_t position = 0;
};

std::int64_t positionOf(void* userdata)
{
    return static_cast<HeifSource*>(userdata)->position;
}

// libheif only asks for bytes inside the size it was told, and stops the process when such a
// read fails (libheif 1.15 asserts on it while reading an item's data). So a stop, or a file cut
// short under the reader, gives it zeros instead: it decodes them into nothing of use, returns,
// and the picture is thrown away (see PictureSource::readOrZeros).
int readBytes(void* out, std::size_t size, void* userdata)
{
    auto& source = *static_cast<HeifSource*>(userdata);
    if (source.position < 0 ||
        !source.data.readOrZeros(static_cast<std::uint64_t>(source.position), out, size))
        return 1;
    source.position += static_cast<std::int64_t>(size);
    return 0;
}

int seekTo(std::int64_t position, void* userdata)
{
    auto& source = *static_cast<HeifSource*>(userdata);
    if (position < 0 || static_cast<std::uint64_t>(position) > source.data.size())
        return 1;
    source.position = position;
    return 0;
}

heif_reader_grow_status waitForSize(std::int64_t size, void* userdata)
{
    const auto& source = *static_cast<HeifSource*>(userdata);
    return size >= 0 && static_cast<std::uint64_t>(size) <= source.data.size()
               ? heif_reader_grow_status_size_reached
               : heif_reader_grow_status_size_beyond_eof;
}

constexpr heif_reader Reader{1, positionOf, readBytes, seekTo, waitForSize};

// The colour space of the primary picture: its ICC profile ('prof' or 'rICC') when it has one,
// else its CICP code points ('nclx'). libheif has already applied the matrix coefficients.
PictureColourSpace colourSpaceOf(const heif_image_handle* handle)
{
    PictureColourSpace space;
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > MaxProfileBytes) {
        space.note = PictureColourSpace::TooLargeNote;
    } else if (size > 0) {
        std::vector<std::uint8_t> profile(size);
        if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
            space.iccProfile = std::move(profile);
    } else {
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx)
            space.cicp = CicpColour{static_cast<int>(nclx->color_primaries),
                                    static_cast<int>(nclx->transfer_characteristics)};
        heif_nclx_color_profile_free(nclx);
    }
    return space;
}

DecodedPicture failure(const heif_error& error)
{
    return pictureformat::unreadable(error.message != nullptr && *error.message != '\0'
                                         ? error.message
                                         : "HEIF picture cannot be decoded");
}

} // namespace

// The primary picture of a HEIF container: HEIC (HEVC through libde265) and AVIF (AV1 through
// dav1d or aom). libheif applies the container's own rotation, mirroring and cropping, so the
// picture comes upright. A file of a kind with no decoder on this system is unreadable.
DecodedPicture readHeifData(PictureSource& data, const PictureReadOptions& options)
{
    initialiseOnce();
    const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
    if (!context)
        return pictureformat::unreadable("Cannot start the HEIF reader");
    HeifSource source{data};
    heif_error error = heif_context_read_from_reader(context.get(), &Reader, &source, nullptr);
    if (error.code != heif_error_Ok)
        return failure(error);
    // The decode work follows the data the file holds: no tile is decoded twice.
    if (const char* reason = heifTilesShareData(data))
        return pictureformat::unreadable(reason);
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    if (error.code != heif_error_Ok)
        return failure(error);
    const std::unique_ptr<const heif_image_handle, HandleRelease> handle(rawHandle);

    // The size after the container's transformations; a quarter turn only swaps the sides.
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (!pictureformat::sizeAllowed(width, height, options))
        return pictureformat::unreadable("HEIF picture too large to decode");
    if (options.stop.stop_requested())
        return pictureformat::unreadable("HEIF decoding stopped");

    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const std::unique_ptr<heif_decoding_options, OptionsFree> decoding(
        heif_decoding_options_alloc());
    if (!decoding)
        return pictureformat::unreadable("Cannot start the HEIF reader");
    decoding->convert_hdr_to_8bit = 1;
    heif_image* rawImage = nullptr;
    error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                              alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              decoding.get());
    const std::unique_ptr<const heif_image, ImageRelease> image(rawImage);
    if (error.code != heif_error_Ok || !image)
        return failure(error);

    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int decodedWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int channels = alpha ? 4 : 3;
    if (plane == nullptr || decodedWidth <= 0 || decodedHeight <= 0 ||
        !pictureformat::sizeAllowed(decodedWidth, decodedHeight, options) ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8 ||
        stride < decodedWidth * channels)
        return pictureformat::unreadable("Unexpected HEIF picture format");
    if (options.stop.stop_requested())
        return pictureformat::unreadable("HEIF decoding stopped");

    const bool premultiplied = heif_image_is_premultiplied_alpha(rawImage) != 0;
    DecodedPicture picture;
    pictureformat::allocate(picture.image, decodedWidth, decodedHeight);
    for (int y = 0; y < decodedHeight; ++y) {
        const std::uint8_t* in =
            plane + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        std::uint8_t* out = picture.image.writableRow(y);
        if (alpha)
            pictureformat::compositeRow(in, out, std::size_t(decodedWidth), premultiplied);
        else
            std::memcpy(out, in, std::size_t(decodedWidth) * 3);
    }
    picture.width = decodedWidth;
    picture.height = decodedHeight;
    picture.colourSpace = colourSpaceOf(handle.get());
    picture.readable = true;
    return picture;
}
