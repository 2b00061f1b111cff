#include "screen/framepresenter.h"

#include <QOpenGLContext>
#include <QWindow>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <thread>
#include <utility>

void FramePresenter::attach(QOpenGLContext* context, QSurface* surface, std::function<void()> draw,
                            std::function<void()> setUpContext,
                            std::function<void()> releaseContext)
{
    m_context = context;
    m_surface = surface;
    m_draw = std::move(draw);
    m_setUpContext = std::move(setUpContext);
    m_releaseContext = std::move(releaseContext);
}

bool FramePresenter::makeCurrent()
{
    return m_context != nullptr && m_context->makeCurrent(m_surface);
}

void FramePresenter::present()
{
    // Drawn and shown now, not at the next turn of the event loop: the frame is on screen when
    // this returns. Frames nobody sees are not drawn.
    if (!showsFrames() || !bindFrame())
        return;
    draw();
    handOver();
}

void FramePresenter::release()
{
    m_context = nullptr;
    m_surface = nullptr;
    m_draw = nullptr;
    m_setUpContext = nullptr;
    m_releaseContext = nullptr;
}

void FramePresenter::requestFrame()
{
    m_window.requestUpdate();
}

QScreen* FramePresenter::screen() const
{
    return m_window.screen();
}

void FramePresenter::frameDrawn()
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

QImage FramePresenter::readFrame()
{
    // Read as 0xAARRGGBB words; the frame has no alpha channel, so every pixel reads opaque.
    // OpenGL hands the bottom row first; Mesa can hand the top row first instead, which saves
    // turning the image over afterwards.
    const int w = int(m_window.width() * m_window.devicePixelRatio());
    const int h = int(m_window.height() * m_window.devicePixelRatio());
    QImage image(w, h, QImage::Format_RGB32);
    const bool topRowFirst = m_context->hasExtension(QByteArrayLiteral("GL_MESA_pack_invert"));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (topRowFirst)
        glPixelStorei(GL_PACK_INVERT_MESA, GL_TRUE);
    glReadBuffer(GLenum(readBuffer()));
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, image.bits());
    if (topRowFirst)
        glPixelStorei(GL_PACK_INVERT_MESA, GL_FALSE);
    else
        image.mirror();
    return image;
}
