// Feeds arbitrary bytes to the bitmap reader: load, then hand over. Any crash, hang or
// sanitizer report is a finding; the reader's own errors are expected results.
#include "imaging/qddib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QdDib dib;
    try {
        dib.loadFromBytes(std::span(data, size));
        // Every size the reader accepts (up to kMaxPixels) is handed over, as long as the rows
        // this input can reach are cheap. A picture whose data covers only part of it
        // (run-length data, short uncompressed data) stores only the rows its data draws into,
        // each at its full width, and drawing into a row takes at least two bytes of data. Rows
        // of millions of pixels would cost each run gigabytes and seconds under the sanitizers
        // without saying more about the reader, so inputs that could reach more than 4 M pixels
        // of rows are left out; the size check before allocating is covered by the unit tests.
        const std::uint64_t width = static_cast<std::uint64_t>(dib.width());
        const std::uint64_t reachableRows =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(dib.height()), size / 2 + 1);
        if (width * reachableRows > (std::uint64_t{1} << 22))
            return 0;
        const RgbImage image = dib.toRgbImage();
        if (image.width != dib.width() || image.height != dib.height() || !image.isWellFormed())
            __builtin_trap();
    } catch (const EQdDIBError&) {
    } catch (const EStreamReadError&) {
    } catch (const EOutOfResources&) {
    }
    return 0;
}
