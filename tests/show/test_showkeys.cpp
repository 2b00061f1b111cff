#include "show/showkeys.h"

#include <gtest/gtest.h>

TEST(ShowKeys, StepLikeTheMouseButtonsAndOnlyWithoutCtrlAltOrMeta)
{
    const Qt::KeyboardModifiers none;
    EXPECT_EQ(showStepForKey(Qt::Key_Right, none, false), ShowStep::Next);
    EXPECT_EQ(showStepForKey(Qt::Key_PageDown, Qt::KeypadModifier, true), ShowStep::Next);
    EXPECT_EQ(showStepForKey(Qt::Key_Left, none, true), ShowStep::Previous);
    EXPECT_EQ(showStepForKey(Qt::Key_PageUp, Qt::ShiftModifier, false), ShowStep::Previous);
    for (const int key : {Qt::Key_Space, Qt::Key_P, Qt::Key_Pause}) {
        EXPECT_EQ(showStepForKey(key, none, false), ShowStep::Pause);
        // A held key must not flicker between paused and running.
        EXPECT_EQ(showStepForKey(key, none, true), ShowStep::None);
    }
    for (const auto modifier : {Qt::ControlModifier, Qt::AltModifier, Qt::MetaModifier})
        EXPECT_EQ(showStepForKey(Qt::Key_Right, modifier, false), ShowStep::None);
    for (const int key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Return, Qt::Key_C, Qt::Key_Escape})
        EXPECT_EQ(showStepForKey(key, none, false), ShowStep::None);
}

TEST(WheelSteps, OneStepPerNotchWithSmallDeltasAddingUp)
{
    WheelSteps wheel;
    // A wheel: one notch down is the next picture, two up the two before.
    EXPECT_EQ(wheel.add(-120, 0), 1);
    EXPECT_EQ(wheel.add(240, 0), -2);
    // A touchpad's many small deltas: a step only once a notch is full, and the rest kept.
    int steps = 0;
    for (int i = 0; i < 10; ++i)
        steps += wheel.add(-30, -4);
    EXPECT_EQ(steps, 2);
    EXPECT_EQ(wheel.add(-60, 0), 1);
    // Turning back does not finish the notch begun the other way.
    EXPECT_EQ(wheel.add(-100, 0), 0);
    EXPECT_EQ(wheel.add(100, 0), 0);
    EXPECT_EQ(wheel.add(20, 0), -1);
    // Pixels only, where the platform gives no angle: a notch is NotchPixels.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(wheel.add(0, 11), 0);
    EXPECT_EQ(wheel.add(0, 5), -1);
    EXPECT_EQ(wheel.add(0, -59), 0);
    EXPECT_EQ(wheel.add(0, 0), 0);
    EXPECT_EQ(wheel.add(0, -1), 1);
}
