#pragma once

// The window tests' fixture and helpers: the real window under an X display (and, for the cases
// that hold on both, under Wayland).
#include "app/layout.h"
#include "app/mainwindow.h"
#include "app/messages.h"
#include "app/pathfit.h"
#include "app/searchpanel.h"
#include "app/translation.h"
#include "music/musicdevice.h"
#include "music/musicdeviceerror.h"
#include "music/musicplaylist.h"
#include "scene/scenegeometry.h"
#include "scene/slideconstants.h"
#include "scene/slideimage.h"
#include "screen/framepacer.h"
#include "screen/slidesurface.h"
#include "screen/surfaceformat.h"
#include "scene/texturesize.h"
#include "tests/support/preparegate.h"
#include "tests/support/screenmeasure.h"
#include "tests/support/testpictures.h"
#include "tests/support/testprofiles.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QOpenGLContext>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <xcb/xcb.h>

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <utility>
#include <vector>

// Readable failure messages for QString comparisons.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}


struct Recorded
{
    Messages::Kind kind;
    QString text;
};

// Writes a plain 24-bit bottom-up bitmap filled by colourAt(x, y), y counted from the top.
template <typename ColourAt>
void writeBmp(const QString& path, int width, int height, ColourAt colourAt)
{
    const RgbImage image = TestPictures::makeImage(width, height, [&](int x, int y) {
        const QColor c = colourAt(x, y);
        return std::array{c.red(), c.green(), c.blue()};
    });
    ASSERT_TRUE(TestPictures::writeFile(QFile::encodeName(path).toStdString(),
                                        TestPictures::encodeBmp(image)));
}

inline void writeSolidBmp(const QString& path, int width, int height, QColor colour)
{
    writeBmp(path, width, height, [colour](int, int) { return colour; });
}

// A music device that plays nothing and records what it is asked to do.
class RecordingDevice : public MusicDevice
{
public:
    explicit RecordingDevice(QStringList& log) : m_log(log) {}
    ~RecordingDevice() override { m_log << QStringLiteral("destroyed"); }
    void open(const std::string& path) override
    {
        m_log << QStringLiteral("open ") + QString::fromStdString(path).section(u'/', -1);
        m_open = true;
        m_mode = Mode::Playing;
    }
    bool play() override
    {
        m_log << QStringLiteral("play");
        return true;
    }
    std::optional<Mode> mode() const override
    {
        if (!m_open)
            return std::nullopt;
        // Each file "ends" as soon as it has been asked about once.
        const Mode now = m_mode;
        m_mode = Mode::Stopped;
        return now;
    }
    void close() override
    {
        m_log << QStringLiteral("close");
        m_open = false;
    }

private:
    QStringList& m_log;
    bool m_open = false;
    mutable Mode m_mode = Mode::Stopped;
};

// A device whose every open fails, as with no sound output at all.
class FailingDevice : public RecordingDevice
{
public:
    using RecordingDevice::RecordingDevice;
    void open(const std::string&) override { throw MusicDeviceError("no audio output"); }
};

// The share of pixels in the text's box, at the window's top left corner, that differ clearly
// from the same text drawn white on opaque blue by the raster painter: near 0 when the text is
// on screen as it should be, large when it is missing, garbled or covered.
inline double textMismatch(const QImage& shot, const QFont& font, const QString& text)
{
    const QFontMetrics metrics(font);
    const QSize box(metrics.horizontalAdvance(text), metrics.height());
    QImage expected(box, QImage::Format_RGB32);
    expected.fill(QColor(0, 0, 255));
    {
        QPainter painter(&expected);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QPoint(0, metrics.ascent()), text);
    }
    int differing = 0;
    for (int y = 0; y < box.height(); ++y) {
        for (int x = 0; x < box.width(); ++x) {
            const QColor a = shot.pixelColor(x, y);
            const QColor b = expected.pixelColor(x, y);
            differing += std::abs(a.red() - b.red()) > 128 || std::abs(a.blue() - b.blue()) > 128;
        }
    }
    return double(differing) / double(box.width() * box.height());
}

class MainWindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { WindowSetup::prepareProcess(); }

    void SetUp() override
    {
        ASSERT_TRUE(m_appDir.isValid());
        ASSERT_TRUE(m_pictures.isValid());
        Messages::setPresenterForTesting([this](Messages::Kind kind, const QString& text) {
            m_messages.push_back({kind, text});
        });
    }

    void TearDown() override
    {
        Messages::setPresenterForTesting({});
        SlideSurface::simulateFailureForTesting(SlideSurface::Failure::None);
        setSlideshowSurfaceFormat(QGuiApplication::primaryScreen()->depth());
    }

    // A window searching folder, with the test's own program folder. Without a music device the
    // window plays through SDL (and, with no music files beside the "program", never opens it).
    std::unique_ptr<MainWindow> makeWindow(const QString& folder, bool show = true,
                                           std::unique_ptr<MusicDevice> music = nullptr)
    {
        return makeWindow(QFile::encodeName(m_appDir.path()).toStdString(),
                          QFile::encodeName(folder).toStdString(), show, std::move(music));
    }

    // The same with the program folder and the argument given as the file system's bytes.
    std::unique_ptr<MainWindow> makeWindow(const std::string& programFolder,
                                           const std::string& folderArgument, bool show,
                                           std::unique_ptr<MusicDevice> music)
    {
        StartupOptions options;
        options.locations = AppLocations::besideProgram(programFolder);
        options.folderArgument = folderArgument;
        options.show = m_show;
        if (music)
            options.music = std::make_unique<MusicPlaylist>(std::move(music));
        auto window = std::make_unique<MainWindow>(std::move(options));
        QObject::connect(window.get(), &MainWindow::quitRequested, [this] { ++m_quitRequests; });
        if (show) {
            window->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        }
        return window;
    }

    // Lets the event loop run until the search has been handed over and the first picture is
    // ready.
    static bool waitForHandOver(MainWindow& window)
    {
        return QTest::qWaitFor(
            [&] { return !window.findFileTimer().isActive() && !window.controller().handOverPending(); }, 10000);
    }

    // One tick of the slide timer, driven by the test. A change whose picture is still being
    // prepared is ticked on until the worker has made it, as the running timer would.
    static void tick(MainWindow& window) { EXPECT_TRUE(WindowSetup::tickThroughChange(window)); }

    // Draws camera frames 1..100, which end at the hold point, and returns the last.
    static QImage frameAtHoldPoint(MainWindow& window)
    {
        for (int i = 0; i < 100; ++i)
            tick(window);
        return window.slideSurface()->grabFrame();
    }

    // A window in the slideshow, with its own slide timer stopped so that the test drives the
    // frames tick by tick.
    std::unique_ptr<MainWindow> startSlideshow(const QString& folder, bool show = true)
    {
        auto window = makeWindow(folder, show);
        EXPECT_TRUE(waitForHandOver(*window));
        EXPECT_TRUE(window->controller().slideshowRunning());
        const_cast<QTimer&>(window->slideTimer()).stop();
        return window;
    }

    QString pictures(const QString& name) const { return m_pictures.path() + u'/' + name; }

    static QString pageText(MainWindow& window)
    {
        return window.findChild<QPlainTextEdit*>(QStringLiteral("E_Page"))->toPlainText();
    }

    static QString pagePosition(MainWindow& window) { return pageText(window).section(u'\n', -1); }

    QTemporaryDir m_appDir;
    QTemporaryDir m_pictures;
    // The [SHOW] options the next window is made with.
    ShowOptions m_show;
    std::vector<Recorded> m_messages;
    int m_quitRequests = 0;
};
