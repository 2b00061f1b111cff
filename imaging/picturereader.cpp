#include "imaging/picturereader.h"

#include "imaging/exiforientation.h"
#include "imaging/filedescriptor.h"
#include "imaging/formatreaders.h"
#include "imaging/jpegdecoder.h"
#include "imaging/qddib.h"
#include "imaging/qddibbuffer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// A compressed file is never larger than the picture it holds by much; an EXIF block larger
// than this is not looked at.
constexpr std::uint64_t MaxFileBytes = MaxPictureBytes + (std::uint64_t{1} << 20);

bool endsWithIgnoringCase(std::string_view name, std::string_view suffix)
{
    if (name.size() < suffix.size())
        return false;
    const std::string_view tail = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

DecodedPicture fromJpeg(std::span<const std::uint8_t> data, const std::string* path,
                        const PictureReadOptions& options)
{
    DecodedPicture result;
    const JpegDecodeOptions jpegOptions{.minimumLongerSide = options.minimumLongerSide,
                                        .stop = options.stop,
                                        .colourTransforms = options.colourTransforms};
    std::optional<JpegPicture> picture = path ? decodeJpegFile(*path, &result.note, jpegOptions)
                                              : decodeJpegData(data, &result.note, jpegOptions);
    if (picture) {
        result.image = std::move(picture->image);
        result.width = picture->width;
        result.height = picture->height;
        result.reduction = picture->reduction;
        result.orientation = picture->orientation;
        result.colourSpace = std::move(picture->colourSpace);
        result.readable = true;
    }
    return result;
}

} // namespace

PictureKind pictureKindOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string_view name =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    struct Suffix
    {
        std::string_view suffix;
        PictureKind kind;
    };
    static constexpr std::array<Suffix, 10> suffixes{{
        {".jpg", PictureKind::Jpeg},
        {".jpeg", PictureKind::Jpeg},
        {".png", PictureKind::Png},
        {".gif", PictureKind::Gif},
        {".webp", PictureKind::Webp},
        {".tif", PictureKind::Tiff},
        {".tiff", PictureKind::Tiff},
        {".heic", PictureKind::Heif},
        {".heif", PictureKind::Heif},
        {".avif", PictureKind::Heif},
    }};
    for (const Suffix& entry : suffixes) {
        if (endsWithIgnoringCase(name, entry.suffix))
            return entry.kind;
    }
    return PictureKind::Bitmap;
}

namespace {

DecodedPicture decodeFormat(PictureKind kind, PictureSource& source,
                            const PictureReadOptions& options)
{
    try {
        switch (kind) {
        case PictureKind::Png:
            return readPngData(source, options);
        case PictureKind::Gif:
            return readGifData(source, options);
        case PictureKind::Webp:
            return readWebpData(source, options);
        case PictureKind::Tiff:
            return readTiffData(source, options);
        case PictureKind::Heif:
            return readHeifData(source, options);
        case PictureKind::Jpeg:
        case PictureKind::Bitmap:
            break;
        }
    } catch (const std::bad_alloc&) {
        return pictureformat::unreadable("Not enough memory for the picture");
    } catch (const std::length_error&) {
        return pictureformat::unreadable("Not enough memory for the picture");
    }
    return pictureformat::unreadable("No reader for this kind of picture");
}

} // namespace

DecodedPicture readFormat(PictureKind kind, PictureSource& source,
                          const PictureReadOptions& options)
{
    DecodedPicture picture = decodeFormat(kind, source, options);
    // A read that was stopped, failed, or found the file cut short under it says so, rather
    // than what the decoder made of the bytes it had (zeros, for libheif).
    if (!source.failure().empty())
        return pictureformat::unreadable(source.failure());
    return picture;
}

DecodedPicture readPictureData(PictureKind kind, std::span<const std::uint8_t> data,
                               const PictureReadOptions& options)
{
    if (kind == PictureKind::Jpeg)
        return fromJpeg(data, nullptr, options);
    PictureSource source(data, options.stop);
    return readFormat(kind, source, options);
}

DecodedPicture readPicture(const std::string& path, const PictureReadOptions& options)
{
    const PictureKind kind = pictureKindOf(path);
    if (kind == PictureKind::Jpeg)
        return fromJpeg({}, &path, options);
    if (kind == PictureKind::Bitmap) {
        // The bitmap reader's exceptions leave here before anything is made.
        QdDib reader;
        reader.loadFromFile(path, options.stop,
                            options.laterBitmapHeaders ? BitmapHeaders::WithLaterVersions
                                                       : BitmapHeaders::Design);
        DecodedPicture result;
        result.image = reader.toRgbImage(options.stop);
        result.width = result.image.width;
        result.height = result.image.height;
        result.colourSpace.takeProfile(reader.iccProfile());
        result.readable = true;
        return result;
    }
    OpenedFile file = openWithoutWaiting(path);
    if (file.error != 0)
        return pictureformat::unreadable(std::strerror(file.error));
    if (!file.isRegularFile())
        return pictureformat::unreadable("Not a regular file");
    if (options.stop.stop_requested())
        return pictureformat::unreadable("Decoding stopped");
    // The file is read only where its decoder asks, so its length costs nothing by itself.
    PictureSource source(std::move(file), options.stop);
    return readFormat(kind, source, options);
}

namespace pictureformat {

void allocate(RgbImage& image, int width, int height)
{
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    reservePixelBuffer(image.pixels, bytes);
    image.pixels.resize(bytes);
    image.width = width;
    image.height = height;
}

int orientationOfExifPayload(std::span<const std::uint8_t> payload)
{
    static constexpr std::uint8_t header[] = {'E', 'x', 'i', 'f', 0, 0};
    if (isExifBlock(payload))
        return exifOrientation(payload);
    if (payload.size() > MaxFileBytes)
        return 1;
    std::vector<std::uint8_t> block(std::begin(header), std::end(header));
    block.insert(block.end(), payload.begin(), payload.end());
    return exifOrientation(block);
}

int reductionFor(int longerSide, int minimumLongerSide)
{
    if (minimumLongerSide <= 0 || longerSide <= minimumLongerSide)
        return 1;
    int reduction = longerSide / minimumLongerSide;
    while (reduction > 1 && (longerSide + reduction - 1) / reduction < minimumLongerSide)
        --reduction;
    return std::max(reduction, 1);
}

} // namespace pictureformat
