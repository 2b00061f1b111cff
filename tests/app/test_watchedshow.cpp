// A show that follows its folder while it runs (WATCH=ON), in a real window.
#include "app/mainwindow.h"
#include "app/messages.h"
#include "show/showwatch.h"
#include "tests/support/testpictures.h"
#include "tests/support/windowsetup.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

class WatchedShowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { WindowSetup::prepareProcess(); }

    void SetUp() override
    {
        Messages::setPresenterForTesting(
            [this](Messages::Kind, const QString& text) { m_messages.push_back(text); });
    }
    void TearDown() override { Messages::setPresenterForTesting({}); }

    // A picture whose width names it: 8 + n texels.
    void write(const QString& name, int n) const
    {
        const RgbImage image = TestPictures::makeImage(8 + n, 6, [](int, int) {
            return std::array{90, 90, 90};
        });
        ASSERT_TRUE(TestPictures::writeFile(QFile::encodeName(path(name)).toStdString(),
                                            TestPictures::encodeBmp(image)));
    }
    QString path(const QString& name) const { return m_folder.path() + u'/' + name; }

    std::unique_ptr<MainWindow>
    makeWindow(const FolderWatcher::Settings& settings = {},
               std::function<void(int, std::stop_token)> prepareHook = {})
    {
        StartupOptions options;
        options.locations =
            AppLocations::besideProgram(QFile::encodeName(m_appDir.path()).toStdString());
        options.folderArgument = QFile::encodeName(m_folder.path()).toStdString();
        options.show.watch = true;
        auto window = std::make_unique<MainWindow>(std::move(options));
        window->controller().setWatchSettingsForTesting(settings);
        window->controller().setPrepareHookForTesting(std::move(prepareHook));
        QObject::connect(window.get(), &MainWindow::quitRequested, [this] { ++m_quits; });
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->findFileTimer().isActive(); }, 10000));
        return window;
    }

    static QString page(const MainWindow& window)
    {
        return window.findChild<QPlainTextEdit*>(QStringLiteral("E_Page"))->toPlainText();
    }
    static bool pageReads(const MainWindow& window, const QString& name, const QString& position)
    {
        const QString text = page(window);
        return text.section(u'\n', 0, 0).endsWith(name) && text.section(u'\n', -1) == position;
    }

    // Asks for the next picture and lets the show change to it.
    static void next(MainWindow& window)
    {
        QWidget* surface = window.slideWidget();
        QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        EXPECT_TRUE(WindowSetup::tickThroughChange(window));
    }

    QTemporaryDir m_appDir;
    QTemporaryDir m_folder;
    std::vector<QString> m_messages;
    int m_quits = 0;
};

} // namespace

