#pragma once

#include "scene/mipchain.h"

#include <chrono>

class SlideImage;

// The slide textures of the high quality mode: the one drawn, and a second one into which the
// next picture goes up ahead, a slice at a time, while the first is still on screen. A texture
// with its levels is about 16 MB at 2048 and 64 MB at 4096, which would hold up a frame for
// longer than the show can afford if it went up at once at the change. Both objects have every
// mipmap level, are sampled trilinearly, clamped at their edges (so that the picture's edge does
// not wrap round to its other side), and anisotropically where the driver offers it.
//
// Every function expects the slideshow's context to be current on the calling thread.
class MipmappedTextures
{
public:
    // `anisotropy` is the most the driver offers, or 1 without the extension; up to 8 is used.
    explicit MipmappedTextures(float anisotropy);

    // The anisotropy to ask of the current context's driver: the most it offers through
    // GL_EXT_texture_filter_anisotropic, or 1 without the extension. Mesa's software
    // rasterisers offer it, but their anisotropic filter softens even a picture seen head-on
    // (half the detail of plain trilinear filtering) and lets fine stripes shimmer again; they
    // get plain trilinear filtering.
    static float anisotropyOffered();
    ~MipmappedTextures();
    MipmappedTextures(const MipmappedTextures&) = delete;
    MipmappedTextures& operator=(const MipmappedTextures&) = delete;

    // Uploads more of picture `key` into the second texture object, slice after slice, until
    // it is complete or `budget` has been spent. Another key starts over. Returns whether the
    // picture is complete there.
    bool stage(int key, const SlideImage& slide, std::chrono::microseconds budget);
    // Whether picture `key` is complete in the second texture object.
    bool isStaged(int key) const;
    // Makes the complete staged picture `key` the one drawn; the texture drawn so far becomes
    // the second object for the next picture. False, changing nothing, when it is not staged.
    bool useStaged(int key);
    // Uploads the picture at once and makes it the one drawn (for a first picture when nothing
    // is on screen to keep, and the developer tool).
    void uploadNow(int key, const SlideImage& slide);

    // The texture to draw the picture with; 0 before the first picture.
    unsigned current() const { return m_current.name; }
    // The edge of the texture drawn now (0 before any).
    int currentSize() const { return m_current.name != 0 ? m_current.layout.size : 0; }
    int currentKey() const { return m_current.key; }

    // Deletes both texture objects. Also done by the destructor, which must then run with the
    // context current.
    void release();

private:
    struct Texture
    {
        unsigned name = 0;
        TextureLayout layout;
        int key = -1;
        // The next slice to upload: its level and first row. Complete when level is past the
        // last one.
        int level = 0;
        int row = 0;
        bool complete() const { return key >= 0 && level >= layout.levelCount(); }
    };

    // Gives `texture` storage for `layout` (reusing it when it has that shape already) and
    // restarts its upload for `key`.
    void restart(Texture& texture, int key, const TextureLayout& layout);
    // Uploads the next slice of at most about a megabyte.
    void uploadSlice(Texture& texture, const SlideImage& slide);
    void remove(Texture& texture);

    const float m_anisotropy;
    Texture m_current;
    Texture m_staged;
};
