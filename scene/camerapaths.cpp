#include "scene/camerapaths.h"

#include <algorithm>
#include <stdexcept>

namespace {

// The pose of frame i of one path, in whole numbers. Every value is exactly representable as a
// float, so storing them as floats loses nothing.
struct IntPose
{
    int eyeX = 0;
    int eyeY = 0;
    int eyeZ = 0;
    int centerX = 0;
    int centerY = 0;
    int centerZ = 0;
};

// Frames 101..130: every path holds at the eye point (0, 0, 1000).
constexpr int HoldStart = 101;
// Frames 131..150: the eye moves 100 units per frame through the picture plane.
constexpr int ExitStart = 131;

int exitEyeZ(int i)
{
    return 1000 - 100 * (i - 130);
}

// Path 0: descent from above the front, the view tilting down onto the picture.
IntPose path0(int i)
{
    if (i < HoldStart)
        return {0, 3000 - 30 * i, 2000 - 10 * i, 0, i <= 40 ? 2400 - 60 * i : 0, 0};
    if (i < ExitStart)
        return {0, 0, 1000, 0, 0, 0};
    return {0, 0, exitEyeZ(i), 0, 0, -3000};
}

// Path 1: approach from the left and far in front, turning to face the picture. The eye stops
// at the centre line at frame 75 (the clamp of the x formula). Path 2 is its mirror image, so
// side is -1 for path 1 and +1 for path 2.
IntPose path1Or2(int i, int side)
{
    if (i >= ExitStart)
        return {0, 0, exitEyeZ(i), 0, 0, -3000};
    if (i >= HoldStart)
        return {0, 0, 1000, 0, 0, 0};
    const int eyeX = side < 0 ? std::min(40 * i - 3000, 0) : std::max(3000 - 40 * i, 0);
    const int height = 300 - 3 * i;
    int centerX = 0;
    int centerZ = 0;
    if (i <= 40) {
        centerX = -side * 3000;
        centerZ = 8000 - 200 * i;
    } else if (i <= 80) {
        centerX = -side * (3000 - 75 * (i - 40));
    }
    return {eyeX, height, 5000 - 40 * i, centerX, height, centerZ};
}

// Path 3: glide in from the left, looking deep behind the picture, and leave to the left. Path 4
// is its mirror image; side is -1 for path 3 and +1 for path 4.
IntPose path3Or4(int i, int side)
{
    if (i >= ExitStart) {
        const int x = side * 60 * (i - 130);
        return {x, 0, exitEyeZ(i), x, 0, -3000};
    }
    if (i >= HoldStart)
        return {0, 0, 1000, 0, 0, -3000};
    const int eyeX = side * (4000 - 40 * i);
    const int centerX = side < 0 ? std::min(80 * i - 6000, 0) : std::max(6000 - 80 * i, 0);
    const int height = 1000 - 10 * i;
    const int eyeZ = i <= 60 ? 2000 : 2000 - 25 * (i - 60);
    return {eyeX, height, eyeZ, centerX, height, -3000};
}

// Path 5: drop from above, bounce once, and leave upward.
IntPose path5(int i)
{
    if (i >= ExitStart) {
        const int y = 100 * (i - 130);
        return {0, y, exitEyeZ(i), 0, y, -3000};
    }
    if (i >= HoldStart)
        return {0, 0, 1000, 0, 0, -3000};
    const int eyeZ = 4000 - 30 * i;
    if (i <= 30)
        return {0, 3000 - 100 * i, eyeZ, 0, 6000 - 200 * i, -3000};
    int height = 0;
    if (i <= 50)
        height = 50 * (i - 30);
    else if (i <= 70)
        height = 1000 - 50 * (i - 50);
    return {0, height, eyeZ, 0, height, -3000};
}

IntPose pathPose(int i, int path)
{
    switch (path) {
    case 0:
        return path0(i);
    case 1:
        return path1Or2(i, -1);
    case 2:
        return path1Or2(i, +1);
    case 3:
        return path3Or4(i, -1);
    case 4:
        return path3Or4(i, +1);
    default:
        return path5(i);
    }
}

} // namespace

CameraPaths::CameraPaths()
{
    for (int frame = 1; frame <= SlideFrames; ++frame) {
        for (int path = 0; path < PathCount; ++path) {
            const IntPose p = pathPose(frame, path);
            m_eyeX[frame - 1][path] = static_cast<float>(p.eyeX);
            m_eyeY[frame - 1][path] = static_cast<float>(p.eyeY);
            m_eyeZ[frame - 1][path] = static_cast<float>(p.eyeZ);
            m_centerX[frame - 1][path] = static_cast<float>(p.centerX);
            m_centerY[frame - 1][path] = static_cast<float>(p.centerY);
            m_centerZ[frame - 1][path] = static_cast<float>(p.centerZ);
        }
    }
}

CameraPose CameraPaths::pose(int frame, int path) const
{
    // A bad index is a programming error; it is refused rather than read out of bounds.
    if (frame < 1 || frame > SlideFrames || path < 0 || path >= PathCount)
        throw std::out_of_range("camera frame or path out of range");
    const auto f = static_cast<std::size_t>(frame - 1);
    const auto p = static_cast<std::size_t>(path);
    return {m_eyeX[f][p],    m_eyeY[f][p],    m_eyeZ[f][p],
            m_centerX[f][p], m_centerY[f][p], m_centerZ[f][p]};
}

CameraPose CameraPaths::pose(double position, int path) const
{
    if (!(position >= 1 && position <= SlideFrames))
        throw std::out_of_range("camera position out of range");
    const int below = int(position);
    const auto t = static_cast<float>(position - below);
    const CameraPose a = pose(below, path);
    if (t == 0)
        return a;
    const CameraPose b = pose(below + 1, path);
    const auto mix = [t](float from, float to) { return from + (to - from) * t; };
    return {mix(a.eyeX, b.eyeX),       mix(a.eyeY, b.eyeY),       mix(a.eyeZ, b.eyeZ),
            mix(a.centerX, b.centerX), mix(a.centerY, b.centerY), mix(a.centerZ, b.centerZ)};
}
