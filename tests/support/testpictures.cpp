#include "tests/support/testpictures.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fcntl.h>
#include <jpeglib.h>
#include <unistd.h>

namespace TestPictures {

RgbImage makePhotoLike(int width, int height)
{
    std::uint32_t seed = 1;
    return makeImage(width, height, [&](int x, int y) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 28);
        return std::array{x * 200 / width + noise, y * 200 / height + noise, (x + y) % 200 + noise};
    });
}

namespace {

// Compresses a picture into memory: `configure` sets the compressor up after its size is known,
// `rowAt` gives the samples of each scanline, and `afterStart` may write markers. libjpeg's
// default error handler reports and exits, which is what a test helper wants: a picture it
// cannot encode is a fault in the test itself.
template <typename Configure, typename AfterStart, typename RowAt>
std::vector<std::uint8_t> compressJpeg(int width, int height, Configure configure,
                                       AfterStart afterStart, RowAt rowAt)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    configure(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    afterStart(cinfo);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rowPointer = rowAt(static_cast<std::size_t>(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

} // namespace

std::vector<std::uint8_t> encodeJpeg(const RgbImage& image, const JpegOptions& options)
{
    const std::size_t channels = options.greyFromRed ? 1 : 3;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width) * channels);
    return compressJpeg(
        image.width, image.height,
        [&](jpeg_compress_struct& cinfo) {
            cinfo.input_components = static_cast<int>(channels);
            cinfo.in_color_space = options.greyFromRed ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_set_defaults(&cinfo);
            jpeg_set_quality(&cinfo, options.quality, TRUE);
            if (options.progressive) {
                jpeg_simple_progression(&cinfo);
            }
            if (options.fullChroma && !options.greyFromRed) {
                cinfo.comp_info[0].h_samp_factor = 1;
                cinfo.comp_info[0].v_samp_factor = 1;
            }
        },
        [&](jpeg_compress_struct& cinfo) {
            if (!options.app1.empty()) {
                jpeg_write_marker(&cinfo, JPEG_APP0 + 1, options.app1.data(),
                                  static_cast<unsigned int>(options.app1.size()));
            }
            if (!options.iccProfile.empty()) {
                jpeg_write_icc_profile(&cinfo, options.iccProfile.data(),
                                       static_cast<unsigned int>(options.iccProfile.size()));
            }
        },
        [&](std::size_t y) {
            const std::size_t start = y * static_cast<std::size_t>(image.width) * 3;
            for (std::size_t i = 0; i < row.size(); ++i) {
                row[i] = image.pixels[start + (options.greyFromRed ? i * 3 : i)];
            }
            return row.data();
        });
}

std::vector<std::uint8_t> encodeCmykJpeg(int width, int height,
                                         const std::vector<std::uint8_t>& ink, CmykForm form,
                                         const std::vector<std::uint8_t>& iccProfile)
{
    const int flip = form == CmykForm::Plain ? 0 : 255;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
    return compressJpeg(
        width, height,
        [&](jpeg_compress_struct& cinfo) {
            cinfo.input_components = 4;
            cinfo.in_color_space = JCS_CMYK;
            jpeg_set_defaults(&cinfo);
            jpeg_set_quality(&cinfo, 95, TRUE);
            jpeg_set_colorspace(&cinfo, form == CmykForm::AdobeYcck ? JCS_YCCK : JCS_CMYK);
            cinfo.write_Adobe_marker = form != CmykForm::Plain;
        },
        [&](jpeg_compress_struct& cinfo) {
            if (!iccProfile.empty())
                jpeg_write_icc_profile(&cinfo, iccProfile.data(),
                                       static_cast<unsigned int>(iccProfile.size()));
        },
        [&](std::size_t y) {
            const std::size_t start = y * row.size();
            for (std::size_t i = 0; i < row.size(); ++i) {
                row[i] = static_cast<std::uint8_t>(ink[start + i] ^ flip);
            }
            return row.data();
        });
}

std::vector<std::uint8_t> exifOrientationBlock(int orientation, bool bigEndian)
{
    std::vector<std::uint8_t> block;
    const auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
            block.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    };
    for (const char c :
         {'E', 'x', 'i', 'f', '\0', '\0', bigEndian ? 'M' : 'I', bigEndian ? 'M' : 'I'}) {
        block.push_back(static_cast<std::uint8_t>(c));
    }
    put(42, 2), put(8, 4); // the first directory follows the 8-byte header
    put(1, 2);             // one entry: tag, type SHORT (3), one value, the value left-aligned
    put(0x0112, 2), put(3, 2), put(1, 4), put(static_cast<std::uint32_t>(orientation), 2),
        put(0, 2);
    put(0, 4); // no further directory
    return block;
}