TEST_F(WatchedShowTest, PicturesJoinAndLeaveWhileTheShowRuns)
{
    write(QStringLiteral("a.bmp"), 0);
    write(QStringLiteral("c.bmp"), 2);
    write(QStringLiteral("e.bmp"), 4);
    auto window = makeWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->controller().handOverPending(); }, 10000));
    const_cast<QTimer&>(window->slideTimer()).stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().showWatch()->watcher().ready(); }, 10000));
    EXPECT_TRUE(pageReads(*window, QStringLiteral("a.bmp"), QStringLiteral("1/3")));

    // Copied in, and written to a temporary name and renamed: each counts within a second.
    write(QStringLiteral("b.bmp"), 1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pageReads(*window, QStringLiteral("a.bmp"), QStringLiteral("1/4")); }, 1000))
        << page(*window).toStdString();
    write(QStringLiteral(".d.bmp.part"), 3);
    ASSERT_EQ(std::rename(QFile::encodeName(path(QStringLiteral(".d.bmp.part"))).constData(),
                          QFile::encodeName(path(QStringLiteral("D.bmp"))).constData()),
              0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pageReads(*window, QStringLiteral("a.bmp"), QStringLiteral("1/5")); }, 1000))
        << page(*window).toStdString();

    // The picture on screen is deleted: it stays until its slide ends, and the show goes on
    // with the one after it. One deleted further on is never shown.
    std::remove(QFile::encodeName(path(QStringLiteral("a.bmp"))).constData());
    std::remove(QFile::encodeName(path(QStringLiteral("c.bmp"))).constData());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pageReads(*window, QStringLiteral("a.bmp"), QStringLiteral("1/3")); }, 1000))
        << page(*window).toStdString();
    EXPECT_EQ(window->controller().slideImage().imageWidth(), 1024);
    EXPECT_EQ(window->controller().slideImage().placement(), placeSlide(8, 6));
    std::vector<QString> shown;
    for (int i = 0; i < 4; ++i) {
        next(*window);
        shown.push_back(page(*window).section(u'/', -2));
    }
    EXPECT_EQ(shown,
              (std::vector<QString>{QStringLiteral("b.bmp\n1/3"), QStringLiteral("d.bmp\n2/3"),
                                    QStringLiteral("e.bmp\n3/3"), QStringLiteral("b.bmp\n1/3")}));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(WatchedShowTest, AnEmptyFolderWaitsUntilAPictureArrives)
{
    auto window = makeWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().waitingForPictures(); }, 10000));
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_quits, 0);
    const auto* label = window->findChild<QLabel*>(QStringLiteral("WaitingLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().contains(QDir(m_folder.path()).dirName()))
        << label->text().toStdString();
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().showWatch()->watcher().ready(); }, 10000));

    write(QStringLiteral("first.bmp"), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->controller().waitingForPictures(); }, 2000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pageReads(*window, QStringLiteral("first.bmp"), QStringLiteral("1/1")); },
        2000))
        << page(*window).toStdString();
    EXPECT_EQ(window->controller().slideImage().placement(), placeSlide(9, 6));

    // It goes again: the picture stays until its slide ends, then the show waits; Escape
    // quits.
    const_cast<QTimer&>(window->slideTimer()).stop();
    std::remove(QFile::encodeName(path(QStringLiteral("first.bmp"))).constData());
    QTest::qWait(300);
    EXPECT_FALSE(window->controller().waitingForPictures());
    EXPECT_EQ(window->controller().slideImage().placement(), placeSlide(9, 6));
    QWidget* surface = window->slideWidget();
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
    window->controller().slideTick();
    EXPECT_TRUE(window->controller().waitingForPictures());
    write(QStringLiteral("second.bmp"), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->controller().waitingForPictures(); }, 2000));
    EXPECT_TRUE(pageReads(*window, QStringLiteral("second.bmp"), QStringLiteral("1/1")))
        << page(*window).toStdString();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quits, 1);
}

TEST_F(WatchedShowTest, WithoutEventsTheFolderIsSearchedAgain)
{
    write(QStringLiteral("a.bmp"), 0);
    FolderWatcher::Settings settings;
    settings.eventsOff = true;
    settings.minRescanInterval = 100ms;
    settings.settleTime = 0ms;
    auto window = makeWindow(settings);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->controller().handOverPending(); }, 10000));
    write(QStringLiteral("b.bmp"), 1);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return pageReads(*window, QStringLiteral("a.bmp"), QStringLiteral("1/2")); }, 3000))
        << page(*window).toStdString();
}

TEST_F(WatchedShowTest, APictureThatLeavesWhileItIsPreparedIsDropped)
{
    write(QStringLiteral("a.bmp"), 0);
    write(QStringLiteral("b.bmp"), 1);
    write(QStringLiteral("c.bmp"), 2);
    // The worker holds on b, the next picture, until its work is abandoned.
    std::atomic<bool> holding = false;
    std::atomic<bool> abandoned = false;
    auto window = makeWindow({}, [&](int index, std::stop_token stop) {
        if (index != 1)
            return;
        holding = true;
        for (int i = 0; i < 500 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(10ms);
        abandoned = stop.stop_requested();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->controller().handOverPending(); }, 10000));
    const_cast<QTimer&>(window->slideTimer()).stop();
    // The neighbours are prepared once the first frame is drawn, which a busy machine may not
    // have reached before the timer was stopped.
    window->controller().slideTick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().showWatch()->watcher().ready(); }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return holding.load(); }, 5000));
    std::remove(QFile::encodeName(path(QStringLiteral("b.bmp"))).constData());
    EXPECT_TRUE(QTest::qWaitFor([&] { return abandoned.load(); }, 2000));
    next(*window);
    EXPECT_TRUE(pageReads(*window, QStringLiteral("c.bmp"), QStringLiteral("2/2")))
        << page(*window).toStdString();
}
