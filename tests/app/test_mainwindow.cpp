// The real window under an X display (and, for the cases that hold on both, under Wayland):
// start-up, the search screen, the hand-over, the slide cycle, the frames it draws and the
// controls.
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

namespace {

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

void writeSolidBmp(const QString& path, int width, int height, QColor colour)
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
double textMismatch(const QImage& shot, const QFont& font, const QString& text)
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
        if (m_shuffleRandom)
            window->controller().setShuffleRandomForTesting(*m_shuffleRandom);
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

    std::optional<std::mt19937> m_shuffleRandom;
    QTemporaryDir m_appDir;
    QTemporaryDir m_pictures;
    // The [SHOW] options the next window is made with.
    ShowOptions m_show;
    std::vector<Recorded> m_messages;
    int m_quitRequests = 0;
};

TEST_F(MainWindowTest, StartsBorderlessOverTheScreenWithTheSearchScreenCentred)
{
    for (int i = 0; i < 3; ++i)
        writeSolidBmp(pictures(QStringLiteral("p%1.bmp").arg(i)), 8, 8, Qt::red);
    auto window = makeWindow(m_pictures.path(), false);

    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lumivane"));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::screens().at(0)->geometry();
    EXPECT_EQ(window->geometry(), screen);
    EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0, 0, 255));
    EXPECT_EQ(window->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(window->font().pixelSize(), 11);

    const WindowLayout layout = computeLayout(screen.width(), screen.height());
    auto* panel = window->findChild<QFrame*>(QStringLiteral("Panel1"));
    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    auto* page = window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"));
    auto* cancel = window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"));
    ASSERT_TRUE(panel && close && page && cancel);
    EXPECT_EQ(panel->pos(), layout.panel);
    EXPECT_EQ(panel->size(), QSize(470, 257));
    EXPECT_EQ(close->pos(), layout.closeButton);
    EXPECT_EQ(page->pos(), layout.pageBox);
    EXPECT_EQ(close->text(), QStringLiteral("終了(&C)"));
    EXPECT_EQ(cancel->text(), QStringLiteral("検索中止(&C)"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("フォルダ内の画像ファイルを探しています。"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
              QStringLiteral("Lumivane"));
    EXPECT_NE(window->findChild<QLabel*>(QStringLiteral("Label3")), nullptr);
    EXPECT_FALSE(window->findChild<QLabel*>(QStringLiteral("Image1"))->pixmap().isNull());
    EXPECT_EQ(window->findChild<QLineEdit*>(QStringLiteral("Edit1"))->geometry(),
              QRect(4, 24, 462, 19));

    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(window->controller().frameCounter(), 0);
    EXPECT_GE(window->controller().pathIndex(), 0);
    EXPECT_LT(window->controller().pathIndex(), PathCount);
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_TRUE(window->findFileTimer().isActive());
    EXPECT_FALSE(window->slideTimer().isActive());
    // No music lies beside this "executable", so its timer is off for the whole run.
    EXPECT_FALSE(window->musicTimer().isActive());
    EXPECT_EQ(window->controller().searchFolder(), QFile::encodeName(m_pictures.path() + u'/').toStdString());

    window->show();
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(close->isVisible());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, SearchFolderFallsBackToTheProgramFolder)
{
    const std::string appDir = QFile::encodeName(m_appDir.path() + u'/').toStdString();
    EXPECT_EQ(makeWindow(QString(), false)->controller().searchFolder(), appDir);
    EXPECT_EQ(makeWindow(m_pictures.path() + QStringLiteral("/missing"), false)->controller().searchFolder(),
              appDir);
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 2, 2, Qt::red);
    EXPECT_EQ(makeWindow(pictures(QStringLiteral("a.bmp")), false)->controller().searchFolder(), appDir);
    EXPECT_EQ(makeWindow(m_pictures.path() + u'/', false)->controller().searchFolder(),
              QFile::encodeName(m_pictures.path() + u'/').toStdString());
}

TEST_F(MainWindowTest, FolderArgumentAndProgramFolderKeepTheirBytes)
{
    // Latin-1 names, which are not valid UTF-8: decoding them to text would lose both folders.
    const std::string base = QFile::encodeName(m_pictures.path()).toStdString();
    const std::string photos = base + "/\xe9t\xe9";
    const std::string program = base + "/progr\xe4mm";
    ASSERT_EQ(::mkdir(photos.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(program.c_str(), 0700), 0);
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 4, 4, Qt::red);
    ASSERT_EQ(::rename(QFile::encodeName(pictures(QStringLiteral("a.bmp"))).constData(),
                       (photos + "/a.bmp").c_str()),
              0);
    const int music = ::open((program + "/a.wav").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(music, 0);
    ::close(music);

    QStringList log;
    auto window = makeWindow(program, photos, true, std::make_unique<RecordingDevice>(log));
    EXPECT_EQ(window->controller().searchFolder(), photos + "/");
    EXPECT_EQ(log.value(0), QStringLiteral("open a.wav"));
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_TRUE(window->controller().slideshowRunning());
    EXPECT_EQ(window->controller().imageList().unguarded().count(), 1u);
    EXPECT_TRUE(m_messages.empty());
    window.reset();
    // QTemporaryDir cannot remove names that are not valid UTF-8.
    std::filesystem::remove_all(photos);
    std::filesystem::remove_all(program);
}

TEST_F(MainWindowTest, SettingsFileChoosesTheMonitor)
{
    // Under the test display there is one monitor, so every value falls back to monitor 0.
    QFile ini(m_appDir.path() + QStringLiteral("/lumivane.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[DEF]\nMONITOR=1\n");
    ini.close();
    auto window = makeWindow(m_pictures.path(), false);
    EXPECT_EQ(window->monitorIndex(), 0);
    EXPECT_EQ(window->geometry(), QGuiApplication::screens().at(0)->geometry());
}

TEST_F(MainWindowTest, OpenGlSurfaceHasTheFixedState)
{
    auto window = makeWindow(m_pictures.path());
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->isSurfaceReady());
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_POLYGON_SMOOTH));
    GLfloat mode = 0;
    glGetTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
    EXPECT_EQ(GLenum(mode), GLenum(GL_DECAL));
    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    EXPECT_EQ(clear[1], 0.0f);
    EXPECT_EQ(clear[2], 1.0f);
    EXPECT_EQ(clear[3], 1.0f);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    const QSurfaceFormat format = view->context()->format();
    EXPECT_GE(format.depthBufferSize(), 16);
    EXPECT_EQ(format.swapBehavior(), QSurfaceFormat::DoubleBuffer);
    view->context()->doneCurrent();
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, WithoutOpenGlTheShowStillRunsAndEndsOnEscape)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::red);
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 8, 6, Qt::green);
    SlideSurface::simulateFailureForTesting(SlideSurface::Failure::CreateContext);
    // A real message box runs its own event loop for as long as it is open; give the timers
    // more than a second of it, as a user reading the first box would.
    Messages::setPresenterForTesting([&](Messages::Kind kind, const QString& text) {
        m_messages.push_back({kind, text});
        if (m_messages.size() == 1)
            QTest::qWait(1100);
    });
    auto window = makeWindow(m_pictures.path());
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("Could not CreateContext"));
    EXPECT_EQ(m_messages[1].text, QStringLiteral("Could not MakeCurrent"));

    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/2"));
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    // The window shows its own blue where the search screen was.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        return shot.pixelColor(window->rect().center()) == QColor(0, 0, 255);
    }));

    // The controls work: next picture, pause, and Escape ends the program.
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, window->rect().center());
    tick(*window);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/2"));
    QTest::mouseClick(window.get(), Qt::MiddleButton, {}, window->rect().center());
    EXPECT_FALSE(window->slideTimer().isActive());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(MainWindowTest, HandsOverToTheSlideshowWithTheFirstPicture)
{
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 16, 12, Qt::green);
    writeSolidBmp(pictures(QStringLiteral("A.bmp")), 16, 12, Qt::red);
    writeSolidBmp(pictures(QStringLiteral("c.BMP")), 16, 12, Qt::blue);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));

    EXPECT_TRUE(window->controller().slideshowRunning());
    EXPECT_FALSE(window->controller().searching());
    EXPECT_FALSE(window->findChild<QFrame*>(QStringLiteral("Panel1"))->isVisible());
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_TRUE(window->slideTimer().isActive());
    // The first picture in sorted order, shown with its lower-cased name and its position.
    const QString text = pageText(*window);
    EXPECT_TRUE(text.section(u'\n', 0, 0).endsWith(QStringLiteral("a.bmp"))) << text.toStdString();
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/3"));
    EXPECT_EQ(window->controller().slideImage().imageWidth(), 1024);
    EXPECT_EQ(window->controller().slideImage().imageHeight(), 768);
    EXPECT_TRUE(window->slideSurface()->textureCreated());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, EmptyFolderSaysSoAndEnds)
{
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].kind, Messages::Kind::Plain);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("画像ファイルがありません"));
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_FALSE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_FALSE(window->findChild<QFrame*>(QStringLiteral("Panel1"))->isVisible());
}

