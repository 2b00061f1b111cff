#include "tests/support/testprofiles.h"

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace TestProfiles {

namespace {

std::vector<std::uint8_t> save(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    if (!profile || !cmsSaveProfileToMem(profile, nullptr, &size))
        throw std::runtime_error("cannot make the test profile");
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    // The header's creation time (bytes 24 to 35) is cleared: the same profile made on either
    // side of a second's turn must have the same bytes, since conversions are kept by them.
    if (bytes.size() >= 36)
        std::fill(bytes.begin() + 24, bytes.begin() + 36, std::uint8_t{0});
    return bytes;
}

cmsToneCurve* srgbCurve()
{
    const double params[] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    return cmsBuildParametricToneCurve(nullptr, 4, params);
}

std::vector<std::uint8_t> rgb(cmsCIExyY white, cmsCIExyYTRIPLE primaries, cmsToneCurve* curve)
{
    cmsToneCurve* curves[3] = {curve, curve, curve};
    std::vector<std::uint8_t> bytes = save(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

constexpr cmsCIExyY D65{0.3127, 0.3290, 1.0};

} // namespace

std::vector<std::uint8_t> swapProfile()
{
    return rgb(D65, {{0.30, 0.60, 1.0}, {0.64, 0.33, 1.0}, {0.15, 0.06, 1.0}}, srgbCurve());
}

std::vector<std::uint8_t> displayP3Profile()
{
    return rgb(D65, {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}}, srgbCurve());
}

std::vector<std::uint8_t> adobeRgbProfile()
{
    return rgb(D65, {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}},
               cmsBuildGamma(nullptr, 563.0 / 256.0));
}

std::vector<std::uint8_t> proPhotoProfile()
{
    return rgb({0.3457, 0.3585, 1.0},
               {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}},
               cmsBuildGamma(nullptr, 1.8));
}

std::vector<std::uint8_t> rec2020Profile()
{
    return rgb(D65, {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}}, srgbCurve());
}

std::vector<std::uint8_t> srgbProfile()
{
    return save(cmsCreate_sRGBProfile());
}

namespace {

int inkToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo)
{
    const double ink[4] = {in[0] / 65535.0, in[1] / 65535.0, in[2] / 65535.0, in[3] / 65535.0};
    const double rgb[3] = {(1 - ink[1]) * (1 - ink[3]), (1 - ink[0]) * (1 - ink[3]),
                           (1 - ink[2]) * (1 - ink[3])};
    cmsCIELab lab{};
    cmsDoTransform(static_cast<cmsHTRANSFORM>(cargo), rgb, &lab, 1);
    cmsFloat2LabEncoded(out, &lab);
    return 1;
}

} // namespace

std::vector<std::uint8_t> swappedInkProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 17, 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, inkToLab, toLab, 0);
    cmsPipeline* pipeline = cmsPipelineAlloc(nullptr, 4, 3);
    // Stored as lutAtoBType, which wants curves on both sides of the table.
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(pipeline, cmsAT_END, table);
    cmsPipelineInsertStage(pipeline, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 4.3);
    cmsSetDeviceClass(profile, cmsSigOutputClass);
    cmsSetColorSpace(profile, cmsSigCmykData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsWriteTag(profile, cmsSigAToB0Tag, pipeline);
    cmsPipelineFree(pipeline);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return save(profile);
}

namespace {

// Big-endian fields, as ICC profiles store them.
struct ProfileWriter
{
    std::vector<std::uint8_t> bytes;

    void u16(std::uint32_t value)
    {
        bytes.push_back(std::uint8_t(value >> 8));
        bytes.push_back(std::uint8_t(value));
    }
    void u32(std::uint32_t value)
    {
        u16(value >> 16);
        u16(value & 0xffff);
    }
    void tag(const char* name) { bytes.insert(bytes.end(), name, name + 4); }
    void fixed(double value) { u32(std::uint32_t(std::int32_t(value * 65536.0 + 0.5))); }
    void real(float value)
    {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &value, 4);
        u32(bits);
    }
    void append(const std::vector<std::uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
    void align() { bytes.resize((bytes.size() + 3) / 4 * 4); }
};

} // namespace

std::vector<std::uint8_t> gridElement(int inputs, int outputs, int grid)
{
    ProfileWriter element;
    element.tag("clut");
    element.u32(0);
    element.u16(std::uint32_t(inputs));
    element.u16(std::uint32_t(outputs));
    std::size_t values = std::size_t(outputs);
    for (int input = 0; input < 16; ++input) {
        element.bytes.push_back(input < inputs ? std::uint8_t(grid) : 0);
        if (input < inputs)
            values *= std::size_t(grid);
    }
    element.bytes.resize(element.bytes.size() + values * 4);
    return element.bytes;
}

