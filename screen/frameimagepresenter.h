#pragma once

#include "screen/waylandpresenter.h"

#include <memory>

class QOpenGLFramebufferObject;
class QPainter;
class QRect;

// Frames on Wayland, when forced: drawn into an off-screen framebuffer, read back and painted
// by a plain widget beneath the controls. Each frame passes through the CPU twice (the read-back
// and the copy into the window's buffer); a graphics card also stalls for the read-back.
class FrameImagePresenter : public WaylandPresenter
{
    Q_OBJECT

public:
    explicit FrameImagePresenter(QWindow& window);
    ~FrameImagePresenter() override;

    QWidget* embedIn(QWidget* parent) override;
    bool bindFrame() override;
    void rebindFrame() override;
    void release() override;

    // Paints `area` of the view with the last frame read back.
    void paintView(QPainter& painter, const QRect& area);

protected:
    void handOver() override;
    unsigned readBuffer() const override;

private:
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
    QImage m_frame;
};
