#include "imaging/formatreaders.h"

#include <cstring>
#include <memory>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace {

// The data is handed to the incremental decoder in steps, and the stop request is checked
// between them: a 12-megapixel photo takes a few dozen steps of 64 KB. A lossless bitstream
// of a few kilobytes may hold a huge picture of few colours, so a small one still comes in at
// least StepsAtLeast steps, each of which decodes only the rows its bytes hold.
constexpr std::size_t BytesPerStep = 64 * 1024;
constexpr std::size_t StepsAtLeast = 64;
constexpr std::size_t SmallestStep = 64;

struct DemuxDeleter
{
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct DecoderDeleter
{
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

int orientationOf(const WebPDemuxer* demux)
{
    WebPChunkIterator chunk;
    int orientation = 1;
    if (WebPDemuxGetChunk(demux, "EXIF", 1, &chunk))
        orientation =
            pictureformat::orientationOfExifPayload({chunk.chunk.bytes, chunk.chunk.size});
    WebPDemuxReleaseChunkIterator(&chunk);
    return orientation;
}

// Decodes one frame's bitstream into `out` (width x height pixels of `channels` bytes, rows
// `stride` bytes apart), scaled to that size when it differs from the frame's own.
std::string decodeFrame(const WebPData& bitstream, bool scaled, bool alpha, std::uint8_t* out,
                        int width, int height, std::size_t stride,
                        const PictureReadOptions& options)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return "WebP decoder version mismatch";
    if (scaled) {
        config.options.use_scaling = 1;
        config.options.scaled_width = width;
        config.options.scaled_height = height;
    }
    config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = out;
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size = stride * static_cast<std::size_t>(height);
    const std::unique_ptr<WebPIDecoder, DecoderDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return "Cannot start the WebP decoder";
    const std::size_t step = std::clamp(bitstream.size / StepsAtLeast, SmallestStep, BytesPerStep);
    for (std::size_t given = std::min(step, bitstream.size);;
         given = std::min(given + step, bitstream.size)) {
        if (options.stop.stop_requested())
            return "WebP decoding stopped";
        const VP8StatusCode status = WebPIUpdate(decoder.get(), bitstream.bytes, given);
        if (status == VP8_STATUS_OK)
            break;
        if (status != VP8_STATUS_SUSPENDED)
            return "WebP bitstream cannot be decoded";
        if (given == bitstream.size)
            return "WebP file cut short";
    }
    // The decoder wrote into the caller's buffer; its own output buffer holds nothing to free.
    WebPFreeDecBuffer(&config.output);
    return {};
}

// The demuxer and the decoder want the container in memory, and the demuxer keeps a record of
// every chunk it sees. Only what the first frame needs is read: the container's chunks are
// walked header by header, and those kept (VP8X, ICCP, ANIM and ALPH before the frame, the first
// frame's VP8, VP8L or ANMF, the first EXIF) are copied in their order into a container of their
// own. Later frames, XMP and unknown chunks are skipped without being read, and so are an ICCP
// or EXIF chunk larger than MaxProfileBytes: each chunk is measured by its header before it is
// copied, and such a profile would be left aside anyway. The walk ends once the frame and,
// where VP8X announces one, the EXIF chunk are found, or after MaxChunksWalked chunks: an
// animation has one chunk a frame, but a header over a sparse file would otherwise make it walk
// a gigabyte of empty chunks.
constexpr int MaxChunksWalked = 65536;
constexpr std::size_t ContainerPieceBytes = std::size_t{4} << 20;
constexpr std::uint8_t ExifFlag = 0x08;

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// Appends the `count` bytes of `data` from `offset` on to `bytes` in pieces whose pages cost
// memory only as they are read. False when the data ends early or the read fails or stops.
bool append(PictureSource& data, std::uint64_t offset, std::uint64_t count,
            std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() + count > MaxPictureBytes)
        return false;
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t at = bytes.size();
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, ContainerPieceBytes));
        bytes.resize(at + piece);
        const std::size_t got = data.read(offset + done, bytes.data() + at, piece);
        bytes.resize(at + got);
        if (got < piece)
            return false;
        done += piece;
    }
    return true;
}

// What the walk over the container found besides the chunks it kept.
struct ContainerWalk
{
    bool profileTooLarge = false;
};

