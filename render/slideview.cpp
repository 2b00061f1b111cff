#include "render/slideview.h"

#include <QFontMetrics>
#include <QOpenGLContext>
#include <QPainter>

#include <GL/gl.h>

namespace {

const QColor kBlue(0, 0, 255);

// Text drawn straight onto the surface: the window's font, white, on an opaque blue background.
void drawOpaqueText(QPainter& painter, const QString& text)
{
    const QFontMetrics metrics(painter.font());
    painter.fillRect(QRect(0, 0, metrics.horizontalAdvance(text), metrics.height()), kBlue);
    painter.setPen(Qt::white);
    painter.drawText(QPoint(0, metrics.ascent()), text);
}

} // namespace

SlideView::SlideView(QWidget* parent) : QOpenGLWidget(parent)
{
    setObjectName(QStringLiteral("SlideView"));
    // The last frame must survive a repaint that only adds the status line or the pause marker.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
    // Mouse presses over the scene belong to the window, which handles them.
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setFocusPolicy(Qt::NoFocus);
}

SlideView::~SlideView()
{
    releaseSurface();
}

void SlideView::initializeGL()
{
    m_surfaceReady = context() != nullptr && context()->isValid() &&
                     QOpenGLContext::currentContext() == context();
    if (m_surfaceReady)
        SceneRenderer::applyFixedState();
}

void SlideView::paintGL()
{
    if (!m_surfaceReady)
        return;
    if (m_camera)
        SceneRenderer::drawFrame(width() * devicePixelRatio(), height() * devicePixelRatio(),
                                 *m_camera, m_scene, m_textureName);
    else
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    paintOverlays();
}

void SlideView::paintOverlays()
{
    if (m_statusLine.isEmpty() && !m_pauseMarker)
        return;
    {
        QPainter painter(this);
        painter.setFont(window()->font());
        if (m_pauseMarker) {
            // The bar covers x 0..398 and y 0..18: the rectangle (0, 0)-(400, 20) filled
            // without an outline.
            painter.fillRect(QRect(0, 0, 399, 19), kBlue);
            drawOpaqueText(painter, QStringLiteral("Pause"));
        }
        if (!m_statusLine.isEmpty())
            drawOpaqueText(painter, m_statusLine);
    }
    // QPainter's GL engine switches depth testing and texturing off when it ends; put the
    // slideshow's fixed state back for the next frame.
    SceneRenderer::applyFixedState();
}

void SlideView::repaintNow()
{
    // repaint() paints and flushes before it returns, so the picture is on screen now rather
    // than at the next turn of the event loop.
    if (isVisible())
        repaint();
}

void SlideView::presentFrame(const CameraPose& camera, const SceneRenderer::Scene& scene)
{
    m_camera = camera;
    m_scene = scene;
    m_statusLine.clear();
    m_pauseMarker = false;
    repaintNow();
}

void SlideView::showStatusLine(const QString& text)
{
    m_statusLine = text;
    repaintNow();
}

void SlideView::showPauseMarker()
{
    m_pauseMarker = true;
    repaintNow();
}

void SlideView::uploadTexture(const std::uint8_t* pixels)
{
    if (!m_surfaceReady)
        return;
    makeCurrent();
    m_textureName = SceneRenderer::uploadSlideTexture(m_textureName, m_textureCreated, pixels);
    m_textureCreated = true;
    doneCurrent();
}

void SlideView::releaseSurface()
{
    if (m_released)
        return;
    m_released = true;
    // The texture is deleted while its context is current, before the context goes.
    if (m_surfaceReady && m_textureCreated && context() != nullptr) {
        makeCurrent();
        SceneRenderer::deleteSlideTexture(m_textureName);
        doneCurrent();
    }
    m_textureCreated = false;
}
