// Feeds arbitrary bytes to the bitmap reader: load, then hand over. Any crash, hang or
// sanitizer report is a finding; the reader's own errors are expected results.
#include "imaging/qddib.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QdDib dib;
    try {
        dib.loadFromBytes(std::span(data, size));
        // Pictures of tens of millions of pixels are legitimate (run-length data is small) but
        // make every run slow; the size check before allocating is covered by the unit tests.
        if (static_cast<std::uint64_t>(dib.width()) * static_cast<std::uint64_t>(dib.height()) >
            (std::uint64_t{1} << 22))
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
