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

// A compressed file is never larger than the picture it holds by much; one larger than this is
// refused before it is read. (An uncompressed TIFF of the largest picture allowed holds 1 GiB.)
constexpr std::uint64_t MaxFileBytes = MaxPictureBytes + (std::uint64_t{1} << 20);

struct FileBytes
{
    std::vector<std::uint8_t> data;
    std::string error;
};

// The reads of a whole file go in pieces of this size, with a look at the stop before each, so
// that a large file (up to a gigabyte, or a sparse one that costs nothing on disk) being read for
// a picture nobody wants any more is left within one piece.
constexpr std::size_t ReadPieceBytes = std::size_t{4} << 20;

// Reads a whole regular file. The file's length as fstat gives it sizes the buffer, but the
// reads decide: a file that shrinks gives what is there, one that grows is cut at its old length.
// A stop requested through `stop` ends the reading before its next piece.
FileBytes readWholeFile(const std::string& path, const std::stop_token& stop)
{
    FileBytes result;
    const OpenedFile file = openWithoutWaiting(path);
    if (file.error != 0) {
        result.error = std::strerror(file.error);
        return result;
    }
    if (!file.isRegularFile()) {
        result.error = "Not a regular file";
        return result;
    }
    const auto length = static_cast<std::uint64_t>(std::max<off_t>(file.status.st_size, 0));
    if (length > MaxFileBytes) {
        result.error = "File too large";
        return result;
    }
    // The buffer is reserved, not filled: its pages cost memory only as the reads reach them, so
    // a stopped read of a large file costs what it read.
    const auto total = static_cast<std::size_t>(length);
    while (result.data.size() < total) {
        if (stop.stop_requested()) {
            result.data = {};
            result.error = "Decoding stopped";
            return result;
        }
        if (result.data.capacity() < total)
            result.data.reserve(total);
        const std::size_t done = result.data.size();
        result.data.resize(done + std::min(total - done, ReadPieceBytes));
        const ssize_t got =
            ::read(file.descriptor.get(), result.data.data() + done, result.data.size() - done);
        if (got < 0 && errno == EINTR) {
            result.data.resize(done);
            continue;
        }
        if (got < 0) {
            result.error = std::strerror(errno);
            return result;
        }
        result.data.resize(done + static_cast<std::size_t>(got));
        if (got == 0)
            break;
    }
    return result;
}

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

DecodedPicture readPictureData(PictureKind kind, std::span<const std::uint8_t> data,
                               const PictureReadOptions& options)
{
    try {
        switch (kind) {
        case PictureKind::Jpeg:
            return fromJpeg(data, nullptr, options);
        case PictureKind::Png:
            return readPngData(data, options);
        case PictureKind::Gif:
            return readGifData(data, options);
        case PictureKind::Webp:
            return readWebpData(data, options);
        case PictureKind::Tiff:
            return readTiffData(data, options);
        case PictureKind::Heif:
            return readHeifData(data, options);
        case PictureKind::Bitmap:
            break;
        }
    } catch (const std::bad_alloc&) {
        return pictureformat::unreadable("Not enough memory for the picture");
    } catch (const std::length_error&) {
        return pictureformat::unreadable("Not enough memory for the picture");
    }
    return pictureformat::unreadable("Not a format read from memory");
}

DecodedPicture readPicture(const std::string& path, const PictureReadOptions& options)
{
    const PictureKind kind = pictureKindOf(path);
    if (kind == PictureKind::Jpeg)
        return fromJpeg({}, &path, options);
    if (kind == PictureKind::Bitmap) {
        // The bitmap reader's exceptions leave here before anything is made.
        QdDib reader;
        reader.loadFromFile(path, options.stop);
        DecodedPicture result;
        result.image = reader.toRgbImage(options.stop);
        result.width = result.image.width;
        result.height = result.image.height;
        result.readable = true;
        return result;
    }
    FileBytes file;
    try {
        file = readWholeFile(path, options.stop);
    } catch (const std::bad_alloc&) {
        return pictureformat::unreadable("Not enough memory for the file");
    }
    if (!file.error.empty())
        return pictureformat::unreadable(file.error);
    if (options.stop.stop_requested())
        return pictureformat::unreadable("Decoding stopped");
    return readPictureData(kind, file.data, options);
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
