// The show's life without a window: the search and its hand-over, the slides and their frames,
// the steps at every point of the cycle, pause, failed pictures, pictures that keep the show
// waiting, and the end.
#include "show/showcontroller.h"
#include "tests/show/showharness.h"
#include "tests/support/preparegate.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using ShowHarness::tick;

class ShowControllerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    // Pictures "0.bmp".."n-1.bmp", picture i 8 + i texels wide.
    void writePictures(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(ShowHarness::writePicture(path(QStringLiteral("%1.bmp").arg(i)), i));
    }
    QString path(const QString& name) const { return m_folder.path() + u'/' + name; }

    // A show of the test's folder, handed over to its first picture.
    std::unique_ptr<ShowController>
    startShow(const std::function<void(ShowController&)>& prepare = {})
    {
        auto show = std::make_unique<ShowController>(m_view, m_options);
        EXPECT_TRUE(ShowHarness::runUntilHandedOver(*show, m_folder.path(), prepare));
        return show;
    }

    QString pagePosition() const { return m_view.page.section(u'\n', -1); }
    QString pageName() const { return m_view.page.section(u'\n', 0, 0); }

    QTemporaryDir m_folder;
    ShowOptions m_options;
    RecordingView m_view;
};

} // namespace

TEST_F(ShowControllerTest, HandsOverAndRunsEachSlideForItsFramesThenWraps)
{
    writePictures(3);
    std::vector<int> paths;
    auto show = startShow([&](ShowController& s) {
        s.setPathChooserForTesting([&] {
            paths.push_back(int(paths.size() % PathCount));
            return paths.back();
        });
    });
    // The search screen went, and the first picture is up with the page box, the close button
    // and the frames.
    EXPECT_EQ(m_view.searchEnded, 1);
    EXPECT_EQ(show->state(), ShowController::State::Showing);
    EXPECT_EQ(m_view.page, QStringLiteral("0.bmp\n1/3"));
    EXPECT_TRUE(m_view.controls);
    EXPECT_TRUE(m_view.framesActive);
    EXPECT_EQ(m_view.uploads, 1);
    EXPECT_EQ(show->slideImage().placement(), placeSlide(8, 6));
    // The path of the first slide was drawn at random when the show was made.
    EXPECT_TRUE(paths.empty());

    for (int frame = 0; frame < SlideFrames; ++frame) {
        EXPECT_EQ(show->frameCounter(), frame);
        ASSERT_TRUE(tick(*show));
        EXPECT_EQ(m_view.frames.back().tablePosition, frame + 1);
    }
    EXPECT_EQ(m_view.framesDone, SlideFrames);
    EXPECT_EQ(show->currentIndex(), 0);

    ASSERT_TRUE(tick(*show)); // changes slide, then draws its first frame
    EXPECT_EQ(show->currentIndex(), 1);
    EXPECT_EQ(show->frameCounter(), 1);
    EXPECT_EQ(m_view.frames.back().tablePosition, 1);
    EXPECT_EQ(m_view.frames.back().picture, 1);
    EXPECT_EQ(m_view.frames.back().path, paths.back());
    EXPECT_EQ(m_view.page, QStringLiteral("1.bmp\n2/3"));
    EXPECT_EQ(show->slideImage().placement(), placeSlide(9, 6));

    for (int i = 0; i < 2 * SlideFrames; ++i)
        ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_EQ(m_view.page, QStringLiteral("0.bmp\n1/3"));
    EXPECT_EQ(show->pathIndex(), paths.back());
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_TRUE(m_view.errors.empty());
}

