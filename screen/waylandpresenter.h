#pragma once

#include "screen/framepresenter.h"

#include <QPointer>

#include <memory>

class QOffscreenSurface;

// What the two ways of presenting on Wayland that a developer may force share (see
// WaylandFrames): the frames are drawn by a widget that lies beneath the controls like any
// other, and the window's one buffer goes to the compositor.
//
// The compositor paces the frames: the window asks for the next one with its frame callback
// (QWindow::requestUpdate), and a window the compositor does not show is asked for none, so no
// frame is drawn that the compositor would not show.
class WaylandPresenter : public FramePresenter
{
    Q_OBJECT

public:
    explicit WaylandPresenter(QWindow& window);
    ~WaylandPresenter() override;

    // The slideshow's own context draws on an off-screen surface.
    QSurface* prepareSurface(const QSurfaceFormat& format) override;
    bool showsFrames() const override;
    // A frame goes to the compositor when it asks for one.
    bool swapWaitsForRefresh(double) override { return true; }
    void requestFrame() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // The widget the frames are shown in; it owns the surface's window, as a window container
    // would.
    void adoptView(QWidget* view);
    // Watches the view's top-level window for its frame callbacks and expose events.
    void watchWindow();
    QOffscreenSurface* offscreenSurface() const { return m_offscreenSurface.get(); }
    void forgetFrameRequest() { m_frameAsked = false; }

    QWidget* m_view = nullptr;

private:
    std::unique_ptr<QOffscreenSurface> m_offscreenSurface;
    QPointer<QWindow> m_watched;
    bool m_frameAsked = false;
};
