#include "imaging/jpegdecoder.h"

#include "imaging/exiforientation.h"
#include "imaging/filedescriptor.h"
#include "imaging/qddibbuffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
// After jpeglib.h: the message codes of libjpeg's own errors and warnings.
#include <jerror.h>

namespace {

// Grey levels of the one-pass quantiser used for greyscale files.
constexpr int GreyLevels = 236;

// A progressive file may hold any number of scans, and each one costs a pass over the whole
// picture. Real files have about ten; a crafted one with thousands would stall the slideshow.
constexpr int MaxScans = 500;

// The decoding work of a file with several scans is held to a budget as well, since one scan
// may be as cheap or as dear as the file wants: each scan costs about its blocks times the
// coefficients of each block it codes (Se - Ss + 1), however few bytes it holds, as a refinement
// scan of a few bytes still visits every coefficient of its band. The budget is
// MaxCoefficientPasses times every coefficient of the picture. Real encoders stay far below it:
// libjpeg's and mozjpeg's progressions visit every coefficient about three times over their ten
// to twenty scans, and even a scan for each bit of every coefficient of 8-bit samples makes
// eleven passes. A crafted
// file repeating a scan of a 64-megapixel picture to 500 scans would take over 20 s; within the
// budget it takes a few seconds at most. The scan that would pass it and all after it are not
// decoded: the data ends there as if the file were cut, and the picture keeps what the scans
// before it gave.
constexpr std::uint64_t MaxCoefficientPasses = 12;

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

// libjpeg's progress manager with the decode's stop request; `pub` comes first, as above.
struct ProgressManager
{
    jpeg_progress_mgr pub;
    const std::stop_token* stop;
};

struct JpegInput
{
    int descriptor = -1;
    const std::uint8_t* data = nullptr;
    // The length of the data or of the file, in bytes.
    std::uint64_t size = 0;
};

// libjpeg asks its source for more bytes whenever it has used up what it was given, also while
// it skips bytes looking for the next marker, where it never calls the progress monitor. Our
// own source hands the file or the memory over in buffers of ReadBufferBytes and checks the
// stop request before each one, so a stopped decode reads at most one more buffer, however long
// the file. It also bounds what is read where no picture data can be:
// - before the frame header, only metadata (EXIF, colour profiles, comments) comes, a few
//   hundred kilobytes in real files; a file without a frame header in its first
//   MaxBytesBeforeFrame bytes is refused;
// - once every row has been decoded, libjpeg only looks for the end marker; after
//   MaxBytesAfterRows more bytes the source ends the file as if it were cut there, which keeps
//   the picture;
// - anywhere else (between the frame header and the first scan, between scans), libjpeg skips
//   whatever is not a marker without a word to anyone. A scan moves its row counters every
//   iMCU row, which real files fill with well under a megabyte, and the markers between scans
//   are tables of a few hundred bytes. So the bytes that pass without a new scan or a new row
//   are a budget for the whole file: each such gap beyond GapAllowanceBytes (room for the
//   largest iMCU row a real file holds) is charged to it, and once the gaps charged and the
//   current one reach MaxBytesWithoutProgress, the source ends the file there as if it were
//   cut, which keeps whatever scans were read. A sparse gap of gigabytes then costs a few
//   milliseconds, and so do hundreds of scans each behind a gap just under the budget.
constexpr std::size_t ReadBufferBytes = std::size_t{64} << 10;
constexpr std::uint64_t MaxBytesBeforeFrame = std::uint64_t{16} << 20;
constexpr std::uint64_t MaxBytesAfterRows = std::uint64_t{1} << 20;
constexpr std::uint64_t MaxBytesWithoutProgress = std::uint64_t{16} << 20;
constexpr std::uint64_t GapAllowanceBytes = std::uint64_t{1} << 20;

// Where libjpeg stands in the data: any change means it is reading a scan or rows, not
// skipping.
struct DecodeProgress
{
    bool frame = false;
    int scan = 0;
    JDIMENSION inputRow = 0;
    JDIMENSION outputRow = 0;

