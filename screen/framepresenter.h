#pragma once

#include <QImage>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

class QOpenGLContext;
class QScreen;
class QSurface;
class QSurfaceFormat;
class QWidget;
class QWindow;

// How the frames the slide surface draws reach the screen, and when they can: one way per window
// system, chosen once when the surface is made (ChildWindowPresenter on X, SubsurfacePresenter
// on Wayland, where FrameViewPresenter or FrameImagePresenter may be forced). The surface draws; its
// presenter makes the context current where the frame goes, hands the drawn frame to the
// display, and tells the frame pacer whether frames are seen and when the display asks for the
// next one.
class FramePresenter : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    // `window` is the surface's own window, whose size and screen the frames follow.
    explicit FramePresenter(QWindow& window) : m_window(window) {}

    // Places the surface in `parent` and returns the widget that holds it there. Called once.
    virtual QWidget* embedIn(QWidget* parent) = 0;
    // Creates what the context draws on, in `format`, and returns it. Called once, before the
    // context is made current on it.
    virtual QSurface* prepareSurface(const QSurfaceFormat& format) = 0;
    // The context the surface's context is to share its textures with, or null. Asked after
    // embedIn().
    virtual QOpenGLContext* shareContext() const { return nullptr; }
    // The context, made current on `surface` (prepareSurface()'s), how to draw the frame that
    // is shown now (for frames the presenter draws on its own: a view painted again, the swaps
    // that time the display), and, for a further context that the presenter draws with (one
    // that shares the surface's textures), how to set up its fixed state and how to let go of
    // what was made in it before it goes (with it current).
    void attach(QOpenGLContext* context, QSurface* surface, std::function<void()> draw,
                std::function<void()> setUpContext = {},
                std::function<void()> releaseContext = {});
    bool isReady() const { return m_context != nullptr; }
    // Makes the context that draws and uploads current; false when there is none.
    virtual bool makeCurrent();
    // The context current and the framebuffer that is presented bound; false when no frame can
    // be drawn now.
    virtual bool bindFrame() = 0;
    // Binds the presented framebuffer again after a painter may have bound another.
    virtual void rebindFrame() {}
    // Draws the frame shown now and hands it to the screen, if the frames are seen.
    virtual void present();
    // Reads the frame drawn into the presented framebuffer back, top row first.
    QImage readFrame();
    // Deletes what the presenter made in the context (which is current), then lets the context
    // go.
    virtual void release();

    // What the frame pacer asks.
    // Whether the frames drawn now reach the screen.
    virtual bool showsFrames() const = 0;
    // Whether presenting a frame waits for the display's vertical blank at `refreshRate` Hz;
    // found out once and remembered.
    virtual bool swapWaitsForRefresh(double refreshRate) = 0;
    // Asks the window system for the next frame (frameRequested() follows).
    virtual void requestFrame();
    QScreen* screen() const;
    // The next frame presented is drawn at once but handed to the display no sooner than `at`
    // (a frame drawn late goes at once). Where the swap does not wait for the display, this
    // lets a frame drawn ahead reach the screen on the refresh's beat, however long it took to
    // draw. Applies to one presentation only; nullopt takes it back.
    void presentNoSoonerThan(std::optional<Clock::time_point> at) { m_presentAt = at; }
    // When the last frame presented had been drawn, before any wait for its presentation time.
    Clock::time_point lastDrawnAt() const { return m_drawnAt; }

signals:
    // The window system asks for the next frame (after requestFrame()).
    void frameRequested();
    // The frames have begun or stopped reaching the screen (showsFrames() says which).
    void exposeChanged();

protected:
    // The frame drawn since bindFrame() goes to the display.
    virtual void handOver() = 0;
    virtual unsigned readBuffer() const = 0;
    // A frame is drawn: notes when, then waits for its present time, if one was set.
    void frameDrawn();
    bool waitsToPresent() const { return m_presentAt.has_value(); }
    void draw() { m_draw(); }
    void setUpContext()
    {
        if (m_setUpContext)
            m_setUpContext();
    }
    void releaseContext()
    {
        if (m_releaseContext)
            m_releaseContext();
    }

    QWindow& m_window;
    QOpenGLContext* m_context = nullptr;

private:
    QSurface* m_surface = nullptr;
    std::function<void()> m_draw;
    std::function<void()> m_setUpContext;
    std::function<void()> m_releaseContext;
    std::optional<Clock::time_point> m_presentAt;
    Clock::time_point m_drawnAt{};
};
