#include "tests/support/formatpictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

#include <gif_lib.h>
#include <libheif/heif.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <webp/encode.h>
#include <webp/mux.h>
#include <zlib.h>

namespace FormatPictures {

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::uint8_t* pixelAt(const RgbaPicture& picture, int x, int y)
{
    return picture.pixels.data() + (std::size_t(y) * picture.width + x) * 4;
}

// The picture stored as orientation 6 expects: turned a quarter anticlockwise, so that turning
// it a quarter clockwise stands it upright.
RgbaPicture storedTurned(const RgbaPicture& upright)
{
    RgbaPicture stored{upright.height, upright.width, {}};
    stored.pixels.resize(upright.pixels.size());
    for (int y = 0; y < stored.height; ++y)
        for (int x = 0; x < stored.width; ++x)
            std::memcpy(stored.pixels.data() + (std::size_t(y) * stored.width + x) * 4,
                        pixelAt(upright, upright.width - 1 - y, x), 4);
    return stored;
}

// The EXIF payload (a TIFF structure, little-endian) of orientation 6.
Bytes exifTurned()
{
    return {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3,
            0,   1,   0,  0, 0, 6, 0, 0, 0, 0, 0,    0,    0};
}

// A palette of the picture's colours, in order of first appearance, and the index of each pixel.
struct Indexed
{
    std::vector<std::uint8_t> palette; // R, G, B
    std::vector<std::uint8_t> indices;
};

Indexed indexed(const RgbaPicture& picture)
{
    Indexed result;
    for (std::size_t i = 0; i < picture.pixels.size(); i += 4) {
        const std::uint8_t* p = picture.pixels.data() + i;
        std::size_t index = 0;
        while (index * 3 < result.palette.size() &&
               std::memcmp(result.palette.data() + index * 3, p, 3) != 0)
            ++index;
        if (index * 3 == result.palette.size())
            result.palette.insert(result.palette.end(), p, p + 3);
        if (index > 255)
            throw std::invalid_argument("more than 256 colours");
        result.indices.push_back(static_cast<std::uint8_t>(index));
    }
    return result;
}

// Row y of the picture in the samples a PNG or TIFF file of the variant stores: palette indices,
// grey, grey and alpha, RGBA, 16-bit RGB (each sample p as p * 257, whose two bytes are both p,
// so the byte order makes no difference), inverted CMYK, or RGB.
void packRow(const RgbaPicture& picture, const Indexed& palette, Variant variant, int y,
             std::vector<std::uint8_t>& row)
{
    row.clear();
    for (int x = 0; x < picture.width; ++x) {
        const std::uint8_t* p = pixelAt(picture, x, y);
        switch (variant) {
        case Variant::Palette:
            row.push_back(palette.indices[std::size_t(y) * picture.width + x]);
            break;
        case Variant::Grey:
            row.push_back(p[0]);
            break;
        case Variant::GreyAlpha:
            row.insert(row.end(), {p[0], p[3]});
            break;
        case Variant::Alpha:
            row.insert(row.end(), p, p + 4);
            break;
        case Variant::Deep:
            for (int c = 0; c < 3; ++c)
                row.insert(row.end(), {p[c], p[c]});
            break;
        case Variant::Cmyk:
            row.insert(row.end(), {std::uint8_t(255 - p[0]), std::uint8_t(255 - p[1]),
                                   std::uint8_t(255 - p[2]), 0});
            break;
        case Variant::DeepCmyk:
            for (int c = 0; c < 3; ++c)
                row.insert(row.end(), {std::uint8_t(255 - p[c]), std::uint8_t(255 - p[c])});
            row.insert(row.end(), {0, 0});
            break;
        case Variant::DeepGreyAlpha: {
            const auto grey = std::uint8_t((p[0] * p[3] + 127) / 255);
            row.insert(row.end(), {grey, grey, p[3], p[3]});
            break;
        }
        case Variant::Bits12:
            // Two 12-bit samples in three bytes; each is p scaled to 4095, rounded.
            for (int c = 0; c < 3; ++c) {
                const unsigned value = (p[c] * 4095u + 127u) / 255u;
                if ((x * 3 + c) % 2 == 0) {
                    row.insert(row.end(), {std::uint8_t(value >> 4), std::uint8_t(value << 4)});
                } else {
                    row.back() = std::uint8_t(row.back() | value >> 8);
                    row.push_back(std::uint8_t(value));
                }
            }
            break;
        default:
            row.insert(row.end(), p, p + 3);
            break;
        }
    }
}

// ---- PNG

void pngWrite(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

Bytes encodePng(Variant variant, const RgbaPicture& source, const PictureColourSpace& colourSpace)
{
    const RgbaPicture picture = variant == Variant::Oriented ? storedTurned(source) : source;
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write");
    }
    png_set_write_fn(png, &out, pngWrite, nullptr);
    const int type = variant == Variant::Palette     ? PNG_COLOR_TYPE_PALETTE
                     : variant == Variant::Grey      ? PNG_COLOR_TYPE_GRAY
                     : variant == Variant::GreyAlpha ? PNG_COLOR_TYPE_GRAY_ALPHA
                     : variant == Variant::Alpha     ? PNG_COLOR_TYPE_RGBA
                                                     : PNG_COLOR_TYPE_RGB;
    const int depth = variant == Variant::Deep ? 16 : 8;
    // The deep picture is also interlaced, so that both row orders are read.
    png_set_IHDR(png, info, picture.width, picture.height, depth, type,
                 variant == Variant::Deep ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    Indexed palette;
    std::vector<png_color> colours;
    if (variant == Variant::Palette) {
        palette = indexed(picture);
        for (std::size_t i = 0; i < palette.palette.size(); i += 3)
            colours.push_back({palette.palette[i], palette.palette[i + 1], palette.palette[i + 2]});
        png_set_PLTE(png, info, colours.data(), int(colours.size()));
    }
    Bytes exif = exifTurned();
    if (variant == Variant::Oriented)
        png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
    if (!colourSpace.iccProfile.empty())
        png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, colourSpace.iccProfile.data(),
                     png_uint_32(colourSpace.iccProfile.size()));
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::vector<std::uint8_t> row;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < picture.height; ++y) {
            packRow(picture, palette, variant, y, row);
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// ---- GIF

int gifWrite(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

void gifFrame(GifFileType* gif, const Indexed& picture, int width, int height, int transparent)
{
    if (transparent >= 0) {
        const GifByteType control[4] = {0x01, 0, 0, GifByteType(transparent)};
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
    }
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    for (int y = 0; y < height; ++y)
        EGifPutLine(gif, const_cast<GifPixelType*>(picture.indices.data()) + std::size_t(y) * width,
                    width);
}

Bytes encodeGif(Variant variant, const RgbaPicture& source)
{
    if (variant != Variant::Palette && variant != Variant::Grey && variant != Variant::Alpha &&
        variant != Variant::Animated)
        return {};
    // Transparency is a colour of the table: fully transparent pixels become index 255.
    RgbaPicture opaque = source;
    for (std::size_t i = 0; i < opaque.pixels.size(); i += 4) {
        if (variant == Variant::Alpha && opaque.pixels[i + 3] < 128)
            std::memset(&opaque.pixels[i], 1, 3);
        opaque.pixels[i + 3] = 255;
    }
    Indexed picture = indexed(opaque);
    int transparent = -1;
    if (variant == Variant::Alpha) {
        picture.palette.resize(256 * 3, 1);
        transparent = 255;
        for (std::size_t i = 0; i < picture.indices.size(); ++i)
            if (source.pixels[i * 4 + 3] < 128)
                picture.indices[i] = 255;
    }
    picture.palette.resize(256 * 3, 0);
    std::vector<GifColorType> colours(256);
    for (int i = 0; i < 256; ++i)
        colours[i] = {picture.palette[i * 3], picture.palette[i * 3 + 1],
                      picture.palette[i * 3 + 2]};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gifWrite, &error);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, source.width, source.height, 8, 0, map);
    gifFrame(gif, picture, source.width, source.height, transparent);
    if (variant == Variant::Animated) {
        Indexed second = picture;
        for (std::uint8_t& index : second.indices)
            index = static_cast<std::uint8_t>(255 - index);
        gifFrame(gif, second, source.width, source.height, -1);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

// ---- WebP

Bytes encodeWebp(Variant variant, const RgbaPicture& source, const PictureColourSpace& colourSpace)
{
    if (variant == Variant::Deep || variant == Variant::Cmyk)
        return {};
    const RgbaPicture picture = variant == Variant::Oriented ? storedTurned(source) : source;
    const bool alpha = variant == Variant::Alpha || variant == Variant::GreyAlpha;
    std::uint8_t* encoded = nullptr;
    std::size_t size = 0;
    if (alpha) {
        size = WebPEncodeLosslessRGBA(picture.pixels.data(), picture.width, picture.height,
                                      picture.width * 4, &encoded);
    } else {
        std::vector<std::uint8_t> rgb;
        for (std::size_t i = 0; i < picture.pixels.size(); i += 4)
            rgb.insert(rgb.end(), &picture.pixels[i], &picture.pixels[i] + 3);
        size = WebPEncodeLosslessRGB(rgb.data(), picture.width, picture.height, picture.width * 3,
                                     &encoded);
    }
    Bytes still(encoded, encoded + size);
    WebPFree(encoded);
    if (variant != Variant::Oriented && variant != Variant::Animated &&
        colourSpace.iccProfile.empty())
        return still;

    WebPMux* mux = WebPMuxNew();
    const WebPData image{still.data(), still.size()};
    if (!colourSpace.iccProfile.empty()) {
        const WebPData profile{colourSpace.iccProfile.data(), colourSpace.iccProfile.size()};
        WebPMuxSetChunk(mux, "ICCP", &profile, 1);
    }
    if (variant != Variant::Oriented && variant != Variant::Animated) {
        WebPMuxSetImage(mux, &image, 1);
    } else if (variant == Variant::Oriented) {
        WebPMuxSetImage(mux, &image, 1);
        const Bytes exif = exifTurned();
        const WebPData chunk{exif.data(), exif.size()};
        WebPMuxSetChunk(mux, "EXIF", &chunk, 1);
    } else {
        // A second frame of another picture, a little smaller and off the corner.
        RgbaPicture second{picture.width / 2, picture.height / 2, {}};
        second.pixels.assign(std::size_t(second.width) * second.height * 4, 255);
        std::uint8_t* secondEncoded = nullptr;
        const std::size_t secondSize = WebPEncodeLosslessRGBA(
            second.pixels.data(), second.width, second.height, second.width * 4, &secondEncoded);
        const WebPMuxFrameInfo first{
            image, 0, 0, 100, WEBP_CHUNK_ANMF, WEBP_MUX_DISPOSE_NONE, WEBP_MUX_NO_BLEND, {}};
        const WebPMuxFrameInfo next{
            {secondEncoded, secondSize}, 2, 2, 100, WEBP_CHUNK_ANMF, WEBP_MUX_DISPOSE_NONE,
            WEBP_MUX_NO_BLEND,           {}};
        WebPMuxPushFrame(mux, &first, 1);
        WebPMuxPushFrame(mux, &next, 1);
        WebPFree(secondEncoded);
        const WebPMuxAnimParams params{0xffffffff, 0};
        WebPMuxSetAnimationParams(mux, &params);
        WebPMuxSetCanvasSize(mux, picture.width, picture.height);
    }
    WebPData assembled{};
    WebPMuxAssemble(mux, &assembled);
    Bytes out(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return out;
}

// ---- TIFF

// The bytes of the file at `path`, which is then removed.
Bytes takeFile(const char* path)
{
    Bytes out;
    if (std::FILE* file = std::fopen(path, "rb")) {
        std::uint8_t buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            out.insert(out.end(), buffer, buffer + got);
        std::fclose(file);
    }
    ::unlink(path);
    return out;
}

Bytes encodeTiff(Variant variant, const RgbaPicture& source, const PictureColourSpace& colourSpace)
{
    if (variant == Variant::Animated)
        return {};
    const RgbaPicture picture = variant == Variant::Oriented ? storedTurned(source) : source;
    char path[] = "/tmp/lumivane-tiff-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("no temporary file");
    ::close(fd);
    TIFF* tiff = TIFFOpen(path, "w");
    int samples = 3;
    int photometric = PHOTOMETRIC_RGB;
    int bits = 8;
    switch (variant) {
    case Variant::Palette:
        samples = 1;
        photometric = PHOTOMETRIC_PALETTE;
        break;
    case Variant::Grey:
        samples = 1;
        photometric = PHOTOMETRIC_MINISBLACK;
        break;
    case Variant::GreyAlpha:
        samples = 2;
        photometric = PHOTOMETRIC_MINISBLACK;
        break;
    case Variant::Alpha:
        samples = 4;
        break;
    case Variant::Deep:
        bits = 16;
        break;
    case Variant::Bits12:
        bits = 12;
        break;
    case Variant::Cmyk:
    case Variant::DeepCmyk:
        samples = 4;
        photometric = PHOTOMETRIC_SEPARATED;
        bits = variant == Variant::DeepCmyk ? 16 : 8;
        break;
    case Variant::PlanarGreyAlpha:
    case Variant::DeepGreyAlpha:
        samples = 2;
        photometric = PHOTOMETRIC_MINISBLACK;
        bits = variant == Variant::DeepGreyAlpha ? 16 : 8;
        break;
    default:
        break;
    }
    const bool planar = variant == Variant::PlanarGreyAlpha;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, picture.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, picture.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    // Several strips, so that the reader's bands cross strip boundaries.
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 7);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION,
                 variant == Variant::Rgb ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW);
    if (variant == Variant::Alpha || variant == Variant::GreyAlpha || planar) {
        const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (variant == Variant::DeepGreyAlpha) {
        const std::uint16_t extra[] = {EXTRASAMPLE_ASSOCALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (variant == Variant::Oriented)
        TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP);
    if (!colourSpace.iccProfile.empty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(colourSpace.iccProfile.size()),
                     colourSpace.iccProfile.data());
    Indexed palette;
    if (variant == Variant::Palette) {
        palette = indexed(picture);
        std::vector<std::uint16_t> red(256), green(256), blue(256);
        for (std::size_t i = 0; i * 3 < palette.palette.size(); ++i) {
            red[i] = std::uint16_t(palette.palette[i * 3] * 257);
            green[i] = std::uint16_t(palette.palette[i * 3 + 1] * 257);
            blue[i] = std::uint16_t(palette.palette[i * 3 + 2] * 257);
        }
        TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
    }
    std::vector<std::uint8_t> row;
    for (int y = 0; y < picture.height && !planar; ++y) {
        packRow(picture, palette, variant, y, row);
        TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0);
    }
    // In separate planes: all the grey, then all the alpha.
    for (std::uint16_t plane = 0; plane < 2 && planar; ++plane) {
        for (int y = 0; y < picture.height; ++y) {
            row.clear();
            for (int x = 0; x < picture.width; ++x)
                row.push_back(pixelAt(picture, x, y)[plane == 0 ? 0 : 3]);
            TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), plane);
        }
    }
    TIFFClose(tiff);
    return takeFile(path);
}

// ---- HEIF

heif_error heifWrite(heif_context*, const void* data, size_t size, void* userdata)
{
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

Bytes encodeHeif(heif_compression_format format, Variant variant, const RgbaPicture& upright,
                 const PictureColourSpace& colourSpace)
{
    const RgbaPicture source = variant == Variant::Oriented ? storedTurned(upright) : upright;
    // libaom 3.6 stops on an assertion when it writes a 10-bit picture from libheif.
    if (variant == Variant::Palette || variant == Variant::Cmyk || variant == Variant::Animated ||
        (variant == Variant::Deep && format == heif_compression_AV1))
        return {};
    const bool alpha = variant == Variant::Alpha || variant == Variant::GreyAlpha;
    const bool deep = variant == Variant::Deep;
    heif_image* image = nullptr;
    heif_image_create(source.width, source.height, heif_colorspace_RGB,
                      alpha  ? heif_chroma_interleaved_RGBA
                      : deep ? heif_chroma_interleaved_RRGGBB_LE
                             : heif_chroma_interleaved_RGB,
                      &image);
    heif_image_add_plane(image, heif_channel_interleaved, source.width, source.height,
                         deep ? 10 : 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < source.height; ++y) {
        std::uint8_t* out = plane + std::size_t(y) * stride;
        for (int x = 0; x < source.width; ++x) {
            const std::uint8_t* p = pixelAt(source, x, y);
            for (int c = 0; c < (alpha ? 4 : 3); ++c) {
                if (deep) {
                    // 10-bit samples that scale back to the 8-bit ones.
                    const int v = (p[c] * 1023 + 127) / 255;
                    *out++ = std::uint8_t(v & 0xff);
                    *out++ = std::uint8_t(v >> 8);
                } else {
                    *out++ = p[c];
                }
            }
        }
    }
    if (!colourSpace.iccProfile.empty())
        heif_image_set_raw_color_profile(image, "prof", colourSpace.iccProfile.data(),
                                         colourSpace.iccProfile.size());
    if (colourSpace.cicp) {
        heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx,
                                                    std::uint16_t(colourSpace.cicp->primaries));
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, std::uint16_t(colourSpace.cicp->transfer));
        heif_image_set_nclx_color_profile(image, nclx);
        heif_nclx_color_profile_free(nclx);
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, format, &encoder);
    heif_encoder_set_lossy_quality(encoder, 100);
    heif_encoder_set_parameter(encoder, "chroma", "444");
    if (format == heif_compression_AV1)
        heif_encoder_set_parameter(encoder, "speed", "8");
    heif_encoding_options* options = heif_encoding_options_alloc();
    // Stored as it is; the container's transformation turns it a quarter clockwise.
    if (variant == Variant::Oriented)
        options->image_orientation = heif_orientation_rotate_90_cw;
    heif_context_encode_image(context, image, encoder, options, nullptr);
    heif_encoding_options_free(options);
    heif_encoder_release(encoder);
    Bytes out;
    heif_writer writer{1, heifWrite};
    heif_context_write(context, &writer, &out);
    heif_context_free(context);
    heif_image_release(image);
    return out;
}

} // namespace