TEST_F(ShowControllerTest, AnEmptyFolderEndsTheProgramUnlessTheShowWaitsForPictures)
{
    auto show = startShow();
    EXPECT_TRUE(m_view.noPictures);
    EXPECT_EQ(m_view.quits, 1);
    EXPECT_FALSE(m_view.controls);
    EXPECT_FALSE(show->slideshowRunning());

    RecordingView watchedView;
    ShowOptions watched;
    watched.watch = true;
    ShowController waiting(watchedView, watched);
    FolderWatcher::Settings settings;
    settings.eventsOff = true;
    ASSERT_TRUE(ShowHarness::runUntilHandedOver(
        waiting, m_folder.path(), [&](ShowController& s) { s.setWatchSettingsForTesting(settings); }));
    EXPECT_EQ(waiting.state(), ShowController::State::Waiting);
    EXPECT_EQ(watchedView.waiting, m_folder.path() + u'/');
    EXPECT_TRUE(watchedView.controls);
    EXPECT_FALSE(watchedView.noPictures);
    EXPECT_EQ(watchedView.quits, 0);
    // Nothing is drawn, and steps do nothing, while it waits.
    waiting.slideTick();
    EXPECT_TRUE(watchedView.frames.empty());
    EXPECT_FALSE(waiting.step(ShowStep::Next));
}

// The buttons' steps at every point of a slide: the change comes at the next tick, from camera
// frame 1 of the new picture; a step back from the first picture goes to the last.
TEST_F(ShowControllerTest, StepsAtEveryPointOfTheCycle)
{
    writePictures(5);
    auto show = startShow();
    for (const int framesIn : {0, 1, 75, SlideFrames - 1, SlideFrames}) {
        SCOPED_TRACE(framesIn);
        const int before = show->currentIndex();
        while (show->frameCounter() < framesIn)
            ASSERT_TRUE(tick(*show));
        ASSERT_EQ(show->currentIndex(), before);
        m_view.framesActive = false;
        EXPECT_TRUE(show->step(ShowStep::Next));
        EXPECT_TRUE(m_view.framesActive);
        ASSERT_TRUE(tick(*show));
        EXPECT_EQ(show->currentIndex(), (before + 1) % 5);
        EXPECT_EQ(show->frameCounter(), 1);
        EXPECT_EQ(m_view.frames.back().tablePosition, 1);
        EXPECT_EQ(pagePosition(), QStringLiteral("%1/5").arg((before + 1) % 5 + 1));
    }

    // Back from the first: the last comes next; from the second: the first again.
    ASSERT_TRUE(show->step(ShowStep::Next));
    ASSERT_TRUE(tick(*show));
    ASSERT_EQ(show->currentIndex(), 1);
    show->step(ShowStep::Previous);
    EXPECT_EQ(show->currentIndex(), -1);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    show->step(ShowStep::Previous);
    EXPECT_EQ(show->currentIndex(), 3);
    EXPECT_EQ(show->frameCounter(), SlideFrames);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 4);
    EXPECT_EQ(m_view.page, QStringLiteral("4.bmp\n5/5"));
    EXPECT_TRUE(m_view.errors.empty());
}

TEST_F(ShowControllerTest, PauseStopsTheFramesWithTheMarkerAndAnyStepResumes)
{
    writePictures(3);
    auto show = startShow();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(tick(*show));
    const std::size_t drawn = m_view.frames.size();
    EXPECT_TRUE(show->step(ShowStep::Pause));
    EXPECT_EQ(show->state(), ShowController::State::Paused);
    EXPECT_FALSE(m_view.framesActive);
    EXPECT_TRUE(m_view.pauseMarker);
    show->slideTick();
    EXPECT_EQ(m_view.frames.size(), drawn);

    EXPECT_TRUE(show->step(ShowStep::Pause));
    EXPECT_TRUE(m_view.framesActive);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->frameCounter(), 11);
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_FALSE(m_view.pauseMarker);

    // Paused, the next picture resumes the show.
    show->step(ShowStep::Pause);
    show->step(ShowStep::Next);
    EXPECT_TRUE(m_view.framesActive);
    EXPECT_EQ(show->state(), ShowController::State::Showing);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 1);
}

