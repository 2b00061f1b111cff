#include "app/mainwindow.h"

#include "app/errorguard.h"
#include "app/layout.h"
#include "app/messages.h"
#include "app/pagebox.h"
#include "app/pathfit.h"
#include "app/searchpanel.h"
#include "app/settings.h"
#include "app/visiblename.h"
#include "app/windowstyle.h"
#include "music/musicplaylist.h"
#include "render/scenegeometry.h"
#include "render/slideconstants.h"
#include "render/slidesurface.h"
#include "search/searchthread.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

#include <chrono>

namespace {

// The file name part of a path: everything after its last "/".
QString fileNamePart(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

// Whether the focused control takes typed characters, in which case a plain C is its text and
// not the buttons' accelerator.
bool takesTypedText(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return !text->isReadOnly();
    return false;
}

// The buttons' accelerator without Alt: the C key in either case, so with or without Shift (as
// Caps Lock may report it), but not with Ctrl or Meta, which belong to other commands.
bool isPlainCKey(const QKeyEvent* key)
{
    return key->key() == Qt::Key_C &&
           (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
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
    m_currentIndex = 0;
    m_frameCounter = 0;

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
    m_preparer.reset();
    if (m_searchThread) {
        m_searchThread->requestStop();
        m_searchThread.reset();
    }
    m_findFileTimer.stop();
    m_slideTimer.stop();
    m_musicTimer.stop();
    m_surface->releaseSurface();
    qApp->removeEventFilter(this);
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

    m_closeButton = new QPushButton(QStringLiteral("終了(&C)"), this);
    m_closeButton->setObjectName(QStringLiteral("B_Close"));
    m_closeButton->resize(CloseButtonSize);
    m_closeButton->setFont(windowFont(11));
    m_closeButton->hide();
    connect(m_closeButton, &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { closeClicked(); }); });

    m_panel = new SearchPanel(this);
    connect(m_panel->cancelButton(), &QPushButton::clicked, this,
            [this] { runGuarded(this, [this] { stopSteps(); }); });

    // The buttons' accelerator Alt+C presses whichever of the two is visible and enabled, at
    // once. (A button's own mnemonic would click only after its pressed look has been shown,
    // which leaves the search running meanwhile.)
    m_closeButton->setShortcut(QKeySequence());
    m_panel->cancelButton()->setShortcut(QKeySequence());
    auto* altC = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_C), this);
    altC->setContext(Qt::WindowShortcut);
    connect(altC, &QShortcut::activated, this, [this] { pressVisibleButton(); });
    // The cancel button: Escape clicks it while it is visible and enabled. A shortcut of a
    // hidden or disabled widget does not fire, which gives exactly that rule.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_panel->cancelButton());
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, m_panel->cancelButton(), &QPushButton::click);

    m_pageBox = new PageBox(this);

    // The search screen keeps the typing focus in the path box.
    m_panel->pathBox()->setFocus();

    m_findFileTimer.setObjectName(QStringLiteral("Timer_FindFile"));
    m_findFileTimer.setInterval(30);
    connect(&m_findFileTimer, &QTimer::timeout, this, &MainWindow::findFileTick);

    m_slideTimer.setObjectName(QStringLiteral("Timer_Slide"));
    m_slideTimer.setInterval(30);
    connect(&m_slideTimer, &QTimer::timeout, this, &MainWindow::slideTick);

    m_musicTimer.setObjectName(QStringLiteral("Timer_Mid"));
    m_musicTimer.setInterval(1000);
    connect(&m_musicTimer, &QTimer::timeout, this, &MainWindow::musicTick);
}

