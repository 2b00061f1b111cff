#pragma once

#include <string>

// The texts the slideshow's drawing shows on the terminal, in one place.
namespace SlideTexts {

// QUALITY=HIGH on a display that offers no multisampling, neither in the window's visual nor
// through a framebuffer object.
inline std::string noAntialiasing()
{
    return "this display offers no multisampling; QUALITY=HIGH runs without antialiasing";
}

} // namespace SlideTexts
