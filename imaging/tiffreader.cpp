#include "imaging/formatreaders.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <tiffio.h>

namespace {

// Rows converted per call, rounded up to whole strips or tiles; the stop request is checked
// between calls.
constexpr std::uint32_t RowsPerBand = 64;
// No single allocation of libtiff's may exceed this: a few hundred bytes declaring a huge strip
// must not make it reserve gigabytes.
constexpr tmsize_t MaxSingleAllocation = 256 * 1024 * 1024;

// CIELab pixels converted by Little CMS instead of libtiff's own conversion (see putLab).
struct LabRows
{
    const ColourConversion* conversion = nullptr;
    std::vector<float> lab;
    std::vector<std::uint8_t> rgb;
};

struct TiffSource
{
    PictureSource& data;
    std::uint64_t position = 0;
    std::string message;
    LabRows labRows = {};
};

TiffSource& sourceOf(thandle_t handle)
{
    return *static_cast<TiffSource*>(handle);
}

tmsize_t readBytes(thandle_t handle, void* out, tmsize_t size)
{
    TiffSource& source = sourceOf(handle);
    if (size <= 0)
        return 0;
    const std::size_t given =
        source.data.read(source.position, out, static_cast<std::size_t>(size));
    source.position += given;
    return static_cast<tmsize_t>(given);
}

tmsize_t refuseWrite(thandle_t, void*, tmsize_t)
{
    return -1;
}

toff_t seekTo(thandle_t handle, toff_t offset, int whence)
{
    TiffSource& source = sourceOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = source.position;
    else if (whence == SEEK_END)
        base = source.data.size();
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    // Positions beyond the end are allowed, as for a file; reads there give nothing.
    if (offset > UINT64_MAX - base)
        return static_cast<toff_t>(-1);
    source.position = base + offset;
    return source.position;
}

int closeSource(thandle_t)
{
    return 0;
}

toff_t sizeOf(thandle_t handle)
{
    return sourceOf(handle).data.size();
}

int noMapping(thandle_t, void**, toff_t*)
{
    return 0;
}

void noUnmapping(thandle_t, void*, toff_t) {}

// libtiff's errors are kept (the first one) instead of printed; warnings are dropped.
int keepError(TIFF*, void* data, const char* module, const char* format, va_list arguments)
{
    TiffSource& source = *static_cast<TiffSource*>(data);
    if (source.message.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        source.message = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    }
    return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;
}

struct TiffCloser
{
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};
struct OptionsFree
{
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// The failure text: libtiff's own message when it gave one.
DecodedPicture failure(const TiffSource& source, const char* fallback)
{
    return pictureformat::unreadable(source.message.empty() ? fallback : source.message);
}

// Takes the place of libtiff's conversion of 8-bit CIELab strips and tiles, which is several
// levels off: Lab only means something on a screen once converted, and Little CMS does that
// exactly. libtiff hands over L (0..255 for 0..100) with a and b as signed bytes. The rows'
// buffers are made beforehand.
void putLab(TIFFRGBAImage* image, std::uint32_t* raster, std::uint32_t, std::uint32_t,
            std::uint32_t width, std::uint32_t height, std::int32_t fromSkew, std::int32_t toSkew,
            unsigned char* samples)
{
    LabRows& rows = static_cast<TiffSource*>(TIFFClientdata(image->tif))->labRows;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::size_t i = 0; i < std::size_t{width} * 3; i += 3) {
            rows.lab[i] = static_cast<float>(samples[i]) * (100.0f / 255.0f);
            rows.lab[i + 1] = static_cast<signed char>(samples[i + 1]);
            rows.lab[i + 2] = static_cast<signed char>(samples[i + 2]);
        }
        rows.conversion->apply(rows.lab.data(), rows.rgb.data(), width);
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* rgb = rows.rgb.data() + std::size_t{x} * 3;
            *raster++ = std::uint32_t{rgb[0]} | std::uint32_t{rgb[1]} << 8 |
                        std::uint32_t{rgb[2]} << 16 | 0xff000000u;
        }
        raster += toSkew;
        samples += (std::int64_t{width} + fromSkew) * 3;
    }
}

} // namespace

