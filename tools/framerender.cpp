#include "tools/framerender.h"

#include "scene/camerapaths.h"
#include "scene/mipmappedtextures.h"
#include "screen/multisampletarget.h"
#include "scene/scenegeometry.h"
#include "scene/scenerenderer.h"
#include "scene/slideimage.h"
#include "screen/surfaceformat.h"
#include "scene/texturesize.h"

#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QScreen>

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

bool prepare(SlideImage& slide, const std::string& picture)
{
    try {
        slide.prepare(picture);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return false;
    }
    return true;
}

// The high quality mode's texture: the edge the window would choose for a screen of the
// frame's size, with every level, filtered as the window filters it.
std::unique_ptr<MipmappedTextures> uploadHighTexture(const FrameRequest& request,
                                                     std::unique_ptr<SlideImage>& slide,
                                                     const std::string& picture)
{
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    const int size = chooseTextureSize(request.width, request.height, 1.0, maxSize, CameraPaths());
    slide = std::make_unique<SlideImage>(TextureLayout{size, true}, true);
    if (!prepare(*slide, picture))
        return nullptr;
    auto textures = std::make_unique<MipmappedTextures>(MipmappedTextures::anisotropyOffered());
    textures->uploadNow(0, *slide);
    return textures;
}

} // namespace

int runFrame(int argc, char** argv, const std::string& picture, const FrameRequest& request,
             const std::string& outputPath)
{
    const bool high = request.quality == PictureQuality::High;
    auto slide = std::make_unique<SlideImage>(TextureLayout{}, true);
    if (!high && !prepare(*slide, picture))
        return 1;

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
    // The high quality mode draws with 4x multisampling; the image is read resolved.
    QOpenGLFramebufferObjectFormat format;
    format.setAttachment(QOpenGLFramebufferObject::Depth);
    if (high)
        format.setSamples(MultisampleTarget::Samples);
    QOpenGLFramebufferObject target(request.width, request.height, format);
    if (!target.isValid() || !target.bind()) {
        std::fprintf(stderr, "lumivane-slide: cannot render %dx%d offscreen\n", request.width,
                     request.height);
        return 1;
    }
    SceneRenderer::applyFixedState();
    std::unique_ptr<MipmappedTextures> highTextures;
    if (high) {
        highTextures = uploadHighTexture(request, slide, picture);
        if (!highTextures)
            return 1;
    }
    const unsigned texture =
        high ? highTextures->current()
             : SceneRenderer::uploadSlideTexture(0, false, slide->texturePixels());
    const CameraPaths paths;
    // The window's level bias for a screen of this size (see heldLevelBias()).
    if (high)
        glTexEnvf(GL_TEXTURE_FILTER_CONTROL, GL_TEXTURE_LOD_BIAS,
                  heldLevelBias(highTextures->currentSize(), request.width, request.height, paths));
    SceneRenderer::drawFrame(request.width, request.height, paths.pose(request.frame, request.path),
                             buildScene(slide->imageWidth(), slide->imageHeight(),
                                        slide->texExtentS(), slide->texExtentT()),
                             texture);
    const QImage frame = target.toImage().convertToFormat(QImage::Format_RGB888);
    if (high)
        highTextures.reset();
    else
        SceneRenderer::deleteSlideTexture(texture);
    target.release();
    context.doneCurrent();
    if (!frame.save(QString::fromLocal8Bit(outputPath.c_str()))) {
        std::fprintf(stderr, "lumivane-slide: cannot write %s\n", outputPath.c_str());
        return 1;
    }
    std::printf("%d %d %g %g\n", slide->imageWidth(), slide->imageHeight(),
                double(slide->texExtentS()), double(slide->texExtentT()));
    return 0;
}
