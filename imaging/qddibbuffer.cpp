#include "imaging/qddibbuffer.h"

#include "imaging/qddib.h"

#include <new>
#include <stdexcept>
#include <sys/mman.h>

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

// Advises the whole huge pages inside the buffer. It is only advice: a kernel without
// transparent huge pages ignores it, and the buffer works the same either way.
void adviseHugePages(std::uint8_t* data, std::size_t size)
{
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (begin + size) & ~(kHugePage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

} // namespace

void reservePixelBuffer(PixelBuffer& buffer, std::size_t size)
{
    // Reserving takes the memory without touching it, so the advice comes before the first
    // page fault.
    buffer.reserve(size);
    if (size >= 4 * kHugePage)
        adviseHugePages(buffer.data(), size);
}

namespace {

PixelBuffer makeBuffer(std::uint64_t size, bool filled)
{
    try {
        PixelBuffer buffer;
        reservePixelBuffer(buffer, static_cast<std::size_t>(size));
        // Both fill the reserved buffer in place; resize() leaves the bytes as they come.
        if (filled)
            buffer.assign(static_cast<std::size_t>(size), 0);
        else
            buffer.resize(static_cast<std::size_t>(size));
        return buffer;
    } catch (const std::bad_alloc&) {
        throw EOutOfResources(kCannotMakeViewOfFileMap);
    } catch (const std::length_error&) {
        throw EOutOfResources(kCannotMakeViewOfFileMap);
    }
}

} // namespace

PixelBuffer makePixelBuffer(std::uint64_t size)
{
    return makeBuffer(size, true);
}

PixelBuffer makeUnfilledPixelBuffer(std::uint64_t size)
{
    return makeBuffer(size, false);
}
