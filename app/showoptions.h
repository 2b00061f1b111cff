#pragma once

#include "render/slideconstants.h"

// The [SHOW] settings: Lumivane's own additions to the settings file, each with a command-line
// twin that wins over the file.
struct ShowOptions
{
    // MOTION: how the camera moves.
    SlideMotion motion = SlideMotion::Frames;
    // SECONDS: the time each picture is shown, 1..3600.
    double seconds = 4.5;
};
