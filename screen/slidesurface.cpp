#include "screen/slidesurface.h"

#include "screen/childwindowpresenter.h"
#include "screen/frameimagepresenter.h"
#include "screen/frameviewpresenter.h"
#include "scene/mipmappedtextures.h"
#include "screen/multisampletarget.h"
#include "screen/rendererquery.h"
#include "screen/subsurfacepresenter.h"
#include "screen/waylandframes.h"
#include "scene/slideimage.h"
#include "scene/texturesize.h"

#include <QExposeEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLPaintDevice>
#include <QPainter>
#include <QWidget>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

const QColor kBlue(0, 0, 255);

// Qt's Wayland platform plugins are "wayland", "wayland-egl", "wayland-brcm"...
bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::unique_ptr<FramePresenter> waylandPresenter(QWindow& window)
{
    switch (WaylandFramesChoice::choose(std::getenv(WaylandFramesChoice::ForceVariable))) {
    case WaylandFrames::Composed:
        return std::make_unique<FrameViewPresenter>(window);
    case WaylandFrames::ReadBack:
        return std::make_unique<FrameImagePresenter>(window);
    case WaylandFrames::Subsurface:
        break;
    }
    return nullptr;
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

SlideSurface::SlideSurface(PictureQuality quality) : m_quality(quality)
{
    // The way to the screen is chosen once, by the window system (and on Wayland a developer
    // may force another).
    if (onWayland())
        m_presenter = waylandPresenter(*this);
    if (!m_presenter) {
        std::unique_ptr<ChildWindowPresenter> presenter;
        if (onWayland())
            presenter = std::make_unique<SubsurfacePresenter>(*this);
        else
            presenter = std::make_unique<ChildWindowPresenter>(*this);
        m_childWindow = presenter.get();
        m_presenter = std::move(presenter);
        m_controlImagesOver = onWayland();
    }
    m_offScreen = m_childWindow == nullptr;
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
    return m_presenter->embedIn(parent);
}

SlideSurface::Failure SlideSurface::createContext()
{
    QSurface* target = m_presenter->prepareSurface(requestedFormat());
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(requestedFormat());
    m_context->setShareContext(m_presenter->shareContext());
    if (simulatedFailure == Failure::CreateContext || !m_context->create())
        return Failure::CreateContext;
    if (simulatedFailure == Failure::MakeCurrent || !m_context->makeCurrent(target))
        return Failure::MakeCurrent;
    m_ready = true;
    // A further context of the presenter's draws with the shared textures; the multisampled
    // framebuffer is made anew in each.
    m_presenter->attach(
        m_context.get(), target, [this] { render(); }, [this] { applyFixedState(); },
        [this] {
            if (m_multisample)
                m_multisample->release();
        });
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
    // Qt's painter switches multisampling off when it paints the status line or the pause
    // marker; without it the multisampled framebuffer would resolve stair-stepped edges.
    if (m_edgeSmoothing == EdgeSmoothing::Multisampling)
        glEnable(GL_MULTISAMPLE);
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
    return m_ready && m_presenter->makeCurrent();
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
        if (m_highTextures)
            applyLevelBias(pixels);
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

void SlideSurface::applyLevelBias(QSize pixels)
{
    // The bias follows the surface's size and the texture's edge; it is worked out again only
    // when either changes.
    const int size = m_highTextures->currentSize();
    if (size == 0)
        return;
    if (pixels != m_levelBiasPixels || size != m_levelBiasSize) {
        m_levelBias = heldLevelBias(size, pixels.width(), pixels.height(), CameraPaths());
        m_levelBiasPixels = pixels;
        m_levelBiasSize = size;
    }
    glTexEnvf(GL_TEXTURE_FILTER_CONTROL, GL_TEXTURE_LOD_BIAS, m_levelBias);
}

void SlideSurface::paintOverlays()
{
    if (m_statusLine.isEmpty() && !m_pauseMarker && m_controlImages.empty())
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
        for (const ControlImage& control : m_controlImages)
            painter.drawImage(control.at, control.image);
    }
    // QPainter's OpenGL engine switches depth testing and texturing off when it ends; put the
    // slideshow's fixed state back for the next frame.
    applyFixedState();
    m_presenter->rebindFrame();
}

void SlideSurface::exposeEvent(QExposeEvent*)
{
    if (m_childWindow)
        m_childWindow->windowExposed();
}

bool SlideSurface::event(QEvent* event)
{
    if (event->type() == QEvent::UpdateRequest && m_childWindow)
        m_childWindow->updateRequested();
    return QWindow::event(event);
}

void SlideSurface::presentFrame(const CameraPose& camera, const SceneRenderer::Scene& scene)
{
    m_camera = camera;
    m_scene = scene;
    m_statusLine.clear();
    m_pauseMarker = false;
    m_presenter->present();
}

void SlideSurface::showStatusLine(const QString& text)
{
    m_statusLine = text;
    m_presenter->present();
}

void SlideSurface::setControlImages(std::vector<ControlImage> images)
{
    m_controlImages = std::move(images);
    // Frames that are coming anyway bring the images; a frame that stands still is drawn again.
    using namespace std::chrono_literals;
    if (FramePresenter::Clock::now() - m_presenter->lastDrawnAt() > 100ms)
        m_presenter->present();
}

void SlideSurface::showPauseMarker()
{
    m_pauseMarker = true;
    m_presenter->present();
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
        }
        m_presenter->release();
        m_context->doneCurrent();
    }
    m_highTextures.reset();
    m_multisample.reset();
    m_stagedName = 0;
    m_stagedKey = -1;
    m_textureCreated = false;
    m_ready = false;
    m_context.reset();
}

QImage SlideSurface::grabFrame()
{
    if (!m_ready || !m_presenter->bindFrame())
        return {};
    render();
    return m_presenter->readFrame();
}
