#include "show/showkeys.h"

ShowStep showStepForButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton:
        return ShowStep::Next;
    case Qt::RightButton:
        return ShowStep::Previous;
    case Qt::MiddleButton:
        return ShowStep::Pause;
    default:
        return ShowStep::None;
    }
}

ShowStep showStepForKey(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat)
{
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return ShowStep::None;
    switch (key) {
    case Qt::Key_Right:
    case Qt::Key_PageDown:
        return ShowStep::Next;
    case Qt::Key_Left:
    case Qt::Key_PageUp:
        return ShowStep::Previous;
    case Qt::Key_Space:
    case Qt::Key_P:
    case Qt::Key_Pause:
        return autoRepeat ? ShowStep::None : ShowStep::Pause;
    default:
        return ShowStep::None;
    }
}

int WheelSteps::add(int angleDelta, int pixelDelta)
{
    const bool inPixels = angleDelta == 0;
    const int delta = inPixels ? pixelDelta : angleDelta;
    if (delta == 0)
        return 0;
    // A turn the other way, or in the other unit, does not finish the notch begun before it.
    if (inPixels != m_inPixels || (m_partial > 0) != (delta > 0))
        m_partial = 0;
    m_inPixels = inPixels;
    m_partial += delta;
    const int notch = inPixels ? NotchPixels : NotchAngle;
    const int notches = m_partial / notch;
    m_partial -= notches * notch;
    // Turning the wheel up, away from the user, reports positive deltas: the previous pictures.
    return -notches;
}
