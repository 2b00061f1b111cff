#include "app/layout.h"

#include <gtest/gtest.h>

TEST(ComputeLayout, PlacesTheComponentsOnAFullHdScreen)
{
    const WindowLayout layout = computeLayout(1920, 1080);
    EXPECT_EQ(layout.closeButton, QPoint(1863, 0));
    EXPECT_EQ(layout.pageBox, QPoint(1659, 0));
    EXPECT_EQ(layout.panel, QPoint(725, 411));
}

TEST(ComputeLayout, CentresThePanelRoundingTowardZero)
{
    // 511 / 2 rounds down to 255.
    EXPECT_EQ(computeLayout(1024, 768).panel, QPoint(277, 255));
    // A screen lower than the panel: (200 - 257) / 2 is -28, not -29.
    EXPECT_EQ(computeLayout(1024, 200).panel.y(), -28);
    EXPECT_EQ(computeLayout(400, 200).panel, QPoint(-35, -28));
}