    bool operator==(const DecodeProgress&) const = default;
};

DecodeProgress progressOf(j_decompress_ptr cinfo)
{
    return {cinfo->comp_info != nullptr, cinfo->input_scan_number, cinfo->input_iMCU_row,
            cinfo->output_scanline};
}

// `pub` comes first, so that libjpeg's pointer converts back.
struct InputSource
{
    jpeg_source_mgr pub{};
    const JpegInput* input = nullptr;
    const std::stop_token* stop = nullptr;
    // Bytes of the input handed to libjpeg so far.
    std::uint64_t delivered = 0;
    // The input's bytes that libjpeg had used when the last row was decoded.
    std::uint64_t usedAtLastRow = 0;
    bool rowsDone = false;
    // What had been delivered when libjpeg was last seen to move on (see DecodeProgress).
    DecodeProgress lastProgress;
    std::uint64_t deliveredAtProgress = 0;
    // The gaps' bytes charged to the budget of MaxBytesWithoutProgress.
    std::uint64_t gapsCharged = 0;
    // The scan last seen by the progress monitor, the work of it and of those before it (see
    // MaxCoefficientPasses), and whether the data has been ended there.
    int scan = 0;
    std::uint64_t scanWork = 0;
    bool ended = false;
    JOCTET buffer[ReadBufferBytes];
};

InputSource& sourceOf(j_decompress_ptr cinfo)
{
    return *reinterpret_cast<InputSource*>(cinfo->src);
}

// A warning of our own, kept as the first message when it is the first.
void warnWith(j_decompress_ptr cinfo, const char* text)
{
    ErrorManager& errors = errorManagerOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (cinfo->err->num_warnings == 0) {
        std::snprintf(errors.message, sizeof errors.message, "%s", text);
    }
    ++cinfo->err->num_warnings;
}

// The blocks of the whole picture at full size, over all components.
std::uint64_t blocksOf(j_decompress_ptr cinfo)
{
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& component = cinfo->comp_info[c];
        blocks += std::uint64_t{component.width_in_blocks} * component.height_in_blocks;
    }
    return blocks;
}

// Charges a scan that has just started to the work budget; when it would pass the budget, the
// data ends before it. libjpeg reads a scan's data only after this first look at it, and what
// it has in its buffer is dropped, so the scan finds the end at once and costs next to nothing.
void chargeScan(j_decompress_ptr cinfo)
{
    InputSource& source = sourceOf(cinfo);
    if (cinfo->input_scan_number == source.scan || source.ended) {
        return;
    }
    source.scan = cinfo->input_scan_number;
    std::uint64_t blocks = 0;
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        blocks += std::uint64_t{cinfo->cur_comp_info[i]->width_in_blocks} *
                  cinfo->cur_comp_info[i]->height_in_blocks;
    }
    source.scanWork += blocks * static_cast<std::uint64_t>(cinfo->Se - cinfo->Ss + 1);
    if (source.scanWork > MaxCoefficientPasses * blocksOf(cinfo) * DCTSIZE2) {
        warnWith(cinfo, "Too much decoding work in the JPEG file's scans; the rest is left out");
        source.ended = true;
        source.pub.bytes_in_buffer = 0;
    }
}

// Called by libjpeg once per row group, both while it reads the scans of a progressive file
// and while it decodes rows.
void watchProgress(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor) {
        auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (decompressor->input_scan_number > MaxScans) {
            failWith(decompressor, "Too many scans in progressive JPEG file");
        }
        if (reinterpret_cast<ProgressManager*>(cinfo->progress)->stop->stop_requested()) {
            failWith(decompressor, "JPEG decoding stopped");
        }
        chargeScan(decompressor);
    }
}

// Up to ReadBufferBytes of the input from `delivered` on, pointed to by `bytes`; 0 at its end.
std::size_t readInput(j_decompress_ptr cinfo, InputSource& source, const JOCTET*& bytes)
{
    const JpegInput& input = *source.input;
    if (input.data != nullptr) {
        const std::uint64_t left = input.size - std::min(input.size, source.delivered);
        bytes = input.data + source.delivered;
        return static_cast<std::size_t>(std::min<std::uint64_t>(left, ReadBufferBytes));
    }
    bytes = source.buffer;
    for (;;) {
        const ssize_t got = ::read(input.descriptor, source.buffer, ReadBufferBytes);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            ERREXIT(cinfo, JERR_FILE_READ);
        }
    }
}

