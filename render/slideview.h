#pragma once

#include "render/camerapaths.h"
#include "render/scenerenderer.h"

#include <QOpenGLWidget>
#include <QString>

#include <cstdint>
#include <optional>

// The window's OpenGL surface. It owns the one context and the slide texture, draws the frames
// the slide cycle hands it, and paints the status line and the pause marker over the last frame.
//
// A frame is presented synchronously: presentFrame() draws it and has it on screen before it
// returns. What is painted over a frame (the status line while a picture loads, the pause
// marker) stays until the next frame is presented.
class SlideView : public QOpenGLWidget
{
    Q_OBJECT

public:
    explicit SlideView(QWidget* parent = nullptr);
    ~SlideView() override;

    // True once the context exists and has been made current with the fixed state applied.
    bool isSurfaceReady() const { return m_surfaceReady; }

    void presentFrame(const CameraPose& camera, const SceneRenderer::Scene& scene);
    void showStatusLine(const QString& text);
    void showPauseMarker();

    // Replaces the slide texture with a 1024 x 1024 RGB image, bottom row first.
    void uploadTexture(const std::uint8_t* pixels);
    unsigned textureName() const { return m_textureName; }
    bool textureCreated() const { return m_textureCreated; }

    // Deletes the slide texture (when one was created) with the context current. Called at
    // shutdown; the context itself goes with the widget.
    void releaseSurface();

    // The text of the status line currently painted over the frame, empty when none (for tests
    // and for the accessibility description).
    QString statusLine() const { return m_statusLine; }
    bool pauseMarkerShown() const { return m_pauseMarker; }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void paintOverlays();
    void repaintNow();

    bool m_surfaceReady = false;
    bool m_released = false;
    unsigned m_textureName = 0;
    bool m_textureCreated = false;
    std::optional<CameraPose> m_camera;
    SceneRenderer::Scene m_scene{};
    QString m_statusLine;
    bool m_pauseMarker = false;
};