// Run by CTest under LANG=en_US.UTF-8, ja_JP.UTF-8 and C.UTF-8, with the language it must give.
TEST_F(MainWindowTest, TextsInTheUsersLanguage)
{
    const QByteArray expected = qgetenv("LUMIVANE_EXPECTED_LANGUAGE");
    if (expected.isEmpty())
        GTEST_SKIP() << "run with LUMIVANE_EXPECTED_LANGUAGE set";
    const bool english = expected == "English";
    // As the program does it: the language from the environment, then the application's.
    Translation translation(userTextLanguage());
    translation.install();
    const auto text = [english](const char* en, const char* ja) {
        return QString::fromUtf8(english ? en : ja);
    };

    auto window = makeWindow(m_pictures.path(), false);
    EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->text(),
              text("&Close", "終了(&C)"));
    EXPECT_EQ(window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"))->accessibleName(),
              text("Page", "ページ"));
    SearchPanel panel(nullptr);
    EXPECT_EQ(panel.cancelButton()->text(), text("&Cancel search", "検索中止(&C)"));
    EXPECT_EQ(panel.statusLabel()->text(), text("Searching the folder for picture files.",
                                                "フォルダ内の画像ファイルを探しています。"));
    EXPECT_EQ(panel.pathBox()->accessibleName(), text("File being searched", "検索中のファイル"));
    panel.showStopping();
    EXPECT_EQ(panel.statusLabel()->text(),
              text("Stopping the file search", "ファイル検索の中止処理をしています"));
    EXPECT_EQ(panel.cancelButton()->text(), text("Stopping", "中止処理中"));
    // The plain libraries' Japanese error texts, here one around a file name.
    EXPECT_EQ(Messages::translatedErrorText(
                  QStringLiteral("ファイル \"/p/a%1.bmp\". No such file は開けません")),
              text("Cannot open file \"/p/a%1.bmp\". No such file",
                   "ファイル \"/p/a%1.bmp\". No such file は開けません"));

    window->show();
    ASSERT_TRUE(waitForHandOver(*window));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, text("No picture files found", "画像ファイルがありません"));

    writeSolidBmp(pictures(QStringLiteral("only.bmp")), 8, 8, Qt::red);
    window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_EQ(window->slideSurface()->statusLine(),
              text("Loading file (only.bmp)", "Now File(only.bmp) Loading"));
}

TEST_F(MainWindowTest, StatusLineIsOnScreenBeforeThePictureIsRead)
{
    writeSolidBmp(pictures(QStringLiteral("only.bmp")), 32, 32, Qt::red);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    // The hand-over loaded the first picture; no frame has been drawn since, so the status line
    // is still over the surface. Read what the X server shows, not what Qt holds.
    EXPECT_EQ(window->slideSurface()->statusLine(), QStringLiteral("Now File(only.bmp) Loading"));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    EXPECT_LT(textMismatch(shot, window->font(), window->slideSurface()->statusLine()), 0.02);

    tick(*window);
    EXPECT_TRUE(window->slideSurface()->statusLine().isEmpty());
}

TEST_F(MainWindowTest, ControlCharactersInNamesAreShownAsReplacementCharacters)
{
    writeSolidBmp(pictures(QStringLiteral("line1\nline2\t\x7f.bmp")), 8, 6, Qt::gray);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    // The picture opened by its real name; only what is shown differs.
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(window->controller().slideImage().imageWidth(), 1024);
    const QString shown = QStringLiteral("line1\uFFFDline2\uFFFD\uFFFD.bmp");
    const QStringList lines = pageText(*window).split(u'\n');
    ASSERT_EQ(lines.size(), 2) << pageText(*window).toStdString();
    EXPECT_TRUE(lines[0].endsWith(u'/' + shown)) << lines[0].toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("1/1"));
    EXPECT_EQ(window->slideSurface()->statusLine(),
              QStringLiteral("Now File(") + shown + QStringLiteral(") Loading"));
}

TEST_F(MainWindowTest, EachSlideLastsOneHundredFiftyFramesAndWraps)
{
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writeSolidBmp(pictures(QString::fromLatin1(name)), 8, 6, Qt::gray);
    // The cycle is the same whether or not frames reach the screen; a hidden window is quicker.
    auto window = startSlideshow(m_pictures.path(), false);
    std::vector<int> paths;
    window->controller().setPathChooserForTesting([&] {
        paths.push_back(int(paths.size() % PathCount));
        return paths.back();
    });

    for (int frame = 0; frame < SlideFrames; ++frame) {
        EXPECT_EQ(window->controller().frameCounter(), frame);
        tick(*window);
    }
    EXPECT_EQ(window->controller().frameCounter(), SlideFrames);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_TRUE(paths.empty());

    tick(*window); // changes slide, then draws its first frame
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(window->controller().frameCounter(), 1);
    EXPECT_EQ(paths.size(), 1u);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/3"));
    EXPECT_TRUE(window->slideTimer().isActive());

    for (int i = 0; i < 2 * SlideFrames; ++i)
        tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/3"));
    EXPECT_EQ(window->controller().pathIndex(), paths.back());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, UnreadablePictureIsReportedAndTheShowGoesOn)
{
    for (const char* name : {"1.bmp", "2.bmp", "4.bmp", "5.bmp"})
        writeSolidBmp(pictures(QString::fromLatin1(name)), 8, 6, Qt::gray);
    QFile broken(pictures(QStringLiteral("3.bmp")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("BM12345678"); // ten bytes: the file header is cut short
    broken.close();
    auto window = startSlideshow(m_pictures.path(), false);
    window->controller().setPathChooserForTesting([] { return 2; });

    for (int i = 0; i < SlideFrames + 1; ++i)
        tick(*window);
    ASSERT_EQ(window->controller().currentIndex(), 1);
    const int pathOfSecond = window->controller().pathIndex();
    window->controller().setPathChooserForTesting([] { return 4; });
    for (int i = 0; i < SlideFrames - 1; ++i)
        tick(*window);
    ASSERT_EQ(window->controller().frameCounter(), SlideFrames);

    tick(*window); // the third picture fails to load
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].kind, Messages::Kind::Error);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("ストリームからの読み込みエラー."));
    EXPECT_EQ(window->controller().currentIndex(), 2);
    EXPECT_EQ(window->controller().frameCounter(), 0);
    EXPECT_EQ(window->controller().pathIndex(), pathOfSecond);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/5"));
    EXPECT_TRUE(window->slideTimer().isActive());

    // The second picture again, from the first camera frame, then the fourth.
    for (int i = 0; i < SlideFrames; ++i)
        tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 2);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/5"));
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 3);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("4/5"));
    EXPECT_EQ(window->controller().pathIndex(), 4);
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(MainWindowTest, OnePictureReloadsEveryOneHundredFiftyFrames)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    int draws = 0;
    window->controller().setPathChooserForTesting([&] { return ++draws % PathCount; });
    const unsigned firstTexture = window->slideSurface()->textureName();
    for (int i = 0; i < SlideFrames + 1; ++i)
        tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(draws, 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/1"));
    // The texture was made anew; the old one is gone.
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsTexture(view->textureName()));
    if (view->textureName() != firstTexture) {
        EXPECT_FALSE(glIsTexture(firstTexture));
    }
    view->context()->doneCurrent();
}

