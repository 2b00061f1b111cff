#include "render/slidesurface.h"

#include "render/mipmappedtextures.h"
#include "render/multisampletarget.h"
#include "render/slideimage.h"
#include "render/slidetexts.h"

#include <QExposeEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QOpenGLContext>
#include <QOpenGLPaintDevice>
#include <QPainter>

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>

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

SlideSurface::SlideSurface(PictureQuality quality) : m_quality(quality)
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
    if (m_quality == PictureQuality::High)
        setUpHighQuality();
    applyFixedState();
    return Failure::None;
}

void SlideSurface::applyFixedState()
{
    SceneRenderer::applyFixedState();
    // Multisampling takes the place of polygon smoothing, which OpenGL ignores while it
    // multisamples but which Mesa's software rasteriser still pays for (a fifth of the frame).
    if (m_antialiasing != Antialiasing::None)
        glDisable(GL_POLYGON_SMOOTH);
}

void SlideSurface::setUpHighQuality()
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    m_maxTextureSize = maxSize;
    m_highTextures = std::make_unique<MipmappedTextures>(MipmappedTextures::anisotropyOffered());

    if (m_context->format().samples() >= 2) {
        m_antialiasing = Antialiasing::Visual;
    } else if (MultisampleTarget::isAvailable()) {
        m_antialiasing = Antialiasing::Framebuffer;
        m_multisample = std::make_unique<MultisampleTarget>();
    } else {
        m_antialiasing = Antialiasing::None;
        std::fprintf(stderr, "lumivane: %s\n", SlideTexts::noAntialiasing().c_str());
    }
}

void SlideSurface::simulateFailureForTesting(Failure failure)
{
    simulatedFailure = failure;
}

bool SlideSurface::makeCurrent()
{
    return m_ready && m_context->makeCurrent(this);
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

void SlideSurface::releaseSurface()
{
    if (m_context && m_ready) {
        // The textures and the framebuffer object go while their context is current, before
        // the context itself.
        if (m_context->makeCurrent(this)) {
            if (m_textureCreated && !m_highTextures)
                SceneRenderer::deleteSlideTexture(m_textureName);
            m_highTextures.reset();
            m_multisample.reset();
        }
        m_context->doneCurrent();
    }
    m_highTextures.reset();
    m_multisample.reset();
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