std::string readContainer(PictureSource& data, std::vector<std::uint8_t>& bytes,
                          ContainerWalk& walk)
{
    std::uint8_t header[12] = {};
    const std::size_t headerBytes = data.read(0, header, sizeof header);
    bytes.assign(header, header + headerBytes);
    if (headerBytes != sizeof header || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WEBP", 4) != 0)
        return data.failure();
    const std::uint64_t end = std::min<std::uint64_t>(data.size(), littleEndian32(header + 4) + 8);
    bool frameFound = false;
    bool exifWanted = false;
    bool exifFound = false;
    std::uint64_t at = sizeof header;
    for (int chunks = 0; at + 8 <= end && chunks < MaxChunksWalked; ++chunks) {
        std::uint8_t chunk[9] = {};
        if (data.read(at, chunk, sizeof chunk) < 8)
            break;
        const std::uint64_t size = littleEndian32(chunk + 4);
        const std::uint64_t next = at + 8 + size + (size & 1);
        const auto is = [&](const char* tag) { return std::memcmp(chunk, tag, 4) == 0; };
        bool keep = false;
        const bool metadata = is("ICCP") || is("EXIF");
        if (metadata && size > MaxProfileBytes) {
            walk.profileTooLarge = walk.profileTooLarge || is("ICCP");
            exifFound = exifFound || is("EXIF");
        } else if (!frameFound && (is("VP8X") || is("ICCP") || is("ANIM") || is("ALPH"))) {
            keep = true;
            exifWanted = exifWanted || (is("VP8X") && (chunk[8] & ExifFlag) != 0);
        } else if (!frameFound && (is("VP8 ") || is("VP8L") || is("ANMF"))) {
            keep = frameFound = true;
        } else if (!exifFound && is("EXIF")) {
            keep = exifFound = true;
        }
        if (keep && !append(data, at, std::min(next, end) - at, bytes))
            break;
        if (frameFound && (exifFound || !exifWanted))
            break;
        at = next;
    }
    if (!data.failure().empty())
        return data.failure();
    // The container's length is that of the chunks kept.
    const auto riff = static_cast<std::uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        bytes[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(riff >> (8 * i));
    return {};
}

} // namespace

// The first frame, drawn on the canvas. A still picture larger than twice the texture is
// scaled while it is decoded, by the integer reduction the texture needs.
DecodedPicture readWebpData(PictureSource& data, const PictureReadOptions& options)
{
    std::vector<std::uint8_t> container;
    ContainerWalk walk;
    const std::string unread = readContainer(data, container, walk);
    if (!unread.empty())
        return pictureformat::unreadable(unread);
    const WebPData whole{container.data(), container.size()};
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
    if (!demux)
        return pictureformat::unreadable("Not a complete WebP file");
    const std::uint32_t canvasWidth = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
    const std::uint32_t canvasHeight = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
    if (!pictureformat::sizeAllowed(canvasWidth, canvasHeight, options))
        return pictureformat::unreadable("WebP picture too large to decode");

    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) {
        WebPDemuxReleaseIterator(&frame);
        return pictureformat::unreadable("WebP file holds no picture");
    }
    const WebPData bitstream = frame.fragment;
    // A lossless bitstream may make pixels transparent without saying so in its header: a
    // colour index beyond its palette is transparent black. It is decoded with its alpha
    // always, so that such pixels show white; where every pixel is opaque, that gives the same
    // colours as a decode without alpha.
    const bool lossless = bitstream.size >= 4 && std::memcmp(bitstream.bytes, "VP8L", 4) == 0;
    const bool alpha = frame.has_alpha != 0 || lossless;
    const int frameWidth = frame.width;
    const int frameHeight = frame.height;
    const int left = frame.x_offset;
    const int top = frame.y_offset;
    WebPDemuxReleaseIterator(&frame);
    if (frameWidth <= 0 || frameHeight <= 0 || left < 0 || top < 0 ||
        std::int64_t{left} + frameWidth > canvasWidth ||
        std::int64_t{top} + frameHeight > canvasHeight)
        return pictureformat::unreadable("WebP frame outside its canvas");

    DecodedPicture picture;
    picture.width = static_cast<int>(canvasWidth);
    picture.height = static_cast<int>(canvasHeight);
    picture.orientation = orientationOf(demux.get());
    WebPChunkIterator profile;
    if (WebPDemuxGetChunk(demux.get(), "ICCP", 1, &profile))
        picture.colourSpace.takeProfile({profile.chunk.bytes, profile.chunk.size});
    WebPDemuxReleaseChunkIterator(&profile);
    if (walk.profileTooLarge)
        picture.colourSpace.note = PictureColourSpace::TooLargeNote;
    const bool wholeCanvas =
        left == 0 && top == 0 && frameWidth == picture.width && frameHeight == picture.height;
    picture.reduction = wholeCanvas
                            ? pictureformat::reductionFor(std::max(picture.width, picture.height),
                                                          options.minimumLongerSide)
                            : 1;
    const int outWidth = (picture.width + picture.reduction - 1) / picture.reduction;
    const int outHeight = (picture.height + picture.reduction - 1) / picture.reduction;
    // A frame that leaves part of the canvas uncovered is stored alone, over a white
    // background, so that a canvas declared huge around a small frame costs what the frame holds.
    if (wholeCanvas)
        pictureformat::allocate(picture.image, outWidth, outHeight);
    else
        picture.image = RgbImage::makeSparse(outWidth, outHeight, 255);
    const std::size_t rowBytes = std::size_t(outWidth) * 3;

    std::string failure;
    if (wholeCanvas && !alpha) {
        failure = decodeFrame(bitstream, picture.reduction > 1, false, picture.image.pixels.data(),
                              outWidth, outHeight, rowBytes, options);
    } else {
        // Transparency and an animation's first frame, which may cover part of the canvas,
        // are decoded apart and drawn over white.
        const int width = wholeCanvas ? outWidth : frameWidth;
        const int height = wholeCanvas ? outHeight : frameHeight;
        // The decoder writes each row it decodes, so the buffer is not cleared first: a frame
        // cut after its header costs what it holds, not its size.
        const std::size_t channels = alpha ? 4 : 3;
        const auto decoded = std::make_unique_for_overwrite<std::uint8_t[]>(
            std::size_t(width) * std::size_t(height) * channels);
        failure = decodeFrame(bitstream, picture.reduction > 1, alpha, decoded.get(), width, height,
                              std::size_t(width) * channels, options);
        if (failure.empty()) {
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* in = decoded.get() + std::size_t(y) * width * channels;
                std::uint8_t* out = picture.image.writablePixels(top + y, left, left + width);
                if (alpha)
                    pictureformat::compositeRow(in, out, std::size_t(width), false);
                else
                    std::memcpy(out, in, std::size_t(width) * 3);
            }
        }
    }
    if (!failure.empty())
        return pictureformat::unreadable(failure);
    picture.readable = true;
    return picture;
}
