// The slide cycle on a stepped clock: whole slides in both motions, the mouse buttons' rules,
// pause, a change that waits for its picture and the limits of the time per picture.
#include "show/slidecycle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Motion = SlideCycle::Motion;

class SteppedClock
{
public:
    SlideCycle::Now now()
    {
        return [this] { return m_now; };
    }
    void advance(std::chrono::duration<double> step)
    {
        m_now += std::chrono::duration_cast<SlideCycle::Clock::duration>(step);
    }

private:
    SlideCycle::Clock::time_point m_now{std::chrono::hours(1)};
};

// One tick as the window runs it: a pending change is completed at once (its picture is ready),
// then a frame is drawn, taking `drawing` from the tick to the screen. Returns the frame's table
// position.
double tick(SlideCycle& cycle, SteppedClock& clock, std::chrono::duration<double> drawing = 0s)
{
    if (cycle.beginTick())
        cycle.changeDone();
    const double position = cycle.tablePosition();
    clock.advance(drawing);
    cycle.frameShown();
    return position;
}

} // namespace

TEST(SlideCycle, FramesShowEachTableEntryOnceThenChangeAndWrap)
{
    SteppedClock clock;
    SlideCycle cycle(3, Motion::Frames, SlideCycle::DefaultSeconds, clock.now());
    EXPECT_EQ(cycle.frameInterval(), 30);
    for (int slide = 0; slide < 4; ++slide) {
        for (int frame = 1; frame <= 150; ++frame) {
            // The clock makes no difference to this motion.
            ASSERT_EQ(tick(cycle, clock, 1s), frame) << "slide " << slide;
            EXPECT_EQ(cycle.position(), slide % 3);
        }
        EXPECT_EQ(cycle.frameCounter(), 150);
    }
}

TEST(SlideCycle, SmoothFollowsTheClockFromTheFirstFrameOnScreen)
{
    SteppedClock clock;
    SlideCycle cycle(2, Motion::Smooth, SlideCycle::DefaultSeconds, clock.now());
    const auto refresh = std::chrono::duration<double>(1.0 / 60);
    const auto drawing = 6ms;

    // The first frame shows entry 1, however long it took; the clock starts when it is shown.
    EXPECT_EQ(tick(cycle, clock, 200ms), 1.0);
    std::chrono::duration<double> shownAt{0};
    std::vector<double> positions{1.0};
    while (true) {
        clock.advance(refresh - drawing);
        shownAt += refresh;
        if (cycle.beginTick())
            break;
        const double position = cycle.tablePosition();
        clock.advance(drawing);
        cycle.frameShown();
        // Each frame is posed for the moment it reaches the screen: the drawing time is learnt
        // from the frames before it.
        const double ideal = 1 + 149 * shownAt.count() / 4.5;
        if (positions.size() > 30) {
            EXPECT_NEAR(position, ideal, 0.05) << positions.size();
        }
        EXPECT_GT(position, positions.back());
        positions.push_back(position);
    }
    // The change comes when the slide's time is up, on the frame due then, with the motion
    // almost at the last entry and not beyond it.
    EXPECT_NEAR(shownAt.count(), 4.5, 1.5 * refresh.count());
    EXPECT_NEAR(double(positions.size()), 270, 1);
    EXPECT_GT(positions.back(), 149.0);
    EXPECT_LE(positions.back(), 150.0);
    EXPECT_EQ(cycle.position(), 1);
    cycle.changeDone();
    EXPECT_EQ(cycle.tablePosition(), 1.0);
}

// One frame held up for 400 ms (a busy machine) teaches the pose little: the frames after it are
// still posed near the moment they reach the screen.
TEST(SlideCycle, OneHeldUpFrameLeavesTheFollowingPosesOnTheClock)
{
    SteppedClock clock;
    SlideCycle cycle(2, Motion::Smooth, 10, clock.now());
    const std::chrono::duration<double> refresh(1.0 / 60);
    const std::chrono::duration<double> drawing = 6ms;
    tick(cycle, clock);
    std::chrono::duration<double> shownAt{0};
    for (int frame = 1; frame < 120; ++frame) {
        const std::chrono::duration<double> took = frame == 60 ? 400ms : drawing;
        clock.advance(refresh - drawing);
        ASSERT_FALSE(cycle.beginTick());
        const double position = cycle.tablePosition();
        clock.advance(took);
        cycle.frameShown();
        shownAt += refresh - drawing + took;
        if (frame > 30 && frame != 60) {
            EXPECT_NEAR(position, 1 + 149 * shownAt.count() / 10, 0.25) << frame;
        }
    }
}