void MainWindow::createSurface()
{
    // The OpenGL surface fills the window, beneath every other component. The components that
    // lie over it are native windows of their own, so that they stay above the surface.
    winId(); // the window's native window, created now if it does not exist yet
    m_surface = new SlideSurface;
    m_surfaceWidget = QWidget::createWindowContainer(m_surface, this);
    m_surfaceWidget->setObjectName(QStringLiteral("SlideWidget"));
    m_surfaceWidget->setAccessibleName(QStringLiteral("Lumivane"));
    m_surfaceWidget->setFocusPolicy(Qt::NoFocus);
    m_surfaceWidget->setGeometry(rect());
    m_surfaceWidget->lower();
    for (QWidget* above : {static_cast<QWidget*>(m_closeButton), static_cast<QWidget*>(m_panel),
                           static_cast<QWidget*>(m_pageBox)})
        above->setAttribute(Qt::WA_NativeWindow);

    // A failure is reported and start-up goes on; the window then shows its blue background.
    switch (m_surface->createContext()) {
    case SlideSurface::Failure::CreateContext:
        Messages::showPlain(this, QStringLiteral("Could not CreateContext"));
        Messages::showPlain(this, QStringLiteral("Could not MakeCurrent"));
        break;
    case SlideSurface::Failure::MakeCurrent:
        Messages::showPlain(this, QStringLiteral("Could not MakeCurrent"));
        break;
    case SlideSurface::Failure::None:
        break;
    }
    // A surface without a context would cover the window with whatever the display left there;
    // without it the window shows its own blue and takes the mouse presses itself.
    if (!m_surface->isSurfaceReady())
        m_surfaceWidget->hide();
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

void MainWindow::placeOnMonitor()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (m_monitorIndex >= 0 && m_monitorIndex < screens.size())
        setGeometry(screens.at(m_monitorIndex)->geometry());
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
    if (images.count() < 1) {
        Messages::showPlain(this, QStringLiteral("画像ファイルがありません"));
        requestQuit();
        return;
    }
    m_slideshowRunning = true;
    // The play order is drawn once the list is complete; a sorted one is the list itself.
    // Its random source is its own, so that the camera paths draw the same as in a sorted show.
    m_playOrder = std::make_unique<PlayOrder>(
        int(images.count()), m_show.order,
        m_shuffleRandom.value_or(std::mt19937(static_cast<std::mt19937::result_type>(
            std::chrono::steady_clock::now().time_since_epoch().count()))));
    // The first picture is prepared off the UI thread like every other. The hand-over finishes
    // when it is ready; meanwhile the status line says what is loading and the window keeps
    // answering.
    std::vector<std::string> openPaths;
    openPaths.reserve(images.count());
    for (std::size_t i = 0; i < images.count(); ++i)
        openPaths.push_back(images.at(i).path);
    m_preparer = std::make_unique<SlidePreparer>(std::move(openPaths), [this] {
        QMetaObject::invokeMethod(
            this, [this] { pictureReady(); }, Qt::QueuedConnection);
    });
    if (m_prepareHook)
        m_preparer->setWorkHookForTesting(m_prepareHook);
    m_handOverPending = true;
    finishHandOver();
}

void MainWindow::finishHandOver()
{
    std::optional<PreparedSlide> first = takePicture();
    if (!first)
        return;
    m_handOverPending = false;
    // A first picture the reader refuses is reported like any failed change, and the show
    // starts all the same: it moves on to the second picture when the first one's frames are
    // up.
    if (first->error)
        runGuarded(this, [&first] { std::rethrow_exception(first->error); });
    else
        showPicture(std::move(*first));
    m_pageBox->setPlainText(pageText(currentEntry(), 10));
    m_closeButton->show();
    m_slideTimer.start();
    enableKeyPreview();
}

void MainWindow::pictureReady()
{
    runGuarded(this, [this] {
        if (m_handOverPending)
            finishHandOver();
    });
    // A change that waits for its picture completes as soon as the picture is ready, not one
    // timer interval later. A paused show completes it when it resumes.
    if (m_changePending && m_slideTimer.isActive())
        slideTick();
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
    return path + QStringLiteral("\r\n") + QString::number(m_currentIndex + 1) + u'/' +
           QString::number(m_imageList.unguarded().count());
}

// ---------------------------------------------------------------------------------------------
// Slide cycle

std::optional<PreparedSlide> MainWindow::takePicture()
{
    if (m_synchronousChanges)
        return prepareOnUiThread();
    // The picture on screen goes back to the preparer when it is a neighbour of the new one.
    // The preparer's next and previous are those of the play order.
    const SlidePreparer::Neighbours around{m_playOrder->nextPicture(m_currentIndex),
                                           m_playOrder->previousPicture(m_currentIndex)};
    std::optional<PreparedSlide> picture = m_preparer->take(currentPicture(), &m_shown, around);
    if (!picture) {
        // Not ready yet: the worker makes it before anything else. The status line says what is
        // loading; the UI thread goes on with its events meanwhile.
        m_preparer->setCurrent(currentPicture(), false, around);
        if (m_loadingShown != currentPicture()) {
            m_loadingShown = currentPicture();
            showLoadingLine();
        }
        return picture;
    }
    m_loadingShown = -1;
    return picture;
}

PreparedSlide MainWindow::prepareOnUiThread()
{
    showLoadingLine();
    return prepareSlide(currentPicture(), currentEntry().path);
}

int MainWindow::currentPicture() const
{
    return m_playOrder ? m_playOrder->pictureAt(m_currentIndex) : m_currentIndex;
}