// Projects a scene point through the camera the frame renderer uses.
QPointF project(double x, double y, double z, double eyeZ, int width, int height)
{
    // At the hold point the eye is on the z axis looking down -z, with y up.
    const double f = 1.0 / std::tan(30.0 * M_PI / 180.0);
    const double aspect = double(float(double(width) / double(height)));
    const double depth = eyeZ - z;
    const double ndcX = f / aspect * x / depth;
    const double ndcY = f * y / depth;
    return {(ndcX + 1) / 2 * width, (1 - ndcY) / 2 * height};
}

// The colour of a frame drawn at the hold point where the point (x, y) of the picture's plane
// shows.
QColor colourOnPicturePlane(const QImage& frame, double x, double y)
{
    return frame.pixelColor(project(x, y, 0, 1000, frame.width(), frame.height()).toPoint());
}

TEST_F(MainWindowTest, FrameAtTheHoldPointShowsThePictureUprightInItsFrame)
{
    // 1600 x 1200: red top half, green bottom half, so that upside down would show.
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    auto window = startSlideshow(m_pictures.path());
    const QImage frame = frameAtHoldPoint(*window);
    const int w = frame.width();
    const int h = frame.height();
    // ImageWidth 1024, ImageHeight 768: HW 512, HH 384; the frame is 20 wide around it.
    auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
    EXPECT_EQ(at(0, 200), QColor(255, 0, 0));
    EXPECT_EQ(at(0, -200), QColor(0, 255, 0));
    EXPECT_EQ(at(-400, 300), QColor(255, 0, 0));
    EXPECT_EQ(at(400, -300), QColor(0, 255, 0));
    EXPECT_EQ(at(0, 394), QColor(255, 255, 255));  // top bar
    EXPECT_EQ(at(0, -394), QColor(255, 255, 255)); // bottom bar
    EXPECT_EQ(at(-522, 0), QColor(255, 255, 255)); // left bar
    EXPECT_EQ(at(522, 0), QColor(255, 255, 255));  // right bar
    EXPECT_EQ(at(-545, 0), QColor(0, 0, 255));     // background beside the frame

    // The floor: light near the line under the picture, deeper blue away from it.
    // From the hold point the bottom of the view meets the floor just behind the picture line.
    const QColor nearLine = frame.pixelColor(w / 2, h - 2);
    const QColor farBack = frame.pixelColor(project(1500, -600, -1800, 1000, w, h).toPoint());
    EXPECT_GT(nearLine.red(), 180);
    EXPECT_GT(nearLine.red(), farBack.red() + 100);
    EXPECT_EQ(nearLine.blue(), 255);

    // The shadow: darker than the floor, behind the picture and to its left. Its corner under
    // the frame's lower left corner lies at (-HW - HH - 640 + 20 ..., -590, ...); sample inside.
    const QPoint shadow = project(-700, -590, -300, 1000, w, h).toPoint();
    const QColor shade = frame.pixelColor(shadow);
    EXPECT_LT(shade.blue(), 200) << shadow.x() << "," << shadow.y();
}

// QUALITY=HIGH shows the picture upright in its frame at the hold point, from a mipmapped texture
// that follows the window's size, and Escape ends the program: with each method of smoothing the
// edges, and with none.
TEST_F(MainWindowTest, HighQualityShowsThePictureAndEndsOnEscape)
{
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    m_show.quality = PictureQuality::High;
    setSlideshowSurfaceFormat(QGuiApplication::primaryScreen()->depth());
    for (const EdgeSmoothing method :
         {EdgeSmoothing::Multisampling, EdgeSmoothing::Outline, EdgeSmoothing::None}) {
        SCOPED_TRACE(EdgeSmoothingChoice::nameOf(method));
        SlideSurface::forceEdgeSmoothingForTesting(method);
        auto window = startSlideshow(m_pictures.path());
        SlideSurface::forceEdgeSmoothingForTesting(std::nullopt);
        const SlideSurface& surface = *window->slideSurface();
        EXPECT_EQ(surface.edgeSmoothing(), method);
        EXPECT_EQ(window->controller().textureLayout(),
                  (TextureLayout{chooseTextureSize(window->width(), window->height(),
                                                   window->devicePixelRatioF(),
                                                   surface.maxTextureSize(), CameraPaths()),
                                 true}));
        EXPECT_NE(surface.textureName(), 0u);
        if (method == EdgeSmoothing::Multisampling) {
            // A picture goes up ahead in slices within the time it is given: with none, one
            // slice per call, and the next call goes on from there.
            SlideImage ahead(window->controller().textureLayout());
            ahead.prepareFromImage(TestPictures::makeImage(64, 48, [](int x, int) {
                return std::array{x, 0, 0};
            }));
            int calls = 1;
            while (!window->slideSurface()->stageHighTexture(99, ahead, {}) && calls < 1000)
                ++calls;
            EXPECT_GE(calls, 4);
            EXPECT_LT(calls, 1000);
        }

        const QImage frame = frameAtHoldPoint(*window);
        auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
        EXPECT_EQ(at(0, 200), QColor(255, 0, 0));
        EXPECT_EQ(at(400, -300), QColor(0, 255, 0));
        EXPECT_EQ(at(0, 394), QColor(255, 255, 255)); // top bar
        EXPECT_EQ(at(-545, 0), QColor(0, 0, 255));    // background beside the frame

        const int quits = m_quitRequests;
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(m_quitRequests, quits + 1);
    }
}

