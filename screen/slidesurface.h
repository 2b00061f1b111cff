#pragma once

#include "scene/camerapaths.h"
#include "screen/controlimages.h"
#include "screen/edgesmoothing.h"
#include "screen/framepresenter.h"
#include "scene/mipchain.h"
#include "scene/picturequality.h"
#include "scene/scenerenderer.h"
#include "scene/slidetextures.h"

#include <QImage>
#include <QString>
#include <QWindow>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ChildWindowPresenter;
class MipmappedTextures;
class MultisampleTarget;
class QOpenGLContext;
class QWidget;
class SlideImage;

// The window's OpenGL surface, with the program's one OpenGL context. It owns the slide texture,
// draws the frames the slide cycle hands it, and paints the status line and the pause marker
// over the last frame; what is painted over a frame stays until the next frame is presented.
// A frame is on screen when presentFrame() returns.
//
// How a frame reaches the screen is its presenter's business (see FramePresenter): the surface
// is a native child window presented by swapping its buffers (on Wayland a subsurface, with the
// controls' images drawn over the scene); on Wayland a developer may force the frames into an
// OpenGL widget that Qt composes beneath the window's controls, or read back and painted by a
// plain widget. The frame pacer deals with the presenter only.
//
// The surface takes no input: mouse presses over it reach the window beneath, which handles
// them, and the keyboard focus stays with the window's controls.
//
// In the high quality mode it draws with mipmapped slide textures that go up ahead of the
// change (see MipmappedTextures) and smooths the polygons' edges as EdgeSmoothingChoice decides
// for the renderer: with 4x multisampling through a framebuffer object resolved into the frame,
// or with smoothed outlines drawn over the scene. The window's visual asks for no samples of its
// own: the framebuffer object's can be forced and checked on any machine, and a software
// rasteriser would pay for the visual's in every frame.
class SlideSurface : public QWindow, public SlideTextures
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
    // the container of the child window, or the widget the frames are drawn into. Called
    // once, before createContext().
    QWidget* embedIn(QWidget* parent);
    // Whether the frames are drawn for a widget that lies among the window's other widgets
    // (Wayland's forced ways) rather than into a child window of their own.
    bool drawsOffScreen() const { return m_offScreen; }
    // Whether the window's controls lie beneath the surface's child window, their images drawn
    // over the scene (Wayland's subsurface), rather than above it as native windows (X).
    bool drawsControlImages() const { return m_controlImagesOver; }
    // The controls' images drawn over every frame from now on; a frame that stands still (a
    // pause, the search) is drawn again at once with them.
    void setControlImages(std::vector<ControlImage> images);
    // How the frames reach the screen; what the frame pacer follows.
    FramePresenter* presenter() const { return m_presenter.get(); }
    // Whether the frames drawn now reach the screen: the child window is exposed (X), or the
    // widget the frames are drawn into is visible in an exposed window (Wayland).
    bool showsFrames() const { return m_presenter->showsFrames(); }

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
    void uploadTexture(const std::uint8_t* pixels) override;
    unsigned textureName() const { return drawnTexture(); }
    bool textureCreated() const { return m_textureCreated; }

    // High quality only. The largest texture edge the driver takes (0 without a context).
    int maxTextureSize() const override { return m_maxTextureSize; }
    // Uploads more of picture `key` into the second texture object within `budget`; true once
    // it is all there.
    bool stageHighTexture(int key, const SlideImage& slide,
                          std::chrono::microseconds budget) override;
    // Makes the staged picture `key` the slide texture if it is all there, otherwise uploads it
    // at once.
    void showHighTexture(int key, const SlideImage& slide) override;
    // The upload ahead for smooth motion: the texture of picture `key` goes up into a second
    // texture object, `rows` rows per call, while the slide texture is still drawn. A new key
    // starts over. Returns whether the staged texture is complete.
    bool stageTexture(int key, const std::uint8_t* pixels, int rows) override;
    // Makes the complete staged texture of picture `key` the slide texture, deleting the old
    // one. Returns false, changing nothing, when there is none.
    bool useStagedTexture(int key) override;

    // Deletes the slide texture (when one was created) with the context current, then the
    // context itself. Called at shutdown; nothing is drawn afterwards.
    void releaseSurface();

    // Draws what the surface shows now and reads it back, top row first.
    QImage grabFrame();

    QString statusLine() const { return m_statusLine; }
    bool pauseMarkerShown() const { return m_pauseMarker; }

protected:
    void exposeEvent(QExposeEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool makeCurrent();
    // Draws the frame shown now into the framebuffer bound.
    void render();
    void paintOverlays();
    // High quality only: the texture level bias for a frame of `pixels` (see heldLevelBias()).
    void applyLevelBias(QSize pixels);

    void setUpHighQuality();
    void applyFixedState();
    unsigned drawnTexture() const;

    const PictureQuality m_quality;
    std::unique_ptr<QOpenGLContext> m_context;
    // High quality only: the slide textures, and the multisampled target when the edges are
    // multisampled.
    std::unique_ptr<MipmappedTextures> m_highTextures;
    std::unique_ptr<MultisampleTarget> m_multisample;
    float m_levelBias = 0.0f;
    QSize m_levelBiasPixels;
    int m_levelBiasSize = 0;
    RendererReport m_renderer;
    EdgeSmoothing m_edgeSmoothing = EdgeSmoothing::None;
    std::string m_edgeSmoothingReason;
    int m_maxTextureSize = 0;
    bool m_offScreen = false;
    bool m_controlImagesOver = false;
    std::unique_ptr<FramePresenter> m_presenter;
    // The child window's presenter, which the window's own events go to; null for the ways that
    // draw for a widget.
    ChildWindowPresenter* m_childWindow = nullptr;
    bool m_ready = false;
    unsigned m_textureName = 0;
    bool m_textureCreated = false;
    std::optional<CameraPose> m_camera;
    SceneRenderer::Scene m_scene{};
    QString m_statusLine;
    bool m_pauseMarker = false;
    std::vector<ControlImage> m_controlImages;
    unsigned m_stagedName = 0;
    int m_stagedKey = -1;
    int m_stagedRows = 0;
};
