#pragma once

// Frames drawn for each picture; the camera tables number them 1..SlideFrames.
inline constexpr int SlideFrames = 150;
// Number of fixed camera paths, numbered 0..PathCount - 1.
inline constexpr int PathCount = 6;

// How the camera moves over a slide: one table entry per frame of the slide timer (Frames, as
// the show has always done), or along the clock at the display's refresh (Smooth).
enum class SlideMotion
{
    Frames,
    Smooth,
};
