#include "imaging/qddib.h"

#include "imaging/bytereader.h"
#include "imaging/colourprofile.h"
#include "imaging/filedescriptor.h"
#include "imaging/qddibbuffer.h"
#include "imaging/qddibhandover.h"
#include "imaging/qddibpicture.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

EStreamReadError::EStreamReadError() : std::runtime_error("ストリームからの読み込みエラー") {}

EFileOpenError::EFileOpenError(const std::string& path, int errorNumber)
    : std::runtime_error("ファイル \"" + path + "\". " + std::strerror(errorNumber) +
                         " は開けません")
{}

namespace {

constexpr char kFileTypeInvalid[] = "TQdInternalDIB.LoadFromFile: File type is invalid";
constexpr char kOffBitsTooSmall[] = "TQdInternalDIB.LoadFromFile: bfOffBits is too small";
constexpr char kInvalidHeaderSize[] = "TQdInternalDIB.LoadFromStream: Invalid Bitmap Header Size";
constexpr char kInvalidInfoBitCount[] = "TQdInternalDIB.LoadFromStream: Invalid BitCout";
constexpr char kInvalidCoreBitCount[] = "TQdInternalDIB.LoadFromStream: Invalid BitCount";
constexpr char kInvalidWidthOrHeight[] = "TQdInternalDIB.LoadFromStream: Invalid Width or Height";
constexpr char kInvalidMasks[] = "TQdInternalDIB.LoadFromStream: Invalid Masks";

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint64_t kInfoHeaderSize = 40;
constexpr std::uint64_t kCoreHeaderSize = 12;
// The version 4 and 5 headers: the 40-byte one followed by the four masks, the colour space and,
// in version 5, where an embedded ICC profile lies.
constexpr std::uint64_t kV4HeaderSize = 108;
constexpr std::uint64_t kV5HeaderSize = 124;
// The colour space type of a version 5 header whose profile is embedded ("MBED").
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;
constexpr std::int32_t kDefaultPelsPerMeter = 3780; // 96 dots per inch

struct FileHeader
{
    std::uint32_t size = 0;
    std::uint32_t offBits = 0;
};

using Masks = std::array<std::uint32_t, 3>; // red, green, blue

std::uint16_t littleU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t littleU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

FileHeader readFileHeader(ByteReader& reader)
{
    std::uint8_t bytes[kFileHeaderSize];
    reader.read(bytes);
    if (bytes[0] != 'B' || bytes[1] != 'M')
        throw EQdDIBInvalidDIBFile(kFileTypeInvalid);
    return {littleU32(bytes + 2), littleU32(bytes + 10)};
}

// The ICC profile a version 5 header embeds, at `offset` from the header's start; nothing when it
// lies outside the file or is larger than a profile is taken. The reader is left where it was.
void readEmbeddedProfile(ByteReader& reader, std::uint64_t offset, std::uint32_t size,
                         QdDibPicture& picture)
{
    const std::uint64_t at = kFileHeaderSize + offset;
    if (size == 0 || size > MaxProfileBytes || at > reader.length() ||
        size > reader.length() - at)
        return;
    const std::uint64_t back = reader.position();
    picture.iccProfile.resize(size);
    reader.seek(at);
    reader.read(picture.iccProfile);
    reader.seek(back);
}

// Reads the rest of a 40-byte header (or of a version 4 or 5 header of `headerSize` bytes), the
// masks (with BI_BITFIELDS: after a 40-byte header, inside a later one) and the colour table,
// checks bfOffBits and moves to the pixel data. Returns the masks read, or zeros without
// BI_BITFIELDS.
Masks readInfoHeader(ByteReader& reader, const FileHeader& fileHeader, QdDibPicture& picture,
                     std::uint64_t headerSize = kInfoHeaderSize)
{
    std::uint8_t bytes[kInfoHeaderSize - 4];
    reader.read(bytes);
    BitmapInfoHeader& header = picture.header;
    header.size = kInfoHeaderSize;
    header.width = static_cast<std::int32_t>(littleU32(bytes + 0));
    header.height = static_cast<std::int32_t>(littleU32(bytes + 4));
    header.planes = littleU16(bytes + 8);
    header.bitCount = littleU16(bytes + 10);
    header.compression = littleU32(bytes + 12);
    header.sizeImage = littleU32(bytes + 16);
    header.xPelsPerMeter = static_cast<std::int32_t>(littleU32(bytes + 20));
    header.yPelsPerMeter = static_cast<std::int32_t>(littleU32(bytes + 24));
    header.clrUsed = littleU32(bytes + 28);
    header.clrImportant = littleU32(bytes + 32);
    if (header.xPelsPerMeter == 0)
        header.xPelsPerMeter = kDefaultPelsPerMeter;
    if (header.yPelsPerMeter == 0)
        header.yPelsPerMeter = kDefaultPelsPerMeter;

    switch (header.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        throw EQdDIBInvalidDIB(kInvalidInfoBitCount);
    }
    if (header.clrUsed == 0 && header.bitCount <= 8)
        header.clrUsed = std::uint32_t{1} << header.bitCount;

    Masks masks{};
    const bool hasMasks = header.compression == kBiBitfields;
    if (headerSize > kInfoHeaderSize) {
        std::array<std::uint8_t, kV5HeaderSize - kInfoHeaderSize> later{};
        reader.read(std::span(later.data(), headerSize - kInfoHeaderSize));
        if (hasMasks) {
            for (std::size_t i = 0; i < masks.size(); ++i)
                masks[i] = littleU32(later.data() + i * 4);
        }
        if (headerSize == kV5HeaderSize && littleU32(later.data() + 16) == kProfileEmbedded)
            readEmbeddedProfile(reader, littleU32(later.data() + 72), littleU32(later.data() + 76),
                                picture);
    } else if (hasMasks) {
        for (std::uint32_t& mask : masks)
            mask = reader.readU32();
    }
    // Only the first 256 entries are kept; the seek to bfOffBits below skips the rest.
    const std::uint32_t kept = std::min<std::uint32_t>(header.clrUsed, 256);
    std::array<std::uint8_t, 256 * 4> table;
    reader.read(std::span(table.data(), kept * 4));
    for (std::uint32_t i = 0; i < kept; ++i)
        picture.colours[i] = {table[i * 4], table[i * 4 + 1], table[i * 4 + 2], table[i * 4 + 3]};

    // The table as declared must end before the pixel data. The sum is 64-bit, so a huge
    // biClrUsed cannot wrap it into a small number.
    const std::uint64_t tableEnd = kFileHeaderSize + headerSize + std::uint64_t{header.clrUsed} * 4 +
                                   (hasMasks && headerSize == kInfoHeaderSize ? 12 : 0);
    if (fileHeader.offBits < tableEnd)
        throw EQdDIBInvalidDIB(kOffBitsTooSmall);
    reader.seek(fileHeader.offBits);
    header.clrUsed = kept;
    return masks;
}

// Reads the rest of a 12-byte core header and its 3-byte colour table, and widens both into
// the 40-byte form.
void readCoreHeader(ByteReader& reader, const FileHeader& fileHeader, QdDibPicture& picture)
{
    std::uint8_t bytes[kCoreHeaderSize - 4];
    reader.read(bytes);
    const std::uint16_t bitCount = littleU16(bytes + 6);
    std::uint32_t entries = 0;
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
        entries = std::uint32_t{1} << bitCount;
        break;
    case 24:
        break;
    default:
        throw EQdDIBInvalidDIB(kInvalidCoreBitCount);
    }
    std::array<std::uint8_t, 256 * 3> table;
    reader.read(std::span(table.data(), entries * 3));
    if (fileHeader.offBits < kFileHeaderSize + kCoreHeaderSize + std::uint64_t{entries} * 3)
        throw EQdDIBInvalidDIB(kOffBitsTooSmall);
    reader.seek(fileHeader.offBits);

