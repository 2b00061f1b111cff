#pragma once

#include "screen/edgesmoothing.h"

// What the current context's driver says of itself: GL_RENDERER, and on GLX whether the
// renderer is accelerated where GLX_MESA_query_renderer is offered. Expects the slideshow's
// context to be current on the calling thread.
RendererReport queryCurrentRenderer();
