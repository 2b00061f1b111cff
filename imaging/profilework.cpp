#include "imaging/profilework.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Pipeline elements over all of a profile's colour tables: a lut8 or lut16 table counts four
// (curves, matrix, grid, curves), a lutAtoB or lutBtoA table one for each part it has, a
// multi-process table one for each entry of its position table. A press profile with colour
// tables for every intent, its gamut and its previews counts up to about sixty.
constexpr std::uint64_t MaxPipelineElements = 256;
// Grid points of the colour tables, summed: as many as a profile of MaxProfileBytes can hold in
// 16-bit tables that share no data. A press profile's tables hold about 360,000 (17^4 for each
// of three ink-to-colour tables and 33^3 for each of three colour-to-ink ones).
constexpr std::uint64_t MaxGridPoints = std::uint64_t{1} << 21;
// The values those grids hold (points times outputs), summed: 16 MB as floats.
constexpr std::uint64_t MaxTableValues = std::uint64_t{1} << 22;
// The sampled points of segmented curves, summed: 4 MB as floats. A curve of a floating-point
// profile has a few hundred to a few thousand.
constexpr std::uint64_t MaxCurvePoints = std::uint64_t{1} << 20;
// The work of carrying one colour through one table, counted in interpolations for each output
// (a grid of n inputs takes 2^(n-3) three-dimensional ones), curves and their segments, and
// matrix products. A build carries 33^3 colours through a table of an RGB profile and 17^4
// through one of a CMYK profile, and then through the screen's table, so this bounds its time:
// about 0.3 s for an RGB picture and 0.7 s for a CMYK one at the bound, on both sides. A press
// profile's table comes to about 30; a pair of elements through a grid of 15 inputs comes to
// 12,303, and five such pairs took half a minute to build.
constexpr std::uint64_t MaxTableWork = 128;

// The cost that a profile's colour tables declare, measured from its bytes the way Little CMS
// would read them: a tag that shares another's data counts once, as Little CMS reads it once;
// an element that a multi-process table names twice counts twice, as it is read twice. The work
// is bounded for each table, since a build carries colours through one table of each profile;
// the rest is summed. The measure stops as soon as a bound is passed, so that a hostile count
// costs nothing to walk.
class ProfileWork
{
public:
    explicit ProfileWork(std::span<const std::uint8_t> bytes) : m_bytes(bytes)
    {
        // Little CMS reads no profile of more tags than this; nor is one measured.
        constexpr std::uint32_t MaxTags = 100;
        const std::uint32_t tags = u32(128);
        m_over = tags > MaxTags;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> seen;
        for (std::uint64_t tag = 0; tag < tags && !m_over; ++tag) {
            const std::uint64_t entry = 132 + 12 * tag;
            if (entry + 12 > m_bytes.size())
                break;
            const std::pair place{u32(entry + 4), u32(entry + 8)};
            if (std::find(seen.begin(), seen.end(), place) != seen.end())
                continue;
            seen.push_back(place);
            measureTable(place.first);
        }
    }

    bool withinBounds() const { return !m_over; }

private:
    static constexpr std::uint32_t signature(const char (&name)[5])
    {
        return std::uint32_t(std::uint8_t(name[0])) << 24 |
               std::uint32_t(std::uint8_t(name[1])) << 16 |
               std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint32_t(std::uint8_t(name[3]));
    }

    // Big-endian fields; past the end of the profile they read as 0, which Little CMS would
    // refuse to read at all, so they cost nothing.
    std::uint32_t u8(std::uint64_t at) const { return at < m_bytes.size() ? m_bytes[at] : 0; }
    std::uint32_t u16(std::uint64_t at) const { return u8(at) << 8 | u8(at + 1); }
    std::uint32_t u32(std::uint64_t at) const { return u16(at) << 16 | u16(at + 2); }

    void add(std::uint64_t& total, std::uint64_t amount, std::uint64_t bound)
    {
        total = std::min(total + std::min(amount, bound + 1), bound + 1);
        m_over = m_over || total > bound;
    }

    void addElements(std::uint64_t count) { add(m_elements, count, MaxPipelineElements); }

    // A grid of `inputs` channels whose points per channel are the bytes at `grid`.
    void addGrid(std::uint64_t grid, std::uint32_t inputs, std::uint32_t outputs)
    {
        std::uint64_t points = inputs > 0 ? 1 : 0;
        for (std::uint32_t input = 0; input < inputs && input < 16; ++input)
            points = std::min(points * u8(grid + input), MaxGridPoints + 1);
        addGridPoints(points, outputs);
        addInterpolation(inputs, outputs);
    }

