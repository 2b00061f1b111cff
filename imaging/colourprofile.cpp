#include "imaging/colourprofile.h"

#include "imaging/profilework.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace {

// What building one conversion may ask of Little CMS, whatever a profile's tables declare. The
// tables are measured before anything is built (see imaging/profilework.h), and every allocation
// of the build counts against one budget (see BuildContext). The measured bounds keep everything
// they measure well inside the budget: Little CMS does not survive a refused allocation
// everywhere (a segmented curve whose sampled points cannot be copied is read through a null
// pointer), so the budget is only the net for what the measure does not see.
//
// Everything Little CMS holds at once while it builds a conversion (the tables as read, their
// copies in the joined pipeline, the resampled result), and keeps for it afterwards. A press
// profile's conversion needs a few megabytes.
constexpr std::size_t MaxBuildBytes = std::size_t{128} << 20;

// The budget one context's allocations count against.
struct BuildBudget
{
    std::atomic<std::size_t> used = 0;
    std::atomic<bool> exhausted = false;
};

// Each block carries its size and its budget in front of it, so that freeing it returns the
// bytes to the budget it was taken from.
struct alignas(std::max_align_t) BlockHeader
{
    BuildBudget* budget = nullptr;
    std::size_t size = 0;
};

// Refuses the allocation once the budget is spent: Little CMS then gives up the profile or the
// transform it was making and returns nothing.
void* budgetedMalloc(cmsContext context, cmsUInt32Number size)
{
    if (size == 0)
        return nullptr;
    auto* const budget = static_cast<BuildBudget*>(cmsGetContextUserData(context));
    if (budget != nullptr) {
        if (budget->used.fetch_add(size) + size > MaxBuildBytes) {
            budget->used -= size;
            budget->exhausted = true;
            return nullptr;
        }
    }
    void* const block = std::malloc(sizeof(BlockHeader) + size);
    if (block == nullptr) {
        if (budget != nullptr)
            budget->used -= size;
        return nullptr;
    }
    new (block) BlockHeader{budget, size};
    return static_cast<char*>(block) + sizeof(BlockHeader);
}

void budgetedFree(cmsContext, void* pointer)
{
    if (pointer == nullptr)
        return;
    void* const block = static_cast<char*>(pointer) - sizeof(BlockHeader);
    const BlockHeader header = *static_cast<const BlockHeader*>(block);
    if (header.budget != nullptr)
        header.budget->used -= header.size;
    std::free(block);
}

void* budgetedRealloc(cmsContext context, void* pointer, cmsUInt32Number size)
{
    void* const moved = budgetedMalloc(context, size);
    if (moved != nullptr && pointer != nullptr) {
        const auto* header =
            reinterpret_cast<const BlockHeader*>(static_cast<char*>(pointer) - sizeof(BlockHeader));
        std::memcpy(moved, pointer, std::min<std::size_t>(header->size, size));
        budgetedFree(context, pointer);
    }
    return moved;
}

// Little CMS reports a refused profile through its return values, which say enough here; its
// log would only repeat it on stderr for every hostile file.
void ignoreError(cmsContext, cmsUInt32Number, const char*) {}

// A context whose allocations count against `budget` (none: unbounded) and that logs nothing.
cmsContext createContext(BuildBudget* budget)
{
    static cmsPluginMemHandler memory = [] {
        cmsPluginMemHandler handler{};
        handler.base.Magic = cmsPluginMagicNumber;
        handler.base.ExpectedVersion = 2060;
        handler.base.Type = cmsPluginMemHandlerSig;
        handler.MallocPtr = budgetedMalloc;
        handler.FreePtr = budgetedFree;
        handler.ReallocPtr = budgetedRealloc;
        return handler;
    }();
    const cmsContext context = cmsCreateContext(&memory, budget);
    cmsSetLogErrorHandlerTHR(context, ignoreError);
    return context;
}

// The context of the profiles made here from known values (CICP's, sRGB's): made once and kept
// for the life of the process. Reading profiles in it from several threads is safe, since
// nothing changes its plug-ins afterwards.
cmsContext colourContext()
{
    static const cmsContext context = createContext(nullptr);
    return context;
}