// What reaches the screen, read back from the X server and not from OpenGL: the frame's slanted
// outer edges, seen at a camera frame where the picture is turned, have in-between pixels with
// either method of the high quality mode (the outlines, which this software renderer gets, soften
// the pixels outside an edge only: 0.42 of them here), and none in the design's mode.
TEST_F(MainWindowTest, SlantedEdgesAreSmoothOnTheScreenOnlyInHighQuality)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        GTEST_SKIP() << "an X display only";
    const QString picture = pictures(QStringLiteral("pic.bmp"));
    writeSolidBmp(picture, 160, 120, QColor(120, 120, 120));
    SlideImage slide;
    slide.prepare(QFile::encodeName(picture).toStdString());
    const auto scene =
        buildScene(slide.imageWidth(), slide.imageHeight(), slide.texExtentS(), slide.texExtentT());
    constexpr int Path = 0;
    constexpr int CameraFrame = 70;

    struct Case
    {
        PictureQuality quality;
        std::optional<EdgeSmoothing> method;
        double least;
        double most;
    };
    for (const Case c : {Case{PictureQuality::High, std::nullopt, 0.38, 1.0},
                         Case{PictureQuality::High, EdgeSmoothing::Multisampling, 0.5, 1.0},
                         Case{PictureQuality::Design, std::nullopt, 0.0, 0.0}}) {
        SCOPED_TRACE(c.quality == PictureQuality::Design ? "design"
                     : c.method                          ? "multisampling forced"
                                                         : "high, as chosen");
        m_show.quality = c.quality;
        SlideSurface::forceEdgeSmoothingForTesting(c.method);
        // The first picture's frames go by hidden, which draws nothing; its second round takes
        // the path measured, and the window is shown for the frame measured.
        auto window = startSlideshow(m_pictures.path(), false);
        SlideSurface::forceEdgeSmoothingForTesting(std::nullopt);
        window->controller().setPathChooserForTesting([] { return Path; });
        // Each frame restarts the slide timer; the test stops it, so that the camera stays
        // where it is measured.
        auto& slideTimer = const_cast<QTimer&>(window->slideTimer());
        for (int i = 0; i < SlideFrames + CameraFrame - 1; ++i)
            tick(*window);
        slideTimer.stop();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        // Text painted over a frame (a status line, the pause marker) must not leave the
        // frames after it without their smoothing.
        window->slideSurface()->showStatusLine(QStringLiteral("Now File(pic.bmp) Loading"));
        tick(*window);
        slideTimer.stop();
        ASSERT_EQ(window->controller().frameCounter(), CameraFrame);
        ASSERT_EQ(window->controller().pathIndex(), Path);
        // The X server has the frame once Mesa's connection has handed it over; a short wait
        // lets it, since this connection is not ordered with that one.
        QTest::qWait(100);
        const QImage shot = ScreenMeasure::grabWindow(
            x11->connection(), xcb_window_t(window->slideSurface()->winId()));
        ASSERT_FALSE(shot.isNull());
        const ScreenMeasure::EdgeShare edges =
            ScreenMeasure::slantedEdges(shot, scene, CameraPaths().pose(CameraFrame, Path));
        EXPECT_GT(edges.crossed, 200);
        EXPECT_GE(edges.share(), c.least) << edges.between << " of " << edges.crossed;
        EXPECT_LE(edges.share(), c.most) << edges.between << " of " << edges.crossed;
    }
}

// QUALITY=HIGH converts pictures to the monitor's colour profile, which the X server's root
// window carries in _ICC_PROFILE: with a profile whose red and green are swapped, the picture's
// red half reaches the screen green and its green half red. The scene around it is not a picture
// and keeps its colours; without the property the picture is shown as it is.
TEST_F(MainWindowTest, HighQualityConvertsPicturesToTheDisplayProfile)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        GTEST_SKIP() << "an X display only";
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const char name[] = "_ICC_PROFILE";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    ASSERT_NE(atom, nullptr);
    const xcb_atom_t property = atom->atom;
    std::free(atom);
    const std::vector<std::uint8_t> profile = TestProfiles::swapProfile();
    writeBmp(pictures(QStringLiteral("pic.bmp")), 160, 120,
             [](int, int y) { return y < 60 ? QColor(255, 0, 0) : QColor(0, 255, 0); });
    m_show.quality = PictureQuality::High;
    for (const bool profiled : {true, false}) {
        if (profiled)
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, property,
                                XCB_ATOM_CARDINAL, 8, std::uint32_t(profile.size()),
                                profile.data());
        else
            xcb_delete_property(connection, root, property);
        xcb_flush(connection);
        auto window = startSlideshow(m_pictures.path());
        const QImage frame = frameAtHoldPoint(*window);
        auto at = [&](double x, double y) { return colourOnPicturePlane(frame, x, y); };
        EXPECT_EQ(at(0, 200), profiled ? QColor(0, 255, 0) : QColor(255, 0, 0));
        EXPECT_EQ(at(400, -300), profiled ? QColor(255, 0, 0) : QColor(0, 255, 0));
        EXPECT_EQ(at(-545, 0), QColor(0, 0, 255)); // background beside the frame
    }
}

// On Wayland the compositor places the window: full screen on the chosen monitor's output. The
// scene is drawn off screen and shown beneath the controls, so the window's own picture holds
// both: the picture at the centre, the close button's own pixels where it lies.
TEST_F(MainWindowTest, OnWaylandTheWindowIsFullScreenWithTheSceneBeneathTheControls)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        GTEST_SKIP() << "a Wayland session only";
    writeSolidBmp(pictures(QStringLiteral("pic.bmp")), 160, 120, QColor(255, 0, 255));
    auto window = startSlideshow(m_pictures.path());
    QScreen* screen = QGuiApplication::screens().at(0);
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(window->screen(), screen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->size() == screen->size(); }));
    for (int i = 0; i < 100; ++i) // the hold point: the picture faces the camera
        tick(*window);

    const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.pixelColor(shot.rect().center()), QColor(255, 0, 255));
    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    ASSERT_TRUE(close->isVisible());
    EXPECT_EQ(shot.copy(close->geometry()),
              close->grab().toImage().convertToFormat(QImage::Format_RGB32));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, MouseButtonsSkipStepBackAndPause)
{
    for (int i = 0; i < 5; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    QWidget* surface = window->slideWidget();
    const QPoint middle = surface->rect().center();

    // Right click on the first of five: the fifth comes next.
    tick(*window);
    QTest::mouseClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), 3);
    EXPECT_EQ(window->controller().frameCounter(), SlideFrames);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 4);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("5/5"));

    // Left click on the last: the first comes next.
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);

    // Right click on the second: the first again.
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    tick(*window);
    ASSERT_EQ(window->controller().currentIndex(), 1);
    QTest::mouseClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), -1);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);

    // Middle twice: pause with the marker, then resume on the same picture and frame count.
    const int frames = window->controller().frameCounter();
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->slideSurface()->pauseMarkerShown());
    const QImage paused = window->slideSurface()->grabFrame();
    EXPECT_EQ(paused.pixelColor(398, 18), QColor(0, 0, 255));
    EXPECT_EQ(paused.pixelColor(200, 10), QColor(0, 0, 255));
    EXPECT_LT(textMismatch(paused, window->font(), QStringLiteral("Pause")), 0.02);
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().frameCounter(), frames + 1);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_FALSE(window->slideSurface()->pauseMarkerShown());

    // Middle, then left: the next picture, and the show runs again.
    QTest::mouseClick(surface, Qt::MiddleButton, {}, middle);
    QTest::mouseClick(surface, Qt::LeftButton, {}, middle);
    EXPECT_TRUE(window->slideTimer().isActive());
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 1);

    // A double click's second press counts as a press. (QTest delivers only the double-click
    // event itself, so this is one step back, from the second picture to before the first.)
    QTest::mouseDClick(surface, Qt::RightButton, {}, middle);
    EXPECT_EQ(window->controller().currentIndex(), -1);
    EXPECT_EQ(m_quitRequests, 0);
}

