#include "tests/support/heifgrids.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include <libheif/heif.h>

namespace HeifGrids {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Distinct tile pictures a grid cycles through.
constexpr int Patterns = 6;

heif_error appendTo(heif_context*, const void* data, size_t size, void* userdata)
{
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

void put(Bytes& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void putType(Bytes& out, const char* type)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(type[i]));
}

// A box of `type` around `body`; a full box when `version` is not negative.
Bytes box(const char* type, const Bytes& body, int version = -1, std::uint32_t flags = 0)
{
    Bytes out;
    put(out, 8 + (version >= 0 ? 4 : 0) + body.size(), 4);
    putType(out, type);
    if (version >= 0)
        put(out, std::uint32_t(version) << 24 | flags, 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The first box of `type` in a file libheif wrote, whole (header included).
Bytes findBox(const Bytes& file, const char* type)
{
    const auto at = std::search(file.begin(), file.end(), type, type + 4);
    if (at - file.begin() < 4)
        throw std::runtime_error(std::string("no ") + type + " box");
    const std::size_t start = std::size_t(at - file.begin()) - 4;
    const std::uint32_t size = std::uint32_t(file[start]) << 24 | file[start + 1] << 16 |
                               file[start + 2] << 8 | file[start + 3];
    return Bytes(file.begin() + std::ptrdiff_t(start), file.begin() + std::ptrdiff_t(start + size));
}

struct EncodedTile
{
    Bytes hvcC; // the decoder configuration box, whole
    Bytes data; // the coded picture: NAL units, each behind its length
};

// One tile of pattern `pattern`: smooth colour crossed by fine waves, so that it holds detail
// without being noise.
EncodedTile encodeTile(int size, int pattern)
{
    heif_image* image = nullptr;
    heif_image_create(size, size, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, size, size, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const double frequency = 0.05 + 0.03 * pattern;
    for (int y = 0; y < size; ++y) {
        std::uint8_t* out = plane + std::size_t(y) * std::size_t(stride);
        for (int x = 0; x < size; ++x) {
            const double wave = std::sin(x * frequency) * std::cos(y * frequency * 0.7);
            out[3 * x] = std::uint8_t(std::clamp(128 + 100 * wave, 0.0, 255.0));
            out[3 * x + 1] = std::uint8_t((x * 255 / size + pattern * 40) & 0xff);
            out[3 * x + 2] = std::uint8_t((y * 255 / size + ((x / 16 + y / 16) % 2) * 60) & 0xff);
        }
    }
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 50);
    heif_encoder_set_parameter(encoder, "preset", "ultrafast");
    heif_context_encode_image(context, image, encoder, nullptr, nullptr);
    heif_encoder_release(encoder);
    Bytes file;
    heif_writer writer{1, appendTo};
    heif_context_write(context, &writer, &file);
    heif_context_free(context);
    heif_image_release(image);

    // A file of one picture: its only item's data is the whole of its mdat box.
    EncodedTile tile{findBox(file, "hvcC"), findBox(file, "mdat")};
    tile.data.erase(tile.data.begin(), tile.data.begin() + 8);
    return tile;
}

Bytes ispe(int width, int height)
{
    Bytes body;
    put(body, std::uint32_t(width), 4);
    put(body, std::uint32_t(height), 4);
    return box("ispe", body, 0);
}

} // namespace

std::vector<std::uint8_t> grid(int columns, int rows, int tileSize, Tiles tiles, Boxes boxes)
{
    const bool large = boxes == Boxes::Large;
    std::vector<EncodedTile> encoded;
    for (int p = 0; p < (tiles == Tiles::Own ? Patterns : 1); ++p)
        encoded.push_back(encodeTile(tileSize, p));
    const int cells = columns * rows;
    // Items: 1 the grid, then the tiles from 2 on.
    const int tileItems = tiles == Tiles::OneReferenced ? 1 : cells;
    const bool alpha = tiles == Tiles::AlphaSharing;
    const int alphaItem = 2 + tileItems;
    const int items = 1 + tileItems + (alpha ? 1 : 0);

    Bytes ftyp;
    putType(ftyp, "heic");
    put(ftyp, 0, 4);
    putType(ftyp, "mif1");
    putType(ftyp, "heic");
    ftyp = box("ftyp", ftyp);

    Bytes hdlr;
    put(hdlr, 0, 4);
    putType(hdlr, "pict");
    for (int i = 0; i < 3; ++i)
        put(hdlr, 0, 4);
    put(hdlr, 0, 1);
    Bytes pitm;
    put(pitm, 1, 2);

    Bytes iinf;
    put(iinf, std::uint64_t(items), 2);
    const auto infe = [&](int id, const char* type, std::uint32_t flags) {
        Bytes body;
        put(body, std::uint64_t(id), 2);
        put(body, 0, 2);
        putType(body, type);
        put(body, 0, 1);
        const Bytes entry = box("infe", body, 2, flags);
        iinf.insert(iinf.end(), entry.begin(), entry.end());
    };
    infe(1, "grid", 0);
    for (int i = 0; i < tileItems; ++i)
        infe(2 + i, "hvc1", 1); // hidden
    if (alpha)
        infe(alphaItem, "hvc1", 1);

    Bytes dimg;
    put(dimg, 1, 2);
    put(dimg, std::uint64_t(cells), 2);
    for (int i = 0; i < cells; ++i)
        put(dimg, std::uint64_t(tiles == Tiles::OneReferenced ? 2 : 2 + i), 2);
    Bytes references = box("dimg", dimg);
    if (alpha) {
        Bytes auxl;
        put(auxl, std::uint64_t(alphaItem), 2);
        put(auxl, 1, 2);
        put(auxl, 1, 2);
        const Bytes auxlBox = box("auxl", auxl);
        references.insert(references.end(), auxlBox.begin(), auxlBox.end());
    }
    const Bytes iref = box("iref", references, 0);

    Bytes ipco = encoded[0].hvcC;
    const Bytes tileSpe = ispe(tileSize, tileSize);
    const Bytes gridSpe = ispe(columns * tileSize, rows * tileSize);
    ipco.insert(ipco.end(), tileSpe.begin(), tileSpe.end());
    ipco.insert(ipco.end(), gridSpe.begin(), gridSpe.end());
    const char alphaType[] = "urn:mpeg:hevc:2015:auxid:1";
    const Bytes auxC = box("auxC", Bytes(alphaType, alphaType + sizeof alphaType), 0);
    ipco.insert(ipco.end(), auxC.begin(), auxC.end());
    Bytes ipma;
    put(ipma, std::uint64_t(items), 4);
    put(ipma, 1, 2);
    put(ipma, 1, 1);
    put(ipma, 3, 1);
    for (int i = 0; i < tileItems; ++i) {
        put(ipma, std::uint64_t(2 + i), 2);
        put(ipma, 2, 1);
        put(ipma, 0x81, 1); // hvcC, essential
        put(ipma, 2, 1);
    }
    if (alpha) {
        put(ipma, std::uint64_t(alphaItem), 2);
        put(ipma, 3, 1);
        put(ipma, 0x81, 1);
        put(ipma, 2, 1);
        put(ipma, 4, 1); // auxC
    }
    Bytes iprp = box("ipco", ipco);
    const Bytes ipmaBox = box("ipma", ipma, 0);
    iprp.insert(iprp.end(), ipmaBox.begin(), ipmaBox.end());
    iprp = box("iprp", iprp);

    Bytes descriptor;
    put(descriptor, 0, 2); // version, flags: 16-bit sizes
    put(descriptor, std::uint64_t(rows - 1), 1);
    put(descriptor, std::uint64_t(columns - 1), 1);
    put(descriptor, std::uint64_t(columns * tileSize), 2);
    put(descriptor, std::uint64_t(rows * tileSize), 2);
    // The tiles' data, and where each item's lies within it.
    Bytes data;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
    for (int i = 0; i < tileItems; ++i) {
        const Bytes& coded = encoded[std::size_t(i) % encoded.size()].data;
        if (tiles != Tiles::SharedData || i == 0)
            data.insert(data.end(), coded.begin(), coded.end());
        extents.emplace_back(tiles == Tiles::SharedData ? 0 : data.size() - coded.size(),
                             coded.size());
    }
    if (alpha)
        extents.push_back(extents[0]);
    // The large form keeps the tiles' data in the item data box, after the grid's descriptor.
    Bytes idatBody = descriptor;
    if (large)
        idatBody.insert(idatBody.end(), data.begin(), data.end());
    const Bytes idat = box("idat", idatBody);

    // iloc version 1: offsets and lengths of 4 bytes, no base offset, one extent an item; the
    // large form is of version 2, with base offsets of 4 bytes, and its tiles in the idat box.
    const int idBytes = large ? 4 : 2;
    const auto makeIloc = [&](std::uint64_t dataStart) {
        Bytes body;
        put(body, 0x44, 1);
        put(body, large ? 0x40 : 0x00, 1);
        put(body, std::uint64_t(items), idBytes);
        put(body, 1, idBytes);
        put(body, 1, 2); // construction method 1: in idat
        put(body, 0, 2);
        if (large)
            put(body, 0, 4);
        put(body, 1, 2);
        put(body, 0, 4);
        put(body, descriptor.size(), 4);
        for (std::size_t i = 0; i < extents.size(); ++i) {
            put(body, std::uint64_t(2 + i), idBytes);
            put(body, large ? 1 : 0, 2);
            put(body, 0, 2);
            if (large)
                put(body, descriptor.size(), 4);
            put(body, 1, 2);
            put(body, (large ? 0 : dataStart) + extents[i].first, 4);
            put(body, extents[i].second, 4);
        }
        return box("iloc", body, large ? 2 : 1);
    };
    const auto makeMeta = [&](std::uint64_t dataStart) {
        Bytes body = box("hdlr", hdlr, 0);
        for (const Bytes& part : {box("pitm", pitm, 0), box("iinf", iinf, 0), iref, iprp, idat,
                                  makeIloc(dataStart)})
            body.insert(body.end(), part.begin(), part.end());
        return box("meta", body, 0);
    };
    Bytes file = ftyp;
    if (large) {
        const std::uint64_t freeBytes = 70000;
        put(file, freeBytes, 4);
        putType(file, "free");
        file.resize(file.size() + freeBytes - 8);
        put(file, 1, 4);
        putType(file, "free");
        put(file, freeBytes, 8);
        file.resize(file.size() + freeBytes - 16);
    }
    const std::uint64_t dataStart = file.size() + makeMeta(0).size() + 8;
    const Bytes meta = makeMeta(dataStart);
    file.insert(file.end(), meta.begin(), meta.end());
    const Bytes mdat = box("mdat", large ? Bytes{} : data);
    file.insert(file.end(), mdat.begin(), mdat.end());
    return file;
}

} // namespace HeifGrids
