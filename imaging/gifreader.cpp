#include "imaging/formatreaders.h"
#include "imaging/qddibbuffer.h"

#include <cstring>
#include <optional>
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

// When giflib refused the frame whose descriptor starts at `descriptor` only for its minimum code
// size, having read the descriptor, its colour table and the code size, that size (9 to 11);
// 0 otherwise.
int wideCodeSizeAfter(const GifSource& source, std::uint64_t descriptor)
{
    std::uint8_t flags = 0;
    if (source.data.read(descriptor + 8, &flags, 1) != 1)
        return 0;
    const std::uint64_t table = (flags & 0x80) != 0 ? 3u << ((flags & 7) + 1) : 0;
    std::uint8_t codeSize = 0;
    if (source.position != descriptor + 9 + table + 1 ||
        source.data.read(source.position - 1, &codeSize, 1) != 1)
        return 0;
    return codeSize >= 9 && codeSize <= 11 ? codeSize : 0;
}

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

// giflib refuses a frame whose LZW codes start wider than 9 bits (a minimum code size above 8),
// which other decoders read. Such a frame's data is decoded here, from the sub-blocks that follow
// the code size, with the same LZW rules: codes from minimum + 1 bits up to 12, a clear code at
// 2^minimum and an end code after it.
class WideLzwDecoder
{
public:
    WideLzwDecoder(GifSource& source, int minimumCodeSize)
        : m_source(source), m_clear(1 << minimumCodeSize), m_minimumCodeSize(minimumCodeSize)
    {
        reset();
    }

    // Fills `line` with the next pixels; false when the data ends or is broken first.
    bool readLine(std::vector<std::uint16_t>& line)
    {
        for (std::uint16_t& pixel : line) {
            if (m_stackSize == 0 && !decodeNext())
                return false;
            pixel = m_stack[--m_stackSize];
        }
        return true;
    }

private:
    static constexpr int MaxCodes = 4096;

    void reset()
    {
        m_codeSize = m_minimumCodeSize + 1;
        m_next = m_clear + 2;
        m_previous = -1;
    }

    // The next byte of the sub-blocks, or -1 at their end. Each sub-block is read whole.
    int nextByte()
    {
        if (m_blockAt == m_blockSize) {
            std::uint8_t length = 0;
            if (m_ended || m_source.data.read(m_source.position, &length, 1) != 1 || length == 0 ||
                m_source.data.read(m_source.position + 1, m_block, length) != length) {
                m_ended = true;
                return -1;
            }
            m_source.position += 1 + length;
            m_blockSize = length;
            m_blockAt = 0;
        }
        return m_block[m_blockAt++];
    }

    int nextCode()
    {
        while (m_bitCount < m_codeSize) {
            const int byte = nextByte();
            if (byte < 0)
                return -1;
            m_bits |= static_cast<std::uint32_t>(byte) << m_bitCount;
            m_bitCount += 8;
        }
        const int code = static_cast<int>(m_bits & ((1u << m_codeSize) - 1));
        m_bits >>= m_codeSize;
        m_bitCount -= m_codeSize;
        return code;
    }

    int firstOf(int code) const { return code < m_clear ? code : m_first[code]; }

    // Puts the pixels of the next code on the stack, last pixel first.
    bool decodeNext()
    {
        for (;;) {
            const int code = nextCode();
            if (code < 0 || code == m_clear + 1)
                return false;
            if (code == m_clear) {
                reset();
                continue;
            }
            if (m_previous < 0) {
                if (code > m_clear)
                    return false;
            } else {
                // A code one past the table stands for the previous string and its own first
                // pixel; any code further on is broken data.
                if (code > m_next)
                    return false;
                if (m_next < MaxCodes) {
                    m_prefix[m_next] = static_cast<std::uint16_t>(m_previous);
                    m_suffix[m_next] = static_cast<std::uint16_t>(
                        code == m_next ? firstOf(m_previous) : firstOf(code));
                    m_first[m_next] = static_cast<std::uint16_t>(firstOf(m_previous));
                    ++m_next;
                    if (m_next == (1 << m_codeSize) && m_codeSize < 12)
                        ++m_codeSize;
                }
            }
            // Each entry's prefix is an older code, so the walk ends at a single pixel.
            int c = code;
            for (; c > m_clear; c = m_prefix[c])
                m_stack[m_stackSize++] = m_suffix[c];
            m_stack[m_stackSize++] = static_cast<std::uint16_t>(c);
            m_previous = code;
            return true;
        }
    }

