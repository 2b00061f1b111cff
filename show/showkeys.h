#pragma once

#include <Qt>

// What a key or the mouse wheel asks of the running show. The keys do what the mouse buttons do,
// so that a keyboard, or a remote control that sends keys, can step through the show.
enum class ShowStep
{
    None,
    Next,     // the left button
    Previous, // the right button
    Pause,    // the middle button: pause or resume
};

// The show's step for a mouse button pressed over the window: the left button the next picture,
// the right one the previous picture, the middle one pause and resume; others step nothing.
ShowStep showStepForButton(Qt::MouseButton button);

// The show's step for a key pressed: Right and Page Down the next picture, Left and Page Up the
// previous one, Space, P and Pause pause and resume. With Ctrl, Alt or Meta a key belongs to
// other commands and steps nothing. A held key's repeats step on, but do not toggle the pause on
// and off.
ShowStep showStepForKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat);

// Turns the mouse wheel's turns into steps: one per notch, down for the next picture and up for
// the previous one. A smooth-scrolling touchpad reports many small deltas; they add up until they
// make a notch, so that a light stroke does not race through the pictures.
class WheelSteps
{
public:
    // A wheel notch, in the eighths of a degree the wheel reports.
    static constexpr int NotchAngle = 120;
    // Scrolling that reports pixels only: a notch scrolls three lines of 20 pixels on a desktop.
    static constexpr int NotchPixels = 60;

    // One wheel event's vertical deltas (positive away from the user, that is up). The angle is
    // used when there is one; otherwise the pixels. Returns the steps it makes: positive for the
    // next pictures, negative for the previous ones, 0 while the deltas add up to less than a
    // notch.
    int add(int angleDelta, int pixelDelta);

private:
    // The part of a notch turned so far, in the unit of the events that turned it; its sign is
    // the direction. A turn the other way starts afresh.
    int m_partial = 0;
    bool m_inPixels = false;
};
