#pragma once

#include "imaging/colourprofile.h"
#include "imaging/rgbimage.h"

#include <cstdint>
#include <vector>

// ICC profiles made with Little CMS for the tests, so that every expected colour can be worked
// out from the profile's own primaries and curves.
namespace TestProfiles {

// sRGB with the red and green primaries exchanged: a picture stored with its red and green
// channels swapped and carrying this profile converts back to the original.
std::vector<std::uint8_t> swapProfile();

// Display P3: the P3 primaries, D65 white, the sRGB curve.
std::vector<std::uint8_t> displayP3Profile();

// Adobe RGB (1998), ProPhoto RGB (D50 white, gamma 1.8) and Rec.2020 (with the sRGB curve):
// the wide-gamut spaces of cameras, raw developers and video.
std::vector<std::uint8_t> adobeRgbProfile();
std::vector<std::uint8_t> proPhotoProfile();
std::vector<std::uint8_t> rec2020Profile();

// Little CMS's own sRGB profile, as a camera embeds one.
std::vector<std::uint8_t> srgbProfile();

// A CMYK profile (ink 0 = none, full = 255 as ICC counts it) whose cyan and magenta inks act
// the other way round from the plain formula: ink (c, m, y, k) is the sRGB colour
// ((1 - m)(1 - k), (1 - c)(1 - k), (1 - y)(1 - k)).
std::vector<std::uint8_t> swappedInkProfile();

// A grey profile with the given gamma: for grey pixels, the wrong kind for RGB ones.
std::vector<std::uint8_t> greyProfile(double gamma = 2.2);

// Profiles written byte by byte, as a hostile file carries them: a v4 profile (of an RGB screen,
// or of CMYK ink) whose floating-point colour tables (D2B0, and B2D0 sharing its data) are one
// multi-process table. Its position table names `elements` in the order `order`, so that one
// element's data may serve any number of entries.
std::vector<std::uint8_t>
multiProcessProfile(const std::vector<std::vector<std::uint8_t>>& elements,
                    const std::vector<int>& order, bool cmyk = false);
// A multi-process colour table element from `inputs` to `outputs` channels with `grid` points on
// each input, its values all zero.
std::vector<std::uint8_t> gridElement(int inputs, int outputs, int grid);
// A multi-process curve set element of three segmented curves, all one curve whose middle
// segment samples `points` points.
std::vector<std::uint8_t> sampledCurvesElement(std::uint32_t points);
// A v2 profile whose A2B0 is a lut16 table from `inputs` channels (CMYK for 4, RGB for 3) to
// three, with `grid` points on each input; only the table's header is written.
std::vector<std::uint8_t> lut16Profile(int inputs, int grid);
// `count` times `index`, for an order that repeats one element.
std::vector<int> repeated(int index, int count);

// The colour space of a picture that embeds `profile`, and of one tagged by the CICP values
// `primaries` and `transfer` instead.
PictureColourSpace iccSpace(std::vector<std::uint8_t> profile);
PictureColourSpace cicpSpace(int primaries, int transfer);

// `image` converted from sRGB into `profile`'s space (relative colorimetric, as a photo editor
// converting for export does) and, when swapRedGreen, with red and green exchanged afterwards.
RgbImage convertFromSrgb(const RgbImage& image, const std::vector<std::uint8_t>& profile,
                         bool swapRedGreen = false);

} // namespace TestProfiles
