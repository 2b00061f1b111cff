// Feeds arbitrary bytes through the whole picture path a change of slide runs: the same bytes
// are prepared once as a JPEG file and once as a bitmap file by SlideImage::prepare, and once
// more as a JPEG in the high quality mode when they hold an ICC profile marker. Besides
// crashes, hangs and sanitizer reports, any of these is a finding:
// - a texel outside the picture's placement that is not white;
// - an unreadable JPEG that does not give the white square;
// - a bitmap the reader refuses that changes the slide it was meant to replace.
#include "imaging/jpegdecoder.h"
#include "imaging/qddib.h"
#include "scene/slideimage.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Size = SlideImage::TextureSize;

// The input is written to one file that is reachable under both names, so each run writes it
// once. The folder is removed when the fuzzer exits.
struct InputFiles
{
    std::string folder;
    std::string jpeg;
    std::string bitmap;

    InputFiles()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/fuzz-slide-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        folder = pattern;
        jpeg = folder + "/input.jpg";
        bitmap = folder + "/input.bmp";
        if (::symlink("input.jpg", bitmap.c_str()) != 0)
            std::abort();
    }
    ~InputFiles()
    {
        ::unlink(bitmap.c_str());
        ::unlink(jpeg.c_str());
        ::rmdir(folder.c_str());
    }

    void write(const std::uint8_t* data, std::size_t size) const
    {
        const int fd = ::open(jpeg.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t written = ::write(fd, data + done, size - done);
            if (written <= 0)
                std::abort();
            done += static_cast<std::size_t>(written);
        }
        ::close(fd);
    }
};

bool isWhite(const std::uint8_t* texel)
{
    return texel[0] == 255 && texel[1] == 255 && texel[2] == 255;
}

// Texels right of or above the placement (rows counted from the bottom) must be white.
void checkOutsideIsWhite(const SlideImage& slide)
{
    const int width = slide.imageWidth();
    const int height = slide.imageHeight();
    if (width < 0 || width > Size || height < 0 || height > Size)
        __builtin_trap();
    const std::uint8_t* texels = slide.texturePixels();
    for (int row = 0; row < Size; ++row) {
        const std::uint8_t* line = texels + static_cast<std::size_t>(row) * Size * 3;
        for (int column = row < height ? width : 0; column < Size; ++column) {
            if (!isWhite(line + column * 3))
                __builtin_trap();
        }
    }
}

bool isWhiteSquare(const SlideImage& slide)
{
    const SlidePlacement whiteSquare{Size, Size, 0.99f, 1.0f};
    return slide.placement() == whiteSquare &&
           std::all_of(slide.texturePixels(), slide.texturePixels() + SlideImage::TextureBytes,
                       [](std::uint8_t v) { return v == 255; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const InputFiles files;
    // One slide for every run, as the window keeps one; each run starts with a JPEG prepare,
    // which rewrites the whole texture, so no run depends on the one before.
    static SlideImage slide;
    files.write(data, size);

    slide.prepare(files.jpeg);
    checkOutsideIsWhite(slide);
    // Anything but the white square must come from a JPEG the decoder can read, at the reduced
    // scale a slide decodes it at.
    if (!isWhiteSquare(slide) &&
        !decodeJpegData(std::span(data, size), nullptr, {.minimumLongerSide = 2 * Size}))
        __builtin_trap();

    // A JPEG that carries a colour profile also goes through the high quality mode, which
    // reads the profile and converts the texture (or, for CMYK, the rows) through it.
    static SlideImage high(TextureLayout{Size, true});
    static const std::string iccMarker = "ICC_PROFILE";
    if (std::search(data, data + size, iccMarker.begin(), iccMarker.end()) != data + size)
        high.prepare(files.jpeg);

    const SlidePlacement before = slide.placement();
    const std::string note = slide.decoderNote();
    const std::vector<std::uint8_t> texture(slide.texturePixels(),
                                            slide.texturePixels() + SlideImage::TextureBytes);
    bool refused = false;
    try {
        slide.prepare(files.bitmap);
    } catch (const EFileOpenError&) {
        __builtin_trap(); // the file is there and readable
    } catch (const EQdDIBError&) {
        refused = true;
    } catch (const EStreamReadError&) {
        refused = true;
    } catch (const EOutOfResources&) {
        refused = true;
    }
    if (refused && (slide.placement() != before || slide.decoderNote() != note ||
                    !std::equal(texture.begin(), texture.end(), slide.texturePixels())))
        __builtin_trap();
    checkOutsideIsWhite(slide);
    return 0;
}
