#include "app/mainwindow.h"

#include "app/displayprofile.h"
#include "app/errorguard.h"
#include "app/keycontrol.h"
#include "app/layout.h"
#include "app/messages.h"
#include "app/pagebox.h"
#include "app/pathfit.h"
#include "app/searchpanel.h"
#include "app/settings.h"
#include "app/surfacestart.h"
#include "app/visiblename.h"
#include "app/waitingscreen.h"
#include "app/windowstyle.h"
#include "imaging/colourprofile.h"
#include "music/musicplaylist.h"
#include "screen/controlimages.h"
#include "screen/framepacer.h"
#include "screen/screenawake.h"
#include "screen/slidesurface.h"
#include "show/slidecycle.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QWheelEvent>

#include <cstdio>
#include <string>
#include <vector>

MainWindow::MainWindow(StartupOptions options)
    : m_options(options.show), m_music(std::move(options.music)),
      m_show(std::make_unique<ShowController>(static_cast<ShowView&>(*this), m_options))
{
    // Start-up, in the order the rest of the program relies on: settings, surface, music,
    // search folder, camera tables, search thread, and finally the place on the monitor.
    m_locations = std::move(options.locations);
    buildComponents();

    // A missing settings file reads as monitor 0, like a missing key.
    m_monitorIndex = chooseMonitorIndex(readMonitorSetting(m_locations.settingsFile()),
                                        int(QGuiApplication::screens().size()));
    useDisplayProfile();

    if (QScreen* primary = QGuiApplication::primaryScreen())
        resize(primary->size());
    createSurface();
    startMusic();
    const std::string folder = chooseSearchFolder(options.folderArgument);
    move(0, 0);
    // The camera tables were built with the show (CameraPaths computes them once).
    runGuarded(this, [this, &folder] { m_show->startSearch(folder); });
    placeOnMonitor();

    // The timers start only now that everything they drive exists. The message boxes of a
    // surface that could not be set up run an event loop of their own, and a tick then must not
    // find the music or the search missing.
    m_findFileTimer.start();
    if (m_music->musicList().count() > 0)
        m_musicTimer.start();
}

MainWindow::~MainWindow()
{
    // Shutdown: the show's threads first (the watch, the picture preparer, the search). Then the
    // timers; then the surface, with the texture deleted while the context is current.
    m_show->shutDown();
    m_screenAwake.reset();
    m_findFileTimer.stop();
    m_pacer->stop();
    m_musicTimer.stop();
    m_surface->releaseSurface();
}

void MainWindow::buildComponents()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Lumivane"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, WindowBlue);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setFont(windowFont(11));
    setFocusPolicy(Qt::StrongFocus);

    m_closeButton = new QPushButton(tr("終了(&C)"), this);
    m_closeButton->setObjectName(QStringLiteral("B_Close"));
    m_closeButton->resize(CloseButtonSize);
    m_closeButton->setFont(windowFont(11));
    m_closeButton->hide();
    connect(m_closeButton, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { m_show->close(); }); });

    m_panel = new SearchPanel(this);
    connect(m_panel->cancelButton(), &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { m_show->stop(); }); });
    m_keys = new KeyControl(this, {m_panel->cancelButton(), m_closeButton},
                            [this] { runGuarded(this, [this] { m_show->stop(); }); });
    KeyControl::clickOnEscape(m_panel->cancelButton());
    m_keys->setShowStepHandler([this](ShowStep step) { return m_show->keyStep(step); });

    m_pageBox = new PageBox(this);
    // Only a watched show can wait for pictures.
    if (m_options.watch)
        m_waiting = new WaitingScreen(this);

    // The search screen keeps the typing focus in the path box.
    m_panel->pathBox()->setFocus();

    m_findFileTimer.setObjectName(QStringLiteral("Timer_FindFile"));
    m_findFileTimer.setInterval(30);
    connect(&m_findFileTimer, &QTimer::timeout, m_show.get(), &ShowController::searchTick);

    m_musicTimer.setObjectName(QStringLiteral("Timer_Mid"));
    m_musicTimer.setInterval(1000);
    connect(&m_musicTimer, &QTimer::timeout, this, &MainWindow::musicTick);
}