    GifSource& m_source;
    const int m_clear;
    const int m_minimumCodeSize;
    int m_codeSize = 0;
    int m_next = 0;
    int m_previous = -1;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    std::uint8_t m_block[255] = {};
    int m_blockSize = 0;
    int m_blockAt = 0;
    bool m_ended = false;
    std::uint16_t m_prefix[MaxCodes] = {};
    std::uint16_t m_suffix[MaxCodes] = {};
    std::uint16_t m_first[MaxCodes] = {};
    std::uint16_t m_stack[MaxCodes + 1] = {};
    int m_stackSize = 0;
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
    int wideCodeSize = 0;
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
        const std::uint64_t descriptor = source.position;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            wideCodeSize = wideCodeSizeAfter(source, descriptor);
            if (wideCodeSize == 0)
                return pictureformat::unreadable(reasonOf(gif->Error));
        }
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
    // around a small frame costs what the frame holds. A plain (not interlaced) frame's rows
    // come in order, and the picture's buffer, reserved whole, grows by each row as it comes.
    const std::size_t rowBytes = std::size_t(frame.Width) * 3;
    const bool dense =
        frame.Left == 0 && frame.Top == 0 && frameRight == width && frameBottom == height;
    const bool grown = dense && !frame.Interlace;
    if (grown) {
        reservePixelBuffer(picture.image.pixels, rowBytes * static_cast<std::size_t>(height));
        picture.image.width = static_cast<int>(width);
        picture.image.height = static_cast<int>(height);
    } else if (dense) {
        pictureformat::allocate(picture.image, static_cast<int>(width), static_cast<int>(height));
    } else {
        picture.image =
            RgbImage::makeSparse(static_cast<int>(width), static_cast<int>(height), 255);
    }
    std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
    std::vector<std::uint16_t> wideLine(wideCodeSize != 0 ? line.size() : 0);
    std::optional<WideLzwDecoder> wide;
    if (wideCodeSize != 0)
        wide.emplace(source, wideCodeSize);
    const auto writeRow = [&](int y, const auto& indices) {
        std::uint8_t* out =
            picture.image.writablePixels(frame.Top + y, frame.Left, static_cast<int>(frameRight));
        for (int x = 0; x < frame.Width; ++x, out += 3) {
            const int index = indices[static_cast<std::size_t>(x)];
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
    };
    // An interlaced frame stores every 8th row from 0, every 8th from 4, every 4th from 2 and
    // every 2nd from 1; a plain one stores them in order. A frame whose data ends early keeps
    // the rows it holds, as a cut JPEG does; the rest of it is white.
    static constexpr int starts[] = {0, 4, 2, 1};
    static constexpr int steps[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    int rowsRead = 0;
    std::vector<bool> rowWritten;
    for (int pass = 0; pass < passes && picture.note.empty(); ++pass) {
        const int start = frame.Interlace ? starts[pass] : 0;
        const int step = frame.Interlace ? steps[pass] : 1;
        for (int y = start; y < frame.Height; y += step) {
            if (rowsRead % RowsPerCheck == 0 && options.stop.stop_requested())
                return pictureformat::unreadable("GIF decoding stopped");
            if (wide ? !wide->readLine(wideLine)
                     : DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
                picture.note = wide ? "GIF frame data cut short" : reasonOf(gif->Error);
                break;
            }
            if (grown)
                picture.image.pixels.resize(static_cast<std::size_t>(y + 1) * rowBytes);
            if (wide)
                writeRow(y, wideLine);
            else
                writeRow(y, line);
            if (frame.Interlace) {
                rowWritten.resize(static_cast<std::size_t>(frame.Height));
                rowWritten[static_cast<std::size_t>(y)] = true;
            }
            ++rowsRead;
        }
    }
    if (!picture.note.empty()) {
        if (rowsRead == 0)
            return pictureformat::unreadable(picture.note);
        // The missing rows are white. The sparse form's rows never written are white already.
        // In the dense form, whose frame covers the whole picture from its corner, the missing
        // rows may be far more than those read: a few hundred bytes cut after the first row of a
        // huge frame would cost a gigabyte of white. So where most rows are missing, the rows
        // read move to the sparse form instead; either way the cost is at most twice the rows
        // read.
        const auto wasRead = [&](int y) {
            return frame.Interlace ? rowWritten[static_cast<std::size_t>(y)] : y < rowsRead;
        };
        if (dense && rowsRead < frame.Height / 2) {
            RgbImage kept = RgbImage::makeSparse(picture.image.width, picture.image.height, 255);
            for (int y = 0; y < frame.Height; ++y) {
                if (wasRead(y))
                    std::memcpy(kept.writableRow(y), picture.image.row(y).pixels, rowBytes);
            }
            picture.image = std::move(kept);
        } else if (grown) {
            picture.image.pixels.resize(rowBytes * static_cast<std::size_t>(frame.Height), 255);
        } else if (dense) {
            for (int y = 0; y < frame.Height; ++y) {
                if (!wasRead(y))
                    std::memset(picture.image.writableRow(y), 255, rowBytes);
            }
        }
    }
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.readable = true;
    return picture;
}
