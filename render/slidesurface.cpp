#include "render/slidesurface.h"

#include "render/mipmappedtextures.h"
#include "render/multisampletarget.h"
#include "render/rendererquery.h"
#include "render/slideimage.h"

#include <QExposeEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLPaintDevice>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

const QColor kBlue(0, 0, 255);

// Qt's Wayland platform plugins are "wayland", "wayland-egl", "wayland-brcm"...
bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

SlideSurface::Failure simulatedFailure = SlideSurface::Failure::None;
std::optional<EdgeSmoothing> forcedEdgeSmoothing;

// Text drawn straight onto the surface: the window's font, white, on an opaque blue background.
void drawOpaqueText(QPainter& painter, const QString& text)
{
    const QFontMetrics metrics(painter.font());
    painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(text), metrics.height()), kBlue);
    painter.setPen(Qt::white);
    painter.drawText(QPoint(0, metrics.ascent()), text);
}

} // namespace

// Shows the frames the surface draws off screen. It lies in the window like any other widget,
// beneath the window's controls, and owns the surface.
class SlideFrameView : public QWidget
{
public:
    SlideFrameView(SlideSurface& surface, QWidget* parent) : QWidget(parent), m_surface(surface)
    {
        // The frame covers every pixel: there is no background to fill first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        m_surface.paintView(painter, event->rect());
    }

private:
    SlideSurface& m_surface;
};

SlideSurface::SlideSurface(PictureQuality quality) : m_quality(quality), m_offScreen(onWayland())
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

QWidget* SlideSurface::embedIn(QWidget* parent)
{
    if (!m_offScreen)
        return QWidget::createWindowContainer(this, parent);
    auto* view = new SlideFrameView(*this, parent);
    // The view owns the surface, as a window container owns its window.
    QObject::setParent(view);
    m_view = view;
    return view;
}

SlideSurface::Failure SlideSurface::createContext()
{
    if (m_offScreen) {
        m_offscreenSurface = std::make_unique<QOffscreenSurface>();
        m_offscreenSurface->setFormat(requestedFormat());
        m_offscreenSurface->create();
    } else {
        // The native window must exist before a context can be made current on it.
        create();
    }
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(requestedFormat());
    if (simulatedFailure == Failure::CreateContext || !m_context->create())
        return Failure::CreateContext;
    QSurface* target = m_offScreen ? static_cast<QSurface*>(m_offscreenSurface.get()) : this;
    if (simulatedFailure == Failure::MakeCurrent || !m_context->makeCurrent(target))
        return Failure::MakeCurrent;
    m_ready = true;
    if (m_quality == PictureQuality::High)
        setUpHighQuality();
    applyFixedState();
    return Failure::None;
}

void SlideSurface::applyFixedState()
{
    SceneRenderer::applyFixedState();
    // Multisampling or the outlines take the place of polygon smoothing, which shows nothing
    // without blending (and OpenGL ignores while it multisamples) but which Mesa's software
    // rasteriser still pays for (a fifth of the frame).
    if (m_edgeSmoothing != EdgeSmoothing::None)
        glDisable(GL_POLYGON_SMOOTH);
}

void SlideSurface::setUpHighQuality()
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    m_maxTextureSize = maxSize;
    m_highTextures = std::make_unique<MipmappedTextures>(MipmappedTextures::anisotropyOffered());

    m_renderer = queryCurrentRenderer();
    const std::optional<EdgeSmoothing> forced =
        forcedEdgeSmoothing
            ? forcedEdgeSmoothing
            : EdgeSmoothingChoice::forcedBy(std::getenv(EdgeSmoothingChoice::ForceVariable));
    const EdgeSmoothingChoice choice =
        EdgeSmoothingChoice::choose(m_renderer, forced, &MultisampleTarget::isAvailable);
    m_edgeSmoothing = choice.method();
    m_edgeSmoothingReason = choice.reason();
    if (m_edgeSmoothing == EdgeSmoothing::Multisampling)
        m_multisample = std::make_unique<MultisampleTarget>();
}

void SlideSurface::simulateFailureForTesting(Failure failure)
{
    simulatedFailure = failure;
}

void SlideSurface::forceEdgeSmoothingForTesting(std::optional<EdgeSmoothing> method)
{
    forcedEdgeSmoothing = method;
}

bool SlideSurface::makeCurrent()
{
    if (!m_ready)
        return false;
    if (m_offScreen)
        return m_context->makeCurrent(m_offscreenSurface.get());
    return m_context->makeCurrent(this);
}

bool SlideSurface::bindFramebuffer()
{
    // The surface takes the view's size, and the framebuffer the surface's size in device
    // pixels. No alpha channel: the frame is opaque, as on a window of its own.
    if (m_view && size() != m_view->size())
        resize(m_view->size());
    const QSize pixels(int(width() * devicePixelRatio()), int(height() * devicePixelRatio()));
    if (pixels.isEmpty())
        return false;
    if (!m_framebuffer || m_framebuffer->size() != pixels) {
        m_framebuffer.reset();
        m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(
            pixels, QOpenGLFramebufferObject::Depth, GLenum(GL_TEXTURE_2D), GLenum(GL_RGB8));
        if (!m_framebuffer->isValid()) {
            m_framebuffer.reset();
            return false;
        }
    }
    return m_framebuffer->bind();
}

unsigned SlideSurface::drawnTexture() const
{
    return m_highTextures ? m_highTextures->current() : m_textureName;
}

