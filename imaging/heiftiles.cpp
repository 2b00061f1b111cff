#include "imaging/heiftiles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Item boxes larger than this are not read: a phone's photo of hundreds of tiles needs a few
// kilobytes.
constexpr std::uint64_t MaxMetaBytes = std::uint64_t{16} << 20;
// Boxes before the item boxes that are looked at; a file has a handful.
constexpr int MaxTopLevelBoxes = 1024;
// A tile of a tile of ... more deeply than this is refused.
constexpr int MaxDerivationDepth = 8;

// Big-endian fields of a span, read with bounds; a read past the end marks the cursor bad and
// gives 0.
class Cursor
{
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t read(unsigned bytes)
    {
        if (bytes > m_bytes.size() - std::min(m_at, m_bytes.size())) {
            m_bad = true;
            m_at = m_bytes.size();
            return 0;
        }
        std::uint64_t value = 0;
        for (unsigned i = 0; i < bytes; ++i)
            value = value << 8 | m_bytes[m_at++];
        return value;
    }
    void skip(std::uint64_t bytes)
    {
        if (bytes > m_bytes.size() - m_at) {
            m_bad = true;
            m_at = m_bytes.size();
        } else {
            m_at += static_cast<std::size_t>(bytes);
        }
    }
    bool bad() const { return m_bad; }
    bool atEnd() const { return m_at >= m_bytes.size(); }
    std::size_t position() const { return m_at; }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
    bool m_bad = false;
};

struct Box
{
    std::string_view type;
    std::span<const std::uint8_t> body; // after the header (and the full box's version)
    unsigned version = 0;
};

// The boxes of `bytes`, one after another. False when one does not fit.
bool childBoxes(std::span<const std::uint8_t> bytes, std::vector<Box>& out)
{
    Cursor cursor(bytes);
    while (!cursor.atEnd()) {
        const std::size_t start = cursor.position();
        std::uint64_t size = cursor.read(4);
        const std::size_t typeAt = cursor.position();
        cursor.skip(4);
        if (size == 1)
            size = cursor.read(8);
        else if (size == 0)
            size = bytes.size() - start;
        if (cursor.bad() || size < cursor.position() - start || size > bytes.size() - start)
            return false;
        const std::string_view type(reinterpret_cast<const char*>(bytes.data() + typeAt), 4);
        const std::size_t header = cursor.position() - start;
        out.push_back({type, bytes.subspan(start + header, size - header)});
        cursor.skip(size - header);
    }
    return true;
}

// A full box's version, taken off its body.
bool asFullBox(Box& box)
{
    if (box.body.size() < 4)
        return false;
    box.version = box.body[0];
    box.body = box.body.subspan(4);
    return true;
}

// The item boxes ('meta') of the file, read whole; empty when there are none or they are too
// large.
std::optional<std::vector<std::uint8_t>> metaOf(PictureSource& data)
{
    std::uint64_t at = 0;
    for (int i = 0; i < MaxTopLevelBoxes && at < data.size(); ++i) {
        std::uint8_t header[16];
        if (data.read(at, header, 8) != 8)
            return std::nullopt;
        std::uint64_t size = std::uint64_t{header[0]} << 24 | std::uint64_t{header[1]} << 16 |
                             std::uint64_t{header[2]} << 8 | header[3];
        std::uint64_t headerBytes = 8;
        if (size == 1) {
            if (data.read(at + 8, header + 8, 8) != 8)
                return std::nullopt;
            size = 0;
            for (int b = 8; b < 16; ++b)
                size = size << 8 | header[b];
            headerBytes = 16;
        } else if (size == 0) {
            size = data.size() - at;
        }
        if (size < headerBytes || size > data.size() - at)
            return std::nullopt;
        if (std::memcmp(header + 4, "meta", 4) == 0) {
            if (size - headerBytes > MaxMetaBytes)
                return std::nullopt;
            std::vector<std::uint8_t> meta(static_cast<std::size_t>(size - headerBytes));
            if (data.read(at + headerBytes, meta.data(), meta.size()) != meta.size())
                return std::nullopt;
            return meta;
        }
        at += size;
    }
    return std::nullopt;
}

// Where an item's data lies: bytes of the file (construction method 0) or of the item data box
// (method 1), half-open.
struct Extent
{
    int space = 0;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool operator<(const Extent& other) const
    {
        return std::tie(space, begin, end) < std::tie(other.space, other.begin, other.end);
    }
};

struct Items
{
    std::uint32_t primary = 0;
    std::map<std::uint32_t, std::vector<std::uint32_t>> tiles;    // 'dimg': derived -> parts
    std::vector<std::uint32_t> belongingToPrimary;                // 'auxl' -> the primary
    std::map<std::uint32_t, std::vector<Extent>> extents;         // 'iloc'
};

