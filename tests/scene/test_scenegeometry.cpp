#include "scene/scenegeometry.h"
#include "scene/slideimage.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

struct Point
{
    float x, y, z;
    bool operator==(const Point&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Point& p)
{
    return os << "(" << p.x << ", " << p.y << ", " << p.z << ")";
}

std::vector<Point> positions(const ScenePolygon& polygon)
{
    std::vector<Point> points;
    for (const SceneVertex& v : polygon.vertices)
        points.push_back({v.x, v.y, v.z});
    return points;
}

enum Polygon
{
    FloorBack,
    FloorFront,
    Shadow,
    Picture,
    TopBar,
    BottomBar,
    LeftBar,
    RightBar
};

struct Colour
{
    float r, g, b;
    bool operator==(const Colour&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Colour& c)
{
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

// The colour each vertex is drawn with when colours carry over from the vertices sent before,
// starting from OpenGL's initial white.
std::vector<Colour> effectiveColours(const std::array<ScenePolygon, ScenePolygonCount>& scene)
{
    Colour current{1, 1, 1};
    std::vector<Colour> colours;
    for (const ScenePolygon& polygon : scene) {
        for (const SceneVertex& v : polygon.vertices) {
            if (v.hasColour)
                current = {v.r, v.g, v.b};
            colours.push_back(current);
        }
    }
    return colours;
}

} // namespace

TEST(BuildScene, LandscapePictureFrameAndShadow)
{
    const auto scene = buildScene(1024, 768, 1.0f, 0.74f);
    EXPECT_EQ(positions(scene[Picture]),
              (std::vector<Point>{{-512, 384, 0}, {-512, -384, 0}, {512, -384, 0}, {512, 384, 0}}));
    EXPECT_EQ(positions(scene[TopBar]),
              (std::vector<Point>{{-512, 384, 0}, {512, 384, 0}, {512, 404, 0}, {-512, 404, 0}}));
    EXPECT_EQ(
        positions(scene[BottomBar]),
        (std::vector<Point>{{-512, -384, 0}, {-512, -404, 0}, {512, -404, 0}, {512, -384, 0}}));
    EXPECT_EQ(
        positions(scene[LeftBar]),
        (std::vector<Point>{{-512, 404, 0}, {-532, 404, 0}, {-532, -404, 0}, {-512, -404, 0}}));
    EXPECT_EQ(positions(scene[RightBar]),
              (std::vector<Point>{{512, 404, 0}, {512, -404, 0}, {532, -404, 0}, {532, 404, 0}}));
    EXPECT_EQ(
        positions(scene[Shadow]),
        (std::vector<Point>{
            {-728, -590, -196}, {336, -590, -196}, {-472, -590, -1004}, {-1536, -590, -1004}}));
}

TEST(BuildScene, PortraitPictureShadow)
{
    const auto scene = buildScene(768, 1024, 0.74f, 1.0f);
    EXPECT_EQ(scene[BottomBar].vertices[1].y, -532);
    EXPECT_EQ(positions(scene[Shadow]),
              (std::vector<Point>{
                  {-472, -590, -68}, {336, -590, -68}, {-728, -590, -1132}, {-1536, -590, -1132}}));
}

TEST(BuildScene, OddAndZeroSizesRoundTowardZero)
{
    const auto odd = buildScene(683, 511, 0.5f, 0.25f);
    EXPECT_EQ(positions(odd[Picture]),
              (std::vector<Point>{{-341, 255, 0}, {-341, -255, 0}, {341, -255, 0}, {341, 255, 0}}));
    // The texture still spans the whole extent.
    EXPECT_EQ(odd[Picture].vertices[2].s, 0.5);
    EXPECT_EQ(odd[Picture].vertices[0].t, 0.25);

    // A picture of no height: the two bars meet at y = 0 and form one band 40 units high.
    const auto flat = buildScene(600, 0, 1.0f, 0.0f);
    for (const SceneVertex& v : flat[Picture].vertices)
        EXPECT_EQ(v.y, 0);
    EXPECT_EQ(flat[TopBar].vertices[0].y, 0);
    EXPECT_EQ(flat[TopBar].vertices[2].y, 20);
    EXPECT_EQ(flat[BottomBar].vertices[1].y, -20);
    EXPECT_EQ(flat[LeftBar].vertices[1].x, -320);
    EXPECT_EQ(flat[RightBar].vertices[2].x, 320);

    // A picture less than a texel across is placed with an extent just below zero (1 x 5000
    // pixels: 0 x 1024 texels, -0.01): no texture coordinate handed on is negative.
    const SlidePlacement thin = placeSlide(1, 5000);
    EXPECT_EQ(thin.imageWidth, 0);
    for (const ScenePolygon& polygon : buildScene(thin.imageWidth, thin.imageHeight,
                                                  thin.texExtentS, thin.texExtentT)) {
        for (const SceneVertex& v : polygon.vertices)
            EXPECT_TRUE(v.s >= 0 && v.t >= 0) << v.s << " " << v.t;
    }
}

TEST(BuildScene, ColoursCarryOverAsTheRendererSendsThem)
{
    const auto scene = buildScene(1024, 768, 1.0f, 0.74f);
    const Colour deep{0.1f, 0.1f, 1.0f};
    const Colour light{0.9f, 0.9f, 1.0f};
    const Colour near{0.1f, 0.1f, 0.3f};
    const Colour far{0.4f, 0.4f, 0.6f};
    const Colour white{1.0f, 1.0f, 1.0f};
    std::vector<Colour> expected{deep, light, light, deep, light, deep, deep, light,
                                 near, near,  far,   far,  far,   far,  far,  far};
    expected.insert(expected.end(), 16, white);
    EXPECT_EQ(effectiveColours(scene), expected);

    // The picture and the bars after the first white vertex send no colour of their own.
    for (Polygon p : {Picture, BottomBar, LeftBar, RightBar})
        for (const SceneVertex& v : scene[p].vertices)
            EXPECT_FALSE(v.hasColour) << p;
    EXPECT_TRUE(scene[TopBar].vertices[0].hasColour);
    EXPECT_FALSE(scene[FloorBack].vertices[2].hasColour);
    EXPECT_FALSE(scene[FloorFront].vertices[2].hasColour);
}

TEST(BuildScene, OnlyThePictureIsTexturedButAllButTheFloorSendTexCoords)
{
    const auto scene = buildScene(1024, 768, 0.99f, 0.74f);
    for (int p = 0; p < ScenePolygonCount; ++p) {
        EXPECT_EQ(scene[p].textured, p == Picture) << p;
        for (const SceneVertex& v : scene[p].vertices)
            EXPECT_EQ(v.hasTexCoord, p >= Shadow) << p;
    }
    for (int p = Shadow; p < ScenePolygonCount; ++p) {
        const auto& v = scene[p].vertices;
        // The extents arrive widened from single precision, not as the nearest doubles.
        EXPECT_EQ(v[0].s, 0.0);
        EXPECT_EQ(v[0].t, static_cast<double>(0.74f));
        EXPECT_EQ(v[1].s, 0.0);
        EXPECT_EQ(v[1].t, 0.0);
        EXPECT_EQ(v[2].s, static_cast<double>(0.99f));
        EXPECT_EQ(v[2].t, 0.0);
        EXPECT_EQ(v[3].s, static_cast<double>(0.99f));
        EXPECT_EQ(v[3].t, static_cast<double>(0.74f));
    }
}
