#include "screen/controlimages.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

// The controls' images follow the controls: a change of text, a move or a hide is taken again
// once, the images lie where the controls lie in the window, and a window left alone is not
// taken again and again (taking an image paints the control, which must not count as a change).
TEST(ControlImages, FollowTheControlsAndRestWhenTheyDo)
{
    QWidget window;
    window.resize(300, 200);
    auto* panel = new QWidget(&window);
    panel->setGeometry(20, 30, 200, 100);
    auto* label = new QLabel(QStringLiteral("one"), panel);
    label->setGeometry(10, 10, 100, 20);
    auto* button = new QPushButton(QStringLiteral("Close"), &window);
    button->setGeometry(230, 0, 60, 25);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    int deliveries = 0;
    std::vector<ControlImage> last;
    ControlImages images({panel, button, nullptr}, [&](std::vector<ControlImage> taken) {
        ++deliveries;
        last = std::move(taken);
    }, &window);
    QTest::qWait(200);
    EXPECT_LE(deliveries, 2);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[0].at, QPoint(20, 30));
    EXPECT_EQ(last[0].image.size(), QSize(200, 100) * last[0].image.devicePixelRatio());
    EXPECT_EQ(last[1].at, QPoint(230, 0));

    // A child's change is the panel's: its image is taken again, with the new text in it.
    const QImage before = last[0].image;
    const int settled = deliveries;
    label->setText(QStringLiteral("two, longer"));
    QTest::qWait(100);
    EXPECT_GT(deliveries, settled);
    EXPECT_NE(last[0].image, before);

    // A moved control is taken where it now lies; a hidden one is left out.
    button->move(200, 150);
    QTest::qWait(100);
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[1].at, QPoint(200, 150));
    button->hide();
    QTest::qWait(100);
    EXPECT_EQ(last.size(), 1u);

    const int resting = deliveries;
    QTest::qWait(200);
    EXPECT_EQ(deliveries, resting);
}