// The first page, through libtiff's RGBA interface, which handles every photometric
// interpretation and sample layout that a picture uses (RGB, palette, grey, CMYK, YCbCr, 8 and
// 16 bits, alpha). It is asked for the rows as stored, so that the Orientation tag is applied
// with the texture, as for JPEG.
DecodedPicture readTiffData(PictureSource& data, const PictureReadOptions& options)
{
    TiffSource source{data, 0, {}};
    const std::unique_ptr<TIFFOpenOptions, OptionsFree> openOptions(TIFFOpenOptionsAlloc());
    if (!openOptions)
        return pictureformat::unreadable("Cannot start the TIFF reader");
    TIFFOpenOptionsSetMaxSingleMemAlloc(openOptions.get(), MaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(openOptions.get(), keepError, &source);
    TIFFOpenOptionsSetWarningHandlerExtR(openOptions.get(), dropWarning, &source);
    // "m": no memory mapping; every read goes through readBytes.
    const std::unique_ptr<TIFF, TiffCloser> tiff(
        TIFFClientOpenExt("picture", "rm", &source, readBytes, refuseWrite, seekTo, closeSource,
                          sizeOf, noMapping, noUnmapping, openOptions.get()));
    if (!tiff)
        return failure(source, "Not a TIFF file");

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (!TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height))
        return failure(source, "TIFF picture without a size");
    if (!pictureformat::sizeAllowed(width, height, options))
        return pictureformat::unreadable("TIFF picture too large to decode");

    char reason[1024] = {};
    TIFFRGBAImage reader;
    if (!TIFFRGBAImageOK(tiff.get(), reason) || !TIFFRGBAImageBegin(&reader, tiff.get(), 0, reason))
        return pictureformat::unreadable(reason[0] ? reason : "TIFF picture cannot be converted");
    struct ReaderEnd
    {
        TIFFRGBAImage* reader;
        ~ReaderEnd() { TIFFRGBAImageEnd(reader); }
    } readerEnd{&reader};

    // 8-bit CIELab goes through Little CMS, to the screen's colour space in the high quality
    // mode and to sRGB otherwise.
    std::shared_ptr<const ColourConversion> labConversion;
    if (reader.photometric == PHOTOMETRIC_CIELAB && reader.bitspersample == 8 &&
        reader.samplesperpixel == 3 && reader.isContig) {
        ColourTransformCache& transforms = options.colourTransforms
                                               ? *options.colourTransforms
                                               : ColourTransformCache::plainSrgb();
        labConversion = transforms.labConversion().conversion;
        if (labConversion) {
            source.labRows = {labConversion.get(), std::vector<float>(std::size_t{width} * 3),
                              std::vector<std::uint8_t>(std::size_t{width} * 3)};
            reader.put.contig = putLab;
        }
    }

    const int orientation = reader.orientation;
    // The orientation asked for is the file's own: libtiff then flips nothing.
    reader.req_orientation = reader.orientation;
    // libtiff hands out premultiplied colour for RGB with alpha of either kind, and for grey
    // with associated alpha; grey with unassociated alpha comes as it is stored.
    const bool grey = reader.photometric == PHOTOMETRIC_MINISBLACK ||
                      reader.photometric == PHOTOMETRIC_MINISWHITE;
    const bool premultiplied =
        reader.alpha == EXTRASAMPLE_ASSOCALPHA || (reader.alpha == EXTRASAMPLE_UNASSALPHA && !grey);

    std::uint32_t unit = 1;
    if (TIFFIsTiled(tiff.get()))
        TIFFGetField(tiff.get(), TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::clamp<std::uint32_t>(unit, 1, height);
    const std::uint32_t band =
        std::min(height, unit * std::max<std::uint32_t>(1, RowsPerBand / unit));
    std::vector<std::uint32_t> raster(std::size_t{width} * band);

    DecodedPicture picture;
    pictureformat::allocate(picture.image, static_cast<int>(width), static_cast<int>(height));
    for (std::uint32_t top = 0; top < height; top += band) {
        if (options.stop.stop_requested())
            return pictureformat::unreadable("TIFF decoding stopped");
        const std::uint32_t rows = std::min(band, height - top);
        reader.row_offset = static_cast<int>(top);
        reader.col_offset = 0;
        if (!TIFFRGBAImageGet(&reader, raster.data(), width, rows))
            return failure(source, "TIFF picture cannot be decoded");
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint32_t* in = raster.data() + std::size_t{y} * width;
            std::uint8_t* out = picture.image.writableRow(static_cast<int>(top + y));
            for (std::uint32_t x = 0; x < width; ++x, out += 3) {
                const std::uint32_t abgr = in[x];
                const std::uint8_t rgba[4] = {static_cast<std::uint8_t>(TIFFGetR(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetG(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetB(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetA(abgr))};
                pictureformat::compositeRow(rgba, out, 1, premultiplied);
            }
        }
    }
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    std::uint32_t profileLength = 0;
    const void* profile = nullptr;
    picture.colourSpace.onScreen = labConversion != nullptr;
    picture.colourSpace.greyPixels = grey;
    if (!labConversion && TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &profileLength, &profile) &&
        profile)
        picture.colourSpace.takeProfile(
            {static_cast<const std::uint8_t*>(profile), std::size_t{profileLength}});
    picture.readable = true;
    return picture;
}