void SlideSurface::render()
{
    const qreal ratio = devicePixelRatio();
    const QSize pixels(int(width() * ratio), int(height() * ratio));
    if (m_camera) {
        // The scene goes into the multisampled target, which is then resolved into the
        // framebuffer it would have been drawn into.
        GLint frame = 0;
        if (m_multisample)
            glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &frame);
        const bool resolve = m_multisample && m_multisample->bind(pixels);
        SceneRenderer::drawFrame(pixels.width(), pixels.height(), *m_camera, m_scene,
                                 drawnTexture());
        if (m_edgeSmoothing == EdgeSmoothing::Outline)
            SceneRenderer::drawOutlines(m_scene, drawnTexture());
        if (resolve)
            m_multisample->resolveInto(unsigned(frame));
    } else {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
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
    applyFixedState();
    // The frame is read back from the off-screen framebuffer, whatever the painter left bound.
    if (m_framebuffer)
        m_framebuffer->bind();
}

void SlideSurface::present()
{
    // Drawn and shown now, not at the next turn of the event loop: the frame is on screen when
    // this returns. An unexposed surface has nothing to show. On Wayland a hidden window is
    // not drawn at all: its compositor takes no frames from it, and the show must neither wait
    // for one nor draw for nobody.
    if (m_offScreen) {
        if (viewExposed() && renderOffScreen()) {
            frameDrawn();
            m_view->repaint();
        }
        return;
    }
    if (!isExposed() || !makeCurrent())
        return;
    render();
    if (m_presentAt)
        glFinish(); // the drawing is done before the wait, not in the swap after it
    frameDrawn();
    m_context->swapBuffers(this);
}

void SlideSurface::frameDrawn()
{
    m_drawnAt = Clock::now();
    if (!m_presentAt)
        return;
    // The wait is never longer than a slow display's refresh: a time far ahead is a mistake, and
    // the show must not stall on it.
    constexpr auto Longest = std::chrono::milliseconds(50);
    const Clock::time_point at = std::min(*m_presentAt, m_drawnAt + Longest);
    m_presentAt.reset();
    std::this_thread::sleep_until(at);
}

bool SlideSurface::viewExposed() const
{
    if (m_view == nullptr || !m_view->isVisible())
        return false;
    const QWindow* window = m_view->window()->windowHandle();
    return window != nullptr && window->isExposed();
}

bool SlideSurface::renderOffScreen()
{
    if (!makeCurrent() || !bindFramebuffer())
        return false;
    render();
    m_frame = readFrame();
    return true;
}

void SlideSurface::paintView(QPainter& painter, const QRect& area)
{
    // The first frame, and the first after a resize, is drawn when the view is painted.
    const qreal ratio = devicePixelRatio();
    const QSize pixels(int(m_view->width() * ratio), int(m_view->height() * ratio));
    if (m_frame.size() != pixels && !renderOffScreen()) {
        painter.fillRect(area, kBlue);
        return;
    }
    m_frame.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF(area.topLeft()), m_frame,
                      QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
    // The view is painted when its window is exposed again: frames that stopped while it was
    // hidden may go on.
    emit exposeChanged();
}

QImage SlideSurface::readFrame()
{
    // Read as 0xAARRGGBB words; the frame has no alpha channel, so every pixel reads opaque.
    // OpenGL hands the bottom row first; Mesa can hand the top row first instead, which saves
    // turning the image over afterwards.
    const int w = int(width() * devicePixelRatio());
    const int h = int(height() * devicePixelRatio());
    QImage image(w, h, QImage::Format_RGB32);
    const bool topRowFirst = m_context->hasExtension(QByteArrayLiteral("GL_MESA_pack_invert"));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (topRowFirst)
        glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadBuffer(m_offScreen ? GL_COLOR_ATTACHMENT0 : GL_BACK);
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, image.bits());
    if (topRowFirst)
        glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
    else
        image.mirror();
    return image;
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
    // Off-screen frames are never swapped: a timer paces them.
    if (m_offScreen)
        return false;
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

bool SlideSurface::stageHighTexture(int key, const SlideImage& slide,
                                    std::chrono::microseconds budget)
{
    if (!m_highTextures || !makeCurrent())
        return false;
    return m_highTextures->stage(key, slide, budget);
}

void SlideSurface::showHighTexture(int key, const SlideImage& slide)
{
    if (!m_highTextures || !makeCurrent())
        return;
    if (!m_highTextures->useStaged(key))
        m_highTextures->uploadNow(key, slide);
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
        // The textures and the framebuffers go while their context is current, before the
        // context itself.
        if (makeCurrent()) {
            if (m_textureCreated && !m_highTextures)
                SceneRenderer::deleteSlideTexture(m_textureName);
            if (m_stagedName != 0)
                SceneRenderer::deleteSlideTexture(m_stagedName);
            m_highTextures.reset();
            m_multisample.reset();
            m_framebuffer.reset();
        }
        m_context->doneCurrent();
    }
    m_highTextures.reset();
    m_multisample.reset();
    m_stagedName = 0;
    m_stagedKey = -1;
    m_textureCreated = false;
    m_ready = false;
    m_framebuffer.reset();
    m_context.reset();
    m_offscreenSurface.reset();
    m_frame = QImage();
}

QImage SlideSurface::grabFrame()
{
    if (!makeCurrent() || (m_offScreen && !bindFramebuffer()))
        return {};
    render();
    return readFrame();
}