RgbaPicture sourceFor(Variant variant, int width, int height)
{
    RgbaPicture picture{width, height, {}};
    picture.pixels.reserve(std::size_t(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int r = x * 255 / std::max(1, width - 1);
            int g = y * 255 / std::max(1, height - 1);
            int b = int(127.5 + 120 * std::sin((x + 2 * y) * 0.08));
            int a = 255;
            if (variant == Variant::Palette) {
                r = r / 51 * 51;
                g = g / 51 * 51;
                b = b / 51 * 51;
            }
            const bool greyAlpha = variant == Variant::GreyAlpha ||
                                   variant == Variant::PlanarGreyAlpha ||
                                   variant == Variant::DeepGreyAlpha;
            if (variant == Variant::Grey || greyAlpha)
                g = b = r = (r + g) / 2;
            if (variant == Variant::Alpha || greyAlpha)
                a = std::clamp((x - width / 4) * 255 / std::max(1, width / 2), 0, 255);
            picture.pixels.insert(picture.pixels.end(), {std::uint8_t(r), std::uint8_t(g),
                                                         std::uint8_t(b), std::uint8_t(a)});
        }
    }
    return picture;
}

std::vector<std::uint8_t> encode(Format format, Variant variant, const RgbaPicture& picture,
                                 const PictureColourSpace& colourSpace)
{
    if (variant > Variant::Animated && format != Format::Tiff)
        return {};
    switch (format) {
    case Format::Png:
        return variant == Variant::Cmyk || variant == Variant::Animated
                   ? Bytes{}
                   : encodePng(variant, picture, colourSpace);
    case Format::Gif:
        return encodeGif(variant, picture);
    case Format::Webp:
        return encodeWebp(variant, picture, colourSpace);
    case Format::Tiff:
        return encodeTiff(variant, picture, colourSpace);
    case Format::Heic:
        return encodeHeif(heif_compression_HEVC, variant, picture, colourSpace);
    case Format::Avif:
        return encodeHeif(heif_compression_AV1, variant, picture, colourSpace);
    }
    return {};
}