TEST_F(ShowControllerTest, StepsBeforeTheHandOverDoNothing)
{
    writePictures(2);
    PrepareGate gate;
    ShowController show(m_view, m_options);
    show.setPrepareHookForTesting(gate.hook([](int) { return true; }));
    show.startSearch(QFile::encodeName(m_folder.path() + u'/').toStdString());
    for (const ShowStep step : {ShowStep::Next, ShowStep::Previous, ShowStep::Pause})
        EXPECT_FALSE(show.step(step));
    show.wheel(-360, 0);
    EXPECT_EQ(show.state(), ShowController::State::Searching);

    // The first picture held in the worker: the status line says what loads, and steps still
    // do nothing.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            show.searchTick();
            return !show.searching();
        },
        10000));
    EXPECT_EQ(show.state(), ShowController::State::HandingOver);
    EXPECT_EQ(m_view.loading, QStringLiteral("0.bmp"));
    EXPECT_FALSE(show.step(ShowStep::Next));
    EXPECT_FALSE(m_view.framesActive);
    gate.open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !show.handOverPending(); }, 10000));
    EXPECT_EQ(show.currentIndex(), 0);
    EXPECT_TRUE(m_view.framesActive);
}

TEST_F(ShowControllerTest, AnUnreadablePictureIsReportedAndTheShowGoesOn)
{
    writePictures(5);
    QFile broken(path(QStringLiteral("2.bmp")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("BM12345678"); // ten bytes: the file header is cut short
    broken.close();
    auto show = startShow([](ShowController& s) { s.setPathChooserForTesting([] { return 2; }); });

    for (int i = 0; i < SlideFrames + 1; ++i)
        ASSERT_TRUE(tick(*show));
    ASSERT_EQ(show->currentIndex(), 1);
    show->setPathChooserForTesting([] { return 4; });
    for (int i = 0; i < SlideFrames - 1; ++i)
        ASSERT_TRUE(tick(*show));

    ASSERT_TRUE(tick(*show)); // the third picture fails to load
    ASSERT_EQ(m_view.errors, std::vector<std::string>{"ストリームからの読み込みエラー"});
    EXPECT_EQ(m_view.framesSkipped, 1);
    EXPECT_EQ(show->currentIndex(), 2);
    EXPECT_EQ(show->frameCounter(), 0);
    EXPECT_EQ(show->pathIndex(), 2);
    EXPECT_EQ(m_view.page, QStringLiteral("1.bmp\n2/5"));

    // The second picture again, from the first camera frame, then the fourth.
    for (int i = 0; i < SlideFrames; ++i)
        ASSERT_TRUE(tick(*show));
    EXPECT_EQ(m_view.frames.back().picture, 1);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 3);
    EXPECT_EQ(m_view.page, QStringLiteral("3.bmp\n4/5"));
    EXPECT_EQ(show->pathIndex(), 4);
    EXPECT_EQ(m_view.errors.size(), 1u);
}

TEST_F(ShowControllerTest, AnUnreadableFirstPictureIsReportedAndTheShowStartsAllTheSame)
{
    QFile broken(path(QStringLiteral("a.bmp")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("PK not a bitmap at all");
    broken.close();
    ASSERT_TRUE(ShowHarness::writePicture(path(QStringLiteral("b.bmp"))));
    auto show = startShow();
    ASSERT_EQ(m_view.errors,
              std::vector<std::string>{"TQdInternalDIB.LoadFromFile: File type is invalid"});
    // The hand-over is finished as after any failed change: page box, close button, frames.
    EXPECT_TRUE(show->slideshowRunning());
    EXPECT_EQ(m_view.page, QStringLiteral("a.bmp\n1/2"));
    EXPECT_TRUE(m_view.controls);
    EXPECT_TRUE(m_view.framesActive);
    EXPECT_EQ(m_view.uploads, 0);

    // When the failed picture's frames are up, the show moves on to the second one.
    for (int i = 0; i < SlideFrames; ++i)
        ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(m_view.page, QStringLiteral("b.bmp\n2/2"));
    EXPECT_EQ(m_view.errors.size(), 1u);
}

// A change whose picture is still being prepared draws nothing and says what loads; the steps
// meanwhile move the change's target, and the change completes as soon as its picture is
// ready, without waiting for another tick.
TEST_F(ShowControllerTest, AChangeWaitsForItsPictureAndStepsMoveItsTarget)
{
    writePictures(6);
    PrepareGate gate;
    auto show = startShow([&](ShowController& s) {
        s.setPrepareHookForTesting(gate.hook([](int index) { return index != 0; }));
    });
    const std::size_t drawn = m_view.frames.size();
    const auto step = [&](ShowStep which) {
        show->step(which);
        show->slideTick();
        EXPECT_TRUE(show->changePending());
    };
    step(ShowStep::Next);
    EXPECT_EQ(show->currentIndex(), 1);
    step(ShowStep::Next);
    EXPECT_EQ(show->currentIndex(), 2);
    step(ShowStep::Previous);
    EXPECT_EQ(show->currentIndex(), 1);
    EXPECT_EQ(m_view.loading, QStringLiteral("1.bmp"));
    EXPECT_EQ(m_view.page, QStringLiteral("0.bmp\n1/6"));
    EXPECT_EQ(m_view.frames.size(), drawn);
    EXPECT_GE(m_view.pictureWaits, 3);

    gate.open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !show->changePending(); }, 10000));
    EXPECT_EQ(show->currentIndex(), 1);
    EXPECT_EQ(show->frameCounter(), 1);
    EXPECT_EQ(m_view.frames.back().picture, 1);
    EXPECT_EQ(m_view.page, QStringLiteral("1.bmp\n2/6"));
    EXPECT_TRUE(m_view.loading.isEmpty());
    EXPECT_TRUE(m_view.errors.empty());
}

