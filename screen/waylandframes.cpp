#include "screen/waylandframes.h"

#include <strings.h>

WaylandFrames WaylandFramesChoice::choose(const char* forced)
{
    if (forced != nullptr && strcasecmp(forced, "composed") == 0)
        return WaylandFrames::Composed;
    if (forced != nullptr && strcasecmp(forced, "read-back") == 0)
        return WaylandFrames::ReadBack;
    return WaylandFrames::Subsurface;
}
