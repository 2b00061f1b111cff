#include "imaging/formatreaders.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "imaging/qddibbuffer.h"

#include <tiffio.h>

namespace {

// Rows converted at a time; the stop request is checked between bands.
constexpr std::uint32_t RowsPerBand = 64;
// The bytes of pixels converted at a time, at four bytes a pixel: a very wide picture converts
// fewer rows at a time.
constexpr std::uint64_t BandBytes = 16 * 1024 * 1024;
// No single allocation of libtiff's, nor a band of converted pixels, may exceed this: a few
// hundred bytes declaring a huge strip must not make it reserve gigabytes.
constexpr tmsize_t MaxSingleAllocation = 256 * 1024 * 1024;
// The most a strip or tile read whole may decode to, for each sample plane. Such a read is one
// call into libtiff, without a look at the stop request; this bounds it to a fraction of a
// second. Strips of interleaved samples are read row by row instead, whatever their size.
constexpr std::uint64_t MaxBlockBytes = 64 * 1024 * 1024;

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

// Every strip or tile must hold data inside the file, and no two may share it. A file that
// fails this is refused before anything is decoded: a few hundred bytes must not decode the same
// data over and over into a picture of gigabytes. Returns the reason, or nothing.
const char* checkBlocks(TIFF* tiff)
{
    const std::uint32_t count =
        TIFFIsTiled(tiff) ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
    const std::uint64_t fileBytes = TIFFGetSizeProc(tiff)(TIFFClientdata(tiff));
    // Each block holds a byte at least, so a file holds no more blocks than bytes.
    if (count == 0 || count > fileBytes)
        return "TIFF strips without data";
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
    extents.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        int error = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, i, &error);
        const std::uint64_t bytes = error ? 0 : TIFFGetStrileByteCountWithErr(tiff, i, &error);
        if (error || bytes == 0)
            return "TIFF strip without data";
        if (offset > fileBytes || bytes > fileBytes - offset)
            return "TIFF strip past the end of the file";
        extents.emplace_back(offset, offset + bytes);
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].first < extents[i - 1].second)
            return "TIFF strips share their data";
    }
    return nullptr;
}

// ---- Samples that libtiff's RGBA interface does not convert: grey, RGB and CMYK in unsigned
// samples of 8, 12 or 16 bits, interleaved or in separate planes. They are scaled (rounded) to
// 8 bits and handed out as libtiff's conversions hand out theirs (ABGR in 32 bits), but with the
// alpha as stored; the caller composites associated alpha as premultiplied.

unsigned colourSamples(std::uint16_t photometric)
{
    return photometric == PHOTOMETRIC_RGB ? 3 : photometric == PHOTOMETRIC_SEPARATED ? 4 : 1;
}

// Sample `index` of a row of packed samples, scaled to 8 bits.
std::uint8_t sampleAt(const unsigned char* row, std::size_t index, unsigned bits)
{
    if (bits == 8)
        return row[index];
    if (bits == 16) {
        std::uint16_t value = 0;
        std::memcpy(&value, row + index * 2, 2);
        return static_cast<std::uint8_t>((value + 128u) / 257u);
    }
    const unsigned char* at = row + index * 3 / 2;
    const unsigned value =
        index % 2 == 0 ? (at[0] << 4) | (at[1] >> 4) : ((at[0] & 0xf) << 8) | at[1];
    return static_cast<std::uint8_t>((value * 255u + 2047u) / 4095u);
}

// One pixel from its samples scaled to 8 bits: colour (1, 3 or 4 of them) and alpha.
std::uint32_t packPixel(const TIFFRGBAImage* image, const std::uint8_t* v, std::uint8_t alpha)
{
    std::uint32_t r = v[0];
    std::uint32_t g = v[0];
    std::uint32_t b = v[0];
    if (image->photometric == PHOTOMETRIC_MINISWHITE) {
        r = g = b = 255u - v[0];
    } else if (image->photometric == PHOTOMETRIC_RGB) {
        g = v[1];
        b = v[2];
    } else if (image->photometric == PHOTOMETRIC_SEPARATED) {
        // The same ink-to-light conversion as libtiff's for 8-bit CMYK.
        const std::uint32_t k = 255u - v[3];
        r = k * (255u - v[0]) / 255u;
        g = k * (255u - v[1]) / 255u;
        b = k * (255u - v[2]) / 255u;
        alpha = 255;
    }
    return r | g << 8 | b << 16 | std::uint32_t{alpha} << 24;
}