TEST(SlideCycle, MouseButtonsFollowTheShowsRulesInBothMotions)
{
    for (const Motion motion : {Motion::Frames, Motion::Smooth}) {
        SCOPED_TRACE(motion == Motion::Frames ? "frames" : "smooth");
        SteppedClock clock;
        SlideCycle cycle(5, motion, SlideCycle::DefaultSeconds, clock.now());
        std::vector<int> rounds;
        cycle.setRoundHandler([&](int step) { rounds.push_back(step); });
        tick(cycle, clock);

        // Right on the first of five: the last comes next, at the next tick, from entry 1.
        cycle.previous();
        EXPECT_EQ(cycle.position(), 3);
        EXPECT_EQ(rounds, std::vector<int>{-1});
        EXPECT_EQ(tick(cycle, clock), 1.0);
        EXPECT_EQ(cycle.position(), 4);
        // Left on the last: the first.
        cycle.next();
        tick(cycle, clock);
        EXPECT_EQ(cycle.position(), 0);
        EXPECT_EQ(rounds, (std::vector<int>{-1, +1}));
        // Right on the second: -1 until the change, which shows the first.
        cycle.next();
        tick(cycle, clock);
        cycle.previous();
        EXPECT_EQ(cycle.position(), -1);
        tick(cycle, clock);
        EXPECT_EQ(cycle.position(), 0);
        EXPECT_EQ(rounds.size(), 2u);

        // Clicks while the change waits for its picture move its target, one step per tick.
        cycle.next();
        EXPECT_TRUE(cycle.beginTick());
        EXPECT_EQ(cycle.position(), 1);
        cycle.next();
        EXPECT_TRUE(cycle.beginTick());
        cycle.previous();
        EXPECT_TRUE(cycle.beginTick());
        EXPECT_EQ(cycle.position(), 1);
        // However long the wait, the new slide starts from entry 1 when its picture is there.
        clock.advance(20s);
        EXPECT_TRUE(cycle.beginTick());
        cycle.changeDone();
        EXPECT_EQ(cycle.tablePosition(), 1.0);
        cycle.frameShown();
        clock.advance(1s);
        EXPECT_FALSE(cycle.beginTick());
        EXPECT_LT(cycle.tablePosition(), 150.0);
    }

    // One picture: every change, and a right click, bring the same picture again.
    SteppedClock clock;
    SlideCycle single(1, Motion::Frames, SlideCycle::DefaultSeconds, clock.now());
    tick(single, clock);
    single.previous();
    EXPECT_EQ(single.position(), -1);
    EXPECT_TRUE(single.beginTick());
    EXPECT_EQ(single.position(), 0);
    single.changeDone();
    single.next();
    EXPECT_TRUE(single.beginTick());
    EXPECT_EQ(single.position(), 0);
}

