#include "screen/rendererquery.h"

// Xlib's headers define macros such as None and Bool; they come after every declaration of the
// program's own that uses those names.
#include <GL/gl.h>
#include <GL/glx.h>
#include <GL/glxext.h>

#include <cstring>

namespace {

// The GLX answer, where the context is a GLX one and the extension is offered; on EGL (Wayland,
// Qt's EGL integration on X) there is no current GLX display and the renderer string decides.
std::optional<bool> glxAccelerated()
{
    Display* display = glXGetCurrentDisplay();
    if (display == nullptr)
        return std::nullopt;
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    if (extensions == nullptr || std::strstr(extensions, "GLX_MESA_query_renderer") == nullptr)
        return std::nullopt;
    const auto query =
        reinterpret_cast<PFNGLXQUERYCURRENTRENDERERINTEGERMESAPROC>(glXGetProcAddressARB(
            reinterpret_cast<const GLubyte*>("glXQueryCurrentRendererIntegerMESA")));
    unsigned int accelerated = 0;
    if (query == nullptr || !query(GLX_RENDERER_ACCELERATED_MESA, &accelerated))
        return std::nullopt;
    return accelerated != 0;
}

} // namespace

RendererReport queryCurrentRenderer()
{
    RendererReport report;
    if (const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER)))
        report.renderer = renderer;
    report.accelerated = glxAccelerated();
    return report;
}
