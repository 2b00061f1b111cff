#pragma once

// How the slide texture is made and the scene drawn. Design is the show as it always was: a
// 1024 x 1024 texture with linear filtering and no mipmaps. High follows the screen: a texture of
// as many texels as the held picture covers pixels (up to 4096 x 4096), a full chain of mipmap
// levels with trilinear and anisotropic filtering, and 4x multisampled edges.
enum class PictureQuality
{
    Design,
    High,
};