TEST(SlideCycle, KeyAndWheelStepsCountEvenWithinOneTick)
{
    SteppedClock clock;
    SlideCycle cycle(5, Motion::Frames, SlideCycle::DefaultSeconds, clock.now());
    std::vector<int> rounds;
    cycle.setRoundHandler([&](int step) { rounds.push_back(step); });
    tick(cycle, clock);

    // Three notches down, one at a time, then three up in one event: three pictures each way.
    for (int i = 0; i < 3; ++i)
        cycle.step(+1);
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 3);
    cycle.step(-3);
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 0);
    EXPECT_TRUE(rounds.empty());

    // Across the round's ends, both ways, each end counted once it is passed.
    cycle.step(-2);
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 3);
    cycle.step(+8);
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 1);
    EXPECT_EQ(rounds, (std::vector<int>{-1, +1, +1}));

    // While a change waits for its picture, and while paused: from the change's target on.
    cycle.step(+1);
    EXPECT_TRUE(cycle.beginTick());
    cycle.step(+2);
    cycle.step(-1);
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 3);
    cycle.togglePause();
    cycle.step(-4);
    EXPECT_FALSE(cycle.paused());
    tick(cycle, clock);
    EXPECT_EQ(cycle.position(), 4);
    EXPECT_EQ(rounds, (std::vector<int>{-1, +1, +1, -1}));

    // One picture: each step passes an end.
    SlideCycle single(1, Motion::Frames, SlideCycle::DefaultSeconds, clock.now());
    int singleRounds = 0;
    single.setRoundHandler([&](int step) { singleRounds += step; });
    tick(single, clock);
    single.step(+3);
    tick(single, clock);
    EXPECT_EQ(singleRounds, 3);
    single.step(-2);
    tick(single, clock);
    EXPECT_EQ(single.position(), 0);
    EXPECT_EQ(singleRounds, 1);
}

TEST(SlideCycle, PauseKeepsThePoseAndResumesWhereItStopped)
{
    SteppedClock clock;
    SlideCycle frames(3, Motion::Frames, SlideCycle::DefaultSeconds, clock.now());
    for (int i = 0; i < 40; ++i)
        tick(frames, clock);
    EXPECT_TRUE(frames.togglePause());
    EXPECT_TRUE(frames.paused());
    EXPECT_FALSE(frames.togglePause());
    EXPECT_EQ(tick(frames, clock), 41.0);

    SlideCycle smooth(3, Motion::Smooth, SlideCycle::DefaultSeconds, clock.now());
    tick(smooth, clock);
    clock.advance(2s);
    const double before = tick(smooth, clock);
    EXPECT_NEAR(before, 1 + 149 * 2 / 4.5, 0.01);
    EXPECT_TRUE(smooth.togglePause());
    // Paused for longer than a slide: no change, and the same pose when it resumes.
    clock.advance(60s);
    EXPECT_FALSE(smooth.togglePause());
    EXPECT_FALSE(smooth.beginTick());
    EXPECT_EQ(smooth.tablePosition(), before);
    smooth.frameShown();
    clock.advance(1s);
    EXPECT_FALSE(smooth.beginTick());
    EXPECT_NEAR(smooth.tablePosition(), before + 149 / 4.5, 0.01);
    // The slide has 1.5 s left.
    clock.advance(1.6s);
    EXPECT_TRUE(smooth.beginTick());

    // Left or right while paused: the show resumes with the change.
    SlideCycle clicked(3, Motion::Smooth, SlideCycle::DefaultSeconds, clock.now());
    tick(clicked, clock);
    clicked.togglePause();
    clicked.next();
    EXPECT_FALSE(clicked.paused());
    EXPECT_TRUE(clicked.beginTick());
}

TEST(SlideCycle, TimePerPictureAtItsLimits)
{
    SteppedClock clock;
    struct Case
    {
        double asked;
        double kept;
        int interval;
    };
    for (const Case c :
         {Case{1, 1, 7}, Case{3600, 3600, 24000}, Case{0.2, 1, 7}, Case{1e9, 3600, 24000},
          Case{std::numeric_limits<double>::quiet_NaN(), 4.5, 30}}) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(SlideCycle(2, Motion::Frames, c.asked, clock.now()).frameInterval(), c.interval);
        SlideCycle smooth(2, Motion::Smooth, c.asked, clock.now());
        EXPECT_EQ(smooth.seconds(), c.kept);
        tick(smooth, clock);
        clock.advance(std::chrono::duration<double>(c.kept * 0.999));
        EXPECT_FALSE(smooth.beginTick());
        EXPECT_NEAR(smooth.tablePosition(), 149.85, 0.01);
        clock.advance(std::chrono::duration<double>(c.kept * 0.002));
        EXPECT_TRUE(smooth.beginTick());
    }
}
