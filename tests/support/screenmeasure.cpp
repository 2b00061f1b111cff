#include "tests/support/screenmeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>

namespace ScreenMeasure {

namespace {

using Vector = std::array<double, 3>;

Vector normalised(Vector v)
{
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / length, v[1] / length, v[2] / length};
}

Vector cross(Vector a, Vector b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double dot(Vector a, Vector b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

double luminance(QRgb c)
{
    return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c);
}

} // namespace

Point project(const CameraPose& pose, int width, int height, double x, double y, double z)
{
    const Vector forward =
        normalised({pose.centerX - pose.eyeX, pose.centerY - pose.eyeY, pose.centerZ - pose.eyeZ});
    const Vector side = normalised(cross(forward, {0, 1, 0}));
    const Vector up = cross(side, forward);
    const Vector d{x - pose.eyeX, y - pose.eyeY, z - pose.eyeZ};
    const double depth = dot(d, forward);
    const double focal = 1.0 / std::tan(30.0 * std::numbers::pi / 180.0);
    // The aspect ratio is rounded to single precision, as the renderer rounds it.
    const double aspect = double(float(double(width) / double(height)));
    const double xn = dot(d, side) * focal / aspect / depth;
    const double yn = dot(d, up) * focal / depth;
    return {(xn + 1) / 2 * width, (1 - yn) / 2 * height};
}

EdgeShare slantedEdges(const QImage& frame,
                       const std::array<ScenePolygon, ScenePolygonCount>& scene,
                       const CameraPose& pose)
{
    // The frame's bars are 20 units wide around the picture (scene[3]).
    const double hw = std::abs(scene[3].vertices[0].x);
    const double hh = std::abs(scene[3].vertices[0].y);
    EdgeShare result;
    for (const double side : {-1.0, 1.0}) {
        // The outer edge of the left or right bar; the bar lies towards the picture's centre.
        const double ex = side * (hw + 20);
        const Point a = project(pose, frame.width(), frame.height(), ex, -hh - 20, 0);
        const Point b = project(pose, frame.width(), frame.height(), ex, hh + 20, 0);
        const bool inwardRight = side < 0;
        // The corners, where the top and bottom bars meet the edge, are left out.
        const int firstRow = std::max(0, int(std::ceil(std::min(a.y, b.y))) + 3);
        const int lastRow = std::min(frame.height() - 1, int(std::floor(std::max(a.y, b.y))) - 4);
        const auto xAt = [&](double y) { return a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y); };
        for (int row = firstRow; row <= lastRow; ++row) {
            const double xTop = xAt(row);
            const double xBottom = xAt(row + 1);
            const int from = int(std::floor(std::min(xTop, xBottom)));
            const int to = int(std::floor(std::max(xTop, xBottom)));
            const int in = inwardRight ? to + 3 : from - 3;
            const int out = inwardRight ? from - 3 : to + 3;
            if (std::min(in, out) < 0 || std::max(in, out) >= frame.width())
                continue;
            const double lin = luminance(frame.pixel(in, row));
            const double lout = luminance(frame.pixel(out, row));
            if (std::abs(lin - lout) < 60)
                continue;
            for (int x = from; x <= to; ++x) {
                const double t = (luminance(frame.pixel(x, row)) - lout) / (lin - lout);
                ++result.crossed;
                result.between += t > 0.1 && t < 0.9;
            }
        }
    }
    return result;
}

QImage grabWindow(xcb_connection_t* connection, xcb_window_t window)
{
    const auto geometry = std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)>(
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr),
        &std::free);
    if (!geometry || geometry->depth < 24)
        return {};
    const auto reply = std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)>(
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0,
                                          geometry->width, geometry->height, ~0u),
                            nullptr),
        &std::free);
    if (!reply)
        return {};
    // A 24- or 32-bit window comes as 32-bit pixels, blue first on a little-endian server: the
    // layout of QImage's RGB32, row after row without padding.
    const int width = geometry->width;
    const int height = geometry->height;
    const std::size_t rowBytes = std::size_t(width) * 4;
    if (std::size_t(xcb_get_image_data_length(reply.get())) < rowBytes * height)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    const std::uint8_t* data = xcb_get_image_data(reply.get());
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data + rowBytes * y, rowBytes);
    return image;
}

} // namespace ScreenMeasure
