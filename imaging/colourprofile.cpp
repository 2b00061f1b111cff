#include "imaging/colourprofile.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <utility>

namespace {

// No single allocation Little CMS makes for a profile or a transform of 8-bit RGB comes near
// this; a hostile profile's header may ask for far more (a colour table of 255 points a side
// over many channels) before the bytes it would fill are found missing.
constexpr cmsUInt32Number MaxAllocationBytes = cmsUInt32Number{64} << 20;

void* boundedMalloc(cmsContext, cmsUInt32Number size)
{
    return size == 0 || size > MaxAllocationBytes ? nullptr : std::malloc(size);
}

void boundedFree(cmsContext, void* block)
{
    std::free(block);
}

void* boundedRealloc(cmsContext, void* block, cmsUInt32Number size)
{
    return size == 0 || size > MaxAllocationBytes ? nullptr : std::realloc(block, size);
}

// Little CMS reports a refused profile through its return values, which say enough here; its
// log would only repeat it on stderr for every hostile file.
void ignoreError(cmsContext, cmsUInt32Number, const char*) {}

// The one context every profile and transform here is made in: bounded allocations, no log.
// Made once and kept for the life of the process; reading profiles in it from several threads
// is safe, since nothing changes its plug-ins afterwards.
cmsContext colourContext()
{
    static const cmsContext context = [] {
        static cmsPluginMemHandler memory{};
        memory.base.Magic = cmsPluginMagicNumber;
        memory.base.ExpectedVersion = 2060;
        memory.base.Type = cmsPluginMemHandlerSig;
        memory.MallocPtr = boundedMalloc;
        memory.FreePtr = boundedFree;
        memory.ReallocPtr = boundedRealloc;
        const cmsContext made = cmsCreateContext(&memory, nullptr);
        cmsSetLogErrorHandlerTHR(made, ignoreError);
        return made;
    }();
    return context;
}

struct ProfileClose
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;

Profile openProfile(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || bytes.size() > MaxProfileBytes)
        return nullptr;
    return Profile(cmsOpenProfileFromMemTHR(colourContext(), bytes.data(),
                                            static_cast<cmsUInt32Number>(bytes.size())));
}

std::optional<std::vector<std::uint8_t>> saveProfile(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile, nullptr, &size) || size == 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size))
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

