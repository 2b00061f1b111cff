#include "screen/surfaceformat.h"

#include <QSurfaceFormat>

void setSlideshowSurfaceFormat(int screenDepth)
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    // Swaps wait for the display's vertical blank where the driver can (Qt's default, stated
    // here because smooth motion relies on it to draw one frame per refresh).
    format.setSwapInterval(1);
    // The colour bits follow the screen: 8 per channel on a 24- or 32-bit desktop, 5-6-5 on a
    // 16-bit one. No alpha, stencil or accumulation buffer is asked for.
    const int channel = screenDepth >= 24 ? 8 : (screenDepth >= 15 ? 5 : 4);
    format.setRedBufferSize(channel);
    format.setGreenBufferSize(screenDepth == 16 ? 6 : channel);
    format.setBlueBufferSize(channel);
    format.setAlphaBufferSize(0);
    format.setDepthBufferSize(32);
    format.setStencilBufferSize(0);
    QSurfaceFormat::setDefaultFormat(format);
}
