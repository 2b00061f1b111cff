#pragma once

#include "screen/waylandpresenter.h"

class SlideFrameView;

// Frames on Wayland, when forced: the frames are drawn into an OpenGL widget, which Qt composes
// with the window's other widgets, the controls above it, in the window's one buffer swap: no
// frame passes through the CPU, but a software renderer pays two passes over the whole window
// for the composition every frame.
//
// The widget has a context of its own, made by Qt when the window is first shown. Until then
// the slideshow's context (on an off-screen surface) takes the textures; every context is made
// in one share group, so the widget's context draws with them, and from then on it does all the
// drawing and uploading.
class FrameViewPresenter : public WaylandPresenter
{
    Q_OBJECT

public:
    explicit FrameViewPresenter(QWindow& window);
    ~FrameViewPresenter() override;

    QWidget* embedIn(QWidget* parent) override;
    QOpenGLContext* shareContext() const override;
    bool makeCurrent() override;
    bool bindFrame() override;
    void rebindFrame() override;
    // The view is painted at once: its frame is drawn and composed with the controls, and the
    // window's buffer goes to the compositor before this returns.
    void present() override;
    void release() override;

protected:
    void handOver() override {}
    unsigned readBuffer() const override;

private:
    friend class SlideFrameView;
    // The view's context is new (the first, or a new one after the window changed).
    void viewContextCreated();
    // The view is painted: draws the frame shown now into its framebuffer.
    void paintView();
    // Gives a context of the view the slideshow's state (once per context).
    void adoptViewContext();
    // Gives the surface the view's size; false while it has none.
    bool followViewSize();
    SlideFrameView* view() const;

    // The view's context that has the slideshow's fixed state.
    QOpenGLContext* m_setUpIn = nullptr;
};
