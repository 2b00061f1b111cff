#pragma once

#include "scene/slideconstants.h"

#include <array>

// Where the camera stands and what it looks at in one frame, in scene coordinates (the picture
// is centred on the origin in the plane z = 0 and faces +z; y points up).
struct CameraPose
{
    float eyeX = 0;
    float eyeY = 0;
    float eyeZ = 0;
    float centerX = 0;
    float centerY = 0;
    float centerZ = 0;
};

// The six fixed camera flights past a picture, one pose for each of the SlideFrames frames of a
// slide. Every path approaches over frames 1..100 to the eye point (0, 0, 1000), holds there
// looking at the picture over frames 101..130, and passes through the picture plane (at frame
// 140) while leaving over frames 131..150. The tables are computed once, in the constructor.
class CameraPaths
{
public:
    CameraPaths();

    // The pose of frame 1..SlideFrames of path 0..PathCount - 1. Throws std::out_of_range for
    // any other frame or path.
    CameraPose pose(int frame, int path) const;

    // The pose at a fractional table position 1..SlideFrames of a path: eye and centre each
    // interpolated linearly between the two entries around it. A whole position is that entry's
    // pose exactly. Throws std::out_of_range outside 1..SlideFrames or for a bad path.
    CameraPose pose(double position, int path) const;

private:
    using Table = std::array<std::array<float, PathCount>, SlideFrames>;

    // Indexed [frame - 1][path], so the six paths of one frame lie next to each other.
    Table m_eyeX{};
    Table m_eyeY{};
    Table m_eyeZ{};
    Table m_centerX{};
    Table m_centerY{};
    Table m_centerZ{};
};
