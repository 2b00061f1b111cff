#include "imaging/formatreaders.h"

#include <cstring>
#include <memory>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace {

// The data is handed to the incremental decoder in steps of this many bytes, and the stop
// request is checked between them: a 12-megapixel photo takes a few dozen steps.
constexpr std::size_t BytesPerStep = 64 * 1024;

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
    for (std::size_t given = std::min(BytesPerStep, bitstream.size);;
         given = std::min(given + BytesPerStep, bitstream.size)) {
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

} // namespace

// The first frame, drawn on the canvas. A still picture larger than twice the texture is
// scaled while it is decoded, by the integer reduction the texture needs.
DecodedPicture readWebpData(std::span<const std::uint8_t> data, const PictureReadOptions& options)
{
    const WebPData whole{data.data(), data.size()};
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
    const bool alpha = frame.has_alpha != 0;
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
    const bool wholeCanvas =
        left == 0 && top == 0 && frameWidth == picture.width && frameHeight == picture.height;
    picture.reduction = wholeCanvas
                            ? pictureformat::reductionFor(std::max(picture.width, picture.height),
                                                          options.minimumLongerSide)
                            : 1;
    const int outWidth = (picture.width + picture.reduction - 1) / picture.reduction;
    const int outHeight = (picture.height + picture.reduction - 1) / picture.reduction;
    pictureformat::allocate(picture.image, outWidth, outHeight);
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
        const std::size_t channels = alpha ? 4 : 3;
        std::vector<std::uint8_t> decoded(std::size_t(width) * std::size_t(height) * channels);
        failure = decodeFrame(bitstream, picture.reduction > 1, alpha, decoded.data(), width,
                              height, std::size_t(width) * channels, options);
        if (failure.empty()) {
            std::memset(picture.image.pixels.data(), 255, picture.image.pixels.size());
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* in = decoded.data() + std::size_t(y) * width * channels;
                std::uint8_t* out = picture.image.writableRow(top + y) + std::size_t(left) * 3;
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