std::vector<std::uint8_t> encodeBmp(const RgbImage& image)
{
    const std::uint32_t stride = (static_cast<std::uint32_t>(image.width) * 3 + 3) & ~3u;
    const std::uint32_t dataSize = stride * static_cast<std::uint32_t>(image.height);
    std::vector<std::uint8_t> out{'B', 'M'};
    out.reserve(54 + dataSize);
    const auto put = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    };
    // File header, then a 40-byte info header: one plane, 24 bits, no compression, 72 dpi.
    put(54 + dataSize, 4), put(0, 4), put(54, 4);
    put(40, 4), put(static_cast<std::uint32_t>(image.width), 4);
    put(static_cast<std::uint32_t>(image.height), 4), put(1, 2), put(24, 2);
    put(0, 4), put(dataSize, 4), put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
    for (int y = image.height - 1; y >= 0; --y) {
        const std::size_t rowStart = out.size();
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p =
                &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
            out.insert(out.end(), {p[2], p[1], p[0]});
        }
        out.resize(rowStart + stride, 0);
    }
    return out;
}

std::vector<std::uint8_t> firstScanOf(const std::vector<std::uint8_t>& progressiveJpeg)
{
    const std::vector<std::uint8_t>& file = progressiveJpeg;
    const std::uint8_t startOfScan[] = {0xFF, 0xDA};
    auto at = std::search(file.begin(), file.end(), std::begin(startOfScan), std::end(startOfScan));
    if (file.end() - at < 4)
        return {};
    // Scan data follows the scan header and ends at the first marker that is neither a stuffed
    // 0xFF nor a restart marker.
    const std::ptrdiff_t headerLength = at[2] << 8 | at[3];
    if (file.end() - at < 2 + headerLength)
        return {};
    for (at += 2 + headerLength; at + 1 < file.end(); ++at) {
        if (at[0] == 0xFF && at[1] != 0x00 && (at[1] < 0xD0 || at[1] > 0xD7))
            return {file.begin(), at};
    }
    return {};
}

bool writeSparseFile(const std::string& path, const SparseFile& file)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    bool written = ::ftruncate(fd, static_cast<off_t>(file.length)) == 0;
    for (const auto& [offset, bytes] : file.pieces) {
        written = written && ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                                 static_cast<ssize_t>(bytes.size());
    }
    return ::close(fd) == 0 && written;
}

SparseFile withRepeatedScan(const std::vector<std::uint8_t>& progressiveJpeg, int repeated,
                            int scans, std::uint64_t gap)
{
    using Bytes = std::vector<std::uint8_t>;
    const Bytes& file = progressiveJpeg;
    // Each scan from the end of the one before (its tables) to the end of its data; the first
    // from its own marker, the tables before it staying in the head.
    std::vector<std::pair<std::size_t, std::size_t>> scanBytes;
    std::size_t at = 2;
    std::size_t groupStart = 0;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xD9) {
        const std::size_t length = std::size_t(file[at + 2]) << 8 | file[at + 3];
        if (file[at + 1] != 0xDA) {
            at += 2 + length;
            continue;
        }
        if (scanBytes.empty())
            groupStart = at;
        for (at += 2 + length; at + 1 < file.size(); ++at) {
            if (file[at] == 0xFF && file[at + 1] != 0x00 &&
                (file[at + 1] < 0xD0 || file[at + 1] > 0xD7))
                break;
        }
        scanBytes.emplace_back(groupStart, at);
        groupStart = at;
    }
    SparseFile out;
    const std::size_t headEnd = scanBytes.empty() ? file.size() : scanBytes.front().first;
    out.pieces.emplace_back(0, Bytes(file.begin(), file.begin() + std::ptrdiff_t(headEnd)));
    std::uint64_t length = headEnd;
    for (int scan = 0; scan < scans && !scanBytes.empty(); ++scan) {
        const auto [from, to] =
            scanBytes[std::size_t(std::min({scan, repeated, int(scanBytes.size()) - 1}))];
        length += gap;
        out.pieces.emplace_back(
            length, Bytes(file.begin() + std::ptrdiff_t(from), file.begin() + std::ptrdiff_t(to)));
        length += to - from;
    }
    out.pieces.emplace_back(length, Bytes{0xFF, 0xD9});
    out.length = length + 2;
    return out;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

TempFolder::TempFolder(const std::string& name)
{
    std::string pattern = "/tmp/lumivane-" + name + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path = pattern;
}

TempFolder::~TempFolder()
{
    std::filesystem::remove_all(path);
}

} // namespace TestPictures