TEST_F(ShowControllerTest, ShuffledShowStepsForwardAndBackInPlayOrder)
{
    writePictures(5);
    m_options.order = ShowOrder::Shuffle;
    auto show = startShow([](ShowController& s) { s.setShuffleRandomForTesting(std::mt19937(3)); });
    const PlayOrder& order = *show->playOrder();
    const auto expectShown = [&](int position, int picture) {
        EXPECT_EQ(show->currentIndex(), position);
        EXPECT_EQ(show->currentPicture(), picture);
        EXPECT_EQ(show->slideImage().placement(), placeSlide(8 + picture, 6));
        EXPECT_EQ(pagePosition(), QStringLiteral("%1/5").arg(position + 1));
    };
    std::vector<int> firstRound;
    for (int position = 0; position < 5; ++position)
        firstRound.push_back(order.pictureAt(position));
    EXPECT_NE(firstRound, (std::vector<int>{0, 1, 2, 3, 4}));
    expectShown(0, firstRound[0]);
    for (int position = 1; position < 5; ++position) {
        show->step(ShowStep::Next);
        ASSERT_TRUE(tick(*show));
        expectShown(position, firstRound[std::size_t(position)]);
    }
    show->step(ShowStep::Next);
    ASSERT_TRUE(tick(*show));
    EXPECT_NE(order.pictureAt(0), firstRound[4]);
    expectShown(0, order.pictureAt(0));
    show->step(ShowStep::Previous);
    ASSERT_TRUE(tick(*show));
    expectShown(4, firstRound[4]);
    show->step(ShowStep::Previous);
    ASSERT_TRUE(tick(*show));
    expectShown(3, firstRound[3]);
}

TEST_F(ShowControllerTest, OnePictureIsShownAgainAfterItsFramesAndAfterAStepBack)
{
    writePictures(1);
    int draws = 0;
    auto show = startShow([&](ShowController& s) {
        s.setPathChooserForTesting([&] { return ++draws % PathCount; });
    });
    for (int i = 0; i < SlideFrames + 1; ++i)
        ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(m_view.uploads, 2);
    show->step(ShowStep::Previous);
    EXPECT_EQ(show->currentIndex(), -1);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_EQ(m_view.page, QStringLiteral("0.bmp\n1/1"));
    EXPECT_EQ(m_view.uploads, 3);
}

