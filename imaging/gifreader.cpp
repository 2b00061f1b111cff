#include "imaging/formatreaders.h"

#include <cstring>
#include <vector>

#include <gif_lib.h>

namespace {

constexpr int RowsPerCheck = 16;

struct GifSource
{
    PictureSource& data;
    std::uint64_t position = 0;
};

int readBytes(GifFileType* gif, GifByteType* out, int length)
{
    auto* source = static_cast<GifSource*>(gif->UserData);
    const std::size_t wanted = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t given = source->data.read(source->position, out, wanted);
    source->position += given;
    return static_cast<int>(given);
}

struct GifCloser
{
    void operator()(GifFileType* gif) const
    {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

std::string reasonOf(int error)
{
    const char* text = GifErrorString(error);
    return text != nullptr ? text : "GIF file cannot be read";
}

// The transparent colour of the frame that follows a graphic control extension, or -1.
int transparentIndexOf(const GifByteType* extension)
{
    // The block is: length (4), packed fields, delay (2 bytes), transparent index.
    if (extension[0] < 4)
        return -1;
    return (extension[1] & 0x01) != 0 ? extension[4] : -1;
}

// The colours of a file that holds no colour table at all: index i is the grey of level i, as
// other decoders show such a file.
struct GreyTable
{
    GifColorType colours[256];
    ColorMapObject map;

    GreyTable()
    {
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<GifByteType>(i);
            colours[i] = {level, level, level};
        }
        map.ColorCount = 256;
        map.BitsPerPixel = 8;
        map.SortFlag = false;
        map.Colors = colours;
    }
};

} // namespace

// The first frame of the file, drawn on its logical screen. What the frame leaves uncovered and
// its transparent pixels are white. A file without any colour table shows its indices as grey
// levels.
DecodedPicture readGifData(PictureSource& data, const PictureReadOptions& options)
{
    GifSource source{data};
    int error = 0;
    GifHandle gif(DGifOpen(&source, readBytes, &error));
    if (!gif)
        return pictureformat::unreadable(reasonOf(error));

    int transparent = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
            return pictureformat::unreadable(reasonOf(gif->Error));
        if (record == TERMINATE_RECORD_TYPE)
            return pictureformat::unreadable("GIF file holds no picture");
        if (record == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
                return pictureformat::unreadable(reasonOf(gif->Error));
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr)
                transparent = transparentIndexOf(block);
            while (block != nullptr) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                    return pictureformat::unreadable(reasonOf(gif->Error));
            }
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE)
            continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR)
            return pictureformat::unreadable(reasonOf(gif->Error));
        break;
    }

    const GifImageDesc& frame = gif->Image;
    static const GreyTable greys;
    const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (colours == nullptr || colours->Colors == nullptr)
        colours = &greys.map;
    // The picture is the logical screen, widened where the first frame reaches beyond it.
    const std::int64_t frameRight = std::int64_t{frame.Left} + frame.Width;
    const std::int64_t frameBottom = std::int64_t{frame.Top} + frame.Height;
    const std::int64_t width = std::max<std::int64_t>(gif->SWidth, frameRight);
    const std::int64_t height = std::max<std::int64_t>(gif->SHeight, frameBottom);
    if (frame.Width <= 0 || frame.Height <= 0 || frame.Left < 0 || frame.Top < 0 ||
        !pictureformat::sizeAllowed(width, height, options))
        return pictureformat::unreadable("GIF picture too large to decode");

    if (options.stop.stop_requested())
        return pictureformat::unreadable("GIF decoding stopped");
    DecodedPicture picture;
    // A frame that covers the logical screen fills the picture; one that leaves part of it
    // uncovered is stored alone, over a white background, so that a screen declared huge
    // around a small frame costs what the frame holds.
    if (frame.Left == 0 && frame.Top == 0 && frameRight == width && frameBottom == height)
        pictureformat::allocate(picture.image, static_cast<int>(width), static_cast<int>(height));
    else
        picture.image =
            RgbImage::makeSparse(static_cast<int>(width), static_cast<int>(height), 255);
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    // An interlaced frame stores every 8th row from 0, every 8th from 4, every 4th from 2 and
    // every 2nd from 1; a plain one stores them in order.
    static constexpr int starts[] = {0, 4, 2, 1};
    static constexpr int steps[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    int rowsRead = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? starts[pass] : 0;
        const int step = frame.Interlace ? steps[pass] : 1;
        for (int y = start; y < frame.Height; y += step) {
            if (rowsRead++ % RowsPerCheck == 0 && options.stop.stop_requested())
                return pictureformat::unreadable("GIF decoding stopped");
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR)
                return pictureformat::unreadable(reasonOf(gif->Error));
            std::uint8_t* out = picture.image.writablePixels(frame.Top + y, frame.Left,
                                                             static_cast<int>(frameRight));
            for (int x = 0; x < frame.Width; ++x, out += 3) {
                const int index = line[static_cast<std::size_t>(x)];
                if (index == transparent) {
                    out[0] = out[1] = out[2] = 255;
                    continue;
                }
                // An index beyond the colour table is black, as most viewers show it.
                if (index >= colours->ColorCount) {
                    out[0] = out[1] = out[2] = 0;
                    continue;
                }
                const GifColorType& colour = colours->Colors[index];
                out[0] = colour.Red;
                out[1] = colour.Green;
                out[2] = colour.Blue;
            }
        }
    }
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.readable = true;
    return picture;
}
