#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

// TIFF files laid out field by field, for the cases no library writes: strips that overlap, rows
// of 65535 samples. Little-endian: the header, `data` from byte 8 on, then the one directory,
// then the fields' values that do not fit in their entries.
namespace TiffLayout {

struct Field
{
    std::uint16_t tag;
    std::uint16_t type; // 3 SHORT, 4 LONG
    std::vector<std::uint32_t> values;
};

inline void putLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

inline std::vector<std::uint8_t> file(const std::vector<std::uint8_t>& data,
                                      std::vector<Field> fields)
{
    std::sort(fields.begin(), fields.end(),
              [](const Field& a, const Field& b) { return a.tag < b.tag; });
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0};
    const std::size_t directory = 8 + data.size() + (data.size() & 1);
    putLittleEndian(out, std::uint32_t(directory), 4);
    out.insert(out.end(), data.begin(), data.end());
    out.resize(directory);
    const std::size_t outside = directory + 2 + fields.size() * 12 + 4;
    std::vector<std::uint8_t> values;
    putLittleEndian(out, std::uint32_t(fields.size()), 2);
    for (const Field& field : fields) {
        const int size = field.type == 3 ? 2 : 4;
        putLittleEndian(out, field.tag, 2);
        putLittleEndian(out, field.type, 2);
        putLittleEndian(out, std::uint32_t(field.values.size()), 4);
        std::vector<std::uint8_t> packed;
        for (const std::uint32_t value : field.values)
            putLittleEndian(packed, value, size);
        if (packed.size() <= 4) {
            packed.resize(4);
            out.insert(out.end(), packed.begin(), packed.end());
        } else {
            putLittleEndian(out, std::uint32_t(outside + values.size()), 4);
            values.insert(values.end(), packed.begin(), packed.end());
        }
    }
    putLittleEndian(out, 0, 4);
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

// An 8-bit grey picture of side x side pixels in strips of `rowsPerStrip` rows, uncompressed;
// `offsets` says where each strip lies in the data (side x side bytes from byte 8 on).
inline std::vector<std::uint8_t> greyStrips(std::uint32_t side, std::uint32_t rowsPerStrip,
                                            const std::vector<std::uint32_t>& offsets)
{
    std::vector<std::uint8_t> data(std::size_t{side} * side);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint8_t(i * 7);
    std::vector<std::uint32_t> at;
    std::vector<std::uint32_t> counts;
    for (const std::uint32_t offset : offsets) {
        at.push_back(8 + offset);
        counts.push_back(side * rowsPerStrip);
    }
    return file(data, {{256, 3, {side}},
                       {257, 3, {side}},
                       {258, 3, {8}},
                       {259, 3, {1}},
                       {262, 3, {1}},
                       {273, 4, at},
                       {277, 3, {1}},
                       {278, 3, {rowsPerStrip}},
                       {279, 4, counts}});
}

// A CMYK picture declaring 65535 x 64 pixels of 65535 samples each (libtiff's conversion takes
// CMYK at any count of samples from 4 on), in one PackBits strip of one byte, so that libtiff
// takes the strip's length as it is: 123 bytes whose band of rows would take 256 GiB.
inline std::vector<std::uint8_t> widestRows()
{
    return file({0}, {{256, 3, {65535}},
                      {257, 3, {64}},
                      {258, 3, {8}},
                      {259, 3, {32773}},
                      {262, 3, {5}},
                      {273, 4, {8}},
                      {277, 3, {65535}},
                      {278, 3, {64}},
                      {279, 4, {1}}});
}

} // namespace TiffLayout
