// The screen kept awake, without the show's window: the desktop's inhibitors on a private session
// bus with a stand-in that records the calls, and the X server's screen saver read through its
// extension.
#include "screen/screenawake.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <xcb/screensaver.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The stand-in's log, line by line.
QStringList logOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// Waits, with the event loop running, until the log ends with `line`.
bool waitForLine(const QString& path, const QString& line)
{
    return QTest::qWaitFor([&] { return logOf(path).endsWith(line); }, 5000);
}

} // namespace

// For each set of services on the bus: the first that answers is the only one used, in the
// order portal, screen saver service, session manager, with the idle flag; a release gives it
// back, a new hold takes it again, and an object destroyed while its inhibit is still on its way
// leaves nothing held either. With none of them, nothing is held and nothing goes wrong.
TEST(SessionBus, TheFirstServiceThatAnswersIsHeldAndReleased)
{
    const struct
    {
        QStringList services;
        QString inhibit;
        QString release;
    } cases[] = {
        {{"portal", "screensaver", "gnome"}, "portal Inhibit 8", "portal Close"},
        {{"screensaver", "gnome"}, "screensaver Inhibit", "screensaver UnInhibit"},
        {{"gnome"}, "gnome Inhibit 8", "gnome Uninhibit"},
        {{}, {}, {}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.services.join(' ').toStdString());
        QTemporaryDir dir;
        const QString log = dir.filePath("calls.log");
        QProcess standIn;
        standIn.setProcessChannelMode(QProcess::ForwardedChannels);
        // The system's Python, which has Debian's D-Bus and GLib modules.
        standIn.start("/usr/bin/python3",
                      QStringList{LUMIVANE_SOURCE_DIR "/tests/screen/inhibit_standin.py", log} +
                          test.services);
        ASSERT_TRUE(waitForLine(log, "ready"));

        {
            ScreenAwake awake(nullptr);
            awake.setHeld(true);
            if (test.services.isEmpty()) {
                QTest::qWait(500);
                EXPECT_EQ(logOf(log).join(", ").toStdString(), "ready");
                continue;
            }
            ASSERT_TRUE(waitForLine(log, "held 1"));
            awake.setHeld(false);
            ASSERT_TRUE(waitForLine(log, "held 0"));
            awake.setHeld(true);
            awake.setHeld(true);
            ASSERT_TRUE(waitForLine(log, "held 1"));
        }
        EXPECT_TRUE(waitForLine(log, "held 0"));
        // Released, or gone, before any service answered: the portal's late grant is given
        // back at once, and a later service is not asked at all.
        {
            ScreenAwake awake(nullptr);
            awake.setHeld(true);
            awake.setHeld(false);
            QTest::qWait(300);
            awake.setHeld(true);
        }
        QStringList expected{"ready"};
        for (int i = 0; i < 2; ++i)
            expected << test.inhibit << "held 1" << test.release << "held 0";
        QTest::qWait(500);
        const QStringList calls = logOf(log);
        EXPECT_EQ(calls.mid(0, expected.size()).join(", ").toStdString(),
                  expected.join(", ").toStdString());
        EXPECT_EQ(calls.count("held 1"), calls.count("held 0"));
        EXPECT_EQ(calls.last().toStdString(), "held 0");
        standIn.kill();
        standIn.waitForFinished();
    }
}

namespace {

class XScreenSaverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "needs an X display";
        m_connection.reset(xcb_connect(nullptr, nullptr));
        ASSERT_EQ(xcb_connection_has_error(m_connection.get()), 0);
        // A screen saver that starts after 3 s without input.
        ASSERT_EQ(QProcess::execute("xset", {"s", "3", "3"}), 0);
    }

    bool saverOn()
    {
        xcb_connection_t* connection = m_connection.get();
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const std::unique_ptr<xcb_screensaver_query_info_reply_t, decltype(&std::free)> info(
            xcb_screensaver_query_info_reply(connection,
                                             xcb_screensaver_query_info(connection, root), nullptr),
            &std::free);
        return info && info->state == XCB_SCREENSAVER_STATE_ON;
    }

    bool waitForSaver(bool on, int milliseconds)
    {
        return QTest::qWaitFor([&] { return saverOn() == on; }, milliseconds);
    }

    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> m_connection{nullptr,
                                                                              &xcb_disconnect};
};

} // namespace

