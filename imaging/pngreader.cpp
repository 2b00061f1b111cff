#include "imaging/formatreaders.h"
#include "imaging/qddibbuffer.h"

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

// libpng reads the data of every chunk it passes over (text, unknown chunks, the picture data
// after the last row) through, a kilobyte at a time: a chunk may declare 2 GB, and a file of a
// few kilobytes on disk may hold several as holes. The data of all chunks but the picture data
// it still needs is held to MaxChunkBytesPassed a file, far more than a real file's profile,
// text and metadata take; past it the file ends there, as if it were cut.
constexpr std::uint64_t MaxChunkBytesPassed = std::uint64_t{16} << 20;
constexpr png_uint_32 PictureDataChunk =
    png_uint_32{'I'} << 24 | png_uint_32{'D'} << 16 | png_uint_32{'A'} << 8 | png_uint_32{'T'};

// The source with the count of the chunk data read besides the picture's.
struct CountedSource : PngSource
{
    std::uint64_t passed = 0;
    // True once every row is read, from when on the picture data is passed over as well.
    const bool* rowsDone = nullptr;
};

void readCounted(png_structp png, png_bytep out, png_size_t length)
{
    auto* source = static_cast<CountedSource*>(static_cast<PngSource*>(png_get_io_ptr(png)));
    if ((png_get_io_state(png) & PNG_IO_MASK_LOC) == PNG_IO_CHUNK_DATA &&
        (png_get_io_chunk_type(png) != PictureDataChunk || *source->rowsDone)) {
        source->passed += length;
        if (source->passed > MaxChunkBytesPassed)
            png_error(png, "PNG file cut short: more than 16 MB of chunks besides the picture");
    }
    readBytes(png, out, length);
}

// The orientation in the first eXIf chunk. The chunk is kept as an unknown chunk (see readPngData),
// so that its length is held to the chunk cap; a chunk libpng would refuse as eXIf (shorter than
// two bytes, or without a byte order) is passed over as libpng passes over it.
int orientationOf(png_structp png, png_infop info)
{
    png_unknown_chunkp chunks = nullptr;
    const int count = png_get_unknown_chunks(png, info, &chunks);
    for (int i = 0; i < count; ++i) {
        const png_unknown_chunk& chunk = chunks[i];
        if (std::memcmp(chunk.name, "eXIf", 4) != 0 || chunk.size < 2)
            continue;
        const png_byte first = chunk.data[0];
        const png_byte second = chunk.data[1];
        if (second != 'M' && second != 'I' && first != second)
            continue;
        return pictureformat::orientationOfExifPayload({chunk.data, chunk.size});
    }
    return 1;
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
    PixelBuffer row;       // one row as libpng gives it, R, G, B, A
    PixelBuffer passes[7]; // an interlaced picture's passes, composited
    bool rowsDone = false;
};

// An interlaced picture comes in seven passes, each a reduced picture of every few pixels. Each
// pixel comes once, so each pass's rows are composited as they come into a store of that pass's
// pixels, which grows only as the rows arrive; the picture is laid out from the stores after the
// last pass. A file that ends early thus costs what it held, not the whole picture.
void readInterlaced(PngRead& read, png_uint_32 width, png_uint_32 height,
                    const PictureReadOptions& options)
{
    png_structp png = read.png;
    // Nothing here is a local with a destructor: libpng's errors leave by longjmp.
    read.row.resize(std::size_t{width} * 4);
    for (int pass = 0; pass < 7; ++pass) {
        const png_uint_32 columns = PNG_PASS_COLS(width, pass);
        const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
        // libpng passes over the passes that hold no pixel.
        if (columns == 0 || rows == 0)
            continue;
        // Each pass is reserved when it starts, so a file that ends in an early pass reserves
        // only that pass, a small part of the picture.
        PixelBuffer& store = read.passes[pass];
        reservePixelBuffer(store, std::size_t{columns} * rows * 3);
        for (png_uint_32 y = 0; y < rows; ++y) {
            if (y % RowsPerCheck == 0 && options.stop.stop_requested())
                png_error(png, "PNG decoding stopped");
            png_read_row(png, read.row.data(), nullptr);
            const std::size_t at = store.size();
            store.resize(at + std::size_t{columns} * 3);
            pictureformat::compositeRow(read.row.data(), store.data() + at, columns, false);
        }
    }
    pictureformat::allocate(read.picture.image, static_cast<int>(width), static_cast<int>(height));
    for (int pass = 0; pass < 7; ++pass) {
        const png_uint_32 columns = PNG_PASS_COLS(width, pass);
        const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
        if (columns == 0 || rows == 0)
            continue;
        const std::uint8_t* in = read.passes[pass].data();
        for (png_uint_32 y = 0; y < rows; ++y) {
            std::uint8_t* out =
                read.picture.image.writableRow(static_cast<int>(PNG_ROW_FROM_PASS_ROW(y, pass)));
            for (png_uint_32 x = 0; x < columns; ++x, in += 3)
                std::memcpy(out + std::size_t{PNG_COL_FROM_PASS_COL(x, pass)} * 3, in, 3);
        }
        read.passes[pass] = {};
    }
}

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
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != std::size_t{width} * 4)
        png_error(png, "Unexpected PNG row format");

    if (interlace == PNG_INTERLACE_NONE) {
        pictureformat::allocate(read.picture.image, static_cast<int>(width),
                                static_cast<int>(height));
        read.row.resize(std::size_t{width} * 4);
        for (png_uint_32 y = 0; y < height; ++y) {
            if (y % RowsPerCheck == 0 && options.stop.stop_requested())
                png_error(png, "PNG decoding stopped");
            png_read_row(png, read.row.data(), nullptr);
            pictureformat::compositeRow(read.row.data(), read.picture.image.writableRow(int(y)),
                                        width, false);
        }
    } else {
        readInterlaced(read, width, height, options);
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
    PngRead read;
    CountedSource source{{data}, 0, &read.rowsDone};
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onError, onWarning);
    if (read.png == nullptr)
        return pictureformat::unreadable("Cannot start the PNG reader");
    read.info = png_create_info_struct(read.png);
    if (read.info == nullptr) {
        png_destroy_read_struct(&read.png, nullptr, nullptr);
        return pictureformat::unreadable("Cannot start the PNG reader");
    }
    // libpng reserves the length a text, palette-suggestion or calibration chunk declares before
    // it reads the chunk, and its chunk cap only warns for those. They mean nothing to the
    // slideshow and are passed over unread. The eXIf chunk is kept as an unknown chunk, which is
    // held to the cap; the picture itself is bounded by the size check.
    static constexpr png_byte ignored[] = "tEXt\0zTXt\0iTXt\0sPLT\0pCAL\0sCAL";
    static constexpr png_byte exif[] = "eXIf";
    png_set_keep_unknown_chunks(read.png, PNG_HANDLE_CHUNK_NEVER, ignored, 6);
    png_set_keep_unknown_chunks(read.png, PNG_HANDLE_CHUNK_ALWAYS, exif, 1);
    png_set_chunk_malloc_max(read.png, 8 * 1024 * 1024);
    png_set_chunk_cache_max(read.png, 8);
    png_set_read_fn(read.png, static_cast<PngSource*>(&source), readCounted);

    const bool failed = !decodeGuarded(read, options, errors);
    png_destroy_read_struct(&read.png, &read.info, nullptr);
    if (failed && !read.rowsDone)
        return pictureformat::unreadable(errors.message);
    read.picture.readable = true;
    read.picture.note = errors.message;
    return std::move(read.picture);
}
