// Writes the CMYK seeds of the slide fuzzer, which cjpeg cannot make: a small picture of ink
// patches as plain CMYK, as Adobe's inverted CMYK and as Adobe YCCK, with the test pictures'
// own encoder. Run: make_cmyk_seeds fuzz/corpus/slide (the results are committed).

#include "tests/support/testpictures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fputs("usage: make_cmyk_seeds FOLDER\n", stderr);
        return 2;
    }
    constexpr int Width = 24;
    constexpr int Height = 16;
    std::vector<std::uint8_t> ink;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            ink.insert(ink.end(), {static_cast<std::uint8_t>(x * 255 / (Width - 1)),
                                   static_cast<std::uint8_t>(y * 255 / (Height - 1)),
                                   static_cast<std::uint8_t>(x < Width / 2 ? 200 : 0),
                                   static_cast<std::uint8_t>(y < Height / 2 ? 0 : 90)});
        }
    }
    using TestPictures::CmykForm;
    const std::pair<const char*, CmykForm> seeds[] = {
        {"cmyk-plain.jpg", CmykForm::Plain},
        {"cmyk-adobe.jpg", CmykForm::Adobe},
        {"ycck-adobe.jpg", CmykForm::AdobeYcck},
    };
    for (const auto& [name, form] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        if (!TestPictures::writeFile(path,
                                     TestPictures::encodeCmykJpeg(Width, Height, ink, form))) {
            std::fprintf(stderr, "make_cmyk_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
