#pragma once

#include "scene/camerapaths.h"

// The slide texture's edge for the high quality mode on a surface of width x height logical
// pixels at `devicePixelRatio` device pixels each: the smallest power of two that gives at least
// one texel per screen pixel where the picture is seen closest while the camera holds in front of
// it (camera frames 100..120 of every path), at least 1024 and at most min(4096, maxTextureSize).
// It follows from the scene's projection (a vertical field of view of 60 degrees over the surface's
// height) and the camera poses, not from a list of screens: 1024 on 1920 x 1080, 2048 on 2560 x
// 1440 and 3840 x 2160, 4096 on 5120 x 2880.
int chooseTextureSize(int width, int height, double devicePixelRatio, int maxTextureSize,
                      const CameraPaths& paths);

// Screen pixels per scene unit at the point of the largest picture (1024 x 1024 units) that is
// seen closest over camera frames 100..120, on a surface of the given size.
double heldPixelsPerUnit(int pixelWidth, int pixelHeight, const CameraPaths& paths);

// The texture level bias for the high quality mode's slide texture of edge `textureSize` on a
// surface of pixelWidth x pixelHeight device pixels: minus half the level at which the held
// picture is drawn (log2 of texels per pixel there), or 0 where it is drawn at a texel per pixel
// or magnified. The levels made of 4 x 4 means (see buildMipLevels) are softer than the picture
// would need where the held picture falls between two levels (2560 x 1440: 2048 texels on 1277
// pixels); half a level's bias gives its detail back and keeps fine patterns calm further away.
float heldLevelBias(int textureSize, int pixelWidth, int pixelHeight, const CameraPaths& paths);