bool readReferences(Box iref, Items& items)
{
    if (!asFullBox(iref))
        return false;
    const unsigned idBytes = iref.version == 0 ? 2 : 4;
    std::vector<Box> references;
    if (!childBoxes(iref.body, references))
        return false;
    for (const Box& reference : references) {
        Cursor cursor(reference.body);
        const auto from = static_cast<std::uint32_t>(cursor.read(idBytes));
        const std::uint64_t count = cursor.read(2);
        std::vector<std::uint32_t> to;
        for (std::uint64_t i = 0; i < count && !cursor.bad(); ++i)
            to.push_back(static_cast<std::uint32_t>(cursor.read(idBytes)));
        if (cursor.bad())
            return false;
        if (reference.type == "dimg") {
            auto& parts = items.tiles[from];
            parts.insert(parts.end(), to.begin(), to.end());
        } else if (reference.type == "auxl") {
            if (std::find(to.begin(), to.end(), items.primary) != to.end())
                items.belongingToPrimary.push_back(from);
        }
    }
    return true;
}

bool readLocations(Box iloc, std::uint64_t fileBytes, Items& items)
{
    if (!asFullBox(iloc) || iloc.version > 2)
        return false;
    Cursor cursor(iloc.body);
    const std::uint64_t sizes = cursor.read(2);
    const auto offsetBytes = static_cast<unsigned>(sizes >> 12 & 0xf);
    const auto lengthBytes = static_cast<unsigned>(sizes >> 8 & 0xf);
    const auto baseBytes = static_cast<unsigned>(sizes >> 4 & 0xf);
    const auto indexBytes = iloc.version > 0 ? static_cast<unsigned>(sizes & 0xf) : 0u;
    for (const unsigned bytes : {offsetBytes, lengthBytes, baseBytes, indexBytes}) {
        if (bytes != 0 && bytes != 4 && bytes != 8)
            return false;
    }
    const std::uint64_t count = cursor.read(iloc.version < 2 ? 2 : 4);
    for (std::uint64_t i = 0; i < count && !cursor.bad(); ++i) {
        const auto id = static_cast<std::uint32_t>(cursor.read(iloc.version < 2 ? 2 : 4));
        const int method = iloc.version > 0 ? static_cast<int>(cursor.read(2) & 0xf) : 0;
        cursor.skip(2); // data reference index
        const std::uint64_t base = cursor.read(baseBytes);
        const std::uint64_t extentCount = cursor.read(2);
        std::vector<Extent>& extents = items.extents[id];
        for (std::uint64_t e = 0; e < extentCount && !cursor.bad(); ++e) {
            cursor.skip(indexBytes);
            const std::uint64_t offset = cursor.read(offsetBytes);
            const std::uint64_t length = cursor.read(lengthBytes);
            if (method > 1 || offset > UINT64_MAX - base)
                continue;
            const std::uint64_t begin = base + offset;
            // A length of 0 stands for the rest of the file.
            const std::uint64_t end =
                length == 0 ? std::max(begin, fileBytes)
                            : (length > UINT64_MAX - begin ? UINT64_MAX : begin + length);
            extents.push_back({method, begin, end});
        }
    }
    return !cursor.bad();
}

} // namespace

const char* heifTilesShareData(PictureSource& data)
{
    const std::optional<std::vector<std::uint8_t>> meta = metaOf(data);
    if (!meta)
        return nullptr;
    std::vector<Box> boxes;
    Box whole{"meta", *meta};
    if (!asFullBox(whole) || !childBoxes(whole.body, boxes))
        return "HEIF item boxes cannot be read";
    Items items;
    for (Box box : boxes) {
        if (box.type == "pitm") {
            if (!asFullBox(box))
                return "HEIF item boxes cannot be read";
            Cursor cursor(box.body);
            items.primary = static_cast<std::uint32_t>(cursor.read(box.version == 0 ? 2 : 4));
            if (cursor.bad())
                return "HEIF item boxes cannot be read";
        }
    }
    for (const Box& box : boxes) {
        if ((box.type == "iref" && !readReferences(box, items)) ||
            (box.type == "iloc" && !readLocations(box, data.size(), items)))
            return "HEIF item boxes cannot be read";
    }

    // Every picture decoded for the primary one, each reached once, and the data of those
    // decoded from their own data.
    std::set<std::uint32_t> reached;
    std::vector<Extent> extents;
    std::vector<std::pair<std::uint32_t, int>> pending;
    pending.emplace_back(items.primary, 0);
    for (const std::uint32_t id : items.belongingToPrimary)
        pending.emplace_back(id, 0);
    while (!pending.empty()) {
        const auto [id, depth] = pending.back();
        pending.pop_back();
        if (!reached.insert(id).second)
            return "HEIF tiles share their data";
        if (depth > MaxDerivationDepth)
            return "HEIF tiles nested too deeply";
        const auto parts = items.tiles.find(id);
        if (parts != items.tiles.end()) {
            for (const std::uint32_t part : parts->second)
                pending.emplace_back(part, depth + 1);
        } else if (const auto where = items.extents.find(id); where != items.extents.end()) {
            for (const Extent& extent : where->second) {
                if (extent.end > extent.begin)
                    extents.push_back(extent);
            }
        }
    }
    std::sort(extents.begin(), extents.end());
    for (std::size_t i = 1; i < extents.size(); ++i) {
        if (extents[i].space == extents[i - 1].space && extents[i].begin < extents[i - 1].end)
            return "HEIF tiles share their data";
    }
    return nullptr;
}
