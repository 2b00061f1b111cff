#pragma once

// Makes the slideshow's surface format the default for every OpenGL surface created afterwards:
// double-buffered RGBA with a 32-bit depth request and the colour depth of the screen, in a
// compatibility profile so that fixed-function OpenGL is available. No samples, in either
// quality: the high quality mode multisamples in a framebuffer object of its own where it
// multisamples at all. Call it once, before the window exists.
void setSlideshowSurfaceFormat(int screenDepth);
