#include "scene/texturesize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {

// The frames over which the camera arrives at and holds in front of the picture.
constexpr int FirstHeldFrame = 100;
constexpr int LastHeldFrame = 120;
// The texture size of QUALITY=DESIGN, and the most the high quality mode asks for.
constexpr int SmallestSize = 1024;
constexpr int LargestSize = 4096;
// Half the vertical field of view of the scene's projection.
constexpr double HalfFieldOfView = 30.0 * std::numbers::pi / 180.0;

struct Vector
{
    double x = 0;
    double y = 0;
    double z = 0;
};

Vector minus(Vector a, Vector b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double dot(Vector a, Vector b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vector cross(Vector a, Vector b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vector normalised(Vector v)
{
    const double length = std::sqrt(dot(v, v));
    return length > 0 ? Vector{v.x / length, v.y / length, v.z / length} : v;
}

} // namespace

double heldPixelsPerUnit(int pixelWidth, int pixelHeight, const CameraPaths& paths)
{
    if (pixelWidth <= 0 || pixelHeight <= 0)
        return 0;
    // A point at depth d along the view direction is drawn at focal / d pixels per unit.
    const double focal = pixelHeight / 2.0 / std::tan(HalfFieldOfView);
    const double aspect = double(pixelWidth) / double(pixelHeight);
    double most = 0;
    for (int path = 0; path < PathCount; ++path) {
        for (int frame = FirstHeldFrame; frame <= LastHeldFrame; ++frame) {
            const CameraPose pose = paths.pose(frame, path);
            const Vector eye{pose.eyeX, pose.eyeY, pose.eyeZ};
            const Vector forward =
                normalised(minus(Vector{pose.centerX, pose.centerY, pose.centerZ}, eye));
            const Vector right = normalised(cross(forward, Vector{0, 1, 0}));
            const Vector up = cross(right, forward);
            // Points across the largest picture; those inside the view count.
            for (int i = -4; i <= 4; ++i) {
                for (int j = -4; j <= 4; ++j) {
                    const Vector offset = minus(Vector{i * 128.0, j * 128.0, 0}, eye);
                    const double depth = dot(offset, forward);
                    if (depth <= 0)
                        continue;
                    const double across = std::abs(dot(offset, right)) / depth;
                    const double upward = std::abs(dot(offset, up)) / depth;
                    const double limit = std::tan(HalfFieldOfView);
                    if (across > limit * aspect || upward > limit)
                        continue;
                    most = std::max(most, focal / depth);
                }
            }
        }
    }
    return most;
}

int chooseTextureSize(int width, int height, double devicePixelRatio, int maxTextureSize,
                      const CameraPaths& paths)
{
    const int pixelWidth = int(width * devicePixelRatio);
    const int pixelHeight = int(height * devicePixelRatio);
    const int largest = std::max(SmallestSize, std::min(LargestSize, maxTextureSize));
    // One texel per pixel: the picture spans 1024 units, so an edge of T gives T / 1024 texels
    // per unit. A hair of tolerance keeps an exact fit from rounding up to the next size.
    const double needed =
        SmallestSize * heldPixelsPerUnit(pixelWidth, pixelHeight, paths) * (1.0 - 1e-9);
    int size = SmallestSize;
    while (size < needed && size < largest)
        size *= 2;
    return size;
}

float heldLevelBias(int textureSize, int pixelWidth, int pixelHeight, const CameraPaths& paths)
{
    const double pixels = SmallestSize * heldPixelsPerUnit(pixelWidth, pixelHeight, paths);
    if (pixels <= 0 || textureSize <= pixels)
        return 0.0f;
    return float(-0.5 * std::log2(double(textureSize) / pixels));
}
