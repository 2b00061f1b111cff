#pragma once

#include "render/camerapaths.h"
#include "render/scenerenderer.h"

#include <QImage>
#include <QString>
#include <QWindow>

#include <cstdint>
#include <memory>
#include <optional>

class QOpenGLContext;

// The window's OpenGL surface: a native child window with the program's one OpenGL context,
// drawn into directly and presented by swapping its buffers, so that a frame is on screen when
// presentFrame() returns. It owns the slide texture, draws the frames the slide cycle hands it,
// and paints the status line and the pause marker over the last frame; what is painted over a
// frame stays until the next frame is presented.
//
// The surface takes no input: mouse presses over it reach the window beneath, which handles
// them, and the keyboard focus stays with the window's controls.
class SlideSurface : public QWindow
{
    Q_OBJECT

public:
    SlideSurface();
    ~SlideSurface() override;

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
    unsigned textureName() const { return m_textureName; }
    bool textureCreated() const { return m_textureCreated; }

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

signals:
    // The window system asks for the next frame (after QWindow::requestUpdate()).
    void frameRequested();
    // The surface has been exposed or hidden (isExposed() says which).
    void exposeChanged();

protected:
    void exposeEvent(QExposeEvent* event) override;
    bool event(QEvent* event) override;

private:
    bool makeCurrent();
    void render();
    void paintOverlays();
    void present();

    std::unique_ptr<QOpenGLContext> m_context;
    bool m_ready = false;
    unsigned m_textureName = 0;
    bool m_textureCreated = false;
    std::optional<CameraPose> m_camera;
    SceneRenderer::Scene m_scene{};
    QString m_statusLine;
    bool m_pauseMarker = false;
    std::optional<bool> m_swapWaits;
    unsigned m_stagedName = 0;
    int m_stagedKey = -1;
    int m_stagedRows = 0;
};