void startSource(j_decompress_ptr) {}

boolean fillSource(j_decompress_ptr cinfo)
{
    InputSource& source = sourceOf(cinfo);
    if (source.stop->stop_requested()) {
        failWith(cinfo, "JPEG decoding stopped");
    }
    // libjpeg makes the component table when it reads the frame header.
    if (cinfo->comp_info == nullptr && source.delivered >= MaxBytesBeforeFrame) {
        failWith(cinfo, "No JPEG frame header in the first 16 MB of the file");
    }
    const DecodeProgress progress = progressOf(cinfo);
    if (!(progress == source.lastProgress)) {
        // A gap after the frame header ends: what passes its allowance is charged.
        const std::uint64_t gap = source.delivered - source.deliveredAtProgress;
        if (source.lastProgress.frame && gap > GapAllowanceBytes) {
            source.gapsCharged += gap - GapAllowanceBytes;
        }
        source.lastProgress = progress;
        source.deliveredAtProgress = source.delivered;
    }
    const bool skippingTooLong =
        progress.frame && source.gapsCharged + (source.delivered - source.deliveredAtProgress) >=
                              MaxBytesWithoutProgress;
    const JOCTET* bytes = nullptr;
    std::size_t count = 0;
    if (!skippingTooLong && !source.ended &&
        (!source.rowsDone || source.delivered - source.usedAtLastRow < MaxBytesAfterRows)) {
        count = readInput(cinfo, source, bytes);
    }
    if (count == 0) {
        // The end of the data, or as far as it is worth reading: an end marker lets libjpeg
        // finish with what it has, as a cut file does.
        if (source.delivered == 0) {
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        }
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source.buffer[0] = 0xFF;
        source.buffer[1] = JPEG_EOI;
        bytes = source.buffer;
        count = 2;
    } else {
        source.delivered += count;
    }
    source.pub.next_input_byte = bytes;
    source.pub.bytes_in_buffer = count;
    return TRUE;
}

