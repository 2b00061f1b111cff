#include "tools/framerender.h"

#include "render/camerapaths.h"
#include "render/scenegeometry.h"
#include "render/scenerenderer.h"
#include "render/slideimage.h"
#include "render/surfaceformat.h"

#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QScreen>

#include <cstdio>
#include <exception>

int runFrame(int argc, char** argv, const std::string& picture, const FrameRequest& request,
             const std::string& outputPath)
{
    SlideImage slide;
    try {
        slide.prepare(picture);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }

    QGuiApplication app(argc, argv);
    setSlideshowSurfaceFormat(
        QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->depth() : 24);
    QOpenGLContext context;
    QOffscreenSurface surface;
    surface.setFormat(QSurfaceFormat::defaultFormat());
    surface.create();
    if (!context.create() || !context.makeCurrent(&surface)) {
        std::fprintf(stderr, "lumivane-slide: no OpenGL context\n");
        return 1;
    }
    QOpenGLFramebufferObject target(request.width, request.height, QOpenGLFramebufferObject::Depth);
    if (!target.isValid() || !target.bind()) {
        std::fprintf(stderr, "lumivane-slide: cannot render %dx%d offscreen\n", request.width,
                     request.height);
        return 1;
    }
    SceneRenderer::applyFixedState();
    const unsigned texture = SceneRenderer::uploadSlideTexture(0, false, slide.texturePixels());
    const CameraPaths paths;
    SceneRenderer::drawFrame(
        request.width, request.height, paths.pose(request.frame, request.path),
        buildScene(slide.imageWidth(), slide.imageHeight(), slide.texExtentS(), slide.texExtentT()),
        texture);
    const QImage frame = target.toImage().convertToFormat(QImage::Format_RGB888);
    SceneRenderer::deleteSlideTexture(texture);
    target.release();
    context.doneCurrent();
    if (!frame.save(QString::fromLocal8Bit(outputPath.c_str()))) {
        std::fprintf(stderr, "lumivane-slide: cannot write %s\n", outputPath.c_str());
        return 1;
    }
    std::printf("%d %d %g %g\n", slide.imageWidth(), slide.imageHeight(),
                double(slide.texExtentS()), double(slide.texExtentT()));
    return 0;
}
