#pragma once

#include "scene/camerapaths.h"
#include "scene/scenegeometry.h"

#include <QImage>

#include <xcb/xcb.h>

#include <array>
#include <cstdint>

// Measures of what the show puts on the screen, shared by the window tests and the quality
// benchmarks: the frames are read back from the X server, as they reach the screen, and judged
// against the scene's own geometry.
namespace ScreenMeasure {

struct Point
{
    double x = 0;
    double y = 0;
};

// Window coordinates (x right, y down from the top edge, pixel centres at +0.5) of a scene point
// seen from `pose` on a width x height frame, as gluPerspective(60, aspect, ...) and gluLookAt
// place it.
Point project(const CameraPose& pose, int width, int height, double x, double y, double z);

// The pixels crossed by the frame's slanted outer edges (the left and right bars') and how many
// of them have an in-between value, 10 % to 90 % of the way from what lies outside the edge to
// the frame's white. Rows where the two sides do not differ enough to tell are left out.
struct EdgeShare
{
    int crossed = 0;
    int between = 0;
    double share() const { return crossed > 0 ? double(between) / crossed : 0.0; }
};
EdgeShare slantedEdges(const QImage& frame,
                       const std::array<ScenePolygon, ScenePolygonCount>& scene,
                       const CameraPose& pose);

// The pixels of `window` as the X server holds them (what is on the screen where the window is
// not covered), or a null image when it cannot read them.
QImage grabWindow(xcb_connection_t* connection, xcb_window_t window);

} // namespace ScreenMeasure
