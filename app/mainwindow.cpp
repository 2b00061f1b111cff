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
#include "show/showwatch.h"
#include "app/surfacestart.h"
#include "app/visiblename.h"
#include "app/waitingscreen.h"
#include "app/windowstyle.h"
#include "imaging/colourprofile.h"
#include "music/musicplaylist.h"
#include "scene/scenegeometry.h"
#include "scene/slideconstants.h"
#include "screen/slidesurface.h"
#include "scene/texturesize.h"
#include "search/searchthread.h"

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

#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The file name part of a path: everything after its last "/".
QString fileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

MainWindow::MainWindow(StartupOptions options)
    : m_show(options.show), m_music(std::move(options.music))
{
    // Start-up, in the order the rest of the program relies on: settings, surface, music,
    // search folder, camera tables, search thread, and finally the place on the monitor.
    m_locations = std::move(options.locations);
    buildComponents();

    // A missing settings file reads as monitor 0, like a missing key.
    m_monitorIndex = chooseMonitorIndex(readMonitorSetting(m_locations.settingsFile()),
                                        int(QGuiApplication::screens().size()));
    useDisplayProfile();

    m_slideshowRunning = false;
    m_random.seed(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    m_pathIndex = drawPathIndex();

    if (QScreen* primary = QGuiApplication::primaryScreen())
        resize(primary->size());
    createSurface();
    startMusic();
    chooseSearchFolder(options.folderArgument);
    move(0, 0);
    // The camera tables were built with the window (CameraPaths computes them once).
    runGuarded(this, [this] {
        m_searchThread =
            std::make_unique<SearchThread>(m_imageList, m_searchFolder, m_show.formats);
    });
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
    // Shutdown: the worker threads first: the preparer abandons the picture it is making, and
    // nothing writes to the picture list any more. Then the timers; then the surface, with the
    // texture deleted while the context is current.
    m_watch.reset();
    m_pictures.stop();
    if (m_searchThread) {
        m_searchThread->requestStop();
        m_searchThread.reset();
    }
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
            [this] { runGuarded(this, [this] { closeClicked(); }); });

    m_panel = new SearchPanel(this);
    connect(m_panel->cancelButton(), &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { stopSteps(); }); });
    m_keys = new KeyControl(this, {m_panel->cancelButton(), m_closeButton},
                            [this] { runGuarded(this, [this] { stopSteps(); }); });
    KeyControl::clickOnEscape(m_panel->cancelButton());
    m_keys->setShowStepHandler([this](ShowStep step) { return showStep(step); });

    m_pageBox = new PageBox(this);
    // Only a watched show can wait for pictures.
    if (m_show.watch)
        m_waiting = new WaitingScreen(this);

    // The search screen keeps the typing focus in the path box.
    m_panel->pathBox()->setFocus();

    m_findFileTimer.setObjectName(QStringLiteral("Timer_FindFile"));
    m_findFileTimer.setInterval(30);
    connect(&m_findFileTimer, &QTimer::timeout, this, &MainWindow::findFileTick);

    m_musicTimer.setObjectName(QStringLiteral("Timer_Mid"));
    m_musicTimer.setInterval(1000);
    connect(&m_musicTimer, &QTimer::timeout, this, &MainWindow::musicTick);
}

