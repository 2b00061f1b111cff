#pragma once

#include <array>

// One vertex of the slide scene as the renderer sends it. A colour is sent only where
// hasColour is true; otherwise the colour last sent stays in force, also across polygons.
struct SceneVertex
{
    bool hasColour = false;
    float r = 0;
    float g = 0;
    float b = 0;
    bool hasTexCoord = false;
    double s = 0;
    double t = 0;
    float x = 0;
    float y = 0;
    float z = 0;
};

// One four-cornered polygon of the scene with its normal. Only the picture is textured with the
// slide texture; every other polygon is drawn with texture object 0.
struct ScenePolygon
{
    bool textured = false;
    float nx = 0;
    float ny = 0;
    float nz = 0;
    std::array<SceneVertex, 4> vertices{};
};

inline constexpr int ScenePolygonCount = 8;

// Builds the eight polygons of one frame, in drawing order: the back and front halves of the
// floor, the frame's shadow, the picture, and the top, bottom, left and right bars of the white
// frame. The picture is imageWidth x imageHeight scene units, each rounded toward zero to an even
// number, centred on the origin in the plane z = 0; the slide texture's picture lies in
// 0..texExtentS by 0..texExtentT. Positions are whole numbers computed in single precision.
std::array<ScenePolygon, ScenePolygonCount> buildScene(int imageWidth, int imageHeight,
                                                       float texExtentS, float texExtentT);
