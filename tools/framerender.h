#pragma once

#include "scene/picturequality.h"

#include <string>

// One frame of the slideshow to render: camera path 0..5, camera frame 1..150, image size, and
// the quality mode to draw it in.
struct FrameRequest
{
    int path = 0;
    int frame = 1;
    int width = 0;
    int height = 0;
    PictureQuality quality = PictureQuality::Design;
};

// Renders the frame for the picture offscreen with the slideshow's drawing code and writes it
// to outputPath. Returns the process exit status.
int runFrame(int argc, char** argv, const std::string& picture, const FrameRequest& request,
             const std::string& outputPath);
