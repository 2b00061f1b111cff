#include "imaging/exiforientation.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::array<std::uint8_t, 6> ExifHeader{'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t OrientationTag = 0x0112;
constexpr std::size_t EntryBytes = 12;

// Counts the orientation entries of the first directory (IFD0), or returns -1 when the block
// does not hold the whole directory. libexif reads a directory cut short as far as it goes and
// keeps the first of two equal tags; a photo whose block is damaged that way, or that says
// two things about its orientation, is shown as stored rather than turned on a guess.
int countOrientationEntries(std::span<const std::uint8_t> tiff)
{
    if (tiff.size() < 8) {
        return -1;
    }
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!little && !big) {
        return -1;
    }
    const auto read = [&](std::size_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::uint32_t byte =
                tiff[at + static_cast<std::size_t>(little ? bytes - 1 - i : i)];
            value = (value << 8) | byte;
        }
        return value;
    };
    const std::uint64_t directory = read(4, 4);
    if (directory + 2 > tiff.size()) {
        return -1;
    }
    const std::uint64_t entries = read(static_cast<std::size_t>(directory), 2);
    if (directory + 2 + entries * EntryBytes > tiff.size()) {
        return -1;
    }
    int count = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        count +=
            read(static_cast<std::size_t>(directory + 2 + i * EntryBytes), 2) == OrientationTag;
    }
    return count;
}

} // namespace

bool isExifBlock(std::span<const std::uint8_t> block)
{
    return block.size() >= ExifHeader.size() &&
           std::equal(ExifHeader.begin(), ExifHeader.end(), block.begin());
}

int exifOrientation(std::span<const std::uint8_t> block)
{
    if (!isExifBlock(block) || countOrientationEntries(block.subspan(ExifHeader.size())) != 1) {
        return 1;
    }
    ExifData* data = exif_data_new();
    if (data == nullptr) {
        return 1;
    }
    // libexif's repairs would add or change entries; the tag is wanted as the file has it.
    exif_data_unset_option(data, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data, block.data(), static_cast<unsigned int>(block.size()));
    int orientation = 1;
    const ExifEntry* entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->components == 1 &&
        entry->data != nullptr && entry->size >= 2) {
        const int value = exif_get_short(entry->data, exif_data_get_byte_order(data));
        if (value >= 1 && value <= 8) {
            orientation = value;
        }
    }
    exif_data_unref(data);
    return orientation;
}
