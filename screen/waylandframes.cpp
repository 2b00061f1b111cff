#include "screen/waylandframes.h"

#include <strings.h>

WaylandFrames WaylandFramesChoice::choose(
    const char* forced, const std::function<std::optional<RendererReport>()>& probe)
{
    if (forced != nullptr && strcasecmp(forced, "composed") == 0)
        return WaylandFrames::Composed;
    if (forced != nullptr && strcasecmp(forced, "read-back") == 0)
        return WaylandFrames::ReadBack;
    const std::optional<RendererReport> report = probe();
    return report && EdgeSmoothingChoice::isSoftware(*report) ? WaylandFrames::ReadBack
                                                              : WaylandFrames::Composed;
}