// The keys and the wheel do what the buttons do, whichever control has the focus: Space on the
// close button pauses rather than closing.
TEST_F(MainWindowTest, KeysAndTheWheelStepAndPause)
{
    for (int i = 0; i < 5; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    tick(*window);
    const auto stepTo = [&](const char* position) {
        tick(*window);
        EXPECT_EQ(pagePosition(*window), QLatin1String(position));
    };
    QTest::keyClick(window.get(), Qt::Key_Right);
    stepTo("2/5");
    QTest::keyClick(window.get(), Qt::Key_PageDown);
    stepTo("3/5");
    QTest::keyClick(window.get(), Qt::Key_Left);
    stepTo("2/5");
    QTest::keyClick(window.get(), Qt::Key_PageUp);
    stepTo("1/5");
    QTest::keyClick(window.get(), Qt::Key_PageUp);
    stepTo("5/5");

    // The wheel over the scene reaches the window itself, as the presses do (a wheel event sent
    // by hand is not passed on from the child it is sent to, as the platform's is).
    const QPoint middle = window->rect().center();
    const auto turn = [&](QPoint pixels, QPoint angle) {
        QWheelEvent wheel(middle, window->mapToGlobal(middle), pixels, angle, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(window.get(), &wheel);
    };
    turn({}, {0, -120});
    stepTo("1/5");
    turn({}, {0, 120});
    stepTo("5/5");
    // A touchpad's small deltas: a step only when they make a whole notch.
    for (int i = 0; i < 3; ++i)
        turn({0, 8}, {0, 30});
    EXPECT_LT(window->controller().frameCounter(), SlideFrames);
    turn({0, 8}, {0, 30});
    stepTo("4/5");

    auto* close = window->findChild<QPushButton*>(QStringLiteral("B_Close"));
    close->setFocus();
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_P, Qt::Key_Pause}) {
        QTest::keyClick(close, key);
        EXPECT_FALSE(window->slideTimer().isActive()) << key;
        EXPECT_TRUE(window->slideSurface()->pauseMarkerShown()) << key;
        QTest::keyClick(close, key);
        EXPECT_TRUE(window->slideTimer().isActive()) << key;
        stepTo("4/5");
        EXPECT_FALSE(window->slideSurface()->pauseMarkerShown()) << key;
    }
    // Paused, the next picture resumes the show.
    QTest::keyClick(close, Qt::Key_P);
    QTest::keyClick(close, Qt::Key_Right);
    EXPECT_TRUE(window->slideTimer().isActive());
    stepTo("5/5");
    EXPECT_EQ(m_quitRequests, 0);
}

// A shuffled show: the clicks go forward and back in the play order, across the end of a round
// into a new one that does not start with the picture just shown and back again, and E_Page
// counts the position in that order.
TEST_F(MainWindowTest, ShuffledShowPlaysAndClicksInPlayOrder)
{
    for (int i = 0; i < 5; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8 + i, 6, Qt::gray);
    m_show.order = ShowOrder::Shuffle;
    m_shuffleRandom = std::mt19937(3);
    auto window = startSlideshow(m_pictures.path());
    QWidget* surface = window->slideWidget();
    const PlayOrder& order = *window->controller().playOrder();
    const auto expectShown = [&](int position, int picture) {
        EXPECT_EQ(window->controller().currentIndex(), position);
        EXPECT_EQ(window->controller().currentPicture(), picture);
        EXPECT_EQ(window->controller().slideImage().placement(), placeSlide(8 + picture, 6));
        EXPECT_EQ(pagePosition(*window), QStringLiteral("%1/5").arg(position + 1));
    };
    tick(*window);
    std::vector<int> firstRound;
    for (int position = 0; position < 5; ++position)
        firstRound.push_back(order.pictureAt(position));
    EXPECT_NE(firstRound, (std::vector<int>{0, 1, 2, 3, 4}));
    expectShown(0, firstRound[0]);
    for (int position = 1; position < 5; ++position) {
        QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        tick(*window);
        expectShown(position, firstRound[std::size_t(position)]);
    }
    QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
    tick(*window);
    EXPECT_NE(order.pictureAt(0), firstRound[4]);
    expectShown(0, order.pictureAt(0));
    QTest::mouseClick(surface, Qt::RightButton, {}, surface->rect().center());
    tick(*window);
    expectShown(4, firstRound[4]);
    QTest::mouseClick(surface, Qt::RightButton, {}, surface->rect().center());
    tick(*window);
    expectShown(3, firstRound[3]);
}

TEST_F(MainWindowTest, RightClickWithOnePictureReloadsIt)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    QTest::mouseClick(window->slideWidget(), Qt::RightButton);
    EXPECT_EQ(window->controller().currentIndex(), -1);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/1"));
}

TEST_F(MainWindowTest, KeysDuringTheSlideshow)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Up, Qt::Key_Return, Qt::Key_Down})
        QTest::keyClick(window.get(), key);
    // C with Ctrl or Meta is not the close key.
    auto* page = window->findChild<QPlainTextEdit*>(QStringLiteral("E_Page"));
    page->setFocus();
    for (const auto modifiers :
         {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::KeyboardModifiers(Qt::MetaModifier),
          Qt::ControlModifier | Qt::ShiftModifier}) {
        QTest::keyClick(window.get(), Qt::Key_C, modifiers);
        QTest::keyClick(page, Qt::Key_C, modifiers);
    }
    EXPECT_EQ(m_quitRequests, 0);

    // C, with or without Shift, ends the program through the close button, whichever control
    // has the focus.
    QTest::keyClick(page, Qt::Key_C);
    EXPECT_EQ(m_quitRequests, 1);
    auto shifted = startSlideshow(m_pictures.path());
    QTest::keyClick(shifted->findChild<QPlainTextEdit*>(QStringLiteral("E_Page")), Qt::Key_C,
                    Qt::ShiftModifier);
    EXPECT_EQ(m_quitRequests, 2);

    auto second = startSlideshow(m_pictures.path());
    const_cast<QTimer&>(second->slideTimer()).start();
    QTest::keyClick(second.get(), Qt::Key_Escape);
    EXPECT_FALSE(second->slideTimer().isActive());
    EXPECT_EQ(m_quitRequests, 3);

    // During the search the window itself, when it has the focus, takes Shift+C as well. (The
    // event loop has not run since, so the search has not been handed over yet.)
    auto searching = makeWindow(m_pictures.path(), false);
    searching->show();
    searching->setFocus();
    QTest::keyClick(searching.get(), Qt::Key_C, Qt::ShiftModifier);
    EXPECT_EQ(m_quitRequests, 4);
    EXPECT_FALSE(searching->controller().searching());
}

TEST_F(MainWindowTest, ClicksDuringTheSearchDoNothing)
{
    // Keep the search screen up: with its timer stopped before the event loop first runs, the
    // search of the empty folder is never handed over (which would end the program), however
    // long the window takes to appear.
    auto window = makeWindow(m_pictures.path(), false);
    const_cast<QTimer&>(window->findFileTimer()).stop();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(window->slideWidget(), Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton, {}, QPoint(5, 5));
    // Nor do the show's keys and the wheel.
    window->setFocus();
    for (const Qt::Key key : {Qt::Key_Right, Qt::Key_PageUp, Qt::Key_Space, Qt::Key_P})
        QTest::keyClick(window.get(), key);
    QWheelEvent wheel(QPointF(5, 5), window->mapToGlobal(QPointF(5, 5)), {}, {0, -360},
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.get(), &wheel);
    EXPECT_TRUE(window->controller().searching());
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_EQ(window->controller().frameCounter(), 0);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_EQ(m_quitRequests, 0);
}