    BitmapInfoHeader& header = picture.header;
    header = BitmapInfoHeader{};
    // The core fields are unsigned 16-bit, so the height is always positive (bottom-up).
    header.width = littleU16(bytes + 0);
    header.height = littleU16(bytes + 2);
    header.planes = littleU16(bytes + 4);
    header.bitCount = bitCount;
    header.clrUsed = entries;
    for (std::uint32_t i = 0; i < entries; ++i)
        picture.colours[i] = {table[i * 3], table[i * 3 + 1], table[i * 3 + 2], 0};
}

// Refuses a picture larger than the reader hands over, before any of its pixel data is read or
// a buffer is made for it: reading a 2 GB file only to refuse it afterwards costs seconds and
// gigabytes.
void checkPixelCount(const BitmapInfoHeader& header)
{
    const std::uint64_t rows = header.height < 0 ? 0 - std::int64_t{header.height} : header.height;
    if (static_cast<std::uint64_t>(header.width) * rows > kMaxPixels)
        throw EOutOfResources(kCannotMakeFileMapping);
}

// Reads 1-, 4-, 8- and 24-bit pixel data as stored: bfSize - bfOffBits bytes.
void readStoredPixels(ByteReader& reader, const FileHeader& fileHeader, QdDibPicture& picture)
{
    const std::int64_t length = std::int64_t{fileHeader.size} - std::int64_t{fileHeader.offBits};
    if (length <= 0)
        throw EOutOfResources(kCannotMakeFileMapping);
    checkPixelCount(picture.header);
    // The file's real length decides, not the header's claim: a bfSize far beyond the end of
    // the file fails here, before anything is allocated for it.
    if (static_cast<std::uint64_t>(length) > reader.remaining())
        throw EStreamReadError();
    // The read fills the buffer whole, or fails.
    picture.pixels = makeUnfilledPixelBuffer(static_cast<std::uint64_t>(length));
    reader.read(picture.pixels);
}

