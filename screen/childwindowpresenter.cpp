#include "screen/childwindowpresenter.h"

#include <QOpenGLContext>
#include <QWidget>
#include <QWindow>

#include <GL/gl.h>

#include <algorithm>
#include <array>

QWidget* ChildWindowPresenter::embedIn(QWidget* parent)
{
    return QWidget::createWindowContainer(&m_window, parent);
}

QSurface* ChildWindowPresenter::prepareSurface(const QSurfaceFormat&)
{
    // The native window must exist before a context can be made current on it; it has the
    // format the surface asked for.
    m_window.create();
    return &m_window;
}

bool ChildWindowPresenter::bindFrame()
{
    return makeCurrent();
}

bool ChildWindowPresenter::showsFrames() const
{
    return m_window.isExposed();
}

void ChildWindowPresenter::windowExposed()
{
    present();
    emit exposeChanged();
}

void ChildWindowPresenter::handOver()
{
    if (waitsToPresent())
        glFinish(); // the drawing is done before the wait, not in the swap after it
    frameDrawn();
    m_context->swapBuffers(&m_window);
}

unsigned ChildWindowPresenter::readBuffer() const
{
    return GL_BACK;
}

bool ChildWindowPresenter::swapWaitsForRefresh(double refreshRate)
{
    if (m_swapWaits)
        return *m_swapWaits;
    if (!showsFrames() || !makeCurrent())
        return false;
    // Frames swapped back to back come one refresh apart when the swap waits, and as fast as
    // they are drawn when it does not. The first swaps may go through at once while the
    // driver's queue fills, so only the last ones count, and the shortest of them decides: a
    // busy machine can make a swap late, but not early.
    constexpr int Swaps = 7;
    constexpr int Counted = 4;
    std::array<Clock::time_point, Swaps> done{};
    for (auto& at : done) {
        draw();
        m_context->swapBuffers(&m_window);
        glFinish();
        at = Clock::now();
    }
    std::chrono::duration<double> shortest = done[Swaps - 1] - done[Swaps - 2];
    for (int i = Swaps - Counted; i < Swaps; ++i)
        shortest = std::min<std::chrono::duration<double>>(shortest, done[i] - done[i - 1]);
    m_swapWaits = shortest.count() >= 0.75 / refreshRate;
    return *m_swapWaits;
}
