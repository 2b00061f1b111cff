#pragma once

// Frames drawn for each picture; the camera tables number them 1..SlideFrames.
inline constexpr int SlideFrames = 150;
// Number of fixed camera paths, numbered 0..PathCount - 1.
inline constexpr int PathCount = 6;