// Brings a mask into the range 128..255. Returns the shift that does it: positive means to the
// right, negative to the left.
int alignMask(std::uint32_t mask, std::uint32_t& aligned)
{
    int shift = 0;
    while (mask >= 256) {
        mask >>= 1;
        ++shift;
    }
    while (mask < 128) {
        mask <<= 1;
        --shift;
    }
    aligned = mask;
    return shift;
}

struct Channel
{
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t aligned = 0;

    std::uint8_t scale(std::uint32_t pixel) const
    {
        std::uint32_t value = pixel & mask;
        value = shift >= 0 ? value >> shift : value << -shift;
        // The value never exceeds the aligned mask, so the result fits a byte.
        return static_cast<std::uint8_t>(value * 255 / aligned);
    }
};

// Converts 16- and 32-bit pixels to 24-bit rows (blue, green, red), keeping the row order.
void convertDeepPixels(ByteReader& reader, Masks masks, QdDibPicture& picture)
{
    BitmapInfoHeader& header = picture.header;
    const bool is16 = header.bitCount == 16;
    // Compressions other than BI_BITFIELDS have no masks of their own and use the defaults.
    if (header.compression != kBiBitfields) {
        masks = is16 ? Masks{0x7C00, 0x03E0, 0x001F} : Masks{0xFF0000, 0xFF00, 0xFF};
    }
    if (masks[0] == 0 || masks[1] == 0 || masks[2] == 0)
        throw EQdDIBInvalidDIB(kInvalidMasks);
    std::array<Channel, 3> channels;
    for (int i = 0; i < 3; ++i) {
        channels[i].mask = masks[i];
        channels[i].shift = alignMask(masks[i], channels[i].aligned);
    }

    const std::uint64_t width = static_cast<std::uint64_t>(header.width);
    const std::uint64_t rows = header.height < 0 ? 0 - std::int64_t{header.height} : header.height;
    const std::uint64_t sourceStride = (width * (is16 ? 2 : 4) + 3) & ~std::uint64_t{3};
    const std::uint64_t targetStride = (width * 3 + 3) & ~std::uint64_t{3};
    checkPixelCount(header);
    // Every row is read from the file; if they are not all there the read fails anyway, so
    // fail before making the buffers.
    if (sourceStride * rows > reader.remaining())
        throw EStreamReadError();

    PixelBuffer source = makePixelBuffer(sourceStride);
    PixelBuffer target = makePixelBuffer(targetStride * rows);
    const Channel red = channels[0];
    const Channel green = channels[1];
    const Channel blue = channels[2];
    for (std::uint64_t row = 0; row < rows; ++row) {
        reader.read(source);
        std::uint8_t* out = target.data() + row * targetStride;
        const std::uint8_t* in = source.data();
        if (is16) {
            for (std::uint64_t x = 0; x < width; ++x, in += 2, out += 3) {
                const std::uint32_t pixel = littleU16(in);
                out[0] = blue.scale(pixel);
                out[1] = green.scale(pixel);
                out[2] = red.scale(pixel);
            }
        } else {
            for (std::uint64_t x = 0; x < width; ++x, in += 4, out += 3) {
                const std::uint32_t pixel = littleU32(in);
                out[0] = blue.scale(pixel);
                out[1] = green.scale(pixel);
                out[2] = red.scale(pixel);
            }
        }
    }
    picture.pixels = std::move(target);
    header.bitCount = 24;
    header.compression = kBiRgb;
    header.sizeImage = 0;
}