void MainWindow::createSurface()
{
    // The OpenGL surface fills the window, beneath every other component. The components that
    // lie over it are native windows of their own, so that they stay above the surface.
    winId(); // the window's native window, created now if it does not exist yet
    m_surface = new SlideSurface(m_options.quality);
    m_surfaceWidget = m_surface->embedIn(this);
    m_surfaceWidget->setObjectName(QStringLiteral("SlideWidget"));
    m_surfaceWidget->setAccessibleName(QStringLiteral("Lumivane"));
    m_surfaceWidget->setFocusPolicy(Qt::NoFocus);
    m_surfaceWidget->setGeometry(rect());
    m_surfaceWidget->lower();
    // Over a child window of its own, the components stay above it only as native windows (X);
    // where the window system cannot stack them so (Wayland), their images are drawn over the
    // scene. A surface drawn off screen is a plain widget, beneath them like any other.
    const std::vector<QWidget*> above{m_closeButton, m_panel, m_pageBox, m_waiting};
    if (m_surface->drawsControlImages()) {
        new ControlImages(
            above, [this](std::vector<ControlImage> images) {
                m_surface->setControlImages(std::move(images));
            },
            this);
    } else if (!m_surface->drawsOffScreen()) {
        for (QWidget* control : above)
            if (control)
                control->setAttribute(Qt::WA_NativeWindow);
    }

    // A failure is reported and start-up goes on; the window then shows its blue background.
    // A surface without a context would cover the window with whatever the display left there;
    // without it the window shows its own blue and takes the mouse presses itself.
    if (!startSurface(this, *m_surface, m_options.quality))
        m_surfaceWidget->hide();
    // The slide timer, or smooth motion's frames at the display's refresh.
    m_pacer = new FramePacer(m_surface->presenter(), m_options.motion,
                             SlideCycle(1, m_options.motion, m_options.seconds).frameInterval(), this);
    connect(m_pacer, &FramePacer::frameDue, m_show.get(), &ShowController::slideTick);
}

void MainWindow::startMusic()
{
    if (!m_music)
        m_music = std::make_unique<MusicPlaylist>();
    // Without music files the music timer is never started.
    if (!m_music->findMusicFiles(m_locations.musicFolder()))
        return;
    // A file that cannot be opened is shown like any escaped error; start-up goes on.
    runGuarded(this, [this] { m_music->startFirst(); });
    // Later files open on a thread of their own, so that a slow open (a MIDI file takes up to a
    // few frames) does not hold up the slideshow; playback starts back here, and a failed open
    // is reported here like any other.
    m_music->openInBackground([this] {
        QMetaObject::invokeMethod(
            this, [this] { runGuarded(this, [this] { m_music->finishOpen(); }); },
            Qt::QueuedConnection);
    });
}

std::string MainWindow::chooseSearchFolder(const std::string& argument) const
{
    // The argument keeps its bytes: a folder name that is not valid UTF-8 is still a folder.
    return isExistingFolder(argument) ? withTrailingSlash(argument)
                                      : m_locations.defaultSearchFolder();
}

void MainWindow::useDisplayProfile()
{
    // The high quality mode converts pictures to the chosen monitor's colour space, as the X
    // server's colour manager publishes it; elsewhere (and on Wayland) pictures go out as sRGB.
    std::vector<std::uint8_t> profile;
    std::string note;
    if (m_options.quality == PictureQuality::High) {
        if (const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            xcb_connection_t* connection = x11->connection();
            const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
            if (screen != nullptr)
                profile = readDisplayProfile(connection, screen->root, m_monitorIndex, &note);
        }
    }
    const std::string refused = ColourTransformCache::shared().setDisplayProfile(profile);
    for (const std::string& text : {note, refused}) {
        if (!text.empty())
            std::fprintf(stderr, "lumivane: %s\n", text.c_str());
    }
}

void MainWindow::placeOnMonitor()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (m_monitorIndex >= 0 && m_monitorIndex < screens.size()) {
        QScreen* monitor = screens.at(m_monitorIndex);
        if (clientPlacesWindows()) {
            setGeometry(monitor->geometry());
        } else {
            // Wayland lets no client place its window: the window asks to be full screen on the
            // monitor's output, and the compositor puts it there.
            setScreen(monitor);
            resize(monitor->size());
            setWindowState(windowState() | Qt::WindowFullScreen);
        }
    }
    placeComponents();
}

bool MainWindow::clientPlacesWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void MainWindow::placeComponents()
{
    const WindowLayout layout = computeLayout(width(), height());
    m_closeButton->move(layout.closeButton);
    m_pageBox->move(layout.pageBox);
    m_panel->move(layout.panel);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_surfaceWidget)
        m_surfaceWidget->setGeometry(rect());
    if (m_waiting)
        m_waiting->setGeometry(rect());
    // The size a compositor gives the window may differ from the one asked for.
    if (!clientPlacesWindows() && m_closeButton)
        placeComponents();
}

const QTimer& MainWindow::slideTimer() const
{
    return m_pacer->slideTimer();
}

