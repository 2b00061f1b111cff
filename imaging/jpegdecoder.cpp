#include "imaging/jpegdecoder.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace {

// Grey levels of the one-pass quantiser used for greyscale files.
constexpr int GreyLevels = 236;

// A progressive file may hold any number of scans, and each one costs a pass over the whole
// picture. Real files have about ten; a crafted one with thousands would stall the slideshow.
constexpr int MaxScans = 500;

// libjpeg's error manager extended with the return point of the decoding function and the
// text of the first message. `pub` comes first so that libjpeg's pointer converts back.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf returnPoint;
    char message[JMSG_LENGTH_MAX];
};

ErrorManager& errorManagerOf(j_common_ptr cinfo)
{
    return *reinterpret_cast<ErrorManager*>(cinfo->err);
}

// A fatal error: keep its text and return to the function that owns the decompressor.
[[noreturn]] void exitOnError(j_common_ptr cinfo)
{
    ErrorManager& errors = errorManagerOf(cinfo);
    (*cinfo->err->format_message)(cinfo, errors.message);
    std::longjmp(errors.returnPoint, 1);
}

// Warnings (level -1) are counted and the first one kept, never printed: a damaged file still
// shows what could be decoded. Trace messages (level >= 0) are ignored.
void recordMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0) {
        return;
    }
    ErrorManager& errors = errorManagerOf(cinfo);
    if (cinfo->err->num_warnings == 0) {
        (*cinfo->err->format_message)(cinfo, errors.message);
    }
    ++cinfo->err->num_warnings;
}

[[noreturn]] void failWith(j_decompress_ptr cinfo, const char* text)
{
    ErrorManager& errors = errorManagerOf(reinterpret_cast<j_common_ptr>(cinfo));
    std::snprintf(errors.message, sizeof errors.message, "%s", text);
    std::longjmp(errors.returnPoint, 1);
}

void limitScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (decompressor->input_scan_number > MaxScans) {
            failWith(decompressor, "Too many scans in progressive JPEG file");
        }
    }
}

struct JpegInput
{
    std::FILE* file = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// All libjpeg calls of one decode. It runs below the return point set by decompress(), so it
// holds no object with a destructor: a fatal error may leave it through longjmp at any call.
// The picture's pixels belong to the caller's `image`.
bool readPicture(j_decompress_ptr cinfo, const JpegInput& input, RgbImage& image)
{
    if (input.file != nullptr) {
        jpeg_stdio_src(cinfo, input.file);
    } else {
        jpeg_mem_src(cinfo, input.data, static_cast<unsigned long>(input.size));
    }
    jpeg_read_header(cinfo, TRUE);

    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->do_block_smoothing = TRUE;
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    if (grey) {
        cinfo->out_color_space = JCS_GRAYSCALE;
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = GreyLevels;
        cinfo->two_pass_quantize = FALSE;
    } else {
        cinfo->out_color_space = JCS_RGB;
    }
    jpeg_calc_output_dimensions(cinfo);

    // The size check comes before jpeg_start_decompress, which already allocates the whole-image
    // buffers of a progressive file.
    const std::uint64_t width = cinfo->output_width;
    const std::uint64_t height = cinfo->output_height;
    if (width == 0 || height == 0 || width * height * 3 > MaxJpegImageBytes) {
        failWith(cinfo, "JPEG picture too large to decode");
    }
    if (cinfo->output_components != (grey ? 1 : 3)) {
        failWith(cinfo, "Unexpected JPEG output format");
    }
    // The failure is raised outside the handler: longjmp must not leave a catch block.
    bool allocated = true;
    try {
        image.pixels.resize(width * height * 3);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        failWith(cinfo, "Not enough memory for the JPEG picture");
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);

    jpeg_start_decompress(cinfo);

    // Quantised grey rows are read into libjpeg's own buffer, released with the decompressor.
    JSAMPARRAY greyRow = nullptr;
    if (grey) {
        greyRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width, 1);
    }
    const std::size_t stride = width * 3;
    while (cinfo->output_scanline < cinfo->output_height) {
        std::uint8_t* target = image.pixels.data() + cinfo->output_scanline * stride;
        if (grey) {
            if (jpeg_read_scanlines(cinfo, greyRow, 1) != 1) {
                failWith(cinfo, "JPEG decoder returned no scanline");
            }
            const JSAMPLE* levels = cinfo->colormap[0];
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint8_t value = levels[greyRow[0][x]];
                target[x * 3] = value;
                target[x * 3 + 1] = value;
                target[x * 3 + 2] = value;
            }
        } else {
            JSAMPROW row = target;
            if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
                failWith(cinfo, "JPEG decoder returned no scanline");
            }
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Owns the decompressor and the return point for fatal errors, as libjpeg's example does; the
// decompressor is destroyed on every path.
bool decompress(const JpegInput& input, RgbImage& image, std::string* diagnostic)
{
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = exitOnError;
    errors.pub.emit_message = recordMessage;
    errors.message[0] = '\0';
    progress.progress_monitor = limitScans;

    if (setjmp(errors.returnPoint) != 0) {
        jpeg_destroy_decompress(&cinfo);
        if (diagnostic != nullptr) {
            *diagnostic = errors.message;
        }
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = static_cast<long>(MaxJpegImageBytes);
    cinfo.progress = &progress;
    const bool decoded = readPicture(&cinfo, input, image);
    jpeg_destroy_decompress(&cinfo);
    if (diagnostic != nullptr) {
        *diagnostic = errors.message;
    }
    return decoded;
}

} // namespace

std::optional<RgbImage> decodeJpegFile(const std::string& path, std::string* diagnostic)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (diagnostic != nullptr) {
            *diagnostic = std::strerror(errno);
        }
        return std::nullopt;
    }
    RgbImage image;
    JpegInput input;
    input.file = file;
    const bool decoded = decompress(input, image, diagnostic);
    std::fclose(file);
    if (!decoded) {
        return std::nullopt;
    }
    return image;
}

std::optional<RgbImage> decodeJpegData(std::span<const std::uint8_t> data, std::string* diagnostic)
{
    RgbImage image;
    JpegInput input;
    input.data = data.data();
    input.size = data.size();
    if (!decompress(input, image, diagnostic)) {
        return std::nullopt;
    }
    return image;
}