void skipSource(j_decompress_ptr cinfo, long count)
{
    InputSource& source = sourceOf(cinfo);
    while (count > static_cast<long>(source.pub.bytes_in_buffer)) {
        count -= static_cast<long>(source.pub.bytes_in_buffer);
        fillSource(cinfo);
    }
    if (count > 0) {
        source.pub.next_input_byte += count;
        source.pub.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void endSource(j_decompress_ptr) {}

// Marks the rows as all decoded, from which on the source reads at most MaxBytesAfterRows.
void noteRowsDone(j_decompress_ptr cinfo)
{
    InputSource& source = sourceOf(cinfo);
    source.rowsDone = true;
    source.usedAtLastRow = source.delivered - source.pub.bytes_in_buffer;
}

// Sets libjpeg's output scale: the smallest of 1/8, 1/4 and 1/2 that keeps the longer side at
// least `minimumLongerSide` pixels, or full size. The output colour settings must already be
// made, since the output dimensions depend on them.
void chooseScale(j_decompress_ptr cinfo, int minimumLongerSide)
{
    cinfo->scale_num = 1;
    if (minimumLongerSide > 0) {
        for (const unsigned denominator : {8u, 4u, 2u}) {
            cinfo->scale_denom = denominator;
            jpeg_calc_output_dimensions(cinfo);
            if (std::max(cinfo->output_width, cinfo->output_height) >=
                static_cast<JDIMENSION>(minimumLongerSide)) {
                return;
            }
        }
    }
    cinfo->scale_denom = 1;
    jpeg_calc_output_dimensions(cinfo);
}

// The orientation from the first APP1 marker that holds an EXIF block; 1 when there is none.
int orientationOf(j_decompress_ptr cinfo)
{
    for (jpeg_saved_marker_ptr marker = cinfo->marker_list; marker != nullptr;
         marker = marker->next) {
        const std::span<const std::uint8_t> data(marker->data, marker->data_length);
        if (marker->marker == JPEG_APP0 + 1 && isExifBlock(data)) {
            return exifOrientation(data);
        }
    }
    return 1;
}

// The ICC profile that the APP2 markers carry, put together by libjpeg, which warns about
// chunks that do not fit together and then gives none. A profile that cannot be kept is left
// aside with a note; the picture is read all the same.
void takeColourProfile(j_decompress_ptr cinfo, PictureColourSpace& space)
{
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    if (!jpeg_read_icc_profile(cinfo, &profile, &length))
        return;
    try {
        space.takeProfile({profile, length});
    } catch (const std::bad_alloc&) {
        space.note = "Not enough memory for the colour profile";
    }
    std::free(profile);
}

// The conversion of a CMYK file's ink through its embedded profile, when one is asked for and
// the profile serves. The file's profile describes ink, so it leaves the picture's colour space
// either way: the pixels are then on screen already, or made by the formula below (as sRGB),
// with the reason noted.
void chooseCmykConversion(const JpegDecodeOptions& options, bool invertedInk,
                          PictureColourSpace& space,
                          std::shared_ptr<const ColourConversion>& conversion)
{
    if (options.colourTransforms != nullptr && !space.iccProfile.empty()) {
        try {
            ColourTransformCache::Lookup lookup = options.colourTransforms->cmykConversionFor(
                space.iccProfile, invertedInk, options.stop);
            conversion = std::move(lookup.conversion);
            space.note = std::move(lookup.note);
        } catch (const std::bad_alloc&) {
            space.note = "Not enough memory for the colour profile";
        }
    }
    space.iccProfile = {};
    space.onScreen = conversion != nullptr;
}

// CMYK to RGB: each channel is the light its ink lets through, times what black lets through.
// Adobe's programs store the ink inverted (255 = none) and mark such files with their APP14
// marker; without it, 255 is full ink.
void cmykToRgb(const JSAMPLE* in, std::uint8_t* out, std::size_t width, bool invertedInk)
{
    const int flip = invertedInk ? 0 : 255;
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
        const int black = in[3] ^ flip;
        for (int c = 0; c < 3; ++c) {
            const int light = (in[c] ^ flip) * black;
            out[c] = static_cast<std::uint8_t>((light + 127) / 255);
        }
    }
}

// Rows handed to libjpeg per call. Several at a time let it write straight into the picture
// instead of going through its own one-row buffer.
constexpr int RowsPerRead = 8;

// A progressive file costs libjpeg the coefficients of the whole picture at full size, whatever
// the output scale: about 1 GB for 18000 x 18000. Above ProgressiveTrustBytes of them, the file
// must be long enough to hold the picture it declares. Its first DC scan codes every block with
// at least one Huffman bit, so a file shorter than one byte per eight blocks is cut short or
// bogus, and a few hundred bytes declaring a huge picture would otherwise cost that gigabyte.
// Below the limit a cut progressive file still shows what it holds, as a cut baseline file does.
// Arithmetic coding can spend less than a bit on a block, so it is not judged this way.
constexpr std::uint64_t ProgressiveTrustBytes = std::uint64_t{128} << 20;

std::uint64_t coefficientBytesOf(std::uint64_t blocks)
{
    return blocks * DCTSIZE2 * sizeof(JCOEF);
}

bool holdsItsProgressivePicture(j_decompress_ptr cinfo, std::uint64_t fileSize)
{
    if (!cinfo->progressive_mode || cinfo->arith_code) {
        return true;
    }
    const std::uint64_t blocks = blocksOf(cinfo);
    return coefficientBytesOf(blocks) <= ProgressiveTrustBytes || fileSize >= blocks / 8;
}

// All libjpeg calls of one decode. It runs below the return point set by decompress(), so it
// holds no object with a destructor: a fatal error may leave it through longjmp at any call.
// The picture's pixels belong to the caller's `picture`.
bool readPicture(j_decompress_ptr cinfo, const JpegInput& input, const JpegDecodeOptions& options,
                 JpegPicture& picture, std::shared_ptr<const ColourConversion>& cmykConversion)
{
    // The EXIF block comes in an APP1 marker and the colour profile in APP2 markers, which
    // libjpeg keeps during this same read.
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    picture.orientation = orientationOf(cinfo);
    takeColourProfile(cinfo, picture.colourSpace);

    cinfo->do_block_smoothing = TRUE;
    const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE;
    // libjpeg delivers CMYK as it is stored and turns YCCK into CMYK itself; the step to RGB is
    // ours.
    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    const bool invertedInk = cmyk && cinfo->saw_Adobe_marker;
    if (cmyk)
        chooseCmykConversion(options, invertedInk, picture.colourSpace, cmykConversion);
    picture.colourSpace.greyPixels = grey;
    if (grey) {
        cinfo->out_color_space = JCS_GRAYSCALE;
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = GreyLevels;
        cinfo->two_pass_quantize = FALSE;
    } else if (cmyk) {
        cinfo->out_color_space = JCS_CMYK;
    } else {
        cinfo->out_color_space = JCS_RGB;
    }
    chooseScale(cinfo, options.minimumLongerSide);

    // The size check comes before jpeg_start_decompress, which already allocates the whole-image
    // buffers of a progressive file. It holds for the picture the file declares, whatever the
    // scale: a few hundred bytes declaring 65500 x 65500 would otherwise still take a second
    // and 200 MB at an eighth of that size, for a picture no camera makes.
    const std::uint64_t width = cinfo->output_width;
    const std::uint64_t height = cinfo->output_height;
    const std::uint64_t declaredBytes =
        std::uint64_t{cinfo->image_width} * std::uint64_t{cinfo->image_height} * 3;
    if (width == 0 || height == 0 || declaredBytes > MaxJpegImageBytes) {
        failWith(cinfo, "JPEG picture too large to decode");
    }
    if (!holdsItsProgressivePicture(cinfo, input.size)) {
        failWith(cinfo, "JPEG file too short for the progressive picture it declares");
    }
    if (jpeg_has_multiple_scans(cinfo) &&
        coefficientBytesOf(blocksOf(cinfo)) > MaxJpegWholePictureBytes) {
        failWith(cinfo, "JPEG picture too large to hold whole while its scans are read");
    }
    if (cinfo->output_components != (grey ? 1 : cmyk ? 4 : 3)) {
        failWith(cinfo, "Unexpected JPEG output format");
    }
    // The buffer is not cleared: every row is written by the decoder below. The failure is
    // raised outside the handler: longjmp must not leave a catch block.
    RgbImage& image = picture.image;
    bool allocated = true;
    try {
        reservePixelBuffer(image.pixels, width * height * 3);
        image.pixels.resize(width * height * 3);
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        failWith(cinfo, "Not enough memory for the JPEG picture");
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    picture.width = static_cast<int>(cinfo->image_width);
    picture.height = static_cast<int>(cinfo->image_height);
    picture.reduction = static_cast<int>(cinfo->scale_denom);

    jpeg_start_decompress(cinfo);

    // Quantised grey rows and CMYK rows are read into libjpeg's own buffer, released with the
    // decompressor, and converted from there.
    JSAMPARRAY convertedRows = nullptr;
    if (grey || cmyk) {
        convertedRows = (*cinfo->mem->alloc_sarray)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
            cinfo->output_width * static_cast<JDIMENSION>(cinfo->output_components), RowsPerRead);
    }
    const std::size_t stride = width * 3;
    JSAMPROW rows[RowsPerRead];
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        const JDIMENSION wanted = std::min<JDIMENSION>(RowsPerRead, cinfo->output_height - first);
        for (JDIMENSION k = 0; k < wanted; ++k) {
            rows[k] = image.pixels.data() + (first + k) * stride;
        }
        const JDIMENSION read =
            jpeg_read_scanlines(cinfo, convertedRows != nullptr ? convertedRows : rows, wanted);
        if (read == 0) {
            failWith(cinfo, "JPEG decoder returned no scanline");
        }
        if (grey) {
            const JSAMPLE* levels = cinfo->colormap[0];
            for (JDIMENSION k = 0; k < read; ++k) {
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint8_t value = levels[convertedRows[k][x]];
                    rows[k][x * 3] = value;
                    rows[k][x * 3 + 1] = value;
                    rows[k][x * 3 + 2] = value;
                }
            }
        } else if (cmyk) {
            for (JDIMENSION k = 0; k < read; ++k) {
                if (cmykConversion)
                    cmykConversion->apply(convertedRows[k], rows[k], width);
                else
                    cmykToRgb(convertedRows[k], rows[k], width, invertedInk);
            }
        }
    }
    noteRowsDone(cinfo);
    jpeg_finish_decompress(cinfo);
    return true;
}

