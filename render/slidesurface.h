#pragma once

#include "render/camerapaths.h"
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

class MipmappedTextures;
class MultisampleTarget;
class QOpenGLContext;
class SlideImage;

// The window's OpenGL surface: a native child window with the program's one OpenGL context,
// drawn into directly and presented by swapping its buffers, so that a frame is on screen when
// presentFrame() returns. It owns the slide texture, draws the frames the slide cycle hands it,
// and paints the status line and the pause marker over the last frame; what is painted over a
// frame stays until the next frame is presented.
//
// The surface takes no input: mouse presses over it reach the window beneath, which handles
// them, and the keyboard focus stays with the window's controls.
//
// In the high quality mode it draws with mipmapped slide textures that go up ahead of the
// change (see MipmappedTextures) and with 4x multisampling: from the window's visual where it
// has samples, otherwise through a multisampled framebuffer object resolved into the frame, and
// where neither can be had without antialiasing, which it says once on stderr.
class SlideSurface : public QWindow
{
    Q_OBJECT

public:
    explicit SlideSurface(PictureQuality quality = PictureQuality::Design);
    ~SlideSurface() override;

    // How the high quality mode's edges are smoothed.
    enum class Antialiasing
    {
        None,
        Visual,      // the window's visual has samples
        Framebuffer, // a multisampled framebuffer object, resolved into the frame
    };
    Antialiasing antialiasing() const { return m_antialiasing; }

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

    // Deletes the slide texture (when one was created) with the context current, then the
    // context itself. Called at shutdown; nothing is drawn afterwards.
    void releaseSurface();

    // Draws what the surface shows now and reads it back, top row first.
    QImage grabFrame();

    QString statusLine() const { return m_statusLine; }
    bool pauseMarkerShown() const { return m_pauseMarker; }

protected:
    void exposeEvent(QExposeEvent* event) override;

private:
    bool makeCurrent();
    void render();
    void paintOverlays();
    void present();

    void setUpHighQuality();
    void applyFixedState();
    unsigned drawnTexture() const;

    const PictureQuality m_quality;
    std::unique_ptr<QOpenGLContext> m_context;
    // High quality only: the slide textures, and the multisampled target when the visual has
    // no samples.
    std::unique_ptr<MipmappedTextures> m_highTextures;
    std::unique_ptr<MultisampleTarget> m_multisample;
    Antialiasing m_antialiasing = Antialiasing::None;
    int m_maxTextureSize = 0;
    bool m_ready = false;
    unsigned m_textureName = 0;
    bool m_textureCreated = false;
    std::optional<CameraPose> m_camera;
    SceneRenderer::Scene m_scene{};
    QString m_statusLine;
    bool m_pauseMarker = false;
};
