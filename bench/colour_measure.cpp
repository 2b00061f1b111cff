// The colour goals of the high quality mode, measured on textures that lumivane-slide writes
// (see bench/measure_colours.sh, which runs the tool on the pictures this writes):
//
//   colour_measure pictures DIR
//       writes a 1600 x 1200 photo-like picture as DIR/original.EXT in JPEG (q95, 4:4:4), PNG,
//       WebP (lossless), TIFF, HEIC and AVIF; the same with red and green swapped and the swap
//       profile embedded as DIR/swap.EXT; converted into Adobe RGB, Display P3, ProPhoto and
//       Rec.2020 with the profile embedded as DIR/SPACE.EXT (JPEG, PNG, WebP, TIFF); and
//       converted into Display P3 and tagged by CICP instead as DIR/p3-cicp.avif.
//   colour_measure compare A.ppm B.ppm
//       the mean and the largest difference of the channel values of two textures.
//   colour_measure cost [ROUNDS]
//       the worker's CPU half (SlideImage::prepare at T = 2048, high quality) for a 24 MP JPEG
//       with an Adobe RGB profile against the same JPEG without one, alternating, in CPU time.
#include "scene/slideimage.h"
#include "tests/support/formatpictures.h"
#include "tests/support/testpictures.h"
#include "tests/support/testprofiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using FormatPictures::Format;
using TestProfiles::iccSpace;

bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

Bytes encodeAs(const char* extension, const RgbImage& image, const PictureColourSpace& colours)
{
    const std::string ext = extension;
    if (ext == ".jpg")
        return TestPictures::encodeJpeg(
            image, {.quality = 95, .iccProfile = colours.iccProfile, .fullChroma = true});
    for (const Format format : FormatPictures::AllFormats) {
        if (ext == FormatPictures::extensionOf(format))
            return FormatPictures::encode(format, FormatPictures::Variant::Rgb,
                                          FormatPictures::opaque(image), colours);
    }
    return {};
}

int writePictures(const std::string& folder)
{
    const RgbImage original = TestPictures::makePhotoLike(1600, 1200);
    const Bytes swap = TestProfiles::swapProfile();
    const RgbImage swapped = TestProfiles::convertFromSrgb(original, swap);
    bool written = true;
    for (const char* ext : {".jpg", ".png", ".webp", ".tiff", ".heic", ".avif"}) {
        written = written && writeFile(folder + "/original" + ext, encodeAs(ext, original, {}));
        written =
            written && writeFile(folder + "/swap" + ext, encodeAs(ext, swapped, iccSpace(swap)));
    }
    const std::pair<const char*, Bytes> spaces[] = {{"adobergb", TestProfiles::adobeRgbProfile()},
                                                    {"displayp3", TestProfiles::displayP3Profile()},
                                                    {"prophoto", TestProfiles::proPhotoProfile()},
                                                    {"rec2020", TestProfiles::rec2020Profile()}};
    for (const auto& [name, profile] : spaces) {
        const RgbImage converted = TestProfiles::convertFromSrgb(original, profile);
        for (const char* ext : {".jpg", ".png", ".webp", ".tiff"})
            written = written && writeFile(folder + "/" + name + ext,
                                           encodeAs(ext, converted, iccSpace(profile)));
    }
    PictureColourSpace cicp;
    cicp.cicp = CicpColour{12, 13};
    written = written && writeFile(folder + "/p3-cicp.avif",
                                   encodeAs(".avif",
                                            TestProfiles::convertFromSrgb(
                                                original, TestProfiles::displayP3Profile()),
                                            cicp));
    return written ? 0 : 1;
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int compare(const std::string& first, const std::string& second)
{
    const Bytes a = readFile(first);
    const Bytes b = readFile(second);
    if (a.empty() || a.size() != b.size()) {
        std::fprintf(stderr, "colour_measure: the textures differ in size\n");
        return 1;
    }
    // Both are the tool's PPMs: the same header, then the texels.
    std::uint64_t total = 0;
    int largest = 0;
    const std::size_t texels = SlideImage::TextureBytes;
    const std::size_t start = a.size() - texels;
    for (std::size_t i = start; i < a.size(); ++i) {
        const int d = std::abs(int{a[i]} - int{b[i]});
        total += std::uint64_t(d);
        largest = std::max(largest, d);
    }
    std::printf("mean %.2f largest %d\n", double(total) / double(texels), largest);
    return 0;
}

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

int measureCost(int rounds)
{
    const RgbImage photo = TestPictures::makePhotoLike(6000, 4000);
    const std::string plain = "/tmp/lumivane-colour-cost-plain.jpg";
    const std::string tagged = "/tmp/lumivane-colour-cost-tagged.jpg";
    if (!writeFile(plain, TestPictures::encodeJpeg(photo, {.quality = 90})) ||
        !writeFile(tagged,
                   TestPictures::encodeJpeg(
                       photo, {.quality = 90, .iccProfile = TestProfiles::adobeRgbProfile()})))
        return 1;
    SlideImage slide(TextureLayout{2048, true});
    double plainSeconds = 0;
    double taggedSeconds = 0;
    for (int round = 0; round <= rounds; ++round) {
        for (const bool withProfile : {false, true}) {
            const double start = cpuSeconds();
            slide.prepare(withProfile ? tagged : plain);
            const double spent = cpuSeconds() - start;
            // The first round warms the caches (and makes the conversion) and is not counted.
            if (round > 0)
                (withProfile ? taggedSeconds : plainSeconds) += spent;
        }
    }
    std::remove(plain.c_str());
    std::remove(tagged.c_str());
    std::printf("24 MP JPEG at T = 2048: %.1f ms without a profile, %.1f ms with, ratio %.3f\n",
                plainSeconds / rounds * 1000, taggedSeconds / rounds * 1000,
                taggedSeconds / plainSeconds);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pictures" && argc == 3)
        return writePictures(argv[2]);
    if (command == "compare" && argc == 4)
        return compare(argv[2], argv[3]);
    if (command == "cost" && argc <= 3)
        return measureCost(argc == 3 ? std::max(1, std::atoi(argv[2])) : 5);
    std::fputs("usage: colour_measure pictures DIR | compare A.ppm B.ppm | cost [ROUNDS]\n",
               stderr);
    return 2;
}