TEST_F(ShowControllerTest, StopEndsTheSearchOrTheFramesOnceAndCloseEndsTheSearch)
{
    writePictures(2);
    {
        ShowController searching(m_view, m_options);
        searching.startSearch(QFile::encodeName(m_folder.path() + u'/').toStdString());
        searching.stop();
        searching.stop();
        EXPECT_EQ(m_view.stoppingShown, 1);
        EXPECT_EQ(m_view.quits, 1);
        EXPECT_FALSE(searching.searching());
        EXPECT_EQ(searching.state(), ShowController::State::Stopping);
        // A tick that was already queued draws nothing.
        searching.searchTick();
        EXPECT_EQ(m_view.searchEnded, 0);
    }
    auto show = startShow();
    show->stop();
    EXPECT_EQ(m_view.stoppingShown, 1);
    EXPECT_FALSE(m_view.framesActive);
    EXPECT_EQ(m_view.quits, 2);
    const std::size_t drawn = m_view.frames.size();
    show->slideTick();
    EXPECT_EQ(m_view.frames.size(), drawn);

    ShowController closing(m_view, m_options);
    closing.startSearch(QFile::encodeName(m_folder.path() + u'/').toStdString());
    closing.close();
    EXPECT_FALSE(closing.searching());
    EXPECT_EQ(m_view.quits, 3);
}

// Smooth motion and the high quality mode put the next picture's texture up ahead, a slice per
// frame, so that the change itself uploads nothing more.
TEST_F(ShowControllerTest, SmoothMotionStagesTheNextTextureAhead)
{
    writePictures(2);
    m_options.motion = SlideMotion::Smooth;
    auto show = startShow();
    ASSERT_TRUE(tick(*show));
    ASSERT_TRUE(QTest::qWaitFor([&] { return show->preparer()->isIdle(); }, 10000));
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(tick(*show));
    EXPECT_EQ(m_view.stagedKey, 1);
    EXPECT_GE(m_view.stagedRows, 1024);
    show->step(ShowStep::Next);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 1);
    // The staged texture became the slide texture, and the one after it goes up next.
    EXPECT_EQ(m_view.stagedUses, 1);
    EXPECT_EQ(m_view.uploads, 1);
    EXPECT_EQ(m_view.stagedKey, 0);
}

// Keys and wheel notches add up: n of them before the next frame move n pictures, either way,
// across the ends of the round. Two quick left clicks keep the buttons' rule: one picture on.
TEST_F(ShowControllerTest, KeyAndWheelStepsWithinOneFrameEachMoveAPicture)
{
    writePictures(8);
    auto show = startShow();
    ASSERT_TRUE(tick(*show));
    for (int i = 0; i < 3; ++i)
        show->wheel(-120, 0);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 3);
    for (int i = 0; i < 3; ++i)
        show->wheel(120, 0);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_TRUE(show->keyStep(ShowStep::Next));
    EXPECT_TRUE(show->keyStep(ShowStep::Next));
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(m_view.page, QStringLiteral("2.bmp\n3/8"));
    for (int i = 0; i < 3; ++i)
        show->keyStep(ShowStep::Previous);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(m_view.page, QStringLiteral("7.bmp\n8/8"));
    show->step(ShowStep::Next);
    show->step(ShowStep::Next);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_TRUE(m_view.errors.empty());
}

// Bitmaps with a version 4 header (as image editors write them) show where the further formats
// are shown; the design's formats keep refusing them.
TEST_F(ShowControllerTest, LaterBitmapHeadersShowOnlyWithTheFurtherFormats)
{
    const RgbImage image =
        TestPictures::makeImage(10, 6, [](int, int) { return std::array{90, 90, 90}; });
    std::vector<std::uint8_t> file = TestPictures::encodeBmp(image);
    // The 40-byte header becomes a 108-byte one: the masks and colour space that follow it are
    // zeros, which an uncompressed 24-bit picture does not use.
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            file[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
    };
    file.insert(file.begin() + 14 + 40, 68, 0);
    put32(2, std::uint32_t(file.size()));
    put32(10, 14 + 108);
    put32(14, 108);
    ASSERT_TRUE(TestPictures::writeFile(QFile::encodeName(path(QStringLiteral("v4.bmp"))).toStdString(),
                                        file));
    auto design = startShow();
    EXPECT_EQ(m_view.errors.size(), 1u);

    RecordingView view;
    ShowOptions all;
    all.formats = PictureFormats::All;
    ShowController show(view, all);
    ASSERT_TRUE(ShowHarness::runUntilHandedOver(show, m_folder.path()));
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(show.slideImage().placement(), placeSlide(10, 6));
}