TEST_F(MainWindowTest, EscapeDuringALargeSearchStopsPromptly)
{
    // A tree large enough that its walk takes far longer than the stop may.
    QDir root(m_pictures.path());
    for (int d = 0; d < 200; ++d) {
        const QString sub = QStringLiteral("d%1/e").arg(d);
        ASSERT_TRUE(root.mkpath(sub));
        for (int f = 0; f < 100; ++f) {
            const QByteArray name =
                QFile::encodeName(root.filePath(sub + QStringLiteral("/f%1.jpg").arg(f)));
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    auto window = makeWindow(m_pictures.path(), false);
    window->show();
    auto* label = window->findChild<QLabel*>(QStringLiteral("Label1"));
    auto* cancel = window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"));
    ASSERT_TRUE(window->controller().searching());
    QStringList seen;
    QObject::connect(window.get(), &MainWindow::quitRequested,
                     [&] { seen << label->text() << cancel->text(); });
    QElapsedTimer clock;
    clock.start();
    // Escape in the path box, where the focus is during the search.
    QTest::keyClick(window->findChild<QLineEdit*>(QStringLiteral("Edit1")), Qt::Key_Escape);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("ファイル検索の中止処理をしています"),
                                 QStringLiteral("中止処理中")}));
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_FALSE(window->controller().searching());
    EXPECT_FALSE(window->findFileTimer().isActive());
    EXPECT_FALSE(window->controller().slideshowRunning());
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(m_quitRequests, 1);
}

TEST_F(MainWindowTest, ClosingReleasesTheTexture)
{
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    auto window = startSlideshow(m_pictures.path());
    SlideSurface* view = window->slideSurface();
    ASSERT_TRUE(view->textureCreated());
    const unsigned name = view->textureName();
    ASSERT_TRUE(view->context()->makeCurrent(view));
    EXPECT_TRUE(glIsTexture(name));
    view->releaseSurface();
    EXPECT_FALSE(view->textureCreated());
    EXPECT_FALSE(view->isSurfaceReady());
    EXPECT_EQ(view->context(), nullptr);
}

} // namespace

namespace {

TEST_F(MainWindowTest, EachLoadReplacesTheTextureWithThePicturesTexels)
{
    // Bottom-left texel yellow for the first picture, cyan for the second.
    writeBmp(pictures(QStringLiteral("a.bmp")), 64, 48, [](int x, int y) {
        return x < 32 && y >= 24 ? QColor(255, 255, 0) : QColor(90, 90, 90);
    });
    writeBmp(pictures(QStringLiteral("b.bmp")), 64, 48, [](int x, int y) {
        return x < 32 && y >= 24 ? QColor(0, 255, 255) : QColor(90, 90, 90);
    });
    auto window = startSlideshow(m_pictures.path());
    SlideSurface* surface = window->slideSurface();
    auto texelAtOrigin = [&] {
        EXPECT_TRUE(surface->context()->makeCurrent(surface));
        glBindTexture(GL_TEXTURE_2D, surface->textureName());
        std::vector<unsigned char> texels(1024 * 1024 * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        return QColor(texels[0], texels[1], texels[2]);
    };
    const unsigned first = surface->textureName();
    EXPECT_EQ(texelAtOrigin(), QColor(255, 255, 0));

    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    tick(*window); // loads the second picture
    ASSERT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(texelAtOrigin(), QColor(0, 255, 255));
    if (surface->textureName() != first) {
        EXPECT_FALSE(glIsTexture(first));
    }
    EXPECT_TRUE(surface->textureCreated());
}

TEST_F(MainWindowTest, AltCStopsTheSearchWhileAPlainCIsTypedIntoThePathBox)
{
    QDir root(m_pictures.path());
    for (int d = 0; d < 100; ++d) {
        ASSERT_TRUE(root.mkpath(QStringLiteral("d%1").arg(d)));
        for (int f = 0; f < 100; ++f) {
            const QByteArray name =
                QFile::encodeName(root.filePath(QStringLiteral("d%1/f%2.bmp").arg(d).arg(f)));
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    auto window = makeWindow(m_pictures.path(), false);
    window->show();
    // Accelerators act in the active window. Activating it directly keeps the event loop from
    // running, so the search is still going when the keys arrive.
    QApplication::setActiveWindow(window.get());
    auto* pathBox = window->findChild<QLineEdit*>(QStringLiteral("Edit1"));
    pathBox->setFocus();
    QTest::keyClick(pathBox, Qt::Key_C);
    EXPECT_EQ(m_quitRequests, 0);
    ASSERT_TRUE(window->controller().searching());
    QTest::keyClick(pathBox, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->controller().searching());
    EXPECT_EQ(window->findChild<QPushButton*>(QStringLiteral("B_Search_Cancel"))->text(),
              QStringLiteral("中止処理中"));
}

TEST_F(MainWindowTest, MusicPlaysThroughTheSearchAndWhilePausedAndStopsAtTheEnd)
{
    for (const char* name : {"b.mp3", "A.wav", "notes.txt"}) {
        QFile file(m_appDir.path() + u'/' + QString::fromLatin1(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    QStringList log;
    auto window = makeWindow(m_pictures.path(), false, std::make_unique<RecordingDevice>(log));
    EXPECT_EQ(log, (QStringList{QStringLiteral("open A.wav"), QStringLiteral("play")}));
    EXPECT_TRUE(window->musicTimer().isActive());

    window->musicTick(); // still playing
    window->musicTick(); // has stopped: the next file, opened in the background, then played
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->musicOpening(); }));
    EXPECT_EQ(log.mid(2), (QStringList{QStringLiteral("close"), QStringLiteral("open b.mp3"),
                                       QStringLiteral("play")}));

    window->show();
    ASSERT_TRUE(waitForHandOver(*window));
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    ASSERT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->musicTimer().isActive());
    log.clear();
    window->musicTick();
    window->musicTick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->musicOpening(); }));
    EXPECT_EQ(log, (QStringList{QStringLiteral("close"), QStringLiteral("open A.wav"),
                                QStringLiteral("play")}));

    log.clear();
    window.reset();
    EXPECT_TRUE(log.contains(QStringLiteral("destroyed")));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, MusicThatCannotOpenIsReportedOnceAndStartUpGoesOn)
{
    QFile music(m_appDir.path() + QStringLiteral("/a.wav"));
    ASSERT_TRUE(music.open(QIODevice::WriteOnly));
    music.close();
    writeSolidBmp(pictures(QStringLiteral("one.bmp")), 8, 6, Qt::gray);
    QStringList log;
    auto window = makeWindow(m_pictures.path(), false, std::make_unique<FailingDevice>(log));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, QStringLiteral("no audio output."));
    EXPECT_TRUE(window->controller().searching());
    for (int i = 0; i < 3; ++i)
        window->musicTick();
    EXPECT_EQ(m_messages.size(), 1u);
    window->show();
    EXPECT_TRUE(waitForHandOver(*window));
    EXPECT_TRUE(window->controller().slideshowRunning());
}

} // namespace