std::vector<std::uint8_t> sampledCurvesElement(std::uint32_t points)
{
    ProfileWriter formula; // Y = X
    formula.tag("parf");
    formula.u32(0);
    formula.u32(0);
    for (const float parameter : {1.0F, 1.0F, 0.0F, 0.0F})
        formula.real(parameter);
    ProfileWriter curve;
    curve.tag("curf");
    curve.u32(0);
    curve.u16(3);
    curve.u16(0);
    curve.real(0.0F);
    curve.real(1.0F);
    curve.append(formula.bytes);
    curve.tag("samf");
    curve.u32(0);
    curve.u32(points);
    curve.bytes.resize(curve.bytes.size() + std::size_t{points} * 4);
    curve.append(formula.bytes);

    ProfileWriter element;
    element.tag("cvst");
    element.u32(0);
    element.u16(3);
    element.u16(3);
    const std::uint32_t start = 12 + 3 * 8;
    for (int channel = 0; channel < 3; ++channel) {
        element.u32(start);
        element.u32(std::uint32_t(curve.bytes.size()));
    }
    element.append(curve.bytes);
    return element.bytes;
}

std::vector<int> repeated(int index, int count)
{
    return std::vector<int>(std::size_t(count), index);
}

namespace {

// A profile of the white point and two tags that share `table`, v4 and floating-point for a
// multi-process table (D2B0, B2D0), v2 otherwise (A2B0, B2A0).
std::vector<std::uint8_t> profileWithTable(const std::vector<std::uint8_t>& table, bool cmyk,
                                           bool floating)
{
    ProfileWriter white;
    white.tag("XYZ ");
    white.u32(0);
    for (const double value : {0.9642, 1.0, 0.8249})
        white.fixed(value);

    const std::uint32_t whiteOffset = 128 + 4 + 3 * 12;
    const std::uint32_t tableOffset = whiteOffset + std::uint32_t(white.bytes.size());
    ProfileWriter profile;
    profile.u32(tableOffset + std::uint32_t(table.size()));
    profile.u32(0);
    profile.u32(floating ? 0x04300000 : 0x02100000);
    profile.tag(cmyk ? "prtr" : "mntr");
    profile.tag(cmyk ? "CMYK" : "RGB ");
    profile.tag("XYZ ");
    profile.bytes.resize(36);
    profile.tag("acsp");
    profile.bytes.resize(68);
    for (const double value : {0.9642, 1.0, 0.8249})
        profile.fixed(value);
    profile.bytes.resize(128);
    profile.u32(3);
    profile.tag("wtpt");
    profile.u32(whiteOffset);
    profile.u32(std::uint32_t(white.bytes.size()));
    for (const char* name : floating ? std::array{"D2B0", "B2D0"} : std::array{"A2B0", "B2A0"}) {
        profile.tag(name);
        profile.u32(tableOffset);
        profile.u32(std::uint32_t(table.size()));
    }
    profile.append(white.bytes);
    profile.append(table);
    return profile.bytes;
}

} // namespace

std::vector<std::uint8_t>
multiProcessProfile(const std::vector<std::vector<std::uint8_t>>& elements,
                    const std::vector<int>& order, bool cmyk)
{
    ProfileWriter table;
    table.tag("mpet");
    table.u32(0);
    table.u16(cmyk ? 4 : 3);
    table.u16(3);
    table.u32(std::uint32_t(order.size()));
    std::vector<std::uint32_t> offsets;
    std::uint32_t offset = std::uint32_t(16 + 8 * order.size());
    for (const auto& element : elements) {
        offsets.push_back(offset);
        offset += std::uint32_t((element.size() + 3) / 4 * 4);
    }
    for (const int index : order) {
        table.u32(offsets[std::size_t(index)]);
        table.u32(std::uint32_t(elements[std::size_t(index)].size()));
    }
    for (const auto& element : elements) {
        table.append(element);
        table.align();
    }
    return profileWithTable(table.bytes, cmyk, true);
}

std::vector<std::uint8_t> lut16Profile(int inputs, int grid)
{
    ProfileWriter table;
    table.tag("mft2");
    table.u32(0);
    table.bytes.push_back(std::uint8_t(inputs));
    table.bytes.push_back(3);
    table.bytes.push_back(std::uint8_t(grid));
    table.bytes.push_back(0);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            table.fixed(row == column ? 1.0 : 0.0);
    table.u16(2);
    table.u16(2);
    return profileWithTable(table.bytes, inputs == 4, false);
}

std::vector<std::uint8_t> greyProfile(double gamma)
{
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    std::vector<std::uint8_t> bytes = save(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

RgbImage convertFromSrgb(const RgbImage& image, const std::vector<std::uint8_t>& profile,
                         bool swapRedGreen)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE target =
        cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    cmsHTRANSFORM transform =
        cmsCreateTransform(srgb, TYPE_RGB_8, target, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    if (!transform)
        throw std::runtime_error("cannot convert the test picture");
    RgbImage converted = image;
    cmsDoTransform(transform, image.pixels.data(), converted.pixels.data(),
                   static_cast<cmsUInt32Number>(image.pixels.size() / 3));
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
    cmsCloseProfile(srgb);
    if (swapRedGreen) {
        for (std::size_t i = 0; i + 2 < converted.pixels.size(); i += 3)
            std::swap(converted.pixels[i], converted.pixels[i + 1]);
    }
    return converted;
}

PictureColourSpace iccSpace(std::vector<std::uint8_t> profile)
{
    PictureColourSpace space;
    space.iccProfile = std::move(profile);
    return space;
}

PictureColourSpace cicpSpace(int primaries, int transfer)
{
    PictureColourSpace space;
    space.cicp = CicpColour{primaries, transfer};
    return space;
}

} // namespace TestProfiles