RgbaPicture sourceFor(Format format, Variant variant, int width, int height)
{
    RgbaPicture picture = sourceFor(variant, width, height);
    if (format == Format::Gif) {
        for (std::size_t i = 0; i < picture.pixels.size(); i += 4) {
            for (int c = 0; c < 3; ++c)
                picture.pixels[i + c] = std::uint8_t(picture.pixels[i + c] / 51 * 51);
            picture.pixels[i + 3] = picture.pixels[i + 3] < 128 ? 0 : 255;
        }
    }
    return picture;
}


std::vector<std::uint8_t> labTiff(int width, int height, const std::vector<std::uint8_t>& lab)
{
    char path[] = "/tmp/lumivane-tiff-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("no temporary file");
    ::close(fd);
    TIFF* tiff = TIFFOpen(path, "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 7);
    for (int y = 0; y < height; ++y) {
        std::vector<std::uint8_t> row(lab.begin() + std::ptrdiff_t(y) * width * 3,
                                      lab.begin() + std::ptrdiff_t(y + 1) * width * 3);
        TIFFWriteScanline(tiff, row.data(), std::uint32_t(y), 0);
    }
    TIFFClose(tiff);
    return takeFile(path);
}

RgbImage overWhite(const RgbaPicture& picture)
{
    RgbImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.pixels.resize(std::size_t(picture.width) * picture.height * 3);
    for (std::size_t i = 0, o = 0; i < picture.pixels.size(); i += 4, o += 3) {
        const unsigned a = picture.pixels[i + 3];
        for (int c = 0; c < 3; ++c)
            image.pixels[o + c] =
                std::uint8_t((picture.pixels[i + c] * a + 255 * (255 - a) + 127) / 255);
    }
    return image;
}

RgbaPicture opaque(const RgbImage& image)
{
    RgbaPicture picture{image.width, image.height, {}};
    for (std::size_t i = 0; i < image.pixels.size(); i += 3)
        picture.pixels.insert(picture.pixels.end(),
                              {image.pixels[i], image.pixels[i + 1], image.pixels[i + 2], 255});
    return picture;
}

const char* extensionOf(Format format)
{
    switch (format) {
    case Format::Png:
        return ".png";
    case Format::Gif:
        return ".gif";
    case Format::Webp:
        return ".webp";
    case Format::Tiff:
        return ".tiff";
    case Format::Heic:
        return ".heic";
    case Format::Avif:
        return ".avif";
    }
    return "";
}

} // namespace FormatPictures
