// The outlines of the high quality mode, drawn offscreen by the slideshow's own drawing code in
// one context frame after frame, as the window draws them.
#include "scene/camerapaths.h"
#include "scene/scenegeometry.h"
#include "scene/scenerenderer.h"

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <gtest/gtest.h>

// A frame's outlines must leave the state as they found it: a depth buffer left read-only would
// not be cleared for the next frame, whose scene would then be hidden wherever the last frame's
// lay nearer. The same view drawn first in a new context and again after a frame from close up
// must be the same picture.
TEST(Outlines, LeaveTheNextFrameAsInAFreshContext)
{
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    ASSERT_TRUE(context.create() && context.makeCurrent(&surface));
    QOpenGLFramebufferObject target(320, 240, QOpenGLFramebufferObject::Depth);
    ASSERT_TRUE(target.isValid() && target.bind());
    SceneRenderer::applyFixedState();

    const CameraPaths paths;
    const SceneRenderer::Scene scene = buildScene(640, 480, 0.625f, 0.46875f);
    auto frame = [&](int cameraFrame) {
        SceneRenderer::drawFrame(320, 240, paths.pose(cameraFrame, 0), scene, 0);
        SceneRenderer::drawOutlines(scene, 0);
        return target.toImage();
    };
    const QImage far = frame(1);
    frame(100); // the hold point: the picture fills the view from close up
    EXPECT_EQ(frame(1), far);
}