// Held, the screen saver never starts; released (and on destruction), it starts within its
// timeout; asleep, it is on at once, and a wake turns it off.
TEST_F(XScreenSaverTest, NeverStartsWhileHeldAndStartsWhenReleased)
{
    auto awake = std::make_unique<ScreenAwake>(nullptr);
    awake->setHeld(true);
    EXPECT_TRUE(waitForSaver(false, 1000));
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(250);
        ASSERT_FALSE(saverOn()) << "after " << (i + 1) * 250 << " ms";
    }
    awake->setHeld(false);
    EXPECT_TRUE(waitForSaver(true, 6000));

    awake->wakeScreen();
    EXPECT_TRUE(waitForSaver(false, 1000));
    awake->setHeld(true);
    awake->sleepScreen();
    EXPECT_FALSE(awake->isHeld());
    EXPECT_TRUE(waitForSaver(true, 1000));
    awake->wakeScreen();
    awake->setHeld(true);
    EXPECT_TRUE(waitForSaver(false, 1000));

    awake.reset();
    EXPECT_TRUE(waitForSaver(true, 6000));
}

namespace {

class RedWindow : public QRasterWindow
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()), Qt::red);
    }
};

// Whether weston shows the red window: its screenshooter waits for a repaint, which an output
// gone idle never makes.
bool showsTheWindow()
{
    QTemporaryDir dir;
    QProcess shooter;
    shooter.setWorkingDirectory(dir.path());
    shooter.start("weston-screenshooter", QStringList{});
    if (!shooter.waitForFinished(3000)) {
        shooter.kill();
        shooter.waitForFinished();
        return false;
    }
    const QStringList shots = QDir(dir.path()).entryList({"*.png"});
    if (shots.isEmpty())
        return false;
    const QImage shot(dir.filePath(shots.first()));
    if (shot.isNull())
        return false;
    // Close to red: the compositor's own colour handling may shift it a little.
    const QColor centre = shot.pixelColor(shot.width() / 2, shot.height() / 2);
    return centre.red() > 200 && centre.green() < 40 && centre.blue() < 40;
}

} // namespace

// Under weston with a 3 s idle time: holding the window's surface does no harm, and where the
// compositor offers idle inhibitors (Debian 12's weston 10 does not) the output stays awake
// while held and goes idle once released.
TEST(WaylandIdle, TheOutputStaysAwakeWhileHeld)
{
    if (!QGuiApplication::platformName().startsWith("wayland"))
        GTEST_SKIP() << "needs a Wayland compositor";
    RedWindow window;
    window.showFullScreen();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ScreenAwake awake(&window);
    awake.setHeld(true);
    EXPECT_TRUE(showsTheWindow());

    QProcess info;
    info.start("weston-info", QStringList{});
    ASSERT_TRUE(info.waitForFinished(5000));
    if (!info.readAllStandardOutput().contains("zwp_idle_inhibit_manager_v1"))
        GTEST_SKIP() << "the compositor offers no idle inhibitor";
    QTest::qWait(5000);
    EXPECT_TRUE(showsTheWindow());
    awake.setHeld(false);
    QTest::qWait(5000);
    EXPECT_FALSE(showsTheWindow());
}

// A session bus of the test's own, made before the application could connect to another one.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    FILE* daemon = popen("dbus-daemon --config-file=" LUMIVANE_SOURCE_DIR
                         "/tests/screen/private_bus.conf --fork --print-address=1 --print-pid=1",
                         "r");
    char address[512] = {};
    long pid = 0;
    if (daemon == nullptr || std::fscanf(daemon, "%511s %ld", address, &pid) != 2) {
        std::fprintf(stderr, "cannot start dbus-daemon\n");
        return 1;
    }
    pclose(daemon);
    setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    int result = 0;
    {
        QGuiApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    kill(pid_t(pid), SIGTERM);
    return result;
}
