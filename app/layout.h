#pragma once

#include <QPoint>
#include <QSize>

// Sizes of the window's fixed components, shared by the window that creates them and the layout
// arithmetic that places them.
inline constexpr QSize CloseButtonSize{57, 29}; // B_Close
inline constexpr QSize PageBoxSize{200, 29};    // E_Page
inline constexpr QSize PanelSize{470, 257};     // Panel1, the search screen
// Gap between the page box and the close button to its right.
inline constexpr int PageBoxGap = 4;

// Top-left positions of the placed components, relative to the window.
struct WindowLayout
{
    QPoint closeButton;
    QPoint pageBox;
    QPoint panel;
};

// Places the components in a window of the given size: the close button in the top right corner,
// the page box 4 pixels to its left, and the search panel centred. The centring divides with
// rounding toward zero, so on a screen lower or narrower than the panel the panel's top or left
// is negative and rounds up: (200 - 257) / 2 is -28.
WindowLayout computeLayout(int width, int height);
