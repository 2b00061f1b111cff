// The test pictures that declare far more than they hold, or whose pieces cost little alone and
// much as a whole: the readers' hostile cases, built byte by byte.
#include "tests/support/formatpictures.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include <zlib.h>

namespace FormatPictures {

namespace {

using Bytes = std::vector<std::uint8_t>;

void putBigEndian32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

} // namespace

// (See the header.) A small file whose header declares 100000 x 100000 pixels (65535 x 65535 for
// GIF, whose fields hold no more; less for WebP and HEIF, whose libraries refuse that much
// themselves, see below).
std::vector<std::uint8_t> hostile(Format format)
{
    const Variant variant = format == Format::Gif    ? Variant::Palette
                            : format == Format::Webp ? Variant::Animated
                                                     : Variant::Rgb;
    std::vector<std::uint8_t> bytes = encode(format, variant, sourceFor(format, variant, 96, 64));
    const auto find = [&](const char* tag) {
        return std::search(bytes.begin(), bytes.end(), tag, tag + 4) - bytes.begin();
    };
    switch (format) {
    case Format::Png: {
        const auto ihdr = find("IHDR");
        putBigEndian32(&bytes[ihdr + 4], 100000);
        putBigEndian32(&bytes[ihdr + 8], 100000);
        putBigEndian32(&bytes[ihdr + 17], std::uint32_t(crc32(0, &bytes[ihdr], 17)));
        break;
    }
    case Format::Gif:
        for (const std::size_t at : {std::size_t{6}, std::size_t{13 + 256 * 3 + 5}})
            bytes[at] = bytes[at + 1] = bytes[at + 2] = bytes[at + 3] = 0xff;
        break;
    case Format::Webp:
        // An animation's canvas (VP8X, after the RIFF header) may be larger than its frames.
        // libwebp refuses 2^32 pixels or more itself; 40000 x 40000 is left to the reader.
        for (const std::size_t at : {std::size_t{24}, std::size_t{27}}) {
            const std::uint32_t side = 40000 - 1;
            bytes[at] = std::uint8_t(side);
            bytes[at + 1] = std::uint8_t(side >> 8);
            bytes[at + 2] = std::uint8_t(side >> 16);
        }
        break;
    case Format::Tiff: {
        // Little-endian: the first directory's width and length entries.
        std::uint32_t offset = 0;
        std::memcpy(&offset, &bytes[4], 4);
        std::uint16_t entries = 0;
        std::memcpy(&entries, &bytes[offset], 2);
        for (std::uint16_t i = 0; i < entries; ++i) {
            std::uint8_t* entry = &bytes[offset + 2 + i * 12];
            const std::uint16_t tag = std::uint16_t(entry[0] | entry[1] << 8);
            if (tag == 256 || tag == 257) {
                const std::uint32_t value = 100000;
                entry[2] = 4; // LONG
                entry[3] = 0;
                std::memcpy(entry + 8, &value, 4);
            }
        }
        break;
    }
    case Format::Heic:
    case Format::Avif: {
        // libheif refuses more than 32768 a side itself; 30000 x 30000 is left to the reader.
        const auto ispe = find("ispe");
        putBigEndian32(&bytes[ispe + 8], 30000);
        putBigEndian32(&bytes[ispe + 12], 30000);
        break;
    }
    }
    // The headers and, for GIF, the colour table stay.
    if (format == Format::Png || format == Format::Gif)
        bytes.resize(std::min<std::size_t>(bytes.size(), format == Format::Gif ? 900 : 400));
    return bytes;
}

namespace {

void putLittleEndian(Bytes& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void putPngChunk(Bytes& out, const char* type, const Bytes& data, std::uint32_t declared)
{
    const std::size_t at = out.size();
    out.resize(at + 8);
    putBigEndian32(&out[at], declared);
    std::memcpy(&out[at + 4], type, 4);
    out.insert(out.end(), data.begin(), data.end());
    const auto crc =
        std::uint32_t(crc32(crc32(0, &out[at + 4], 4), data.data(), uInt(data.size())));
    out.resize(out.size() + 4);
    putBigEndian32(&out[out.size() - 4], crc);
}

// An RGB PNG header of side x side; then, without a chunk type, 20 bytes of picture data and the
// end; with one, only the start of that chunk, which declares `declared` bytes.
Bytes pngWithChunk(std::uint32_t side, bool interlaced, const char* type, std::uint32_t declared)
{
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header(13);
    putBigEndian32(&header[0], side);
    putBigEndian32(&header[4], side);
    header[8] = 8;                   // bits
    header[9] = 2;                   // RGB
    header[12] = interlaced ? 1 : 0; // Adam7
    putPngChunk(out, "IHDR", header, 13);
    if (type == nullptr) {
        Bytes row(20, 0);
        Bytes data(64);
        uLongf length = data.size();
        compress(data.data(), &length, row.data(), row.size());
        data.resize(length);
        putPngChunk(out, "IDAT", data, std::uint32_t(data.size()));
        putPngChunk(out, "IEND", {}, 0);
    } else {
        // Only the chunk's start: the length it declares is not there.
        putPngChunk(out, type, Bytes{'a', 'b', 'c', 'd'}, declared);
    }
    return out;
}

// A little-endian RGB deflate TIFF of side x side whose strips (of rowsPerStrip rows) all start at
// the given offsets into the same 18 bytes of data, 18 bytes long each.
Bytes tiffWithStrips(std::uint32_t side, std::uint32_t rowsPerStrip,
                     const std::vector<std::uint32_t>& starts)
{
    Bytes data(18);
    const Bytes zeros(60, 0);
    uLongf length = data.size();
    compress2(data.data(), &length, zeros.data(), zeros.size(), 9);
    data.resize(18);
    const auto strips = std::uint32_t(starts.size());
    const std::uint32_t arrays = 8 + 18;
    const std::uint32_t directory = arrays + 8 * strips;
    Bytes out = {'I', 'I', 42, 0};
    putLittleEndian(out, directory, 4);
    out.insert(out.end(), data.begin(), data.end());
    for (const std::uint32_t start : starts)
        putLittleEndian(out, 8 + start, 4);
    for (std::uint32_t i = 0; i < strips; ++i)
        putLittleEndian(out, 18, 4);
    const std::uint32_t entries[][4] = {{256, 4, 1, side},
                                        {257, 4, 1, side},
                                        {258, 3, 1, 8},
                                        {259, 3, 1, 8},
                                        {262, 3, 1, 2},
                                        {273, 4, strips, strips == 1 ? 8 + starts[0] : arrays},
                                        {277, 3, 1, 3},
                                        {278, 4, 1, rowsPerStrip},
                                        {279, 4, strips, strips == 1 ? 18 : arrays + 4 * strips}};
    putLittleEndian(out, std::uint32_t(std::size(entries)), 2);
    for (const auto& entry : entries) {
        putLittleEndian(out, entry[0], 2);
        putLittleEndian(out, entry[1], 2);
        putLittleEndian(out, entry[2], 4);
        putLittleEndian(out, entry[3], 4);
    }
    putLittleEndian(out, 0, 4);
    return out;
}

} // namespace

std::vector<NamedFile> declaringMoreThanHeld(Format format)
{
    if (format == Format::Png) {
        return {{"interlaced 18000 x 18000, a few bytes of data",
                 pngWithChunk(18000, true, nullptr, 0)},
                {"tEXt of 1 GB", pngWithChunk(1, false, "tEXt", 1u << 30)},
                {"zTXt of 1 GB", pngWithChunk(1, false, "zTXt", 1u << 30)},
                {"iTXt of 1 GB", pngWithChunk(1, false, "iTXt", 1u << 30)},
                {"sPLT of 1 GB", pngWithChunk(1, false, "sPLT", 1u << 30)}};
    }
    if (format == Format::Tiff) {
        return {{"18000 x 18000 in one strip of 18 bytes", tiffWithStrips(18000, 18000, {0})},
                {"9000 x 9000 in one strip of 18 bytes", tiffWithStrips(9000, 9000, {0})},
                {"18 strips sharing 18 bytes",
                 tiffWithStrips(18000, 1000, std::vector<std::uint32_t>(18, 0))},
                {"a strip past the end of the file", tiffWithStrips(1000, 1000, {4096})}};
    }
    return {};
}

namespace {

// `pixels` as GIF's LZW codes of `minimumCodeSize` in sub-blocks, without the end code and the
// empty block that ends them, as a file cut right after them holds them.
Bytes gifCodes(const Bytes& pixels, int minimumCodeSize)
{
    const int clear = 1 << minimumCodeSize;
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    int codeSize = minimumCodeSize + 1;
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    const auto put = [&](int code) {
        bits |= std::uint32_t(code) << count;
        for (count += codeSize; count >= 8; count -= 8, bits >>= 8)
            packed.push_back(std::uint8_t(bits));
    };
    put(clear);
    int prefix = pixels[0];
    for (std::size_t i = 1; i < pixels.size(); ++i) {
        const auto found = table.find({prefix, pixels[i]});
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        put(prefix);
        table[{prefix, pixels[i]}] = next++;
        // The decoder makes each entry one code later, and widens its codes when its table
        // reaches the next power of two.
        if (next > (1 << codeSize) && codeSize < 12)
            ++codeSize;
        if (next == 4000) {
            put(clear);
            table.clear();
            next = clear + 2;
            codeSize = minimumCodeSize + 1;
        }
        prefix = pixels[i];
    }
    put(prefix);
    if (count > 0)
        packed.push_back(std::uint8_t(bits));
    Bytes out;
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t length = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(std::uint8_t(length));
        out.insert(out.end(), packed.begin() + std::ptrdiff_t(at),
                   packed.begin() + std::ptrdiff_t(at + length));
    }
    return out;
}

// A GIF of a screenWidth x screenHeight screen with a two-colour table (black, red) whose first
// frame of frameWidth x frameHeight holds one red row and then ends.
Bytes gifCutAfterFirstRow(int screenWidth, int screenHeight, int frameWidth, int frameHeight)
{
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    putLittleEndian(out, std::uint32_t(screenWidth), 2);
    putLittleEndian(out, std::uint32_t(screenHeight), 2);
    out.insert(out.end(), {0x80, 0, 0, 0, 0, 0, 255, 0, 0, ','});
    putLittleEndian(out, 0, 4);
    putLittleEndian(out, std::uint32_t(frameWidth), 2);
    putLittleEndian(out, std::uint32_t(frameHeight), 2);
    out.insert(out.end(), {0, 2});
    const Bytes codes = gifCodes(Bytes(std::size_t(frameWidth), 1), 2);
    out.insert(out.end(), codes.begin(), codes.end());
    return out;
}

void putRiffChunk(Bytes& out, const char* tag, std::uint32_t declared)
{
    out.insert(out.end(), tag, tag + 4);
    putLittleEndian(out, declared, 4);
}

} // namespace

std::vector<NamedSparseFile> costlyAsAWhole(Format format)
{
    const auto whole = [](Bytes bytes) {
        TestPictures::SparseFile file;
        file.length = bytes.size();
        file.pieces.emplace_back(0, std::move(bytes));
        return file;
    };
    if (format == Format::Gif) {
        return {{"screen and frame of 18900 x 18900 cut after the first row",
                 whole(gifCutAfterFirstRow(18900, 18900, 18900, 18900))},
                {"a 1 x 1 screen, a first frame of 18176 x 17993 with one row",
                 whole(gifCutAfterFirstRow(1, 1, 18176, 17993))}};
    }
    if (format == Format::Webp) {
        // An animation on a canvas of 16384 x 16384 whose first frame, 16383 x 16383, holds a
        // lossless header and nothing more.
        Bytes cut = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'};
        putRiffChunk(cut, "VP8X", 10);
        putLittleEndian(cut, 0x12, 4); // an animation with alpha
        putLittleEndian(cut, 16383, 3);
        putLittleEndian(cut, 16383, 3);
        putRiffChunk(cut, "ANIM", 6);
        putLittleEndian(cut, 0, 4);
        putLittleEndian(cut, 0, 2);
        putRiffChunk(cut, "ANMF", 16 + 8 + 6);
        putLittleEndian(cut, 0, 3); // at the corner
        putLittleEndian(cut, 0, 3);
        putLittleEndian(cut, 16382, 3);
        putLittleEndian(cut, 16382, 3);
        putLittleEndian(cut, 100, 3);
        cut.push_back(0);
        putRiffChunk(cut, "VP8L", 5);
        cut.push_back(0x2f);
        putLittleEndian(cut, 16382 | 16382u << 14 | 1u << 28, 4);
        cut.push_back(0); // the pad to an even length
        const auto riff = std::uint32_t(cut.size() - 8);
        for (int i = 0; i < 4; ++i)
            cut[std::size_t(4 + i)] = std::uint8_t(riff >> (8 * i));

        // A still picture after an unknown chunk of 512 MB and an ICCP chunk 4 KB short of
        // 1 GiB, holes.
        const Bytes still = encode(Format::Webp, Variant::Rgb, sourceFor(Variant::Rgb, 96, 64));
        const Bytes frame(still.begin() + 12, still.end());
        const std::uint32_t unknownBytes = 1u << 29;
        const std::uint32_t profileBytes = (1u << 30) - 4096;
        Bytes head = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'};
        putRiffChunk(head, "VP8X", 10);
        putLittleEndian(head, 0x20, 4); // an ICC profile
        putLittleEndian(head, 96 - 1, 3);
        putLittleEndian(head, 64 - 1, 3);
        putRiffChunk(head, "LUMV", unknownBytes);
        Bytes profileHead;
        putRiffChunk(profileHead, "ICCP", profileBytes);
        const std::uint64_t profileAt = head.size() + std::uint64_t{unknownBytes};
        const std::uint64_t frameAt = profileAt + profileHead.size() + profileBytes;
        const auto riffBytes = std::uint32_t(frameAt + frame.size() - 8);
        for (int i = 0; i < 4; ++i)
            head[std::size_t(4 + i)] = std::uint8_t(riffBytes >> (8 * i));
        TestPictures::SparseFile profile;
        profile.length = frameAt + frame.size();
        profile.pieces = {{0, head}, {profileAt, profileHead}, {frameAt, frame}};
        return {{"animation frame of 16383 x 16383 holding only its header", whole(cut)},
                {"unknown chunk of 512 MB and ICCP chunk of almost 1 GiB, holes", profile}};
    }
    if (format == Format::Png) {
        return {
            {"three unknown chunks of 2^31 - 1 bytes, holes",
             withUnknownChunks(encode(Format::Png, Variant::Rgb, sourceFor(Variant::Rgb, 96, 64)),
                               {0x7fffffff, 0x7fffffff, 0x7fffffff})}};
    }
    return {};
}

TestPictures::SparseFile withUnknownChunks(const Bytes& picture,
                                           const std::vector<std::uint32_t>& lengths)
{
    const std::size_t afterHeader = 8 + 8 + 13 + 4;
    TestPictures::SparseFile file;
    Bytes piece(picture.begin(), picture.begin() + afterHeader);
    std::uint64_t at = 0;
    for (const std::uint32_t length : lengths) {
        const std::size_t start = piece.size();
        piece.resize(start + 8);
        putBigEndian32(&piece[start], length);
        std::memcpy(&piece[start + 4], "luMv", 4);
        file.pieces.emplace_back(at, piece);
        at += piece.size() + length;
        piece.assign(4, 0); // the CRC, which is wrong
    }
    piece.insert(piece.end(), picture.begin() + afterHeader, picture.end());
    file.pieces.emplace_back(at, piece);
    file.length = at + piece.size();
    return file;
}

} // namespace FormatPictures
