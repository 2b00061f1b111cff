#include "app/surfacestart.h"

#include "app/messages.h"
#include "app/translation.h"
#include "screen/slidesurface.h"

#include <cstdio>

bool startSurface(QWidget* parent, SlideSurface& surface, PictureQuality quality)
{
    switch (surface.createContext()) {
    case SlideSurface::Failure::CreateContext:
        Messages::showPlain(parent, QStringLiteral("Could not CreateContext"));
        Messages::showPlain(parent, QStringLiteral("Could not MakeCurrent"));
        break;
    case SlideSurface::Failure::MakeCurrent:
        Messages::showPlain(parent, QStringLiteral("Could not MakeCurrent"));
        break;
    case SlideSurface::Failure::None:
        break;
    }
    if (!surface.isSurfaceReady())
        return false;
    // The edges' method depends on the machine, and so does what the mode costs: the user who
    // turned it on learns which one this display gets.
    if (quality == PictureQuality::High)
        std::fprintf(
            stderr, "lumivane: %s\n",
            Console::fill(Console::tr("QUALITY=HIGH on the renderer \"%1\": %2 (%3)"),
                          {surface.renderer(), EdgeSmoothingChoice::nameOf(surface.edgeSmoothing()),
                           surface.edgeSmoothingReason()})
                .c_str());
    return true;
}
