#include "scene/camerapaths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace {

struct Expected
{
    float eyeX, eyeY, eyeZ, centerX, centerY, centerZ;
};

void expectPose(const CameraPaths& paths, int frame, int path, Expected e)
{
    const CameraPose p = paths.pose(frame, path);
    SCOPED_TRACE(::testing::Message() << "frame " << frame << " path " << path);
    EXPECT_EQ(p.eyeX, e.eyeX);
    EXPECT_EQ(p.eyeY, e.eyeY);
    EXPECT_EQ(p.eyeZ, e.eyeZ);
    EXPECT_EQ(p.centerX, e.centerX);
    EXPECT_EQ(p.centerY, e.centerY);
    EXPECT_EQ(p.centerZ, e.centerZ);
}

class CameraPathsTest : public ::testing::Test
{
protected:
    const CameraPaths m_paths;
};

} // namespace

TEST_F(CameraPathsTest, FirstFrameOfEveryPath)
{
    expectPose(m_paths, 1, 0, {0, 2970, 1990, 0, 2340, 0});
    expectPose(m_paths, 1, 1, {-2960, 297, 4960, 3000, 297, 7800});
    expectPose(m_paths, 1, 2, {2960, 297, 4960, -3000, 297, 7800});
    expectPose(m_paths, 1, 3, {-3960, 990, 2000, -5920, 990, -3000});
    expectPose(m_paths, 1, 4, {3960, 990, 2000, 5920, 990, -3000});
    expectPose(m_paths, 1, 5, {0, 2900, 3970, 0, 5800, -3000});
}

TEST_F(CameraPathsTest, ClampsStopAtTheCentreLine)
{
    EXPECT_EQ(m_paths.pose(74, 1).eyeX, -40);
    EXPECT_EQ(m_paths.pose(75, 1).eyeX, 0);
    EXPECT_EQ(m_paths.pose(76, 1).eyeX, 0);
    EXPECT_EQ(m_paths.pose(74, 2).eyeX, 40);
    EXPECT_EQ(m_paths.pose(74, 3).centerX, -80);
    EXPECT_EQ(m_paths.pose(74, 4).centerX, 80);
    for (int frame = 75; frame <= 100; ++frame) {
        EXPECT_EQ(m_paths.pose(frame, 1).eyeX, 0) << frame;
        EXPECT_EQ(m_paths.pose(frame, 2).eyeX, 0) << frame;
        EXPECT_EQ(m_paths.pose(frame, 3).centerX, 0) << frame;
        EXPECT_EQ(m_paths.pose(frame, 4).centerX, 0) << frame;
    }
}

TEST_F(CameraPathsTest, PhaseBoundaries)
{
    // Path 0: the look-at point reaches the picture's centre at frame 40.
    EXPECT_EQ(m_paths.pose(40, 0).centerY, 0);
    EXPECT_EQ(m_paths.pose(39, 0).centerY, 60);
    // Path 1 turns towards the picture: frame 40 ends the forward swing, 41 starts the slide.
    expectPose(m_paths, 40, 1, {-1400, 180, 3400, 3000, 180, 0});
    expectPose(m_paths, 41, 1, {-1360, 177, 3360, 2925, 177, 0});
    EXPECT_EQ(m_paths.pose(41, 2).centerX, -2925);
    EXPECT_EQ(m_paths.pose(80, 1).centerX, 0);
    EXPECT_EQ(m_paths.pose(80, 2).centerX, 0);
    // Path 3 holds its distance until frame 60, then closes in.
    EXPECT_EQ(m_paths.pose(60, 3).eyeZ, 2000);
    EXPECT_EQ(m_paths.pose(61, 3).eyeZ, 1975);
    EXPECT_EQ(m_paths.pose(100, 3).eyeZ, 1000);
    EXPECT_EQ(m_paths.pose(61, 4).eyeZ, 1975);
}

