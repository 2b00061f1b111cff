#include "app/surfacestart.h"

#include "app/messages.h"
#include "app/translation.h"
#include "render/slidesurface.h"

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
    if (quality == PictureQuality::High &&
        surface.antialiasing() == SlideSurface::Antialiasing::None)
        std::fprintf(stderr, "lumivane: %s\n",
                     Console::tr("this display offers no multisampling; QUALITY=HIGH runs "
                                 "without antialiasing")
                         .toUtf8()
                         .constData());
    return true;
}