const PathEntry& MainWindow::currentEntry() const
{
    return m_imageList.unguarded().at(std::size_t(currentPicture()));
}

void MainWindow::showLoadingLine()
{
    m_surface->showStatusLine(QStringLiteral("Now File(") +
                              visibleName(fileNamePart(currentEntry().display)) +
                              QStringLiteral(") Loading"));
}

void MainWindow::showPicture(PreparedSlide picture)
{
    m_surface->uploadTexture(picture.slide->texturePixels());
    m_shown = std::move(picture);
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
    m_changePending = false;
    // An error ends the tick here: the previous picture stays, and is drawn again from the
    // first camera frame on the next ticks.
    if (picture->error)
        std::rethrow_exception(picture->error);
    showPicture(std::move(*picture));
    m_pathIndex = drawPathIndex();
    m_pageBox->setPlainText(pageText(currentEntry(), 8));
    return true;
}

void MainWindow::drawFrame()
{
    const SceneRenderer::Scene scene =
        buildScene(m_shown.slide->imageWidth(), m_shown.slide->imageHeight(),
                   m_shown.slide->texExtentS(), m_shown.slide->texExtentT());
    m_surface->presentFrame(m_cameraPaths.pose(m_frameCounter + 1, m_pathIndex), scene);
    if (m_frameLog)
        m_frameLog->record(m_shown.index, m_frameCounter + 1);
}

void MainWindow::slideTick()
{
    runGuarded(this, [this] {
        if (m_frameCounter >= SlideFrames) {
            // The change of picture. Clicks while it waits for its picture move its target by
            // the same rules, and the latest target is the one shown.
            m_frameCounter = 0;
            ++m_currentIndex;
            if (m_currentIndex >= int(m_imageList.unguarded().count())) {
                m_currentIndex = 0;
                m_playOrder->startNextRound();
            }
            m_changePending = true;
        }
        // Until the picture is ready no frame is drawn; the status line stays on screen.
        if (m_changePending && !finishChange())
            return;
        // Switching the timer off and on around the frame restarts its interval, so the next
        // frame comes no sooner than 30 ms after this one is on screen.
        m_slideTimer.stop();
        drawFrame();
        m_slideTimer.start();
        ++m_frameCounter;
        // The next picture is prepared once this frame is on screen.
        if (m_preparer)
            m_preparer->resume();
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
        m_slideTimer.stop();
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

void MainWindow::enableKeyPreview()
{
    if (m_keyPreview)
        return;
    m_keyPreview = true;
    qApp->installEventFilter(this);
}

bool MainWindow::pressVisibleButton()
{
    for (QPushButton* button : {m_panel->cancelButton(), m_closeButton}) {
        if (button->isVisible() && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Key preview: once the slideshow runs, the window sees every key of its own controls first.
    if (m_keyPreview && event->type() == QEvent::KeyPress) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && widget->window() == this) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape) {
                runGuarded(this, [this] { stopSteps(); });
                return true;
            }
            if (isPlainCKey(key) && !takesTypedText(QApplication::focusWidget()) &&
                pressVisibleButton())
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        runGuarded(this, [this] { stopSteps(); });
        return;
    }
    // The buttons' accelerator without Alt: reached only when the focused control did not take
    // the key as text.
    if (isPlainCKey(event) && !takesTypedText(QApplication::focusWidget()) && pressVisibleButton())
        return;
    QWidget::keyPressEvent(event);
}

void MainWindow::resumeSlideTimer()
{
    // Enabling the timer when it already runs changes nothing; in particular it does not
    // restart its interval.
    if (!m_slideTimer.isActive())
        m_slideTimer.start();
}

void MainWindow::mousePressEvent(QMouseEvent* event)
{
    runGuarded(this, [this, event] {
        // Presses during the search, and while the first picture is still being prepared, do
        // nothing: the show has not started yet.
        if (!m_slideshowRunning || m_handOverPending)
            return;
        switch (event->button()) {
        case Qt::LeftButton:
            m_frameCounter = SlideFrames;
            resumeSlideTimer();
            break;
        case Qt::RightButton:
            m_frameCounter = SlideFrames;
            m_currentIndex -= 2;
            if (m_currentIndex < -1) {
                m_currentIndex = int(m_imageList.unguarded().count()) - 2;
                m_playOrder->returnToPreviousRound();
            }
            resumeSlideTimer();
            break;
        case Qt::MiddleButton:
            if (m_slideTimer.isActive()) {
                m_slideTimer.stop();
                m_surface->showPauseMarker();
            } else {
                m_slideTimer.start();
            }
            break;
        default:
            break;
        }
    });
}
