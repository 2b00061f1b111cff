#include "render/slidesurface.h"

#include <QExposeEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLPaintDevice>
#include <QPainter>

#include <GL/gl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace {

const QColor kBlue(0, 0, 255);

SlideSurface::Failure simulatedFailure = SlideSurface::Failure::None;

// Text drawn straight onto the surface: the window's font, white, on an opaque blue background.
void drawOpaqueText(QPainter& painter, const QString& text)
{
    const QFontMetrics metrics(painter.font());
    painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(text), metrics.height()), kBlue);
    painter.setPen(Qt::white);
    painter.drawText(QPoint(0, metrics.ascent()), text);
}

} // namespace

SlideSurface::SlideSurface()
{
    setObjectName(QStringLiteral("SlideSurface"));
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(QSurfaceFormat::defaultFormat());
    // Presses and keys belong to the window and its controls, not to the drawing surface.
    setFlag(Qt::WindowTransparentForInput, true);
    setFlag(Qt::WindowDoesNotAcceptFocus, true);
}

SlideSurface::~SlideSurface()
{
    releaseSurface();
}

SlideSurface::Failure SlideSurface::createContext()
{
    // The native window must exist before a context can be made current on it.
    create();
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(requestedFormat());
    if (simulatedFailure == Failure::CreateContext || !m_context->create())
        return Failure::CreateContext;
    if (simulatedFailure == Failure::MakeCurrent || !m_context->makeCurrent(this))
        return Failure::MakeCurrent;
    m_ready = true;
    SceneRenderer::applyFixedState();
    return Failure::None;
}

void SlideSurface::simulateFailureForTesting(Failure failure)
{
    simulatedFailure = failure;
}

bool SlideSurface::makeCurrent()
{
    return m_ready && m_context->makeCurrent(this);
}

void SlideSurface::render()
{
    const qreal ratio = devicePixelRatio();
    if (m_camera)
        SceneRenderer::drawFrame(int(width() * ratio), int(height() * ratio), *m_camera, m_scene,
                                 m_textureName);
    else
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    paintOverlays();
}

void SlideSurface::paintOverlays()
{
    if (m_statusLine.isEmpty() && !m_pauseMarker)
        return;
    // The scene's state must not reach the 2D text: no depth test against the frame, no
    // polygon smoothing of the glyphs' quads.
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_POLYGON_SMOOTH);
    glDisable(GL_TEXTURE_2D);
    // The texture upload packs its rows tightly; the painter's glyph images have aligned rows.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    {
        QOpenGLPaintDevice device(size() * devicePixelRatio());
        device.setDevicePixelRatio(devicePixelRatio());
        QPainter painter(&device);
        QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
        font.setPixelSize(11);
        painter.setFont(font);
        if (m_pauseMarker) {
            // The bar covers x 0..398 and y 0..18: the rectangle (0, 0)-(400, 20) filled
            // without an outline.
            painter.fillRect(QRect(0, 0, 399, 19), kBlue);
            drawOpaqueText(painter, QStringLiteral("Pause"));
        }
        if (!m_statusLine.isEmpty())
            drawOpaqueText(painter, m_statusLine);
    }
    // QPainter's OpenGL engine switches depth testing and texturing off when it ends; put the
    // slideshow's fixed state back for the next frame.
    SceneRenderer::applyFixedState();
}

void SlideSurface::present()
{
    // Drawn and swapped now, not at the next turn of the event loop: the frame is on screen
    // when this returns. An unexposed surface has nothing to show.
    if (!isExposed() || !makeCurrent())
        return;
    render();
    m_context->swapBuffers(this);
}

void SlideSurface::exposeEvent(QExposeEvent*)
{
    present();
    emit exposeChanged();
}

bool SlideSurface::event(QEvent* event)
{
    if (event->type() == QEvent::UpdateRequest)
        emit frameRequested();
    return QWindow::event(event);
}

bool SlideSurface::swapWaitsForRefresh(double refreshRate)
{
    if (m_swapWaits)
        return *m_swapWaits;
    if (!isExposed() || !makeCurrent())
        return false;
    // Frames swapped back to back come one refresh apart when the swap waits, and as fast as
    // they are drawn when it does not. The first swaps may go through at once while the
    // driver's queue fills, so only the last ones count, and the shortest of them decides: a
    // busy machine can make a swap late, but not early.
    constexpr int Swaps = 7;
    constexpr int Counted = 4;
    std::array<std::chrono::steady_clock::time_point, Swaps> done{};
    for (auto& at : done) {
        render();
        m_context->swapBuffers(this);
        glFinish();
        at = std::chrono::steady_clock::now();
    }
    std::chrono::duration<double> shortest = done[Swaps - 1] - done[Swaps - 2];
    for (int i = Swaps - Counted; i < Swaps; ++i)
        shortest = std::min<std::chrono::duration<double>>(shortest, done[i] - done[i - 1]);
    m_swapWaits = shortest.count() >= 0.75 / refreshRate;
    return *m_swapWaits;
}

void SlideSurface::presentFrame(const CameraPose& camera, const SceneRenderer::Scene& scene)
{
    m_camera = camera;
    m_scene = scene;
    m_statusLine.clear();
    m_pauseMarker = false;
    present();
}

void SlideSurface::showStatusLine(const QString& text)
{
    m_statusLine = text;
    present();
}

void SlideSurface::showPauseMarker()
{
    m_pauseMarker = true;
    present();
}

void SlideSurface::uploadTexture(const std::uint8_t* pixels)
{
    if (!makeCurrent())
        return;
    m_textureName = SceneRenderer::uploadSlideTexture(m_textureName, m_textureCreated, pixels);
    m_textureCreated = true;
}

bool SlideSurface::stageTexture(int key, const std::uint8_t* pixels, int rows)
{
    constexpr int TextureRows = 1024;
    if (!makeCurrent())
        return false;
    if (key != m_stagedKey) {
        m_stagedKey = key;
        m_stagedRows = 0;
    }
    if (m_stagedName == 0)
        m_stagedName = SceneRenderer::createSlideTexture();
    rows = std::min(rows, TextureRows - m_stagedRows);
    if (rows > 0)
        SceneRenderer::uploadSlideRows(m_stagedName, pixels, m_stagedRows, rows);
    m_stagedRows += rows;
    return m_stagedRows == TextureRows;
}

bool SlideSurface::useStagedTexture(int key)
{
    if (key != m_stagedKey || m_stagedRows != 1024 || !makeCurrent())
        return false;
    if (m_textureCreated)
        SceneRenderer::deleteSlideTexture(m_textureName);
    m_textureName = std::exchange(m_stagedName, 0);
    m_textureCreated = true;
    m_stagedKey = -1;
    m_stagedRows = 0;
    return true;
}

void SlideSurface::releaseSurface()
{
    if (m_context && m_ready) {
        // The textures go while their context is current, before the context itself.
        if (m_context->makeCurrent(this)) {
            if (m_textureCreated)
                SceneRenderer::deleteSlideTexture(m_textureName);
            if (m_stagedName != 0)
                SceneRenderer::deleteSlideTexture(m_stagedName);
        }
        m_context->doneCurrent();
    }
    m_stagedName = 0;
    m_stagedKey = -1;
    m_textureCreated = false;
    m_ready = false;
    m_context.reset();
}

QImage SlideSurface::grabFrame()
{
    if (!makeCurrent())
        return {};
    render();
    const int w = int(width() * devicePixelRatio());
    const int h = int(height() * devicePixelRatio());
    QImage image(w, h, QImage::Format_RGBA8888);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored().convertToFormat(QImage::Format_RGB32);
}