namespace {

TEST_F(MainWindowTest, PathsAreShortenedInTheWindowFont)
{
    auto window = makeWindow(m_pictures.path(), false);
    const QFontMetrics metrics(window->font());
    const auto width = [&](const QString& text) { return metrics.horizontalAdvance(text); };
    const QString path =
        QStringLiteral("/home/user/写真/2024 summer holiday/day three/img_0001.jpg");
    const QString fitted = fitPathToWidth(path, width, 190);
    EXPECT_LE(width(fitted), 190);
    EXPECT_TRUE(fitted.endsWith(QStringLiteral("/img_0001.jpg")));
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("/.../"))) << fitted.toStdString();
    // The first shortening that fits is the one taken: one folder more does not fit.
    const QString folders = fitted.mid(5);
    EXPECT_GT(width(QStringLiteral("/.../") + path.section(u'/', -(folders.count(u'/') + 2))), 190);
    EXPECT_EQ(fitPathToWidth(QStringLiteral("/p/a.jpg"), width, 462), QStringLiteral("/p/a.jpg"));
}

} // namespace

namespace {

TEST_F(MainWindowTest, FirstPictureUnreadableIsReportedAndTheShowStartsAllTheSame)
{
    QFile broken(pictures(QStringLiteral("a.bmp")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("PK not a bitmap at all");
    broken.close();
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 8, 6, Qt::gray);
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].kind, Messages::Kind::Error);
    EXPECT_EQ(m_messages[0].text,
              QStringLiteral("TQdInternalDIB.LoadFromFile: File type is invalid."));
    // The hand-over is finished as after any failed change: page box, close button, timer.
    EXPECT_TRUE(window->controller().slideshowRunning());
    EXPECT_TRUE(pageText(*window).section(u'\n', 0, 0).endsWith(QStringLiteral("a.bmp")));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/2"));
    EXPECT_TRUE(window->findChild<QPushButton*>(QStringLiteral("B_Close"))->isVisible());
    EXPECT_TRUE(window->slideTimer().isActive());
    const_cast<QTimer&>(window->slideTimer()).stop();

    // When the failed picture's frames are up, the show moves on to the second one.
    for (int i = 0; i < SlideFrames; ++i)
        tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 0);
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/2"));
    EXPECT_EQ(m_messages.size(), 1u);
}

TEST_F(MainWindowTest, FrameLogRecordsEachPresentedFrame)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeSolidBmp(pictures(QStringLiteral("b.bmp")), 8, 6, Qt::gray);
    const QString logPath = m_appDir.path() + QStringLiteral("/frames.log");
    qputenv("LUMIVANE_FRAME_LOG", QFile::encodeName(logPath));
    auto window = startSlideshow(m_pictures.path(), false);
    qunsetenv("LUMIVANE_FRAME_LOG");
    for (int i = 0; i < 3; ++i)
        tick(*window);
    const QString firstPath = QString::number(window->controller().pathIndex());
    window->controller().setPathChooserForTesting([] { return 4; });
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    tick(*window);
    window.reset();

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    QStringList frames;
    qint64 previous = 0;
    for (const QString& line : lines) {
        const QStringList fields = line.split(u' ');
        ASSERT_EQ(fields.size(), 4) << line.toStdString();
        EXPECT_GE(fields[0].toLongLong(), previous);
        previous = fields[0].toLongLong();
        frames << fields.mid(1).join(u' ');
    }
    EXPECT_EQ(frames,
              (QStringList{QStringLiteral("0 1 ") + firstPath, QStringLiteral("0 2 ") + firstPath,
                           QStringLiteral("0 3 ") + firstPath, QStringLiteral("1 1 4")}));
}

TEST_F(MainWindowTest, SmoothMotionDrawsAtTheRefreshChangesOnTimeAndEndsOnEscape)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeBmp(pictures(QStringLiteral("b.bmp")), 160, 120,
             [](int x, int y) { return QColor(x, y * 2, (x + y) % 256); });
    m_show.motion = SlideMotion::Smooth;
    m_show.seconds = 2;
    auto window = makeWindow(m_pictures.path());
    ASSERT_TRUE(waitForHandOver(*window));
    EXPECT_FALSE(window->slideTimer().isActive());
    EXPECT_TRUE(window->framePacer()->isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > 0; }, 5000));

    // Frames at about the screen's refresh, and the next picture after about 2 s.
    QElapsedTimer clock;
    clock.start();
    int frames = 0;
    int last = window->controller().frameCounter();
    while (window->controller().currentIndex() == 0 && clock.elapsed() < 5000) {
        QTest::qWait(5);
        const int now = window->controller().frameCounter();
        frames += now >= last ? now - last : now;
        last = now;
    }
    const double seconds = double(clock.elapsed()) / 1000;
    EXPECT_EQ(window->controller().currentIndex(), 1);
    // (A busy machine may make frames late, never early.)
    EXPECT_GT(seconds, 1.8);
    EXPECT_LT(seconds, 2.6);
    const double rate = window->framePacer()->refreshRate();
    EXPECT_GT(frames / seconds, 0.5 * rate);
    EXPECT_LT(frames / seconds, 1.1 * rate);

    // Paused, nothing is drawn. The second picture's texture, put up in slices ahead of the
    // change, holds its texels exactly.
    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    const int paused = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), paused);
    SlideSurface* surface = window->slideSurface();
    ASSERT_TRUE(surface->context()->makeCurrent(surface));
    glBindTexture(GL_TEXTURE_2D, surface->textureName());
    std::vector<unsigned char> texels(1024 * 1024 * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_TRUE(std::equal(texels.begin(), texels.end(), window->controller().slideImage().texturePixels()));

    QTest::mouseClick(window->slideWidget(), Qt::MiddleButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > paused; }, 1000));

    // A hidden window draws nothing; shown again, the show goes on.
    window->hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !surface->isExposed(); }, 2000));
    const int hidden = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), hidden);
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().frameCounter() > hidden + 3; }, 2000));

    // Escape ends the show at once.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->framePacer()->isActive());
    const int ended = window->controller().frameCounter();
    QTest::qWait(100);
    EXPECT_EQ(window->controller().frameCounter(), ended);
    EXPECT_TRUE(m_messages.empty());
}

