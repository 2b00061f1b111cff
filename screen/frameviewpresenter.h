#pragma once

#include "screen/framepresenter.h"

#include <memory>

class QOffscreenSurface;
class QOpenGLFramebufferObject;
class QPainter;
class QRect;

// Frames on Wayland: a native child window would be a subsurface, and Qt draws the controls of
// the window into the window's own buffer, beneath every subsurface, so they would vanish under
// the scene. The frames are drawn into an off-screen framebuffer instead, read back, and shown
// by a plain widget that lies beneath the controls like any other.
class FrameViewPresenter : public FramePresenter
{
    Q_OBJECT

public:
    explicit FrameViewPresenter(QWindow& window);
    ~FrameViewPresenter() override;

    // The view it returns owns the surface's window, as a window container would.
    QWidget* embedIn(QWidget* parent) override;
    QSurface* prepareSurface(const QSurfaceFormat& format) override;
    bool bindFrame() override;
    void rebindFrame() override;
    void release() override;
    bool showsFrames() const override;
    // Off-screen frames are never swapped: a timer paces them.
    bool swapWaitsForRefresh(double) override { return false; }

    // Paints `area` of the view with the last frame read back.
    void paintView(QPainter& painter, const QRect& area);

protected:
    void handOver() override;
    unsigned readBuffer() const override;

private:
    std::unique_ptr<QOffscreenSurface> m_offscreenSurface;
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
    QWidget* m_view = nullptr;
    QImage m_frame;
};
