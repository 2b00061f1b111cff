#pragma once

#include "scene/picturequality.h"

class QWidget;
class SlideSurface;

// Creates the OpenGL surface's context and says what went wrong, as the window's start-up does:
// a context that cannot be created or made current is reported in a plain message box (over
// `parent`) and start-up goes on without it; a high-quality show names the renderer and how its
// edges are smoothed, once on stderr. Returns whether the surface can draw.
bool startSurface(QWidget* parent, SlideSurface& surface, PictureQuality quality);