struct CurveFree
{
    void operator()(cmsToneCurve* curve) const { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFree>;

std::optional<std::vector<std::uint8_t>> rgbProfile(const cmsCIExyY& white,
                                                    const cmsCIExyYTRIPLE& primaries,
                                                    const std::array<Curve, 3>& curves)
{
    if (!curves[0] || !curves[1] || !curves[2])
        return std::nullopt;
    cmsToneCurve* const shared[3] = {curves[0].get(), curves[1].get(), curves[2].get()};
    const Profile profile(cmsCreateRGBProfileTHR(colourContext(), &white, &primaries, shared));
    return saveProfile(profile.get());
}

// A profile may serve as a picture's or a screen's colour space only if it describes a device
// or a colour space; a device link or an abstract profile would silently replace the whole
// conversion.
bool isDeviceProfile(cmsHPROFILE profile)
{
    const cmsProfileClassSignature kind = cmsGetDeviceClass(profile);
    return kind == cmsSigInputClass || kind == cmsSigDisplayClass || kind == cmsSigOutputClass ||
           kind == cmsSigColorSpaceClass;
}

// Whether `transform` leaves every colour within one level of where it was, over a grid of the
// cube, the grey axis and each primary's ramp: an embedded sRGB profile, as most cameras and
// phones write, then costs nothing and changes nothing.
bool keepsColours(cmsHTRANSFORM transform)
{
    std::vector<std::uint8_t> pixels;
    for (int r = 0; r <= 255; r += 15)
        for (int g = 0; g <= 255; g += 15)
            for (int b = 0; b <= 255; b += 15)
                pixels.insert(pixels.end(), {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
    for (int v = 0; v <= 255; ++v) {
        const auto level = static_cast<std::uint8_t>(v);
        pixels.insert(pixels.end(), {level, level, level, level, 0, 0, 0, level, 0, 0, 0, level});
    }
    std::vector<std::uint8_t> converted(pixels.size());
    cmsDoTransform(transform, pixels.data(), converted.data(),
                   static_cast<cmsUInt32Number>(pixels.size() / 3));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (std::abs(int{pixels[i]} - int{converted[i]}) > 1)
            return false;
    }
    return true;
}

std::string describeCicp(const CicpColour& cicp)
{
    return "colour primaries " + std::to_string(cicp.primaries) + ", transfer " +
           std::to_string(cicp.transfer);
}

} // namespace

void PictureColourSpace::takeProfile(std::span<const std::uint8_t> profile)
{
    if (profile.size() > MaxProfileBytes)
        note = TooLargeNote;
    else
        iccProfile.assign(profile.begin(), profile.end());
}

void ColourTransformRelease::operator()(void* transform) const
{
    cmsDeleteTransform(transform);
}

void ColourConversion::run(const void* input, std::uint8_t* out, std::size_t pixels) const
{
    const cmsUInt32Number format = cmsGetTransformInputFormat(m_transform.get());
    const std::size_t inBytes = (T_CHANNELS(format) + T_EXTRA(format)) * (T_FLOAT(format) ? 4 : 1);
    const auto* in = static_cast<const std::uint8_t*>(input);
    constexpr std::size_t Piece = std::size_t{1} << 24;
    while (pixels > 0) {
        const std::size_t count = std::min(pixels, Piece);
        // Little CMS converts in place when the input and output formats have the same size.
        cmsDoTransform(m_transform.get(), in, out, static_cast<cmsUInt32Number>(count));
        in += count * inBytes;
        out += count * 3;
        pixels -= count;
    }
}

struct ColourTransformCache::Target
{
    Profile profile;
    bool isSrgb = true;
};

struct ColourTransformCache::Entry
{
    std::vector<std::uint8_t> iccProfile;
    std::optional<CicpColour> cicp;
    Source source = Source::Rgb;
    Lookup lookup;

    bool matches(const PictureColourSpace& space, Source kind) const
    {
        if (kind != source)
            return false;
        if (!space.iccProfile.empty() || !iccProfile.empty())
            return iccProfile == space.iccProfile;
        return cicp == space.cicp;
    }
};

ColourTransformCache::ColourTransformCache()
{
    setDisplayProfile({});
}

ColourTransformCache::~ColourTransformCache() = default;

ColourTransformCache& ColourTransformCache::shared()
{
    static ColourTransformCache cache;
    return cache;
}

std::string ColourTransformCache::setDisplayProfile(std::span<const std::uint8_t> profile)
{
    auto target = std::make_shared<Target>();
    std::string note;
    if (!profile.empty()) {
        Profile display = openProfile(profile);
        if (profile.size() > MaxProfileBytes)
            note = "The display profile is larger than 4 MB";
        else if (!display)
            note = "The display profile cannot be read";
        else if (cmsGetColorSpace(display.get()) != cmsSigRgbData ||
                 !isDeviceProfile(display.get()))
            note = "The display profile is not one of an RGB screen";
        else {
            target->profile = std::move(display);
            target->isSrgb = false;
        }
        if (!note.empty())
            note += "; colours go to the screen as sRGB";
    }
    if (!target->profile)
        target->profile = Profile(cmsCreate_sRGBProfileTHR(colourContext()));
    std::lock_guard lock(m_mutex);
    m_target = std::move(target);
    m_entries.clear();
    return note;
}

ColourTransformCache::Lookup ColourTransformCache::conversionFor(const PictureColourSpace& space)
{
    if (space.onScreen)
        return {};
    return lookUp(space, space.greyPixels ? Source::Grey : Source::Rgb);
}

ColourTransformCache& ColourTransformCache::plainSrgb()
{
    static ColourTransformCache cache;
    return cache;
}

ColourTransformCache::Lookup ColourTransformCache::labConversion()
{
    return lookUp({}, Source::Lab);
}

ColourTransformCache::Lookup
ColourTransformCache::cmykConversionFor(const std::vector<std::uint8_t>& profile, bool invertedInk)
{
    PictureColourSpace space;
    space.iccProfile = profile;
    return lookUp(space, invertedInk ? Source::InvertedCmyk : Source::Cmyk);
}

ColourTransformCache::Lookup ColourTransformCache::lookUp(const PictureColourSpace& space,
                                                          Source kind)
{
    std::lock_guard lock(m_mutex);
    if ((kind == Source::Rgb || kind == Source::Grey) && !space.isTagged() && m_target->isSrgb)
        return {};
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (entry->matches(space, kind)) {
            m_entries.splice(m_entries.begin(), m_entries, entry);
            return entry->lookup;
        }
    }

    // Made under the lock: one worker makes each conversion once, and a profile handle is not
    // to be read by two transforms at the same time.
    Lookup made;
    Profile source;
    if (!space.iccProfile.empty()) {
        if (space.iccProfile.size() > MaxProfileBytes)
            made.note = "The colour profile is larger than 4 MB";
        else if (!(source = openProfile(space.iccProfile)))
            made.note = "The colour profile cannot be read";
    } else if (space.cicp) {
        if (const auto bytes = profileForCicp(*space.cicp))
            source = openProfile(*bytes);
        else
            made.note = "The colour space (" + describeCicp(*space.cicp) + ") is not known";
    } else if (kind == Source::Lab) {
        source = Profile(cmsCreateLab4ProfileTHR(colourContext(), nullptr));
    } else {
        source = Profile(cmsCreate_sRGBProfileTHR(colourContext()));
    }
    const bool cmyk = kind == Source::Cmyk || kind == Source::InvertedCmyk;
    // Grey pixels are RGB pixels too; only they may take a grey profile, which reads the first
    // channel of each pixel.
    const bool greyProfile =
        source && kind == Source::Grey && cmsGetColorSpace(source.get()) == cmsSigGrayData;
    if (source && made.note.empty() && kind != Source::Lab && !greyProfile) {
        if (cmsGetColorSpace(source.get()) != (cmyk ? cmsSigCmykData : cmsSigRgbData))
            made.note = cmyk ? "The colour profile is not for CMYK pixels"
                             : "The colour profile is not for RGB pixels";
        else if (!isDeviceProfile(source.get()))
            made.note = "The colour profile is not one of a picture's colour space";
    }
    if (source && made.note.empty()) {
        const cmsUInt32Number flags = cmsFLAGS_BLACKPOINTCOMPENSATION;
        const cmsUInt32Number input =
            greyProfile ? COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2)
            : kind == Source::Cmyk         ? TYPE_CMYK_8
            : kind == Source::InvertedCmyk ? TYPE_CMYK_8_REV
            : kind == Source::Lab          ? TYPE_Lab_FLT
                                           : TYPE_RGB_8;
        void* const transform =
            cmsCreateTransformTHR(colourContext(), source.get(), input, m_target->profile.get(),
                                  TYPE_RGB_8, INTENT_PERCEPTUAL, flags);
        if (!transform)
            made.note = "Little CMS refuses the colour profile";
        else if (input != TYPE_RGB_8 || !keepsColours(transform))
            made.conversion = std::make_shared<const ColourConversion>(transform);
        else
            cmsDeleteTransform(transform);
    }
    if (!made.note.empty())
        made.note += "; shown without colour conversion";