std::unique_ptr<QdDibPicture> readPicture(ByteReader& reader, BitmapHeaders headers)
{
    auto picture = std::make_unique<QdDibPicture>();
    const FileHeader fileHeader = readFileHeader(reader);
    const std::uint32_t headerSize = reader.readU32();
    Masks masks{};
    if (headerSize == kInfoHeaderSize ||
        (headers == BitmapHeaders::WithLaterVersions &&
         (headerSize == kV4HeaderSize || headerSize == kV5HeaderSize)))
        masks = readInfoHeader(reader, fileHeader, *picture, headerSize);
    else if (headerSize == kCoreHeaderSize)
        readCoreHeader(reader, fileHeader, *picture);
    else
        throw EQdDIBInvalidDIB(kInvalidHeaderSize);

    const BitmapInfoHeader& header = picture->header;
    // INT32_MIN has no positive counterpart in 32 bits, so it is refused with the other
    // impossible heights.
    if (header.width <= 0 || header.height == 0 || header.height == INT32_MIN)
        throw EQdDIBInvalidDIB(kInvalidWidthOrHeight);

    if (header.bitCount == 16 || header.bitCount == 32)
        convertDeepPixels(reader, masks, *picture);
    else
        readStoredPixels(reader, fileHeader, *picture);

    picture->width = header.width;
    picture->height = header.height < 0 ? -header.height : header.height;
    return picture;
}

} // namespace

QdDib::QdDib() : m_picture(std::make_unique<QdDibPicture>())
{
    // A new reader holds a 1 x 1 picture of 8 bits per pixel whose one pixel is index 0 of an
    // all-black 256-entry table: black.
    m_picture->header.width = 1;
    m_picture->header.height = 1;
    m_picture->header.bitCount = 8;
    m_picture->header.clrUsed = 256;
    m_picture->pixels.assign(4, 0);
}

QdDib::~QdDib() = default;

void QdDib::loadFromFile(const std::string& path, std::stop_token stop, BitmapHeaders headers)
{
    const OpenedFile file = openWithoutWaiting(path);
    if (file.error != 0)
        throw EFileOpenError(path, file.error);
    if (file.isFolder())
        throw EFileOpenError(path, EISDIR);
    // Only a regular file has a length to trust; anything else reads as empty.
    const std::uint64_t length = file.isRegularFile() && file.status.st_size > 0
                                     ? static_cast<std::uint64_t>(file.status.st_size)
                                     : 0;
    ByteReader reader(file.descriptor.get(), length);
    reader.setStop(std::move(stop));
    m_picture = readPicture(reader, headers);
}

void QdDib::loadFromBytes(std::span<const std::uint8_t> data, BitmapHeaders headers)
{
    ByteReader reader(data);
    m_picture = readPicture(reader, headers);
}

const std::vector<std::uint8_t>& QdDib::iccProfile() const
{
    return m_picture->iccProfile;
}

int QdDib::width() const
{
    return m_picture->width;
}

int QdDib::height() const
{
    return m_picture->height;
}

RgbImage QdDib::toRgbImage(std::stop_token stop) const
{
    return handOverToRgb(*m_picture, stop);
}