    void addGridPoints(std::uint64_t points, std::uint32_t outputs)
    {
        add(m_gridPoints, points, MaxGridPoints);
        add(m_tableValues, points * outputs, MaxTableValues);
    }

    void addWork(std::uint64_t amount) { add(m_work, amount, MaxTableWork); }

    void addInterpolation(std::uint32_t inputs, std::uint32_t outputs)
    {
        const std::uint32_t halvings = inputs > 3 ? inputs - 3 : 0;
        addWork(halvings >= 32 ? MaxTableWork + 1 : std::uint64_t{outputs} << halvings);
    }

    void measureTable(std::uint64_t at)
    {
        m_work = 0;
        const std::uint32_t type = u32(at);
        if (type == signature("mft1") || type == signature("mft2")) {
            // Curves, matrix, a grid with the same points on every input, curves.
            const std::uint32_t inputs = u8(at + 8);
            const std::uint32_t outputs = u8(at + 9);
            addElements(4);
            std::uint64_t points = inputs > 0 ? 1 : 0;
            for (std::uint32_t input = 0; input < inputs && points <= MaxGridPoints; ++input)
                points *= u8(at + 10);
            addGridPoints(points, outputs);
            addInterpolation(inputs, outputs);
            addWork(std::uint64_t{inputs} + outputs + 9);
        } else if (type == signature("mAB ") || type == signature("mBA ")) {
            // Offsets to the B curves, the matrix, the M curves, the grid and the A curves. In
            // lutAtoB the A curves take the inputs and the others the outputs; in lutBtoA the A
            // curves give the outputs and the others take the inputs.
            const std::uint32_t inputs = u8(at + 8);
            const std::uint32_t outputs = u8(at + 9);
            const std::uint32_t inner = type == signature("mAB ") ? outputs : inputs;
            const std::uint32_t outer = type == signature("mAB ") ? inputs : outputs;
            const std::uint64_t partWork[] = {inner, 12, inner, 0, outer};
            for (std::uint64_t part = 0; part < 5; ++part) {
                if (u32(at + 12 + 4 * part) != 0) {
                    addElements(1);
                    addWork(partWork[part]);
                }
            }
            if (const std::uint32_t grid = u32(at + 24); grid != 0)
                addGrid(at + grid, inputs, outputs);
        } else if (type == signature("mpet")) {
            const std::uint32_t count = u32(at + 12);
            addElements(count);
            for (std::uint64_t element = 0; element < count && !m_over; ++element)
                measureElement(at + u32(at + 16 + 8 * element));
        }
    }

    void measureElement(std::uint64_t at)
    {
        const std::uint32_t type = u32(at);
        const std::uint32_t inputs = u16(at + 8);
        const std::uint32_t outputs = u16(at + 10);
        if (type == signature("clut")) {
            addGrid(at + 12, inputs, outputs);
        } else if (type == signature("matf")) {
            addWork(std::uint64_t{inputs} * outputs);
        } else if (type == signature("cvst")) {
            // One segmented curve a channel, each found through the element's position table;
            // a colour passes the segments of its curve one by one.
            for (std::uint64_t channel = 0; channel < inputs && !m_over; ++channel)
                measureCurve(at + u32(at + 12 + 8 * channel));
        }
    }

    // A segmented curve: its break points, then its segments one after the other, a formula's
    // of a fixed size and a sampled one's as long as its points.
    void measureCurve(std::uint64_t at)
    {
        const std::uint32_t segments = u16(at + 8);
        addWork(std::max<std::uint32_t>(segments, 1));
        std::uint64_t segment = at + 12 + 4 * std::uint64_t{segments > 0 ? segments - 1 : 0};
        for (std::uint32_t index = 0; index < segments && !m_over; ++index) {
            if (u32(segment) == signature("samf")) {
                const std::uint32_t points = u32(segment + 8);
                add(m_curvePoints, points, MaxCurvePoints);
                segment += 12 + 4 * std::uint64_t{points};
            } else {
                // A formula of type 0 has four parameters, types 1 and 2 five.
                segment += 12 + (u16(segment + 8) == 0 ? 16 : 20);
            }
        }
    }

    std::span<const std::uint8_t> m_bytes;
    std::uint64_t m_elements = 0;
    std::uint64_t m_gridPoints = 0;
    std::uint64_t m_tableValues = 0;
    std::uint64_t m_curvePoints = 0;
    std::uint64_t m_work = 0; // of the table being measured
    bool m_over = false;
};

} // namespace

bool profileWorkWithinBounds(std::span<const std::uint8_t> bytes)
{
    return ProfileWork(bytes).withinBounds();
}
