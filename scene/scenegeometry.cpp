#include "scene/scenegeometry.h"

#include <algorithm>

namespace {

// Height of the floor plane and the shadow's lift above it, so the depth test lets the shadow
// cover the floor.
constexpr float FloorY = -600.0f;
constexpr float ShadowY = -590.0f;
constexpr float FloorHalfSize = 2000.0f;
constexpr float FrameWidth = 20.0f;

struct Colour
{
    float r;
    float g;
    float b;
};

constexpr Colour FloorDeep{0.1f, 0.1f, 1.0f};
constexpr Colour FloorLight{0.9f, 0.9f, 1.0f};
constexpr Colour ShadowNear{0.1f, 0.1f, 0.3f};
constexpr Colour ShadowFar{0.4f, 0.4f, 0.6f};
constexpr Colour White{1.0f, 1.0f, 1.0f};

SceneVertex vertex(float x, float y, float z)
{
    SceneVertex v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

SceneVertex coloured(SceneVertex v, Colour c)
{
    v.hasColour = true;
    v.r = c.r;
    v.g = c.g;
    v.b = c.b;
    return v;
}

ScenePolygon polygon(float nx, float ny, float nz, std::array<SceneVertex, 4> vertices)
{
    ScenePolygon p;
    p.nx = nx;
    p.ny = ny;
    p.nz = nz;
    p.vertices = vertices;
    return p;
}

// Gives the four vertices the texture coordinates every polygon but the floor sends, in vertex
// order: top left, bottom left, bottom right, top right of the texture's picture.
ScenePolygon withTexCoords(ScenePolygon p, double extentS, double extentT)
{
    const std::array<std::array<double, 2>, 4> coords{
        {{0.0, extentT}, {0.0, 0.0}, {extentS, 0.0}, {extentS, extentT}}};
    for (std::size_t i = 0; i < p.vertices.size(); ++i) {
        p.vertices[i].hasTexCoord = true;
        p.vertices[i].s = coords[i][0];
        p.vertices[i].t = coords[i][1];
    }
    return p;
}

// Casts a corner of the frame's outline onto the floor behind the picture and to its left: a
// corner d units above the floor lands d units further left and d units behind the picture
// plane.
SceneVertex shadowOf(float cornerX, float cornerY)
{
    const float d = cornerY - FloorY;
    return vertex(cornerX - d, ShadowY, -d);
}

} // namespace

std::array<ScenePolygon, ScenePolygonCount> buildScene(int imageWidth, int imageHeight,
                                                       float texExtentS, float texExtentT)
{
    // Halving truncates toward zero, so the picture is symmetric about the origin and one unit
    // smaller than the image when its size is odd. Negating the halves rather than halving the
    // negated sizes gives the same values and cannot overflow.
    const float right = static_cast<float>(imageWidth / 2);
    const float left = static_cast<float>(-(imageWidth / 2));
    const float top = static_cast<float>(imageHeight / 2);
    const float bottom = static_cast<float>(-(imageHeight / 2));

    const float outerLeft = left - FrameWidth;
    const float outerRight = right + FrameWidth;
    const float outerTop = top + FrameWidth;
    const float outerBottom = bottom - FrameWidth;

    const float h = FloorHalfSize;
    // A picture less than a texel across (1 x 5000 pixels) is placed with an extent just below
    // zero; no texture coordinate is negative, so it shows its one column, not the texture's far
    // edge.
    const double es = std::max(0.0f, texExtentS);
    const double et = std::max(0.0f, texExtentT);

    // Colours carry from vertex to vertex and polygon to polygon: a vertex without a colour of
    // its own takes the last one sent.
    const ScenePolygon floorBack = polygon(
        0, 1, 0,
        {coloured(vertex(-h, FloorY, -h), FloorDeep), coloured(vertex(-h, FloorY, 0), FloorLight),
         vertex(h, FloorY, 0), coloured(vertex(h, FloorY, -h), FloorDeep)});
    const ScenePolygon floorFront = polygon(
        0, 1, 0,
        {coloured(vertex(-h, FloorY, 0), FloorLight), coloured(vertex(-h, FloorY, h), FloorDeep),
         vertex(h, FloorY, h), coloured(vertex(h, FloorY, 0), FloorLight)});
    const ScenePolygon shadow =
        withTexCoords(polygon(0, 1, 0,
                              {coloured(shadowOf(outerLeft, outerBottom), ShadowNear),
                               shadowOf(outerRight, outerBottom),
                               coloured(shadowOf(outerRight, outerTop), ShadowFar),
                               shadowOf(outerLeft, outerTop)}),
                      es, et);
    // The picture sends no colour; the texture replaces the colour in force.
    ScenePolygon picture = withTexCoords(polygon(0, 0, 1,
                                                 {vertex(left, top, 0), vertex(left, bottom, 0),
                                                  vertex(right, bottom, 0), vertex(right, top, 0)}),
                                         es, et);
    picture.textured = true;
    const ScenePolygon topBar =
        withTexCoords(polygon(0, 0, 1,
                              {coloured(vertex(left, top, 0), White), vertex(right, top, 0),
                               vertex(right, outerTop, 0), vertex(left, outerTop, 0)}),
                      es, et);
    const ScenePolygon bottomBar =
        withTexCoords(polygon(0, 0, 1,
                              {vertex(left, bottom, 0), vertex(left, outerBottom, 0),
                               vertex(right, outerBottom, 0), vertex(right, bottom, 0)}),
                      es, et);
    const ScenePolygon leftBar =
        withTexCoords(polygon(0, 0, 1,
                              {vertex(left, outerTop, 0), vertex(outerLeft, outerTop, 0),
                               vertex(outerLeft, outerBottom, 0), vertex(left, outerBottom, 0)}),
                      es, et);
    const ScenePolygon rightBar = withTexCoords(
        polygon(0, 0, 1,
                {vertex(right, outerTop, 0), vertex(right, outerBottom, 0),
                 vertex(outerRight, outerBottom, 0), vertex(outerRight, outerTop, 0)}),
        es, et);

    return {floorBack, floorFront, shadow, picture, topBar, bottomBar, leftBar, rightBar};
}
