// A show that follows its folder while it runs (WATCH=ON): pictures join and leave, a picture
// that leaves while it is prepared is dropped, and an empty folder waits for its pictures.
#include "show/showcontroller.h"
#include "show/showwatch.h"
#include "tests/show/showharness.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;

namespace {

class WatchedShowTest : public ::testing::Test
{
protected:
    void SetUp() override { m_options.watch = true; }

    void write(const QString& name, int n) const
    {
        ASSERT_TRUE(ShowHarness::writePicture(path(name), n));
    }
    void remove(const QString& name) const
    {
        std::remove(QFile::encodeName(path(name)).constData());
    }
    QString path(const QString& name) const { return m_folder.path() + u'/' + name; }

    std::unique_ptr<ShowController>
    startShow(const FolderWatcher::Settings& settings = {},
              std::function<void(int, std::stop_token)> prepareHook = {})
    {
        auto show = std::make_unique<ShowController>(m_view, m_options);
        EXPECT_TRUE(ShowHarness::runUntilHandedOver(*show, m_folder.path(), [&](ShowController& s) {
            s.setWatchSettingsForTesting(settings);
            s.setPrepareHookForTesting(std::move(prepareHook));
        }));
        return show;
    }
    static bool watchReady(const ShowController& show)
    {
        return QTest::qWaitFor([&] { return show.showWatch()->watcher().ready(); }, 10000);
    }
    bool pageReads(const QString& text) const
    {
        return QTest::qWaitFor([&] { return m_view.page == text; }, 2000);
    }

    // Asks for the next picture and lets the show change to it.
    void next(ShowController& show)
    {
        show.step(ShowStep::Next);
        EXPECT_TRUE(ShowHarness::tick(show));
    }

    QTemporaryDir m_folder;
    ShowOptions m_options;
    RecordingView m_view;
};

} // namespace

TEST_F(WatchedShowTest, PicturesJoinAndLeaveWhileTheShowRuns)
{
    write(QStringLiteral("a.bmp"), 0);
    write(QStringLiteral("c.bmp"), 2);
    write(QStringLiteral("e.bmp"), 4);
    auto show = startShow();
    ASSERT_TRUE(watchReady(*show));
    EXPECT_EQ(m_view.page, QStringLiteral("a.bmp\n1/3"));

    // Copied in, and written to a temporary name and renamed: each counts within a second.
    write(QStringLiteral("b.bmp"), 1);
    EXPECT_TRUE(pageReads(QStringLiteral("a.bmp\n1/4"))) << m_view.page.toStdString();
    write(QStringLiteral(".d.bmp.part"), 3);
    ASSERT_EQ(std::rename(QFile::encodeName(path(QStringLiteral(".d.bmp.part"))).constData(),
                          QFile::encodeName(path(QStringLiteral("D.bmp"))).constData()),
              0);
    EXPECT_TRUE(pageReads(QStringLiteral("a.bmp\n1/5"))) << m_view.page.toStdString();

    // The picture on screen is deleted: it stays until its slide ends, and the show goes on
    // with the one after it. One deleted further on is never shown.
    remove(QStringLiteral("a.bmp"));
    remove(QStringLiteral("c.bmp"));
    EXPECT_TRUE(pageReads(QStringLiteral("a.bmp\n1/3"))) << m_view.page.toStdString();
    EXPECT_EQ(show->slideImage().placement(), placeSlide(8, 6));
    std::vector<QString> shown;
    for (int i = 0; i < 4; ++i) {
        next(*show);
        shown.push_back(m_view.page);
    }
    EXPECT_EQ(shown, (std::vector<QString>{QStringLiteral("b.bmp\n1/3"), QStringLiteral("d.bmp\n2/3"),
                                           QStringLiteral("e.bmp\n3/3"),
                                           QStringLiteral("b.bmp\n1/3")}));
    EXPECT_TRUE(m_view.errors.empty());
}

TEST_F(WatchedShowTest, AnEmptyFolderWaitsUntilAPictureArrives)
{
    auto show = startShow();
    ASSERT_TRUE(show->waitingForPictures());
    EXPECT_EQ(m_view.waiting, m_folder.path() + u'/');
    EXPECT_EQ(m_view.quits, 0);
    ASSERT_TRUE(watchReady(*show));

    write(QStringLiteral("first.bmp"), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !show->waitingForPictures(); }, 2000));
    EXPECT_TRUE(pageReads(QStringLiteral("first.bmp\n1/1"))) << m_view.page.toStdString();
    EXPECT_TRUE(m_view.waiting.isEmpty());
    EXPECT_EQ(show->slideImage().placement(), placeSlide(9, 6));

    // It goes again: the picture stays until its slide ends, then the show waits.
    remove(QStringLiteral("first.bmp"));
    QTest::qWait(300);
    EXPECT_FALSE(show->waitingForPictures());
    EXPECT_EQ(show->slideImage().placement(), placeSlide(9, 6));
    // The page box keeps its text until the waiting screen comes.
    EXPECT_EQ(m_view.page, QStringLiteral("first.bmp\n1/1"));
    show->step(ShowStep::Next);
    show->slideTick();
    EXPECT_TRUE(show->waitingForPictures());
    EXPECT_FALSE(m_view.waiting.isEmpty());
    write(QStringLiteral("second.bmp"), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !show->waitingForPictures(); }, 2000));
    EXPECT_TRUE(pageReads(QStringLiteral("second.bmp\n1/1"))) << m_view.page.toStdString();
}

TEST_F(WatchedShowTest, WithoutEventsTheFolderIsSearchedAgain)
{
    write(QStringLiteral("a.bmp"), 0);
    FolderWatcher::Settings settings;
    settings.eventsOff = true;
    settings.minRescanInterval = 100ms;
    settings.settleTime = 0ms;
    auto show = startShow(settings);
    write(QStringLiteral("b.bmp"), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_view.page == QStringLiteral("a.bmp\n1/2"); }, 3000))
        << m_view.page.toStdString();
}

TEST_F(WatchedShowTest, APictureThatLeavesWhileItIsPreparedIsDropped)
{
    write(QStringLiteral("a.bmp"), 0);
    write(QStringLiteral("b.bmp"), 1);
    write(QStringLiteral("c.bmp"), 2);
    // The worker holds on b, the next picture, until its work is abandoned.
    std::atomic<bool> holding = false;
    std::atomic<bool> abandoned = false;
    auto show = startShow({}, [&](int index, std::stop_token stop) {
        if (index != 1)
            return;
        holding = true;
        for (int i = 0; i < 500 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(10ms);
        abandoned = stop.stop_requested();
    });
    // The neighbours are prepared once the first frame is drawn.
    show->slideTick();
    ASSERT_TRUE(watchReady(*show));
    ASSERT_TRUE(QTest::qWaitFor([&] { return holding.load(); }, 5000));
    remove(QStringLiteral("b.bmp"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return abandoned.load(); }, 2000));
    next(*show);
    EXPECT_EQ(m_view.page, QStringLiteral("c.bmp\n2/2"));
}