// A context of its own for building one conversion: the profiles are opened in it and the
// transform is made in it, so that the whole build counts against one budget. A transform made
// in it keeps it until the transform is released (see ColourTransformRelease).
class BuildContext
{
public:
    BuildContext()
    {
        auto budget = std::make_unique<BuildBudget>();
        m_context = createContext(budget.get());
        if (m_context != nullptr)
            m_budget = budget.release();
    }
    ~BuildContext() { close(m_context); }
    BuildContext(const BuildContext&) = delete;
    BuildContext& operator=(const BuildContext&) = delete;

    cmsContext context() const { return m_context; }
    bool exhausted() const { return m_budget != nullptr && m_budget->exhausted; }

    // Leaves the context to the transform made in it.
    void handOver()
    {
        m_context = nullptr;
        m_budget = nullptr;
    }

    // Frees a build's context and its budget; the process's own context stays.
    static void close(cmsContext context)
    {
        if (context == nullptr)
            return;
        auto* const budget = static_cast<BuildBudget*>(cmsGetContextUserData(context));
        if (budget == nullptr)
            return;
        cmsDeleteContext(context);
        delete budget;
    }

private:
    cmsContext m_context = nullptr;
    BuildBudget* m_budget = nullptr;
};

struct ProfileClose
{
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileClose>;


// Opens `bytes` in `build`'s context, or says why not ("is larger than 4 MB", ...), to follow
// the name of whose profile it is.
Profile openProfile(std::span<const std::uint8_t> bytes, const BuildContext& build,
                    std::string& refusal)
{
    if (bytes.size() > MaxProfileBytes) {
        refusal = "is larger than 4 MB";
        return nullptr;
    }
    if (!profileWorkWithinBounds(bytes)) {
        refusal = "asks for more work than a conversion may take";
        return nullptr;
    }
    Profile profile;
    if (!bytes.empty() && build.context() != nullptr)
        profile.reset(cmsOpenProfileFromMemTHR(build.context(), bytes.data(),
                                               static_cast<cmsUInt32Number>(bytes.size())));
    if (!profile)
        refusal = "cannot be read";
    return profile;
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
    const cmsContext context = cmsGetTransformContextID(transform);
    cmsDeleteTransform(transform);
    BuildContext::close(context);
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
    // The display profile's bytes, opened again in each build's own context; empty for sRGB.
    std::vector<std::uint8_t> profile;
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
    Lookup untagged;
    if (!profile.empty()) {
        {
            const BuildContext build;
            std::string refusal;
            const Profile display = openProfile(profile, build, refusal);
            if (!display)
                note = "The display profile " + refusal;
            else if (cmsGetColorSpace(display.get()) != cmsSigRgbData ||
                     !isDeviceProfile(display.get()))
                note = "The display profile is not one of an RGB screen";
            else
                target->profile.assign(profile.begin(), profile.end());
        }
        // Every untagged picture needs this conversion; made now, it also shows that the
        // profile can serve as the target at all.
        if (note.empty()) {
            untagged = make({}, Source::Rgb, *target);
            if (!untagged.note.empty()) {
                note = "Little CMS cannot convert to the display profile";
                target->profile.clear();
            }
        }
        if (!note.empty())
            note += "; colours go to the screen as sRGB";
    }
    std::lock_guard lock(m_mutex);
    m_target = std::move(target);
    m_entries.clear();
    if (!m_target->profile.empty())
        remember({}, Source::Rgb, untagged);
    return note;
}

ColourTransformCache::Lookup ColourTransformCache::conversionFor(const PictureColourSpace& space,
                                                                 const std::stop_token& stop)
{
    if (space.onScreen)
        return {};
    return lookUp(space, space.greyPixels ? Source::Grey : Source::Rgb, stop);
}

ColourTransformCache& ColourTransformCache::plainSrgb()
{
    static ColourTransformCache cache;
    return cache;
}

ColourTransformCache::Lookup ColourTransformCache::labConversion(const std::stop_token& stop)
{
    return lookUp({}, Source::Lab, stop);
}

ColourTransformCache::Lookup
ColourTransformCache::cmykConversionFor(const std::vector<std::uint8_t>& profile, bool invertedInk,
                                        const std::stop_token& stop)
{
    PictureColourSpace space;
    space.iccProfile = profile;
    return lookUp(space, invertedInk ? Source::InvertedCmyk : Source::Cmyk, stop);
}

ColourTransformCache::Lookup ColourTransformCache::lookUp(const PictureColourSpace& space,
                                                          Source kind, const std::stop_token& stop)
{
    std::lock_guard lock(m_mutex);
    if ((kind == Source::Rgb || kind == Source::Grey) && !space.isTagged() &&
        m_target->profile.empty())
        return {};
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (entry->matches(space, kind)) {
            m_entries.splice(m_entries.begin(), m_entries, entry);
            return entry->lookup;
        }
    }

