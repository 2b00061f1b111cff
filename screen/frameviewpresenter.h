#pragma once

#include "screen/framepresenter.h"

#include <QPointer>

#include <memory>

class QOffscreenSurface;
class SlideFrameView;

// Frames on Wayland: a native child window would be a subsurface, and Qt draws the controls of
// the window into the window's own buffer, beneath every subsurface, so they would vanish under
// the scene. The frames are drawn into an OpenGL widget instead, which Qt composes with the
// window's other widgets on the graphics card, the controls above it, in the window's one
// buffer swap: no frame passes through the CPU.
//
// The widget has a context of its own, made by Qt when the window is first shown. Until then
// the slideshow's context (on an off-screen surface) takes the textures; every context is made
// in one share group, so the widget's context draws with them, and from then on it does all the
// drawing and uploading.
//
// The compositor paces the frames: the window asks for the next one with its frame callback
// (QWindow::requestUpdate), and a window the compositor does not show is asked for none.
class FrameViewPresenter : public FramePresenter
{
    Q_OBJECT

public:
    explicit FrameViewPresenter(QWindow& window);
    ~FrameViewPresenter() override;

    // The view it returns owns the surface's window, as a window container would.
    QWidget* embedIn(QWidget* parent) override;
    QSurface* prepareSurface(const QSurfaceFormat& format) override;
    QOpenGLContext* shareContext() const override;
    bool makeCurrent() override;
    bool bindFrame() override;
    void rebindFrame() override;
    // The view is painted at once: its frame is drawn and composed with the controls, and the
    // window's buffer goes to the compositor before this returns.
    void present() override;
    void release() override;
    bool showsFrames() const override;
    // A frame goes to the compositor when it asks for one.
    bool swapWaitsForRefresh(double) override { return true; }
    void requestFrame() override;

protected:
    void handOver() override {}
    unsigned readBuffer() const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class SlideFrameView;
    // The view's context is new (the first, or a new one after the window changed).
    void viewContextCreated();
    // The view is painted: draws the frame shown now into its framebuffer.
    void paintView();
    // Watches the top-level window for its frame callbacks and expose events.
    void watchWindow();
    // Gives a context of the view the slideshow's state (once per context).
    void adoptViewContext();
    // Gives the surface the view's size; false while it has none.
    bool followViewSize();

    std::unique_ptr<QOffscreenSurface> m_offscreenSurface;
    SlideFrameView* m_view = nullptr;
    QPointer<QWindow> m_watched;
    // The view's context that has the slideshow's fixed state.
    QOpenGLContext* m_setUpIn = nullptr;
    bool m_frameAsked = false;
};