// The conversions' signatures are libtiff's, so that the reading below drives both alike.
void putSamplesContig(TIFFRGBAImage* image, std::uint32_t* out, std::uint32_t, std::uint32_t,
                      std::uint32_t width, std::uint32_t height, std::int32_t fromSkew,
                      std::int32_t toSkew, unsigned char* in)
{
    const unsigned samples = image->samplesperpixel;
    const unsigned bits = image->bitspersample;
    const unsigned colours = colourSamples(image->photometric);
    const bool alpha = image->alpha != 0 && image->photometric != PHOTOMETRIC_SEPARATED;
    const std::size_t rowBytes =
        (std::size_t{width + static_cast<std::uint32_t>(fromSkew)} * samples * bits + 7) / 8;
    for (std::uint32_t y = 0; y < height; ++y, in += rowBytes, out += width + toSkew) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t v[4];
            for (unsigned c = 0; c < colours; ++c)
                v[c] = sampleAt(in, std::size_t{x} * samples + c, bits);
            out[x] = packPixel(
                image, v, alpha ? sampleAt(in, std::size_t{x} * samples + colours, bits) : 255);
        }
    }
}

void putSamplesSeparate(TIFFRGBAImage* image, std::uint32_t* out, std::uint32_t, std::uint32_t,
                        std::uint32_t width, std::uint32_t height, std::int32_t fromSkew,
                        std::int32_t toSkew, unsigned char* red, unsigned char* green,
                        unsigned char* blue, unsigned char* alphaPlane)
{
    const unsigned bits = image->bitspersample;
    const bool cmyk = image->photometric == PHOTOMETRIC_SEPARATED;
    const std::size_t rowBytes =
        (std::size_t{width + static_cast<std::uint32_t>(fromSkew)} * bits + 7) / 8;
    unsigned char* planes[4] = {red, green, blue, alphaPlane};
    for (std::uint32_t y = 0; y < height; ++y, out += width + toSkew) {
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint8_t v[4];
            for (unsigned c = 0; c < 4; ++c)
                v[c] = planes[c] != nullptr ? sampleAt(planes[c], x, bits) : 255;
            // For CMYK the fourth plane is black ink, not alpha.
            out[x] = packPixel(image, v, cmyk ? 255 : v[3]);
        }
        for (unsigned char*& plane : planes) {
            if (plane != nullptr)
                plane += rowBytes;
        }
    }
}

// Sets `image` up for the conversions above, for a picture that libtiff's RGBA interface
// refuses. False when they cannot read it either.
bool beginOwnConversion(TIFF* tiff, TIFFRGBAImage& image)
{
    std::uint16_t bits = 0;
    std::uint16_t samples = 0;
    std::uint16_t photometric = 0;
    std::uint16_t planar = 0;
    std::uint16_t format = 0;
    std::uint16_t inkSet = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &inkSet);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric))
        return false;
    const bool known = photometric == PHOTOMETRIC_MINISBLACK ||
                       photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_RGB ||
                       (photometric == PHOTOMETRIC_SEPARATED && inkSet == INKSET_CMYK);
    if (!known || (bits != 8 && bits != 12 && bits != 16) || format != SAMPLEFORMAT_UINT ||
        samples < colourSamples(photometric) || samples > 8)
        return false;
    image = {};
    image.tif = tiff;
    image.isContig = !(planar == PLANARCONFIG_SEPARATE && samples > 1);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &image.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &image.height);
    image.bitspersample = bits;
    image.samplesperpixel = samples;
    image.photometric = photometric;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &image.orientation);
    image.req_orientation = image.orientation;
    // Alpha as libtiff's RGBA interface reads it: the first extra sample, unspecified ones
    // counting as associated alpha.
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (photometric == PHOTOMETRIC_SEPARATED) {
        // In separate planes the black ink is read as the fourth plane, where alpha would be.
        image.alpha = EXTRASAMPLE_ASSOCALPHA;
    } else if (extraCount >= 1 && samples > colourSamples(photometric)) {
        if (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)
            image.alpha = extra[0];
        else if (extra[0] == EXTRASAMPLE_UNSPECIFIED && samples > 3)
            image.alpha = EXTRASAMPLE_ASSOCALPHA;
    } else if (extraCount == 0 && samples == 4 && photometric == PHOTOMETRIC_RGB) {
        image.alpha = EXTRASAMPLE_ASSOCALPHA;
    }
    if (image.isContig)
        image.put.contig = putSamplesContig;
    else
        image.put.separate = putSamplesSeparate;
    return true;
}