// Owns the decompressor and the return point for fatal errors, as libjpeg's example does; the
// decompressor is destroyed on every path.
bool decompress(const JpegInput& input, const JpegDecodeOptions& options, JpegPicture& picture,
                std::string* diagnostic)
{
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    ProgressManager progress{};
    // The source with its buffer lives on the heap: 64 KB is a lot for a worker's stack.
    const auto source = std::make_unique<InputSource>();
    // Held here, above the return point, so that a fatal error cannot skip its release.
    std::shared_ptr<const ColourConversion> cmykConversion;
    source->pub.init_source = startSource;
    source->pub.fill_input_buffer = fillSource;
    source->pub.skip_input_data = skipSource;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = endSource;
    source->input = &input;
    source->stop = &options.stop;
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = exitOnError;
    errors.pub.emit_message = recordMessage;
    errors.message[0] = '\0';
    progress.pub.progress_monitor = watchProgress;
    progress.stop = &options.stop;

    if (setjmp(errors.returnPoint) != 0) {
        jpeg_destroy_decompress(&cinfo);
        if (diagnostic != nullptr) {
            *diagnostic = errors.message;
        }
        return false;
    }
    jpeg_create_decompress(&cinfo);
    // The coefficients a file with several scans needs are checked against
    // MaxJpegWholePictureBytes before they are asked for. libjpeg has no backing store here, so
    // this limit of its own makes it fail rather than take more, whatever it needs them for.
    cinfo.mem->max_memory_to_use = static_cast<long>(MaxJpegWholePictureBytes + (64 << 20));
    cinfo.progress = &progress.pub;
    cinfo.src = &source->pub;
    const bool decoded = readPicture(&cinfo, input, options, picture, cmykConversion);
    jpeg_destroy_decompress(&cinfo);
    if (diagnostic != nullptr) {
        *diagnostic = errors.message;
    }
    return decoded;
}

} // namespace

