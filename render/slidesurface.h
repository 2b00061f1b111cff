#pragma once

#include "render/camerapaths.h"
#include "render/edgesmoothing.h"
#include "render/mipchain.h"
#include "render/picturequality.h"
#include "render/scenerenderer.h"

#include <QImage>
#include <QString>
#include <QWindow>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class MipmappedTextures;
class MultisampleTarget;
class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class QPainter;
class QWidget;
class SlideFrameView;
class SlideImage;

// The window's OpenGL surface, with the program's one OpenGL context. It owns the slide texture,
// draws the frames the slide cycle hands it, and paints the status line and the pause marker
// over the last frame; what is painted over a frame stays until the next frame is presented.
// A frame is on screen when presentFrame() returns.
//
// On X the surface is a native child window, drawn into directly and presented by swapping its
// buffers; the window's controls are native windows stacked above it. On Wayland a native child
// window is a subsurface, and Qt draws the controls of the window into the window's own buffer,
// beneath every subsurface, so they would vanish under the scene. There the frames are drawn
// into an off-screen framebuffer instead, read back, and shown by a plain widget that lies
// beneath the controls like any other.
//
// The surface takes no input: mouse presses over it reach the window beneath, which handles
// them, and the keyboard focus stays with the window's controls.
//
// In the high quality mode it draws with mipmapped slide textures that go up ahead of the
// change (see MipmappedTextures) and smooths the polygons' edges as EdgeSmoothingChoice decides
// for the renderer: with 4x multisampling through a framebuffer object resolved into the frame,
// or with smoothed outlines drawn over the scene. The window's visual never has samples of its
// own: what a software rasteriser does with them cannot be seen on its screen, and it pays for
// them in every frame.
class SlideSurface : public QWindow
{
    Q_OBJECT

public:
    explicit SlideSurface(PictureQuality quality = PictureQuality::Design);
    ~SlideSurface() override;

    // How the high quality mode's edges are smoothed (None in the design's mode), and why.
    EdgeSmoothing edgeSmoothing() const { return m_edgeSmoothing; }
    const std::string& edgeSmoothingReason() const { return m_edgeSmoothingReason; }
    // The driver's renderer string, once the context exists.
    const std::string& renderer() const { return m_renderer.renderer; }
    // Makes every later createContext() in the high quality mode use `method`, as the developer's
    // environment variable does (see EdgeSmoothingChoice); nullopt goes back to the choice.
    // Tests and benchmarks use it to see each method on this machine.
    static void forceEdgeSmoothingForTesting(std::optional<EdgeSmoothing> method);
    // Places the surface in parent and returns the widget that holds it there (and owns it):
    // the container of the child window, or the widget that shows the off-screen frames. Called
    // once, before createContext().
    QWidget* embedIn(QWidget* parent);
    // Whether the frames are drawn off screen and shown by a plain widget (Wayland) rather than
    // by a child window of their own (X).
    bool drawsOffScreen() const { return m_offScreen; }
    // Whether the frames drawn now reach the screen: the child window is exposed (X), or the
    // widget showing the off-screen frames is visible in an exposed window (Wayland).
    bool showsFrames() const { return m_offScreen ? viewExposed() : isExposed(); }

    enum class Failure
    {
        None,
        CreateContext,
        MakeCurrent,
    };
    // Creates the context and makes it current on this surface, then sets the fixed state.
    // Says which step failed; the surface then stays without a working context and draws
    // nothing.
    Failure createContext();
    // Makes every later createContext() fail at the given step, as on a machine whose display
    // offers no usable OpenGL; Failure::None goes back to the real set-up.
    static void simulateFailureForTesting(Failure failure);
    bool isSurfaceReady() const { return m_ready; }
    QOpenGLContext* context() const { return m_context.get(); }

    void presentFrame(const CameraPose& camera, const SceneRenderer::Scene& scene);
    void showStatusLine(const QString& text);
    void showPauseMarker();

    // Replaces the slide texture with a 1024 x 1024 RGB image, bottom row first.
    void uploadTexture(const std::uint8_t* pixels);
    unsigned textureName() const { return drawnTexture(); }
    bool textureCreated() const { return m_textureCreated; }