// Where the swap does not wait for the display, frames that take unevenly long to make (every
// other one 8 ms longer, as at a change of picture) still reach the screen one refresh apart:
// each is asked for ahead of its deadline and held back until then.
TEST(FramePacerTest, FramesOfUnevenCostReachTheScreenOnTheBeat)
{
    using Clock = std::chrono::steady_clock;
    QWidget host;
    host.resize(320, 240);
    auto* surface = new SlideSurface;
    surface->embedIn(&host)->setGeometry(host.rect());
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    ASSERT_EQ(surface->createContext(), SlideSurface::Failure::None);
    FramePacer pacer(surface->presenter(), SlideMotion::Smooth, 30);
    std::vector<Clock::time_point> shown;
    QEventLoop loop;
    QObject::connect(&pacer, &FramePacer::frameDue, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(shown.size() % 2 ? 9 : 1));
        surface->showStatusLine(QString::number(shown.size()));
        shown.push_back(Clock::now());
        pacer.frameDone();
        if (shown.size() == 60)
            loop.quit();
    });
    // The median miss of the period over 48 frames, after the first ones have set the lead.
    const auto run = [&] {
        shown.clear();
        pacer.start();
        // The real event loop: QTest::qWait sleeps between its turns, and would make frames
        // late.
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        pacer.stop();
        const double period = 1000 / pacer.refreshRate();
        std::vector<double> misses;
        for (std::size_t i = 12; i < shown.size(); ++i) {
            const double interval =
                std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count();
            misses.push_back(std::abs(interval - period));
        }
        std::sort(misses.begin(), misses.end());
        return misses.empty() ? period : misses[misses.size() / 2];
    };
    // Drawn and shown at once, the intervals miss the period by 4 ms and more (8 to 11 ms
    // measured), in every run. A machine busy with other work makes frames late at random, which
    // moves the median miss to 2 ms and, while the machine is saturated, to nearly 5 ms: a run
    // it spoils is run again, up to five times, and the bound lies halfway to the unpaced frames.
    double median = 0;
    for (int round = 0; round < 5; ++round) {
        median = run();
        ASSERT_EQ(shown.size(), 60u);
        if (pacer.followsSwaps().value_or(false))
            GTEST_SKIP() << "this display's swap keeps the beat itself";
        if (median < 4)
            break;
    }
    EXPECT_LT(median, 4) << "period " << 1000 / pacer.refreshRate() << " ms";
}

// Holds the preparer's work on chosen pictures until released (or abandoned), and records on
// which threads pictures were prepared.
struct PrepareGate
{
    std::mutex mutex;
    std::vector<int> started;
    bool onUiThread = false;
    std::atomic<bool> open = false;

    std::function<void(int, std::stop_token)> hook(std::function<bool(int)> held)
    {
        const std::thread::id ui = std::this_thread::get_id();
        return [this, ui, held](int index, std::stop_token stop) {
            {
                std::lock_guard lock(mutex);
                started.push_back(index);
                onUiThread = onUiThread || std::this_thread::get_id() == ui;
            }
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (held(index) && !open && !stop.stop_requested() &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
    }
    bool hasStarted(int index)
    {
        std::lock_guard lock(mutex);
        return std::find(started.begin(), started.end(), index) != started.end();
    }
};

TEST_F(MainWindowTest, AChangeUsesThePreparedPictureAndAWaitHoldsNothingUp)
{
    for (int i = 0; i < 4; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    PrepareGate gate;
    auto window = makeWindow(m_pictures.path(), false);
    window->controller().setPrepareHookForTesting(gate.hook([](int index) { return index == 2; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForHandOver(*window));
    const_cast<QTimer&>(window->slideTimer()).stop();
    tick(*window); // the first frame; the neighbours are prepared from now on
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->controller().preparer()->isIdle(); }, 10000));

    // The next picture is ready: the tick that changes to it draws its first frame at once.
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    const_cast<QTimer&>(window->slideTimer()).stop();
    window->controller().slideTick();
    EXPECT_FALSE(window->controller().changePending());
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(window->controller().frameCounter(), 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/4"));

    // The one after it is held in the worker. The running show waits for it without blocking:
    // the status line says what loads, and Escape ends the program at once.
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.hasStarted(2); }, 10000));
    QTest::mouseClick(window->slideWidget(), Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_TRUE(window->controller().changePending());
    EXPECT_EQ(window->controller().currentIndex(), 2);
    EXPECT_EQ(window->slideSurface()->statusLine(), QStringLiteral("Now File(2.bmp) Loading"));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/4"));
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    EXPECT_FALSE(window->slideTimer().isActive());
    window.reset();
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_FALSE(gate.onUiThread);
    EXPECT_TRUE(m_messages.empty());
}

// A picture whose file claims gigabytes, here the first scan of a progressive JPEG followed by
// 16 GB without a marker (a sparse file): the worker gives up on the gap within a second instead
// of reading it, and Escape ends the program at once.
TEST_F(MainWindowTest, EscapeWhileAHugeFileIsPreparedEndsTheProgramAtOnce)
{
    writeSolidBmp(pictures(QStringLiteral("a.bmp")), 8, 6, Qt::gray);
    writeSolidBmp(pictures(QStringLiteral("c.bmp")), 8, 6, Qt::gray);
    const std::string huge = QFile::encodeName(pictures(QStringLiteral("b.jpg"))).toStdString();
    const RgbImage grey = TestPictures::makeImage(32, 16, [](int, int) {
        return std::array{128, 128, 128};
    });
    ASSERT_TRUE(TestPictures::writeFile(
        huge, TestPictures::firstScanOf(TestPictures::encodeJpeg(grey, {.progressive = true}))));
    ASSERT_EQ(::truncate(huge.c_str(), off_t{16} << 30), 0);

    PrepareGate gate;
    auto window = makeWindow(m_pictures.path(), false);
    window->controller().setPrepareHookForTesting(gate.hook([](int) { return false; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForHandOver(*window));
    tick(*window); // the first picture is on screen; its neighbour b.jpg is prepared next
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.hasStarted(1); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->controller().preparer()->isIdle(); }, 1000));

    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(m_quitRequests, 1);
    window.reset();
    EXPECT_LT(clock.elapsed(), 500);
    ::unlink(huge.c_str());
}

TEST_F(MainWindowTest, ClicksWhileAPictureLoadsMoveTheChangesTarget)
{
    for (int i = 0; i < 6; ++i)
        writeSolidBmp(pictures(QStringLiteral("%1.bmp").arg(i)), 8, 6, Qt::gray);
    PrepareGate gate;
    auto window = makeWindow(m_pictures.path(), false);
    window->controller().setPrepareHookForTesting(gate.hook([](int index) { return index != 0; }));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(waitForHandOver(*window));
    QWidget* surface = window->slideWidget();
    auto click = [&](Qt::MouseButton button) {
        QTest::mouseClick(surface, button);
        const_cast<QTimer&>(window->slideTimer()).stop();
        window->controller().slideTick();
        EXPECT_TRUE(window->controller().changePending());
    };
    // Left: the change waits for picture 1. Left again: one on, to 2. Right: one back, to 1.
    click(Qt::LeftButton);
    EXPECT_EQ(window->controller().currentIndex(), 1);
    click(Qt::LeftButton);
    EXPECT_EQ(window->controller().currentIndex(), 2);
    click(Qt::RightButton);
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(window->slideSurface()->statusLine(), QStringLiteral("Now File(1.bmp) Loading"));
    EXPECT_EQ(pagePosition(*window), QStringLiteral("1/6"));

    gate.open = true;
    tick(*window);
    EXPECT_EQ(window->controller().currentIndex(), 1);
    EXPECT_EQ(window->controller().frameCounter(), 1);
    EXPECT_EQ(pagePosition(*window), QStringLiteral("2/6"));
    EXPECT_TRUE(window->slideSurface()->statusLine().isEmpty());
    EXPECT_TRUE(m_messages.empty());
}

} // namespace

namespace {

TEST(ErrorBox, AppendsAFullStopAfterCharactersAboveIt)
{
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("ストリームからの読み込みエラー")),
              QStringLiteral("ストリームからの読み込みエラー."));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("Invalid DIB(24Bit)")),
              QStringLiteral("Invalid DIB(24Bit)"));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("done.")), QStringLiteral("done."));
    EXPECT_EQ(Messages::errorBoxText(QStringLiteral("a/")), QStringLiteral("a/."));
    EXPECT_EQ(Messages::errorBoxText(QString()), QString());
}

} // namespace