// Reads the picture in bands of rows: converts each band through `image`'s conversion into a
// band of 32-bit pixels and composites it into `picture`. Strips of interleaved samples are read
// row by row; strips in separate planes, and tiles, whole, one at a time. Buffers hold one band
// and one strip or tile, and are filled only as the data decodes, so a file whose data stops
// early costs what it held. Any strip or tile that cannot be decoded makes the whole picture
// unreadable, as a picture with rows missing is not the picture.
class BandReader
{
public:
    BandReader(TIFF* tiff, TIFFRGBAImage& image, RgbImage& picture, bool premultiplied,
               const std::stop_token& stop)
        : m_tiff(tiff), m_image(image), m_picture(picture), m_premultiplied(premultiplied),
          m_stop(stop), m_width(image.width), m_height(image.height)
    {
        const std::uint16_t photometric = image.photometric;
        // libtiff's own reading of separate planes: one colour plane for grey, three otherwise,
        // then alpha (or, for CMYK, black) when the conversion takes one.
        m_colourPlanes = photometric == PHOTOMETRIC_MINISWHITE ||
                                 photometric == PHOTOMETRIC_MINISBLACK ||
                                 photometric == PHOTOMETRIC_PALETTE
                             ? 1
                             : 3;
        m_planes = image.isContig ? 1 : m_colourPlanes + (image.alpha != 0 ? 1 : 0);
    }

    // Returns the reason the picture cannot be read, or nothing.
    const char* read()
    {
        if (TIFFIsTiled(m_tiff))
            return readTiles();
        // YCbCr samples that are still subsampled come in blocks of rows: whole strips.
        if (m_image.isContig && m_image.photometric != PHOTOMETRIC_YCBCR)
            return readRows();
        return readStrips();
    }

private:
    // Prepares the band buffer for `rows` rows; false when that is too large.
    bool makeBand(std::uint64_t rows)
    {
        const std::uint64_t bytes = rows * m_width * 4;
        if (bytes > static_cast<std::uint64_t>(MaxSingleAllocation))
            return false;
        m_band.resize(static_cast<std::size_t>(rows * m_width));
        return true;
    }