    Entry entry;
    entry.iccProfile = space.iccProfile;
    if (space.iccProfile.empty())
        entry.cicp = space.cicp;
    entry.source = kind;
    entry.lookup = made;
    m_entries.push_front(std::move(entry));
    if (m_entries.size() > Capacity)
        m_entries.pop_back();
    return made;
}

std::optional<std::vector<std::uint8_t>> profileForCicp(const CicpColour& cicp)
{
    // Unspecified parts are taken to be sRGB's, as a file that names only one of them means.
    const int primaries = cicp.primaries == 2 ? 1 : cicp.primaries;
    const int transfer = cicp.transfer == 2 ? 13 : cicp.transfer;

    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    cmsCIExyY white = d65;
    cmsCIExyYTRIPLE chromaticities{};
    switch (primaries) {
    case 1: // BT.709, sRGB
        chromaticities = {{0.640, 0.330, 1.0}, {0.300, 0.600, 1.0}, {0.150, 0.060, 1.0}};
        break;
    case 9: // BT.2020, BT.2100
        chromaticities = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
        break;
    case 11: // SMPTE RP 431-2: the cinema's P3, with its own white
        white = {0.314, 0.351, 1.0};
        [[fallthrough]];
    case 12: // SMPTE EG 432-1: Display P3
        chromaticities = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
        break;
    default:
        return std::nullopt;
    }

    // Parametric curves of type 4: Y = (aX + b)^g from X = d on, Y = cX below it.
    std::array<Curve, 3> curves;
    for (Curve& curve : curves) {
        switch (transfer) {
        case 1:  // BT.709
        case 6:  // BT.601
        case 14: // BT.2020, 10 bits
        case 15: // BT.2020, 12 bits
        {
            const double params[] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
            curve.reset(cmsBuildParametricToneCurve(colourContext(), 4, params));
            break;
        }
        case 4:
        case 5:
        case 8: {
            const double params[] = {transfer == 4 ? 2.2 : transfer == 5 ? 2.8 : 1.0};
            curve.reset(cmsBuildParametricToneCurve(colourContext(), 1, params));
            break;
        }
        case 13: {
            const double params[] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
            curve.reset(cmsBuildParametricToneCurve(colourContext(), 4, params));
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return rgbProfile(white, chromaticities, curves);
}
