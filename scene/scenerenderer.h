#pragma once

#include "scene/camerapaths.h"
#include "scene/scenegeometry.h"

#include <array>
#include <cstdint>

// The slideshow's fixed-function OpenGL drawing. Every function expects the slideshow's context
// to be current on the calling thread. The window's surface and the developer tool's offscreen
// renderer both draw through here, so what the tool writes is what the window shows.
namespace SceneRenderer {

using Scene = std::array<ScenePolygon, 8>;

// The state that never changes during a run: blue clear colour, depth test, 2D texturing with
// the decal environment, polygon smoothing.
void applyFixedState();

// Uploads a 1024 x 1024 RGB image (bottom row first) as a new texture object, deleting the
// previous one first when one was created. Returns the new texture name, left bound.
unsigned uploadSlideTexture(unsigned previousName, bool previousCreated,
                            const std::uint8_t* pixels);

void deleteSlideTexture(unsigned name);

// Makes a slide texture object of 1024 x 1024 RGB texels, as uploadSlideTexture() does, without
// filling it; uploadSlideRows() fills it in slices. Leaves texture object 0 bound.
unsigned createSlideTexture();

// Uploads `rows` rows of a 1024 x 1024 RGB image (bottom row first), from row `firstRow` on,
// into the texture `name`. Leaves texture object 0 bound.
void uploadSlideRows(unsigned name, const std::uint8_t* pixels, int firstRow, int rows);

// Draws one frame: viewport and perspective from the surface size, the camera, the clear, and
// the eight polygons of the scene with the slide texture bound for the picture only. Ends with
// glFlush; presenting the frame is the caller's job.
void drawFrame(int width, int height, const CameraPose& camera, const Scene& scene,
               unsigned textureName);

// The high quality mode's cheap edge smoothing, after drawFrame() with the same scene and
// texture: every polygon's outline again as a smoothed line, blended over the frame. Leaves the
// fixed state as it found it.
void drawOutlines(const Scene& scene, unsigned textureName);

} // namespace SceneRenderer
