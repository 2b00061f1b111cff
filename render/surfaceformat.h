#pragma once

#include "render/picturequality.h"

// Makes the slideshow's surface format the default for every OpenGL surface created afterwards:
// double-buffered RGBA with a 32-bit depth request and the colour depth of the screen, in a
// compatibility profile so that fixed-function OpenGL is available. The high quality mode asks
// for 4x multisampling as well. Call it once, before the window exists.
void setSlideshowSurfaceFormat(int screenDepth, PictureQuality quality = PictureQuality::Design);