std::optional<JpegPicture> decodeJpegFile(const std::string& path, std::string* diagnostic,
                                          const JpegDecodeOptions& options)
{
    // A picture replaced by a FIFO or a device since the search found it must not stall the
    // slideshow: anything but a regular file is refused before a byte is read.
    const auto fail = [&](const char* reason) {
        if (diagnostic != nullptr) {
            *diagnostic = reason;
        }
        return std::nullopt;
    };
    OpenedFile opened = openWithoutWaiting(path);
    if (opened.error != 0) {
        return fail(std::strerror(opened.error));
    }
    if (opened.isFolder()) {
        return fail(std::strerror(EISDIR));
    }
    if (!opened.isRegularFile()) {
        return fail("Not a regular file");
    }
    std::optional<JpegPicture> picture(std::in_place);
    JpegInput input;
    input.descriptor = opened.descriptor.get();
    input.size = static_cast<std::uint64_t>(opened.status.st_size);
    if (!decompress(input, options, *picture, diagnostic)) {
        picture.reset();
    }
    return picture;
}

std::optional<JpegPicture> decodeJpegData(std::span<const std::uint8_t> data,
                                          std::string* diagnostic, const JpegDecodeOptions& options)
{
    std::optional<JpegPicture> picture(std::in_place);
    JpegInput input;
    input.data = data.data();
    input.size = data.size();
    if (!decompress(input, options, *picture, diagnostic)) {
        picture.reset();
    }
    return picture;
}
