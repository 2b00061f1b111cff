#include "screen/frameimagepresenter.h"

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
class SlideImageView : public QWidget
{
public:
    SlideImageView(FrameImagePresenter& presenter, QWidget* parent)
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
    FrameImagePresenter& m_presenter;
};

} // namespace

FrameImagePresenter::FrameImagePresenter(QWindow& window) : WaylandPresenter(window) {}

FrameImagePresenter::~FrameImagePresenter() = default;

QWidget* FrameImagePresenter::embedIn(QWidget* parent)
{
    adoptView(new SlideImageView(*this, parent));
    return m_view;
}

bool FrameImagePresenter::bindFrame()
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

void FrameImagePresenter::rebindFrame()
{
    // The frame is read back from the off-screen framebuffer, whatever a painter left bound.
    if (m_framebuffer)
        m_framebuffer->bind();
}

void FrameImagePresenter::release()
{
    // The framebuffer goes while the context is current, the surface after the context.
    m_framebuffer.reset();
    m_frame = QImage();
    forgetFrameRequest();
    FramePresenter::release();
}

void FrameImagePresenter::handOver()
{
    m_frame = readFrame();
    frameDrawn();
    // Painted and flushed now: the compositor asked for this frame, and its buffer is free.
    m_view->repaint();
}

unsigned FrameImagePresenter::readBuffer() const
{
    return GL_COLOR_ATTACHMENT0;
}

void FrameImagePresenter::paintView(QPainter& painter, const QRect& area)
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
