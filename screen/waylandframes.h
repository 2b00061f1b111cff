#pragma once

#include "screen/edgesmoothing.h"

#include <functional>

// How frames reach a Wayland compositor: composed with the window's controls on the graphics
// card (FrameViewPresenter), or read back and painted (FrameImagePresenter), which is the
// cheaper of the two on a software renderer. A developer can force either way, to measure one
// on a machine where it would not be chosen.
enum class WaylandFrames
{
    Composed,
    ReadBack,
};

struct WaylandFramesChoice
{
    // `forced` is the value of ForceVariable ("composed" or "read-back", any case); otherwise
    // the renderer that `probe` reports decides. The probe is asked only when nothing is
    // forced, since it costs a context; without an answer (no context could be made) the
    // frames are composed.
    static WaylandFrames choose(const char* forced,
                                const std::function<std::optional<RendererReport>()>& probe);
    static constexpr const char* ForceVariable = "LUMIVANE_WAYLAND_FRAMES";
};
