#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

// The colour space a picture's numbers are in, and their conversion to the screen's, through
// Little CMS. Readers only hand back what the file says (the embedded ICC profile's bytes, or
// the coding-independent code points of HEIF and AVIF); nothing here decodes pixels.

// The largest embedded profile taken. A camera's or a printer's profile is a few kilobytes to
// about a megabyte; one larger than this is left aside, and the picture shows as sRGB.
inline constexpr std::size_t MaxProfileBytes = std::size_t{4} << 20;

// Colour primaries and transfer characteristics as the coding-independent code points number
// them (ITU-T H.273), as HEIF and AVIF files carry them in an 'nclx' colour box.
struct CicpColour
{
    int primaries = 2; // 2: unspecified
    int transfer = 2;

    bool operator==(const CicpColour&) const = default;
};

// What a file says about its colour space. Empty means sRGB: the file says nothing, or says
// sRGB (PNG's sRGB chunk, GIF), or says something that was left aside (`note` then says what).
struct PictureColourSpace
{
    std::vector<std::uint8_t> iccProfile;
    std::optional<CicpColour> cicp;
    std::string note;
    // True when the decoder has already converted the pixels to the screen's colour space (a
    // CMYK JPEG through its profile); nothing is left to convert.
    bool onScreen = false;
    // True when the pixels are grey (red = green = blue) as the file stores them, so that a grey
    // profile describes them.
    bool greyPixels = false;

    bool isTagged() const { return !iccProfile.empty() || cicp.has_value(); }

    static constexpr const char* TooLargeNote =
        "The embedded colour profile is larger than 4 MB; shown without colour conversion";

    // Takes `profile`, the bytes a file embeds, as the colour space; one larger than
    // MaxProfileBytes is left aside with a note. May throw std::bad_alloc.
    void takeProfile(std::span<const std::uint8_t> profile);
};

// Little CMS objects are released by these; the header keeps the library's own out of sight.
struct ColourTransformRelease
{
    void operator()(void* transform) const;
};

// A conversion of 8-bit RGB pixels from one colour space to another, made once and applied to
// any number of pictures, from any number of threads at once.
class ColourConversion
{
public:
    explicit ColourConversion(void* transform) : m_transform(transform) {}

    // Converts `pixels` R, G, B pixels in place.
    void apply(std::uint8_t* rgb, std::size_t pixels) const { apply(rgb, rgb, pixels); }
    // Converts `pixels` pixels from `in` (of the conversion's source kind: bytes, or floats for
    // CIELab) to R, G, B at `out`.
    void apply(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) const
    {
        run(in, out, pixels);
    }
    void apply(const float* in, std::uint8_t* out, std::size_t pixels) const
    {
        run(in, out, pixels);
    }

private:
    void run(const void* in, std::uint8_t* out, std::size_t pixels) const;

private:
    std::unique_ptr<void, ColourTransformRelease> m_transform;
};

// The conversions from pictures' colour spaces to the screen's, a few of them kept by what they
// convert from: a folder of photos from one camera shares one, and making one costs a few
// milliseconds. The target is sRGB unless a display profile is set. Safe to use from any
// thread.
//
// Every profile is read from memory, and what building a conversion through it may cost is
// bounded before anything is built: the pipeline elements, grid points and sampled curve points
// its colour tables declare, summed over the whole profile, and the work of carrying one colour
// through each table. Each build then has a memory budget of its own for everything Little CMS
// holds at once. A profile that is too large or too costly, that Little CMS refuses, or whose
// colour space is not RGB gives no conversion and a note; so does CICP that names primaries or
// a transfer outside those known here. A colour space that
// converts every colour to itself (an embedded sRGB profile, CICP sRGB) gives no conversion
// either, and no note: the picture is shown exactly as without one.
class ColourTransformCache
{
public:
    static constexpr std::size_t Capacity = 4;

    struct Lookup
    {
        std::shared_ptr<const ColourConversion> conversion; // null: leave the pixels as they are
        std::string note;
    };

    ColourTransformCache();
    ~ColourTransformCache();
    ColourTransformCache(const ColourTransformCache&) = delete;
    ColourTransformCache& operator=(const ColourTransformCache&) = delete;

    // The one the slideshow's workers share.
    static ColourTransformCache& shared();
    // One whose target stays sRGB, for decoding what has no RGB form of its own (CIELab)
    // outside the high quality mode.
    static ColourTransformCache& plainSrgb();

    // Makes `profile` the target (empty: sRGB) and forgets every conversion made so far. A
    // profile that cannot serve as the target (refused, not RGB, too large or too costly) leaves
    // sRGB as the target; the returned note then says why, and is empty otherwise. A profile
    // that serves has the conversion of untagged pictures made at once.
    std::string setDisplayProfile(std::span<const std::uint8_t> profile);

    // The conversion for pictures in `space`. An untagged picture needs one only when the
    // target is a display profile. Once `stop` is requested no build starts: a conversion not
    // made yet comes back as none, with no note, and is made when next asked for.
    Lookup conversionFor(const PictureColourSpace& space, const std::stop_token& stop = {});

    // The conversion of CMYK pixels, four bytes each, in the colour space of `profile`, to R, G,
    // B in the target's: inverted ink (255 = no ink, as Adobe's programs store it) when
    // `invertedInk`. A profile that is not a CMYK one gives no conversion and a note.
    Lookup cmykConversionFor(const std::vector<std::uint8_t>& profile, bool invertedInk,
                             const std::stop_token& stop = {});

    // The conversion of CIELab pixels (D50; three floats, L 0..100, a and b) to R, G, B in the
    // target's colour space. It is exact rather than fast: Lab's axes are far from any screen's,
    // and the tables Little CMS would make for 8-bit Lab are several levels off near the edge
    // of the screen's gamut.
    Lookup labConversion(const std::stop_token& stop = {});

private:
    enum class Source
    {
        Rgb,
        Cmyk,
        InvertedCmyk,
        Lab,
        Grey, // grey pixels: a grey profile or an RGB one
    };
    struct Entry;
    struct Target;
    Lookup lookUp(const PictureColourSpace& space, Source source, const std::stop_token& stop);
    void remember(const PictureColourSpace& space, Source source, const Lookup& lookup);
    // Builds the conversion from `space` to `target`'s colour space.
    static Lookup make(const PictureColourSpace& space, Source source, const Target& target);

    std::mutex m_mutex;
    std::shared_ptr<Target> m_target;
    std::list<Entry> m_entries; // most recently used first
};

// An ICC profile for `cicp`, or nothing when its primaries or transfer are not among those known:
// primaries BT.709/sRGB (1), BT.2020 (9), SMPTE RP 431-2 (11) and EG 432-1 (12); transfers
// BT.709 and BT.2020 (1, 6, 14, 15), gamma 2.2 (4) and 2.8 (5), linear (8) and sRGB (13).
std::optional<std::vector<std::uint8_t>> profileForCicp(const CicpColour& cicp);
