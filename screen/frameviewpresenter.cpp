#include "screen/frameviewpresenter.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <GL/gl.h>
#include <GL/glext.h>

namespace {

const QColor kBlue(0, 0, 255);

// Shows the frames drawn off screen. It lies in the window like any other widget, beneath the
// window's controls.
class SlideFrameView : public QWidget
{
public:
    SlideFrameView(FrameViewPresenter& presenter, QWidget* parent)
        : QWidget(parent), m_presenter(presenter)
    {
        // The frame covers every pixel: there is no background to fill first.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        m_presenter.paintView(painter, event->rect());
    }

private:
    FrameViewPresenter& m_presenter;
};

} // namespace

FrameViewPresenter::FrameViewPresenter(QWindow& window) : FramePresenter(window) {}

FrameViewPresenter::~FrameViewPresenter() = default;

QWidget* FrameViewPresenter::embedIn(QWidget* parent)
{
    auto* view = new SlideFrameView(*this, parent);
    static_cast<QObject&>(m_window).setParent(view);
    m_view = view;
    return view;
}

QSurface* FrameViewPresenter::prepareSurface(const QSurfaceFormat& format)
{
    m_offscreenSurface = std::make_unique<QOffscreenSurface>();
    m_offscreenSurface->setFormat(format);
    m_offscreenSurface->create();
    return m_offscreenSurface.get();
}

bool FrameViewPresenter::bindFrame()
{
    if (!makeCurrent())
        return false;
    // The surface takes the view's size, and the framebuffer the surface's size in device
    // pixels. No alpha channel: the frame is opaque, as on a window of its own.
    if (m_view && m_window.size() != m_view->size())
        m_window.resize(m_view->size());
    const qreal ratio = m_window.devicePixelRatio();
    const QSize pixels(int(m_window.width() * ratio), int(m_window.height() * ratio));
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

void FrameViewPresenter::rebindFrame()
{
    // The frame is read back from the off-screen framebuffer, whatever a painter left bound.
    if (m_framebuffer)
        m_framebuffer->bind();
}

void FrameViewPresenter::release()
{
    // The framebuffer goes while the context is current, the surface after the context.
    m_framebuffer.reset();
    m_frame = QImage();
    FramePresenter::release();
}

bool FrameViewPresenter::showsFrames() const
{
    // On Wayland a hidden window is not drawn at all: its compositor takes no frames from it,
    // and the show must neither wait for one nor draw for nobody.
    if (m_view == nullptr || !m_view->isVisible())
        return false;
    const QWindow* window = m_view->window()->windowHandle();
    return window != nullptr && window->isExposed();
}

void FrameViewPresenter::handOver()
{
    m_frame = readFrame();
    frameDrawn();
    m_view->repaint();
}

unsigned FrameViewPresenter::readBuffer() const
{
    return GL_COLOR_ATTACHMENT0;
}

void FrameViewPresenter::paintView(QPainter& painter, const QRect& area)
{
    // The first frame, and the first after a resize, is drawn when the view is painted.
    const qreal ratio = m_window.devicePixelRatio();
    const QSize pixels(int(m_view->width() * ratio), int(m_view->height() * ratio));
    if (m_frame.size() != pixels) {
        if (!isReady() || !bindFrame()) {
            painter.fillRect(area, kBlue);
            return;
        }
        draw();
        m_frame = readFrame();
    }
    m_frame.setDevicePixelRatio(ratio);
    painter.drawImage(QPointF(area.topLeft()), m_frame,
                      QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
    // The view is painted when its window is exposed again: frames that stopped while it was
    // hidden may go on.
    emit exposeChanged();
}