void MainWindow::createSurface()
{
    // The OpenGL surface fills the window, beneath every other component. The components that
    // lie over it are native windows of their own, so that they stay above the surface.
    winId(); // the window's native window, created now if it does not exist yet
    m_surface = new SlideSurface(m_show.quality);
    m_surfaceWidget = m_surface->embedIn(this);
    m_surfaceWidget->setObjectName(QStringLiteral("SlideWidget"));
    m_surfaceWidget->setAccessibleName(QStringLiteral("Lumivane"));
    m_surfaceWidget->setFocusPolicy(Qt::NoFocus);
    m_surfaceWidget->setGeometry(rect());
    m_surfaceWidget->lower();
    // Over a child window of its own (X), the components stay above it only as native windows.
    // A surface drawn off screen is a plain widget, beneath them like any other.
    if (!m_surface->drawsOffScreen()) {
        for (QWidget* above : {static_cast<QWidget*>(m_closeButton), static_cast<QWidget*>(m_panel),
                               static_cast<QWidget*>(m_pageBox), static_cast<QWidget*>(m_waiting)})
            if (above)
                above->setAttribute(Qt::WA_NativeWindow);
    }

    // A failure is reported and start-up goes on; the window then shows its blue background.
    // A surface without a context would cover the window with whatever the display left there;
    // without it the window shows its own blue and takes the mouse presses itself.
    if (!startSurface(this, *m_surface, m_show.quality))
        m_surfaceWidget->hide();
    // The slide timer, or smooth motion's frames at the display's refresh.
    m_pacer = new FramePacer(m_surface->presenter(), m_show.motion,
                             SlideCycle(1, m_show.motion, m_show.seconds).frameInterval(), this);
    connect(m_pacer, &FramePacer::frameDue, this, &MainWindow::slideTick);
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

void MainWindow::chooseSearchFolder(const std::string& argument)
{
    // The argument keeps its bytes: a folder name that is not valid UTF-8 is still a folder.
    m_searchFolder = isExistingFolder(argument) ? withTrailingSlash(argument)
                                                : m_locations.defaultSearchFolder();
}

void MainWindow::useDisplayProfile()
{
    // The high quality mode converts pictures to the chosen monitor's colour space, as the X
    // server's colour manager publishes it; elsewhere (and on Wayland) pictures go out as sRGB.
    std::vector<std::uint8_t> profile;
    std::string note;
    if (m_show.quality == PictureQuality::High) {
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

// ---------------------------------------------------------------------------------------------
// Search screen and hand-over

void MainWindow::findFileTick()
{
    runGuarded(this, [this] {
        if (!m_searchThread)
            return;
        if (!m_searchThread->scanDone()) {
            // The entry that sorts last so far, not the one found most recently.
            const GuardedList::Progress progress = m_imageList.progress();
            if (progress.last) {
                const QString shown = fitPathToWidth(
                    visibleName(progress.last->display),
                    [this](const QString& t) { return textWidth(t); }, m_panel->pathBox()->width());
                if (m_panel->pathBox()->text() != shown)
                    m_panel->pathBox()->setText(shown);
            }
            return;
        }
        handOver();
    });
}

void MainWindow::handOver()
{
    m_findFileTimer.stop();
    // The walk has returned, so destroying the thread waits only for it to end.
    std::unique_ptr<SearchThread> finished = std::move(m_searchThread);
    finished.reset();
    m_panel->hide();
    setFocus();

    const SortedStringList& images = m_imageList.unguarded();
    // A watched show waits for its pictures.
    if (images.count() < 1 && !m_show.watch) {
        Messages::showPlain(this, tr("画像ファイルがありません"));
        requestQuit();
        return;
    }
    m_slideshowRunning = true;
    // The play order is drawn once the list is complete; a sorted one is the list itself. Its
    // random source is its own, so that the camera paths draw the same as in a sorted show.
    m_sequence = std::make_unique<SlideSequence>(
        int(images.count()), m_show.motion, m_show.seconds, m_show.order,
        m_shuffleRandom.value_or(std::mt19937(static_cast<std::mt19937::result_type>(
            std::chrono::steady_clock::now().time_since_epoch().count()))));
    // The first picture is prepared off the UI thread like every other. The hand-over finishes
    // when it is ready; meanwhile the status line says what is loading and the window keeps
    // answering.
    std::vector<std::string> openPaths;
    openPaths.reserve(images.count());
    for (std::size_t i = 0; i < images.count(); ++i)
        openPaths.push_back(images.at(i).path);
    // In high quality the texture follows the screen: as many texels as the held picture
    // covers device pixels.
    TextureLayout layout;
    if (m_show.quality == PictureQuality::High)
        layout = {chooseTextureSize(width(), height(), devicePixelRatioF(),
                                    m_surface->maxTextureSize(), m_cameraPaths),
                  true};
    if (m_show.watch)
        startWatch(openPaths);
    m_pictures.start(
        m_surface, std::move(openPaths),
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { pictureReady(); }, Qt::QueuedConnection);
        },
        m_prepareHook, layout);
    m_handOverPending = true;
    if (images.count() < 1) {
        showWaiting();
        return;
    }
    finishHandOver();
}

void MainWindow::finishHandOver()
{
    std::optional<PreparedSlide> first = takePicture();
    if (!first)
        return;
    m_handOverPending = false;
    if (m_waiting)
        m_waiting->hide();
    // A first picture the reader refuses is reported like any failed change, and the show
    // starts all the same: it moves on to the second picture when the first one's frames are
    // up.
    if (first->error)
        runGuarded(this, [&first] { std::rethrow_exception(first->error); });
    else
        m_pictures.show(std::move(*first));
    m_pageBox->setPlainText(pageText(currentEntry(), 10));
    m_closeButton->show();
    m_pacer->start();
    m_keys->enablePreview();
}

void MainWindow::pictureReady()
{
    runGuarded(this, [this] {
        if (m_handOverPending)
            finishHandOver();
    });
    // A change that waits for its picture completes as soon as the picture is ready, not one
    // timer interval later. A paused show completes it when it resumes.
    if (changePending() && !m_sequence->cycle().paused())
        slideTick();
}

// ---------------------------------------------------------------------------------------------
// The watched folder (WATCH=ON)

void MainWindow::startWatch(std::vector<std::string> knownPaths)
{
    // A watched show runs for days while pictures come and go, and the worker's slide buffers
    // (3 MB and more) are made and dropped far more often than in a show of a fixed folder.
    // Left to glibc's sliding threshold they end up in the threads' heaps, whose fragments the
    // process keeps: under steady churn its memory grew by a fifth in two minutes. Buffers of a
    // megabyte and more are given back to the system when freed instead.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    // From here on the list changes as the folder does, and the pictures are known by ids that
    // stay theirs (the list's indices until the first change).
    m_sequence->follow(m_imageList.unguardedForChange(),
                       std::mt19937(static_cast<std::mt19937::result_type>(m_random())));
    FolderWatcher::Settings settings = m_watchSettings.value_or(FolderWatcher::Settings{});
    if (!m_watchSettings)
        ShowWatch::applyEnvironment(settings);
    settings.formats = m_show.formats;
    settings.locale = QLocale();
    m_watch = std::make_unique<ShowWatch>(
        m_searchFolder, std::move(knownPaths), settings, [this](ListChanges changes) {
            runGuarded(this, [this, &changes] { applyListChanges(std::move(changes)); });
        });
}

void MainWindow::applyListChanges(ListChanges changes)
{
    if (!m_sequence || m_stopping)
        return;
    // The position's picture is on screen unless a change to it (or the first picture) waits.
    const bool onScreen = !m_handOverPending && !changePending();
    const LivingOrder::Outcome outcome = m_sequence->applyChanges(std::move(changes), onScreen);
    const LivingOrder& living = *m_sequence->living();
    std::vector<std::string> paths;
    paths.reserve(outcome.newIds.size());
    for (int id : outcome.newIds)
        paths.push_back(living.entry(id).path);
    m_pictures.addPaths(paths);
    // The worker drops what is no longer needed (a picture that left, being made or made) and
    // goes on with the new neighbours.
    const int shown = m_pictures.shown().index;
    if (SlidePreparer* preparer = m_pictures.preparer())
        preparer->setCurrent(onScreen && shown >= 0 ? shown : currentPicture(), onScreen,
                             m_sequence->neighbours());
    // With the last picture gone the page box keeps its text until the waiting screen comes.
    if (onScreen && shown >= 0 && living.count() > 0) {
        m_pageBox->setPlainText(pageText(living.entry(shown), 8));
        return;
    }
    // A show that waits for a picture takes the first that comes.
    if (living.count() == 0)
        return;
    if (m_handOverPending)
        finishHandOver();
    else if (changePending() && !m_sequence->cycle().paused())
        slideTick();
}

bool MainWindow::waitingForPictures() const
{
    return m_waiting && m_waiting->isVisible();
}

void MainWindow::showWaiting()
{
    if (!m_waiting || m_waiting->isVisible())
        return;
    m_waiting->showFor(QFile::decodeName(m_searchFolder.c_str()));
    // Escape and the close button quit while it waits, as they do while the show runs.
    m_closeButton->show();
    m_closeButton->raise();
    m_keys->enablePreview();
}

int MainWindow::textWidth(const QString& text) const
{
    return QFontMetrics(font()).horizontalAdvance(text);
}

QString MainWindow::pageText(const PathEntry& entry, int margin) const
{
    const QString path = fitPathToWidth(
        visibleName(entry.display), [this](const QString& t) { return textWidth(t); },
        m_pageBox->width() - margin);
    // A watched picture that left while on screen is counted where it stood.
    const int position = std::max(m_sequence->cycle().position(), 0);
    return path + QStringLiteral("\r\n") + QString::number(position + 1) + u'/' +
           QString::number(m_imageList.unguarded().count());
}

// ---------------------------------------------------------------------------------------------
// Slide cycle

int MainWindow::currentPicture() const
{
    return m_sequence ? m_sequence->currentPicture() : 0;
}

std::optional<PreparedSlide> MainWindow::takePicture()
{
    const int index = currentPicture();
    // A watched folder that has run out of pictures: the show waits for the next one.
    if (index < 0) {
        showWaiting();
        return std::nullopt;
    }
    if (m_pictures.synchronous())
        showLoadingLine();
    // The worker's next and previous are those of the play order.
    std::optional<PreparedSlide> picture = m_pictures.take(index, m_sequence->neighbours());
    // Not ready yet: the status line says what is loading; the UI thread goes on with its
    // events meanwhile.
    if (!picture && !m_pictures.uploadPending() && m_loadingShown != index) {
        m_loadingShown = index;
        showLoadingLine();
    }
    if (picture)
        m_loadingShown = -1;
    return picture;
}

const PathEntry& MainWindow::currentEntry() const
{
    if (const LivingOrder* living = m_sequence->living())
        return living->entry(currentPicture());
    return m_imageList.unguarded().at(std::size_t(currentPicture()));
}

void MainWindow::showLoadingLine()
{
    m_surface->showStatusLine(
        tr("Now File(%1) Loading").arg(visibleName(fileNamePart(currentEntry().display))));
}

int MainWindow::drawPathIndex()
{
    if (m_pathChooser)
        return m_pathChooser();
    return std::uniform_int_distribution<int>(0, PathCount - 1)(m_random);
}

bool MainWindow::finishChange()
{
    std::optional<PreparedSlide> picture = takePicture();
    if (!picture)
        return false;
    m_sequence->cycle().changeDone();
    // An error ends the tick here: the previous picture stays, and is drawn again from the
    // first camera frame on the next ticks.
    if (picture->error) {
        m_pacer->frameSkipped();
        std::rethrow_exception(picture->error);
    }
    m_pictures.show(std::move(*picture));
    if (m_waiting)
        m_waiting->hide();
    m_pathIndex = drawPathIndex();
    m_pageBox->setPlainText(pageText(currentEntry(), 8));
    return true;
}

void MainWindow::drawFrame()
{
    const PreparedSlide& shown = m_pictures.shown();
    const SceneRenderer::Scene scene =
        buildScene(shown.slide->imageWidth(), shown.slide->imageHeight(), shown.slide->texExtentS(),
                   shown.slide->texExtentT());
    const double position = m_sequence->cycle().tablePosition();
    m_surface->presentFrame(m_cameraPaths.pose(position, m_pathIndex), scene);
    m_sequence->cycle().frameShown();
    if (!m_frameLog)
        return;
    if (m_show.motion == SlideMotion::Frames)
        m_frameLog->record(shown.index, int(position), m_pathIndex);
    else
        m_frameLog->recordPosition(shown.index, position, m_pathIndex);
}

void MainWindow::slideTick()
{
    runGuarded(this, [this] {
        // Nothing is drawn while paused, nor once the program is ending.
        if (!m_sequence || m_sequence->cycle().paused() || m_stopping)
            return;
        // Until the picture is ready no frame is drawn; the status line stays on screen.
        if (m_sequence->cycle().beginTick() && !finishChange()) {
            m_pacer->waitForPicture();
            return;
        }
        drawFrame();
        m_pacer->frameDone();
        // Smooth motion and high quality put the next picture's texture up a slice per frame
        // while this slide runs, so that the change costs no more than any other frame.
        if (m_show.motion == SlideMotion::Smooth || m_show.quality == PictureQuality::High)
            m_pictures.stageAhead(m_sequence->nextPicture());
        // The next picture is prepared once this frame is on screen.
        m_pictures.resume();
    });
}

void MainWindow::musicTick()
{
    runGuarded(this, [this] { m_music->tick(); });
}

// ---------------------------------------------------------------------------------------------
// Keyboard and mouse

void MainWindow::stopSteps()
{
    // Pending events are handled in the middle of the search branch; an Escape among them must
    // not start the steps a second time.
    if (m_stopping)
        return;
    m_stopping = true;
    if (m_searchThread) {
        m_findFileTimer.stop();
        m_panel->showStopping();
        // Let the new texts and the greyed button paint before the wait for the thread.
        QCoreApplication::processEvents();
        m_panel->cancelButton()->update();
        m_searchThread->requestStop();
        m_searchThread.reset();
    } else {
        m_pacer->stop();
    }
    requestQuit();
}

void MainWindow::requestQuit()
{
    emit quitRequested();
    QCoreApplication::quit();
}

void MainWindow::closeClicked()
{
    if (m_searchThread) {
        m_searchThread->requestStop();
        m_searchThread.reset();
    }
    requestQuit();
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape and the accelerator's buttons run their steps guarded, like every other handler.
    if (!m_keys->handleKey(event))
        QWidget::keyPressEvent(event);
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    switch (event->button()) {
    case Qt::LeftButton:
        showStep(ShowStep::Next);
        break;
    case Qt::RightButton:
        showStep(ShowStep::Previous);
        break;
    case Qt::MiddleButton:
        showStep(ShowStep::Pause);
        break;
    default:
        break;
    }
}

void MainWindow::wheelEvent(QWheelEvent* event)
{
    const int steps = m_wheel.add(event->angleDelta().y(), event->pixelDelta().y());
    for (int i = 0; i < std::abs(steps); ++i)
        showStep(steps > 0 ? ShowStep::Next : ShowStep::Previous);
}

bool MainWindow::showStep(ShowStep step)
{
    // Steps during the search, and while the first picture is still being prepared, do nothing:
    // the show has not started yet.
    if (!m_slideshowRunning || m_handOverPending || step == ShowStep::None)
        return false;
    runGuarded(this, [this, step] {
        switch (step) {
        case ShowStep::Next:
            m_sequence->cycle().next();
            m_pacer->start();
            break;
        case ShowStep::Previous:
            m_sequence->cycle().previous();
            m_pacer->start();
            break;
        case ShowStep::Pause:
            if (m_sequence->cycle().togglePause()) {
                m_pacer->stop();
                m_surface->showPauseMarker();
            } else {
                m_pacer->start();
            }
            break;
        case ShowStep::None:
            break;
        }
    });
    return true;
}