void MainWindow::musicTick()
{
    runGuarded(this, [this] { m_music->tick(); });
}

int MainWindow::textWidth(const QString& text) const
{
    return QFontMetrics(font()).horizontalAdvance(text);
}

// ---------------------------------------------------------------------------------------------
// What the show asks of the window

void MainWindow::guarded(const std::function<void()>& step)
{
    runGuarded(this, step);
}

void MainWindow::showSearchProgress(const PathEntry& last)
{
    const QString shown =
        fitPathToWidth(visibleName(last.display), [this](const QString& t) { return textWidth(t); },
                       m_panel->pathBox()->width());
    if (m_panel->pathBox()->text() != shown)
        m_panel->pathBox()->setText(shown);
}

void MainWindow::endSearchScreen()
{
    m_findFileTimer.stop();
    m_panel->hide();
    setFocus();
}

void MainWindow::showStopping()
{
    m_findFileTimer.stop();
    m_panel->showStopping();
    // Let the new texts and the greyed button paint before the wait for the thread.
    QCoreApplication::processEvents();
    m_panel->cancelButton()->update();
}

void MainWindow::reportNoPictures()
{
    Messages::showPlain(this, tr("画像ファイルがありません"));
}

void MainWindow::quit()
{
    emit quitRequested();
    QCoreApplication::quit();
}

SlideTextures& MainWindow::textures()
{
    return *m_surface;
}

ShowScreen MainWindow::screenPixels() const
{
    return {width(), height(), devicePixelRatioF()};
}

void MainWindow::presentFrame(const ShowFrame& frame)
{
    m_surface->presentFrame(frame.camera, frame.scene);
    if (!m_frameLog)
        return;
    if (m_options.motion == SlideMotion::Frames)
        m_frameLog->record(frame.picture, int(frame.tablePosition), frame.path);
    else
        m_frameLog->recordPosition(frame.picture, frame.tablePosition, frame.path);
}

void MainWindow::showPage(const PathEntry& entry, int number, int count, int margin)
{
    const QString path = fitPathToWidth(
        visibleName(entry.display), [this](const QString& t) { return textWidth(t); },
        m_pageBox->width() - margin);
    m_pageBox->setPlainText(path + QStringLiteral("\r\n") + QString::number(number) + u'/' +
                            QString::number(count));
}

void MainWindow::showLoading(const PathEntry& entry)
{
    const QString& name = entry.display;
    // The file name part of the path: everything after its last "/".
    m_surface->showStatusLine(
        tr("Now File(%1) Loading").arg(visibleName(name.mid(name.lastIndexOf(u'/') + 1))));
}

void MainWindow::showPauseMarker()
{
    m_surface->showPauseMarker();
}

void MainWindow::showControls()
{
    m_closeButton->show();
    m_closeButton->raise();
    m_keys->enablePreview();
}

void MainWindow::showWaiting(const QString& folder)
{
    if (m_waiting)
        m_waiting->showFor(folder);
}

void MainWindow::hideWaiting()
{
    if (m_waiting)
        m_waiting->hide();
}

void MainWindow::startFrames()
{
    m_pacer->start();
}

void MainWindow::stopFrames()
{
    m_pacer->stop();
}

void MainWindow::frameDone()
{
    m_pacer->frameDone();
}

void MainWindow::frameSkipped()
{
    m_pacer->frameSkipped();
}

void MainWindow::waitForPicture()
{
    m_pacer->waitForPicture();
}

void MainWindow::holdScreenAwake(bool held)
{
    m_screenHeld = held;
    if (m_screenAwake)
        m_screenAwake->setHeld(held);
}

void MainWindow::sleepScreen()
{
    m_screenHeld = false;
    if (m_screenAwake)
        m_screenAwake->sleepScreen();
}

void MainWindow::wakeScreen()
{
    if (m_screenAwake)
        m_screenAwake->wakeScreen();
}

void MainWindow::setMusicPaused(bool paused)
{
    m_music->setPaused(paused);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_screenAwake)
        return;
    m_screenAwake = std::make_unique<ScreenAwake>(windowHandle());
    if (m_show->asleep())
        m_screenAwake->sleepScreen();
    else
        m_screenAwake->setHeld(m_screenHeld);
}

// ---------------------------------------------------------------------------------------------
// Keyboard and mouse

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape and the accelerator's buttons run their steps guarded, like every other handler.
    if (!m_keys->handleKey(event))
        QWidget::keyPressEvent(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    m_show->step(showStepForButton(event->button()));
}

void MainWindow::wheelEvent(QWheelEvent* event)
{
    m_show->wheel(event->angleDelta().y(), event->pixelDelta().y());
}
