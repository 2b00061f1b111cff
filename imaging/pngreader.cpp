#include "imaging/formatreaders.h"

#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

namespace {

// How often the rows read check the stop request.
constexpr png_uint_32 RowsPerCheck = 16;

struct PngSource
{
    PictureSource& data;
    std::uint64_t position = 0;
};

// libpng's error handlers: the message is kept and libpng's own longjmp returns to the
// function that owns the reader. Warnings are ignored: what can be read is shown.
struct PngErrors
{
    std::string message;
};

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    if (errors->message.empty())
        errors->message = message;
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readBytes(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->data.read(source->position, out, length) != length)
        png_error(png, source->data.failure().empty() ? "PNG file cut short"
                                                      : source->data.failure().c_str());
    source->position += length;
}

int orientationOf(png_structp png, png_infop info)
{
    png_uint_32 length = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png, info, &length, &exif) == 0 || exif == nullptr)
        return 1;
    return pictureformat::orientationOfExifPayload({exif, length});
}

// The colour space the file gives its pixels: an sRGB chunk means sRGB whatever else is there;
// otherwise the iCCP chunk's profile, which libpng has checked against the kind of picture.
PictureColourSpace colourSpaceOf(png_structp png, png_infop info)
{
    PictureColourSpace space;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_valid(png, info, PNG_INFO_sRGB) == 0 &&
        png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile != nullptr)
        space.takeProfile({profile, length});
    return space;
}

// What the reader works with between the setjmp point and libpng's calls; nothing here is a
// local variable of the function that calls setjmp.
struct PngRead
{
    png_structp png = nullptr;
    png_infop info = nullptr;
    DecodedPicture picture;
    std::vector<std::uint8_t> rgba;
    bool rowsDone = false;
};

void decode(PngRead& read, const PictureReadOptions& options)
{
    png_structp png = read.png;
    png_infop info = read.info;
    png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
    if (!pictureformat::sizeAllowed(width, height, options))
        png_error(png, "PNG picture too large to decode");

    // Everything becomes 8-bit RGBA: palette and grey are expanded, a tRNS chunk becomes
    // alpha, 16-bit samples are scaled (rounded, not cut) to 8 bits.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "Unexpected PNG row format");

    pictureformat::allocate(read.picture.image, static_cast<int>(width), static_cast<int>(height));
    // An interlaced picture is only complete after its last pass, so it is gathered whole;
    // a plain one is composited row by row.
    read.rgba.resize(std::size_t{width} * 4 * (passes > 1 ? height : 1));
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            if (y % RowsPerCheck == 0 && options.stop.stop_requested())
                png_error(png, "PNG decoding stopped");
            std::uint8_t* row = read.rgba.data() + (passes > 1 ? std::size_t{y} * width * 4 : 0);
            png_read_row(png, row, nullptr);
            if (passes == 1)
                pictureformat::compositeRow(row, read.picture.image.writableRow(int(y)), width,
                                            false);
        }
    }
    if (passes > 1) {
        for (png_uint_32 y = 0; y < height; ++y)
            pictureformat::compositeRow(read.rgba.data() + std::size_t{y} * width * 4,
                                        read.picture.image.writableRow(int(y)), width, false);
    }
    read.rowsDone = true;
    read.picture.width = static_cast<int>(width);
    read.picture.height = static_cast<int>(height);
    read.picture.orientation = orientationOf(png, info);
    read.picture.colourSpace = colourSpaceOf(png, info);
    read.picture.colourSpace.greyPixels = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    // An eXIf chunk may also follow the picture data. A file cut short after the rows still
    // shows its picture.
    png_read_end(png, info);
    read.picture.orientation = orientationOf(png, info);
}

// The return point of libpng's errors. Nothing below the setjmp is a local of this function.
bool decodeGuarded(PngRead& read, const PictureReadOptions& options, PngErrors& errors)
{
    if (setjmp(png_jmpbuf(read.png)) != 0)
        return false;
    try {
        decode(read, options);
    } catch (const std::bad_alloc&) {
        errors.message = "Not enough memory for the PNG picture";
        return false;
    }
    return true;
}

} // namespace

DecodedPicture readPngData(PictureSource& data, const PictureReadOptions& options)
{
    PngErrors errors;
    PngSource source{data};
    PngRead read;
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onError, onWarning);
    if (read.png == nullptr)
        return pictureformat::unreadable("Cannot start the PNG reader");
    read.info = png_create_info_struct(read.png);
    if (read.info == nullptr) {
        png_destroy_read_struct(&read.png, nullptr, nullptr);
        return pictureformat::unreadable("Cannot start the PNG reader");
    }
    // Text and other ancillary chunks are held to a small total; the picture itself is
    // bounded by the size check.
    png_set_chunk_malloc_max(read.png, 8 * 1024 * 1024);
    png_set_read_fn(read.png, &source, readBytes);

    const bool failed = !decodeGuarded(read, options, errors);
    png_destroy_read_struct(&read.png, &read.info, nullptr);
    if (failed && !read.rowsDone)
        return pictureformat::unreadable(errors.message);
    read.picture.readable = true;
    read.picture.note = errors.message;
    return std::move(read.picture);
}
