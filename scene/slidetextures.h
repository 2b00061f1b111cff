#pragma once

#include <chrono>
#include <cstdint>

class SlideImage;

// Where the show's slide textures go: the surface that draws the scene. The show hands each
// picture over through this interface, so that what is shown when is decided without a context;
// tests stand in a recorder for the surface.
class SlideTextures
{
public:
    virtual ~SlideTextures() = default;

    // Replaces the slide texture with a 1024 x 1024 RGB image, bottom row first.
    virtual void uploadTexture(const std::uint8_t* pixels) = 0;
    // The upload ahead: the texture of picture `key` goes up into a second texture object,
    // `rows` rows per call, while the slide texture is still drawn. A new key starts over.
    // Returns whether the staged texture is complete.
    virtual bool stageTexture(int key, const std::uint8_t* pixels, int rows) = 0;
    // Makes the complete staged texture of picture `key` the slide texture. Returns false,
    // changing nothing, when there is none.
    virtual bool useStagedTexture(int key) = 0;

    // High quality only. Uploads more of picture `key` within `budget`; true once it is all up.
    virtual bool stageHighTexture(int key, const SlideImage& slide,
                                  std::chrono::microseconds budget) = 0;
    // Makes the staged picture `key` the slide texture if it is all up, otherwise uploads it at
    // once.
    virtual void showHighTexture(int key, const SlideImage& slide) = 0;
    // The largest texture edge the driver takes (0 without a context).
    virtual int maxTextureSize() const = 0;
};
