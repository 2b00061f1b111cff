// Feeds arbitrary bytes to the bitmap reader: load, then hand over. Any crash, hang or
// sanitizer report is a finding; the reader's own errors are expected results.
#include "imaging/qddib.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QdDib dib;
    try {
        dib.loadFromBytes(std::span(data, size));
        // Sizes up to the reader's own limit (kMaxPixels) are handed over, as long as one run
        // stays cheap. A picture whose data covers only part of it (run-length data, short
        // uncompressed data) stores only the rows its data draws into, each at its full width,
        // and drawing into a row takes at least two bytes of data; rows of millions of pixels
        // would cost gigabytes under the sanitizers, so inputs that could reach more than 4 M
        // pixels of rows are left out. Short uncompressed data is handed over by walking every
        // declared row, so more than 4 M rows are left out too: hundreds of millions of rows
        // take seconds per run and cut the runs per second twentyfold. The size check before
        // allocating is covered by the unit tests.
        const std::uint64_t width = static_cast<std::uint64_t>(dib.width());
        const std::uint64_t height =
            static_cast<std::uint64_t>(std::abs(std::int64_t{dib.height()}));
        const std::uint64_t reachableRows = std::min<std::uint64_t>(height, size / 2 + 1);
        constexpr std::uint64_t budget = std::uint64_t{1} << 22;
        if (width * reachableRows > budget || height > budget)
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