    // High quality only. The largest texture edge the driver takes (0 without a context).
    int maxTextureSize() const { return m_maxTextureSize; }
    // Uploads more of picture `key` into the second texture object within `budget`; true once
    // it is all there.
    bool stageHighTexture(int key, const SlideImage& slide, std::chrono::microseconds budget);
    // Makes the staged picture `key` the slide texture if it is all there, otherwise uploads it
    // at once.
    void showHighTexture(int key, const SlideImage& slide);
    // The upload ahead for smooth motion: the texture of picture `key` goes up into a second
    // texture object, `rows` rows per call, while the slide texture is still drawn. A new key
    // starts over. Returns whether the staged texture is complete.
    bool stageTexture(int key, const std::uint8_t* pixels, int rows);
    // Makes the complete staged texture of picture `key` the slide texture, deleting the old
    // one. Returns false, changing nothing, when there is none.
    bool useStagedTexture(int key);

    // Deletes the slide texture (when one was created) with the context current, then the
    // context itself. Called at shutdown; nothing is drawn afterwards.
    void releaseSurface();

    // Draws what the surface shows now and reads it back, top row first.
    QImage grabFrame();

    QString statusLine() const { return m_statusLine; }
    bool pauseMarkerShown() const { return m_pauseMarker; }

    // Whether presenting a frame waits for the display's vertical blank at `refreshRate` Hz.
    // Found out once, from a few frames of what the surface shows swapped back to back, and
    // remembered; false while the surface cannot draw.
    bool swapWaitsForRefresh(double refreshRate);

    using Clock = std::chrono::steady_clock;
    // The next frame presented is drawn at once but handed to the display no sooner than `at`
    // (a frame drawn late goes at once). Where the swap does not wait for the display, this
    // lets a frame drawn ahead reach the screen on the refresh's beat, however long it took to
    // draw. Applies to one presentation only; nullopt takes it back.
    void presentNoSoonerThan(std::optional<Clock::time_point> at) { m_presentAt = at; }
    // When the last frame presented had been drawn, before any wait for its presentation time.
    Clock::time_point lastDrawnAt() const { return m_drawnAt; }

signals:
    // The window system asks for the next frame (after QWindow::requestUpdate()).
    void frameRequested();
    // The surface has been exposed or hidden (showsFrames() says which).
    void exposeChanged();

protected:
    void exposeEvent(QExposeEvent* event) override;
    bool event(QEvent* event) override;

private:
    friend class SlideFrameView;

    bool makeCurrent();
    bool bindFramebuffer();
    void render();
    void paintOverlays();
    void present();
    QImage readFrame();
    // A frame is drawn: notes when, then waits for its present time, if one was set.
    void frameDrawn();
    bool renderOffScreen();
    bool viewExposed() const;
    void paintView(QPainter& painter, const QRect& area);

    void setUpHighQuality();
    void applyFixedState();
    unsigned drawnTexture() const;

    const PictureQuality m_quality;
    std::unique_ptr<QOpenGLContext> m_context;
    // High quality only: the slide textures, and the multisampled target when the edges are
    // multisampled.
    std::unique_ptr<MipmappedTextures> m_highTextures;
    std::unique_ptr<MultisampleTarget> m_multisample;
    RendererReport m_renderer;
    EdgeSmoothing m_edgeSmoothing = EdgeSmoothing::None;
    std::string m_edgeSmoothingReason;
    int m_maxTextureSize = 0;
    const bool m_offScreen;
    // Off screen only: the context's surface, the framebuffer drawn into, the widget showing
    // the frames, and the last frame read back.
    std::unique_ptr<QOffscreenSurface> m_offscreenSurface;
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
    QWidget* m_view = nullptr;
    QImage m_frame;
    bool m_ready = false;
    unsigned m_textureName = 0;
    bool m_textureCreated = false;
    std::optional<CameraPose> m_camera;
    SceneRenderer::Scene m_scene{};
    QString m_statusLine;
    bool m_pauseMarker = false;
    std::optional<bool> m_swapWaits;
    std::optional<Clock::time_point> m_presentAt;
    Clock::time_point m_drawnAt{};
    unsigned m_stagedName = 0;
    int m_stagedKey = -1;
    int m_stagedRows = 0;
};
