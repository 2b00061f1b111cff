#pragma once

#include "screen/waylandpresenter.h"

#include <memory>

class QOpenGLFramebufferObject;
class QPainter;
class QRect;

// Frames on Wayland with a software renderer: drawn into an off-screen framebuffer, read back
// and painted by a plain widget beneath the controls. Composing an OpenGL widget with the other
// widgets costs a software renderer two textured passes over the whole window every frame, far
// more than reading the frame back and painting it; on a graphics card the read-back stalls the
// pipeline instead, and FrameViewPresenter is the way there.
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