TEST_F(CameraPathsTest, PathFiveBouncesWithALevelView)
{
    const int frames[] = {30, 31, 50, 51, 70, 71};
    const float heights[] = {0, 50, 1000, 950, 0, 0};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(m_paths.pose(frames[k], 5).eyeY, heights[k]) << frames[k];
        EXPECT_EQ(m_paths.pose(frames[k], 5).centerY, heights[k]) << frames[k];
    }
    EXPECT_EQ(m_paths.pose(29, 5).centerY, 200);
}

TEST_F(CameraPathsTest, HoldAndExit)
{
    for (int path = 0; path < PathCount; ++path) {
        const float holdCenterZ = path < 3 ? 0 : -3000;
        expectPose(m_paths, 100, path, {0, 0, 1000, 0, 0, holdCenterZ});
        expectPose(m_paths, 101, path, {0, 0, 1000, 0, 0, holdCenterZ});
        expectPose(m_paths, 130, path, {0, 0, 1000, 0, 0, holdCenterZ});
        EXPECT_EQ(m_paths.pose(131, path).eyeZ, 900) << path;
        EXPECT_EQ(m_paths.pose(131, path).centerZ, -3000) << path;
        EXPECT_EQ(m_paths.pose(140, path).eyeZ, 0) << path;
    }
    for (int path = 0; path < 3; ++path)
        expectPose(m_paths, 150, path, {0, 0, -1000, 0, 0, -3000});
    expectPose(m_paths, 150, 3, {-1200, 0, -1000, -1200, 0, -3000});
    expectPose(m_paths, 150, 4, {1200, 0, -1000, 1200, 0, -3000});
    expectPose(m_paths, 150, 5, {0, 2000, -1000, 0, 2000, -3000});
}

TEST_F(CameraPathsTest, EveryValueIsAWholeNumberInRange)
{
    for (int frame = 1; frame <= SlideFrames; ++frame) {
        for (int path = 0; path < PathCount; ++path) {
            const CameraPose p = m_paths.pose(frame, path);
            for (float v : {p.eyeX, p.eyeY, p.eyeZ, p.centerX, p.centerY, p.centerZ}) {
                EXPECT_EQ(v, std::trunc(v)) << frame << " " << path;
                EXPECT_GE(v, -5920) << frame << " " << path;
                EXPECT_LE(v, 7800) << frame << " " << path;
            }
            // The eye never coincides with the look-at point, which would leave the view
            // undefined.
            EXPECT_FALSE(p.eyeX == p.centerX && p.eyeY == p.centerY && p.eyeZ == p.centerZ)
                << frame << " " << path;
        }
    }
}

TEST_F(CameraPathsTest, RefusesFramesAndPathsOutsideTheTables)
{
    EXPECT_THROW(m_paths.pose(0, 0), std::out_of_range);
    EXPECT_THROW(m_paths.pose(151, 0), std::out_of_range);
    EXPECT_THROW(m_paths.pose(1, -1), std::out_of_range);
    EXPECT_THROW(m_paths.pose(1, 6), std::out_of_range);
    EXPECT_NO_THROW(m_paths.pose(150, 5));
}

TEST_F(CameraPathsTest, FractionalPositionsInterpolateEyeAndCentreSeparately)
{
    for (int path = 0; path < PathCount; ++path) {
        const CameraPose a = m_paths.pose(37, path);
        const CameraPose b = m_paths.pose(38, path);
        const CameraPose mid = m_paths.pose(37.5, path);
        EXPECT_FLOAT_EQ(mid.eyeZ, (a.eyeZ + b.eyeZ) / 2) << path;
        EXPECT_FLOAT_EQ(mid.centerX, (a.centerX + b.centerX) / 2) << path;
        EXPECT_EQ(m_paths.pose(150.0, path).eyeZ, m_paths.pose(150, path).eyeZ);
    }
    EXPECT_THROW(m_paths.pose(150.01, 0), std::out_of_range);
    EXPECT_THROW(m_paths.pose(0.99, 0), std::out_of_range);
}