    // Rows per band for a picture read in pieces of `unit` rows (1 or the vertical subsampling).
    std::uint32_t bandRows(std::uint32_t unit) const
    {
        const std::uint64_t fit = BandBytes / (std::uint64_t{m_width} * 4);
        const std::uint64_t rows = std::clamp<std::uint64_t>(fit / unit * unit, unit, RowsPerBand);
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, m_height));
    }

    // Composites the band's first `rows` rows into the picture from row `top` on. The picture
    // is made when the first band is ready, so a file whose first strip fails costs none of it.
    void emit(std::uint32_t top, std::uint32_t rows)
    {
        if (m_picture.isEmpty())
            pictureformat::allocate(m_picture, static_cast<int>(m_width),
                                    static_cast<int>(m_height));
        for (std::uint32_t y = 0; y < rows; ++y) {
            const std::uint32_t* in = m_band.data() + std::size_t{y} * m_width;
            std::uint8_t* out = m_picture.writableRow(static_cast<int>(top + y));
            for (std::uint32_t x = 0; x < m_width; ++x, out += 3) {
                const std::uint32_t abgr = in[x];
                const std::uint8_t rgba[4] = {static_cast<std::uint8_t>(TIFFGetR(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetG(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetB(abgr)),
                                              static_cast<std::uint8_t>(TIFFGetA(abgr))};
                pictureformat::compositeRow(rgba, out, 1, m_premultiplied);
            }
        }
    }

    const char* readRows()
    {
        const tmsize_t rowBytes = TIFFScanlineSize(m_tiff);
        const std::uint32_t rows = bandRows(1);
        // The band's samples are held at once: a row of many samples a pixel (the count is the
        // file's to declare, up to 65535) must not ask for hundreds of gigabytes.
        if (rowBytes <= 0 || !makeBand(rows) ||
            static_cast<std::uint64_t>(rowBytes) * rows >
                static_cast<std::uint64_t>(MaxSingleAllocation))
            return "TIFF picture too wide to decode";
        m_samples.resize(static_cast<std::size_t>(rowBytes) * rows);
        for (std::uint32_t top = 0; top < m_height; top += rows) {
            if (m_stop.stop_requested())
                return "TIFF decoding stopped";
            const std::uint32_t count = std::min(rows, m_height - top);
            for (std::uint32_t y = 0; y < count; ++y) {
                if (TIFFReadScanline(m_tiff, m_samples.data() + std::size_t(rowBytes) * y, top + y,
                                     0) < 0)
                    return "TIFF picture cannot be decoded";
            }
            m_image.put.contig(&m_image, m_band.data(), 0, top, m_width, count, 0, 0,
                               m_samples.data());
            emit(top, count);
        }
        return nullptr;
    }

    // Reads the strip that holds row `row` of each plane into m_samples, one plane after another,
    // `planeBytes` apart.
    bool readStripPlanes(std::uint32_t row, std::size_t planeBytes)
    {
        for (unsigned plane = 0; plane < m_planes; ++plane) {
            const std::uint32_t strip =
                TIFFComputeStrip(m_tiff, row, static_cast<std::uint16_t>(plane));
            if (TIFFReadEncodedStrip(m_tiff, strip, m_samples.data() + planeBytes * plane,
                                     static_cast<tmsize_t>(planeBytes)) < 0)
                return false;
        }
        return true;
    }

    // The conversion's four plane pointers (colour, or grey three times, then alpha or black),
    // `offset` bytes into each plane of a strip or tile read as readStripPlanes reads them.
    void planePointers(std::size_t planeBytes, std::size_t offset, unsigned char* out[4])
    {
        unsigned char* base = m_samples.data() + offset;
        out[0] = base;
        out[1] = m_colourPlanes == 1 ? base : base + planeBytes;
        out[2] = m_colourPlanes == 1 ? base : base + planeBytes * 2;
        out[3] = m_image.alpha != 0 ? base + planeBytes * m_colourPlanes : nullptr;
    }

    const char* readStrips()
    {
        std::uint32_t rowsPerStrip = 0;
        std::uint16_t across = 1;
        std::uint16_t down = 1;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
        rowsPerStrip = std::clamp<std::uint32_t>(rowsPerStrip, 1, m_height);
        if (m_image.photometric != PHOTOMETRIC_YCBCR)
            down = 1;
        const tmsize_t stripBytes = TIFFStripSize(m_tiff);
        // The bytes of one row, or of one block of subsampled rows.
        const tmsize_t blockBytes = down == 0 ? 0 : TIFFVStripSize(m_tiff, down);
        if (down == 0 || stripBytes <= 0 || blockBytes <= 0 ||
            static_cast<std::uint64_t>(stripBytes) > MaxBlockBytes)
            return "TIFF strips too large to decode";
        // A band holds whole blocks of subsampled rows; the last band of a strip may be short.
        const std::uint32_t rows = bandRows(down);
        if (!makeBand(rows))
            return "TIFF picture too wide to decode";
        const std::size_t planeBytes = static_cast<std::size_t>(stripBytes);
        m_samples.resize(planeBytes * m_planes);
        for (std::uint32_t top = 0; top < m_height; top += rowsPerStrip) {
            if (m_stop.stop_requested())
                return "TIFF decoding stopped";
            if (!readStripPlanes(top, planeBytes))
                return "TIFF picture cannot be decoded";
            const std::uint32_t stripRows = std::min(rowsPerStrip, m_height - top);
            for (std::uint32_t done = 0; done < stripRows; done += rows) {
                const std::uint32_t count = std::min(rows, stripRows - done);
                const std::size_t offset = std::size_t(blockBytes) * (done / down);
                if (m_image.isContig) {
                    m_image.put.contig(&m_image, m_band.data(), 0, top + done, m_width, count, 0, 0,
                                       m_samples.data() + offset);
                } else {
                    unsigned char* planes[4];
                    planePointers(planeBytes, offset, planes);
                    m_image.put.separate(&m_image, m_band.data(), 0, top + done, m_width, count, 0,
                                         0, planes[0], planes[1], planes[2], planes[3]);
                }
                emit(top + done, count);
            }
        }
        return nullptr;
    }

    const char* readTiles()
    {
        std::uint32_t tileWidth = 0;
        std::uint32_t tileHeight = 0;
        TIFFGetField(m_tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(m_tiff, TIFFTAG_TILELENGTH, &tileHeight);
        const tmsize_t tileBytes = TIFFTileSize(m_tiff);
        if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0 ||
            static_cast<std::uint64_t>(tileBytes) > MaxBlockBytes)
            return "TIFF tiles too large to decode";
        if (!makeBand(tileHeight))
            return "TIFF tiles too large to decode";
        const std::size_t planeBytes = static_cast<std::size_t>(tileBytes);
        m_samples.resize(planeBytes * m_planes);
        for (std::uint32_t top = 0; top < m_height; top += tileHeight) {
            const std::uint32_t rows = std::min(tileHeight, m_height - top);
            // As libtiff places tiles: the last one in a row is cut at the picture's edge.
            for (std::uint32_t left = 0; left < m_width; left += tileWidth) {
                if (m_stop.stop_requested())
                    return "TIFF decoding stopped";
                for (unsigned plane = 0; plane < m_planes; ++plane) {
                    const std::uint32_t tile =
                        TIFFComputeTile(m_tiff, left, top, 0, static_cast<std::uint16_t>(plane));
                    if (TIFFReadEncodedTile(m_tiff, tile, m_samples.data() + planeBytes * plane,
                                            tileBytes) < 0)
                        return "TIFF picture cannot be decoded";
                }
                const std::uint32_t columns = std::min(tileWidth, m_width - left);
                const auto fromSkew = static_cast<std::int32_t>(tileWidth - columns);
                const auto toSkew = static_cast<std::int32_t>(m_width - columns);
                if (m_image.isContig) {
                    m_image.put.contig(&m_image, m_band.data() + left, left, top, columns, rows,
                                       fromSkew, toSkew, m_samples.data());
                } else {
                    unsigned char* planes[4];
                    planePointers(planeBytes, 0, planes);
                    m_image.put.separate(&m_image, m_band.data() + left, left, top, columns, rows,
                                         fromSkew, toSkew, planes[0], planes[1], planes[2],
                                         planes[3]);
                }
            }
            emit(top, rows);
        }
        return nullptr;
    }

    TIFF* m_tiff;
    TIFFRGBAImage& m_image;
    RgbImage& m_picture;
    bool m_premultiplied;
    const std::stop_token& m_stop;
    std::uint32_t m_width;
    std::uint32_t m_height;
    unsigned m_colourPlanes = 1;
    unsigned m_planes = 1;
    // Both are filled by the reads and conversions before they are read.
    std::vector<std::uint32_t, UninitialisedAllocator<std::uint32_t>> m_band;
    PixelBuffer m_samples;
};

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

// The first page. libtiff's RGBA interface converts every photometric interpretation and
// sample layout that a picture uses (RGB, palette, grey, CMYK, YCbCr, 8 and 16 bits, alpha); its
// conversions are driven here band by band (see BandReader). Grey with alpha in separate planes
// or of 16 bits, which that interface misreads, and the samples it refuses (12 bits; CMYK of 16
// bits) go through conversions of the reader's own. The rows are read as stored, so that the
// Orientation tag is applied with the texture, as for JPEG.
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
    if (const char* reason = checkBlocks(tiff.get()))
        return pictureformat::unreadable(reason);

    char reason[1024] = {};
    TIFFRGBAImage reader{};
    bool own = false;
    if (!TIFFRGBAImageOK(tiff.get(), reason) ||
        !TIFFRGBAImageBegin(&reader, tiff.get(), 1, reason)) {
        own = beginOwnConversion(tiff.get(), reader);
        if (!own)
            return pictureformat::unreadable(reason[0] ? reason
                                                       : "TIFF picture cannot be converted");
    }
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

    const bool grey = reader.photometric == PHOTOMETRIC_MINISBLACK ||
                      reader.photometric == PHOTOMETRIC_MINISWHITE;
    // libtiff reads grey with alpha in separate planes as colour, with neither the grey scale's
    // mapping nor its alpha's kind, and 16-bit grey with alpha as if it had no alpha; the
    // reader's own conversions read both as grey with alpha.
    const bool deep = reader.bitspersample == 16;
    if (!own && grey && reader.alpha != 0 && reader.samplesperpixel >= 2 &&
        (deep || (!reader.isContig && reader.bitspersample == 8))) {
        if (reader.isContig)
            reader.put.contig = putSamplesContig;
        else
            reader.put.separate = putSamplesSeparate;
        own = true;
    }
    // libtiff hands out premultiplied colour for RGB with alpha of either kind, and for grey
    // with associated alpha; grey with unassociated alpha comes as it is stored. The reader's
    // own conversions hand out alpha as stored.
    const bool premultiplied =
        own ? reader.alpha == EXTRASAMPLE_ASSOCALPHA && reader.photometric != PHOTOMETRIC_SEPARATED
            : reader.alpha == EXTRASAMPLE_ASSOCALPHA ||
                  (reader.alpha == EXTRASAMPLE_UNASSALPHA && !grey);
    const int orientation = reader.orientation;

    DecodedPicture picture;
    BandReader bands(tiff.get(), reader, picture.image, premultiplied, options.stop);
    // What libtiff says from here on is why a strip or tile cannot be decoded.
    source.message.clear();
    if (const char* problem = bands.read()) {
        if (options.stop.stop_requested())
            return pictureformat::unreadable("TIFF decoding stopped");
        return failure(source, problem);
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