namespace {

// A wall clock that starts at `start` (seconds after midnight UTC, in a UTC zone) and runs at
// the real pace.
AwakeWatch::Clock clockFrom(std::chrono::seconds start)
{
    const auto began = std::chrono::steady_clock::now();
    const std::chrono::system_clock::time_point midnight{std::chrono::hours(24 * 20000)};
    return {[=] {
                return midnight + start +
                       std::chrono::duration_cast<std::chrono::system_clock::duration>(
                           std::chrono::steady_clock::now() - began);
            },
            [](std::chrono::system_clock::time_point) { return std::chrono::seconds(0); }};
}

} // namespace

// Outside its hours the show sleeps: no frames, the screen let go and put to sleep, the music
// held. A key wakes it with the next picture; pause lets the screen go and resume takes it again.
TEST_F(ShowControllerTest, TheShowSleepsAtTheEndOfItsHoursAndAKeyWakesIt)
{
    writePictures(3);
    m_options.awake = *AwakeSchedule::parse("07:00-23:00");
    auto show = startShow([](ShowController& s) {
        s.setAwakeClockForTesting(clockFrom(std::chrono::hours(23) - std::chrono::seconds(1)));
    });
    EXPECT_TRUE(m_view.screenHeld);
    EXPECT_TRUE(m_view.framesActive);
    show->step(ShowStep::Pause);
    EXPECT_FALSE(m_view.screenHeld);
    show->step(ShowStep::Pause);
    EXPECT_TRUE(m_view.screenHeld);
    ASSERT_TRUE(tick(*show));

    ASSERT_TRUE(QTest::qWaitFor([&] { return show->asleep(); }, 5000));
    EXPECT_EQ(show->state(), ShowController::State::Asleep);
    EXPECT_FALSE(m_view.framesActive);
    EXPECT_FALSE(m_view.screenHeld);
    EXPECT_TRUE(m_view.screenAsleep);
    EXPECT_TRUE(m_view.musicPaused);
    const std::size_t drawn = m_view.frames.size();
    show->slideTick();
    EXPECT_EQ(m_view.frames.size(), drawn);

    // The key wakes the show rather than stepping it; the next picture follows.
    EXPECT_TRUE(show->keyStep(ShowStep::Next));
    EXPECT_FALSE(show->asleep());
    EXPECT_FALSE(m_view.screenAsleep);
    EXPECT_FALSE(m_view.musicPaused);
    EXPECT_TRUE(m_view.screenHeld);
    EXPECT_TRUE(m_view.framesActive);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 1);
    EXPECT_TRUE(m_view.errors.empty());
}

// A show started in its night begins asleep, and its first picture's frames start when its hours
// begin. KEEP_AWAKE=OFF never holds the screen.
TEST_F(ShowControllerTest, AShowStartedAtNightWakesAtTheStartOfItsHours)
{
    writePictures(2);
    m_options.awake = *AwakeSchedule::parse("07:00-23:00");
    m_options.keepAwake = false;
    auto show = startShow([](ShowController& s) {
        s.setAwakeClockForTesting(clockFrom(std::chrono::hours(7) - std::chrono::seconds(1)));
    });
    EXPECT_TRUE(show->asleep());
    EXPECT_TRUE(m_view.screenAsleep);
    EXPECT_FALSE(m_view.framesActive);
    EXPECT_TRUE(m_view.frames.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !show->asleep(); }, 5000));
    EXPECT_FALSE(m_view.screenAsleep);
    EXPECT_TRUE(m_view.framesActive);
    EXPECT_FALSE(m_view.screenHeld);
    ASSERT_TRUE(tick(*show));
    EXPECT_EQ(show->currentIndex(), 0);
    EXPECT_EQ(show->frameCounter(), 1);
}