    // Made under the lock: one worker makes each conversion once, and the others wait no longer
    // than one build's bounds allow. Little CMS takes no stop (it does not survive every refused
    // allocation), so a stop is checked before the build, and a build under way finishes.
    if (stop.stop_requested())
        return {};
    Lookup made = make(space, kind, *m_target);
    remember(space, kind, made);
    return made;
}

void ColourTransformCache::remember(const PictureColourSpace& space, Source kind,
                                    const Lookup& lookup)
{
    Entry entry;
    entry.iccProfile = space.iccProfile;
    if (space.iccProfile.empty())
        entry.cicp = space.cicp;
    entry.source = kind;
    entry.lookup = lookup;
    m_entries.push_front(std::move(entry));
    if (m_entries.size() > Capacity)
        m_entries.pop_back();
}

ColourTransformCache::Lookup ColourTransformCache::make(const PictureColourSpace& space,
                                                        Source kind, const Target& target)
{
    BuildContext build;
    Lookup made;
    std::string refusal;
    Profile source;
    if (!space.iccProfile.empty()) {
        if (!(source = openProfile(space.iccProfile, build, refusal)))
            made.note = "The colour profile " + refusal;
    } else if (space.cicp) {
        if (const auto bytes = profileForCicp(*space.cicp))
            source = openProfile(*bytes, build, refusal);
        else
            made.note = "The colour space (" + describeCicp(*space.cicp) + ") is not known";
    } else if (kind == Source::Lab) {
        source = Profile(cmsCreateLab4ProfileTHR(build.context(), nullptr));
    } else {
        source = Profile(cmsCreate_sRGBProfileTHR(build.context()));
    }
    // The display profile passed the same bounds when it was set.
    const Profile screen = target.profile.empty()
                               ? Profile(cmsCreate_sRGBProfileTHR(build.context()))
                               : openProfile(target.profile, build, refusal);
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
    if (source && screen && made.note.empty()) {
        const cmsUInt32Number flags = cmsFLAGS_BLACKPOINTCOMPENSATION;
        const cmsUInt32Number input =
            greyProfile ? COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2)
            : kind == Source::Cmyk         ? TYPE_CMYK_8
            : kind == Source::InvertedCmyk ? TYPE_CMYK_8_REV
            : kind == Source::Lab          ? TYPE_Lab_FLT
                                           : TYPE_RGB_8;
        void* const transform =
            cmsCreateTransformTHR(build.context(), source.get(), input, screen.get(), TYPE_RGB_8,
                                  INTENT_PERCEPTUAL, flags);
        if (!transform) {
            made.note = build.exhausted() ? "The colour profile needs more than 128 MB to convert"
                                          : "Little CMS refuses the colour profile";
        } else if (input != TYPE_RGB_8 || !keepsColours(transform)) {
            build.handOver();
            made.conversion = std::make_shared<const ColourConversion>(transform);
        } else {
            cmsDeleteTransform(transform);
        }
    }
    if (!made.note.empty())
        made.note += "; shown without colour conversion";
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
