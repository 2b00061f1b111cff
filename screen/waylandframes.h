#pragma once

// How frames reach a Wayland compositor. By default as on X: the scene is a subsurface of its
// own, composed with the window by the compositor (SubsurfacePresenter), the controls' images
// drawn over it. Two other ways remain for a developer to force and measure: the scene drawn
// into an OpenGL widget that Qt composes with the controls (FrameViewPresenter), which costs a
// software renderer two passes over the whole window every frame; and the frame read back and
// painted beneath the controls (FrameImagePresenter), which costs a copy through the CPU.
enum class WaylandFrames
{
    Subsurface,
    Composed,
    ReadBack,
};

struct WaylandFramesChoice
{
    // `forced` is the value of ForceVariable: "subsurface", "composed" or "read-back" (any
    // case); anything else, or nothing, is the default way.
    static WaylandFrames choose(const char* forced);
    static constexpr const char* ForceVariable = "LUMIVANE_WAYLAND_FRAMES";
};
