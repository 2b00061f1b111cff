#include "show/showcontroller.h"

#include "scene/scenegeometry.h"
#include "scene/slidetextures.h"
#include "scene/texturesize.h"
#include "search/searchthread.h"
#include "show/showview.h"
#include "show/showwatch.h"

#include <QFile>
#include <QLocale>
#include <QMetaObject>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

ShowController::ShowController(ShowView& view, const ShowOptions& options)
    : m_view(view), m_options(options)
{
    m_random.seed(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    m_pathIndex = drawPathIndex();
    watchAwakeHours(AwakeWatch::systemClock());
}

ShowController::~ShowController()
{
    shutDown();
}

void ShowController::shutDown()
{
    // The worker threads first: the preparer abandons the picture it is making, and nothing
    // writes to the picture list any more.
    m_watch.reset();
    m_pictures.stop();
    if (m_searchThread) {
        m_searchThread->requestStop();
        m_searchThread.reset();
    }
}

ShowController::State ShowController::state() const
{
    if (m_stopping)
        return State::Stopping;
    if (m_asleep)
        return State::Asleep;
    if (m_searchThread || !m_slideshowRunning)
        return State::Searching;
    if (m_waiting)
        return State::Waiting;
    if (m_handOverPending)
        return State::HandingOver;
    if (m_sequence && m_sequence->cycle().paused())
        return State::Paused;
    return State::Showing;
}

// ---------------------------------------------------------------------------------------------
// The search and the hand-over

void ShowController::startSearch(std::string folder)
{
    m_searchFolder = std::move(folder);
    m_searchThread = std::make_unique<SearchThread>(m_imageList, m_searchFolder, m_options.formats);
    // The screen is held awake from the search screen on, unless the show starts in its night.
    if (m_awakeWatch->isAwake())
        updateScreenHold();
    else
        fallAsleep();
}

void ShowController::searchTick()
{
    m_view.guarded([this] {
        if (!m_searchThread)
            return;
        if (!m_searchThread->scanDone()) {
            // The entry that sorts last so far, not the one found most recently.
            const GuardedList::Progress progress = m_imageList.progress();
            if (progress.last)
                m_view.showSearchProgress(*progress.last);
            return;
        }
        handOver();
    });
}

void ShowController::handOver()
{
    // The walk has returned, so destroying the thread waits only for it to end.
    std::unique_ptr<SearchThread> finished = std::move(m_searchThread);
    finished.reset();
    m_view.endSearchScreen();

    const SortedStringList& images = m_imageList.unguarded();
    // A watched show waits for its pictures.
    if (images.count() < 1 && !m_options.watch) {
        m_view.reportNoPictures();
        m_view.quit();
        return;
    }
    m_slideshowRunning = true;
    // The play order is drawn once the list is complete; a sorted one is the list itself. Its
    // random source is its own, so that the camera paths draw the same as in a sorted show.
    m_sequence = std::make_unique<SlideSequence>(
        int(images.count()), m_options.motion, m_options.seconds, m_options.order,
        m_shuffleRandom.value_or(std::mt19937(static_cast<std::mt19937::result_type>(
            std::chrono::steady_clock::now().time_since_epoch().count()))),
        m_now);
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
    if (m_options.quality == PictureQuality::High) {
        const ShowScreen screen = m_view.screenPixels();
        layout = {chooseTextureSize(screen.width, screen.height, screen.pixelRatio,
                                    m_view.textures().maxTextureSize(), m_cameraPaths),
                  true};
    }
    if (m_options.watch)
        startWatch(openPaths);
    m_pictures.start(
        &m_view.textures(), std::move(openPaths),
        [this] {
            QMetaObject::invokeMethod(
                this, [this] { pictureReady(); }, Qt::QueuedConnection);
        },
        m_prepareHook, layout, m_options.formats == PictureFormats::All);
    m_handOverPending = true;
    if (images.count() < 1) {
        showWaiting();
        return;
    }
    finishHandOver();
}

void ShowController::finishHandOver()
{
    std::optional<PreparedSlide> first = takePicture();
    if (!first)
        return;
    m_handOverPending = false;
    hideWaiting();
    // A first picture the reader refuses is reported like any failed change, and the show
    // starts all the same: it moves on to the second picture when the first one's frames are
    // up.
    if (first->error)
        m_view.guarded([&first] { std::rethrow_exception(first->error); });
    else
        m_pictures.show(std::move(*first));
    showPage(currentEntry(), 10);
    m_view.showControls();
    // A show that fell asleep during the search starts its frames when it wakes.
    if (!m_asleep)
        m_view.startFrames();
}

void ShowController::pictureReady()
{
    m_view.guarded([this] {
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

void ShowController::startWatch(std::vector<std::string> knownPaths)
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
    settings.formats = m_options.formats;
    settings.locale = QLocale();
    m_watch = std::make_unique<ShowWatch>(
        m_searchFolder, std::move(knownPaths), settings, [this](ListChanges changes) {
            m_view.guarded([this, &changes] { applyListChanges(std::move(changes)); });
        });
}

void ShowController::applyListChanges(ListChanges changes)
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
        showPage(living.entry(shown), 8);
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

void ShowController::showWaiting()
{
    // Only a watched show waits for pictures.
    if (!m_options.watch || m_waiting)
        return;
    m_waiting = true;
    m_view.showWaiting(QFile::decodeName(m_searchFolder.c_str()));
    // Escape and the close button quit while it waits, as they do while the show runs.
    m_view.showControls();
}

void ShowController::hideWaiting()
{
    if (!m_waiting)
        return;
    m_waiting = false;
    m_view.hideWaiting();
}

// ---------------------------------------------------------------------------------------------
// The slide cycle

void ShowController::showPage(const PathEntry& entry, int margin)
{
    // A watched picture that left while on screen is counted where it stood.
    const int position = std::max(m_sequence->cycle().position(), 0);
    m_view.showPage(entry, position + 1, int(m_imageList.unguarded().count()), margin);
}

std::optional<PreparedSlide> ShowController::takePicture()
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

const PathEntry& ShowController::currentEntry() const
{
    if (const LivingOrder* living = m_sequence->living())
        return living->entry(currentPicture());
    return m_imageList.unguarded().at(std::size_t(currentPicture()));
}

void ShowController::showLoadingLine()
{
    m_view.showLoading(currentEntry());
}

int ShowController::drawPathIndex()
{
    if (m_pathChooser)
        return m_pathChooser();
    return std::uniform_int_distribution<int>(0, PathCount - 1)(m_random);
}

bool ShowController::finishChange()
{
    std::optional<PreparedSlide> picture = takePicture();
    if (!picture)
        return false;
    m_sequence->cycle().changeDone();
    // An error ends the tick here: the previous picture stays, and is drawn again from the
    // first camera frame on the next ticks.
    if (picture->error) {
        m_view.frameSkipped();
        std::rethrow_exception(picture->error);
    }
    m_pictures.show(std::move(*picture));
    hideWaiting();
    m_pathIndex = drawPathIndex();
    showPage(currentEntry(), 8);
    return true;
}

void ShowController::drawFrame()
{
    const PreparedSlide& shown = m_pictures.shown();
    ShowFrame frame;
    frame.scene = buildScene(shown.slide->imageWidth(), shown.slide->imageHeight(),
                             shown.slide->texExtentS(), shown.slide->texExtentT());
    frame.tablePosition = m_sequence->cycle().tablePosition();
    frame.camera = m_cameraPaths.pose(frame.tablePosition, m_pathIndex);
    frame.picture = shown.index;
    frame.path = m_pathIndex;
    m_view.presentFrame(frame);
    m_sequence->cycle().frameShown();
}

void ShowController::slideTick()
{
    m_view.guarded([this] {
        // Nothing is drawn before the first picture is in place, while paused, nor once the
        // program is ending.
        if (!m_sequence || m_handOverPending || m_sequence->cycle().paused() || m_stopping ||
            m_asleep)
            return;
        // Until the picture is ready no frame is drawn; the status line stays on screen.
        if (m_sequence->cycle().beginTick() && !finishChange()) {
            m_view.waitForPicture();
            return;
        }
        drawFrame();
        m_view.frameDone();
        // Smooth motion and high quality put the next picture's texture up a slice per frame
        // while this slide runs, so that the change costs no more than any other frame.
        if (m_options.motion == SlideMotion::Smooth || m_options.quality == PictureQuality::High)
            m_pictures.stageAhead(m_sequence->nextPicture());
        // The next picture is prepared once this frame is on screen.
        m_pictures.resume();
    });
}

// ---------------------------------------------------------------------------------------------
// Steps and the end

bool ShowController::takesSteps() const
{
    // Steps during the search, and while the first picture is still being prepared, do nothing:
    // the show has not started yet.
    return m_slideshowRunning && !m_handOverPending;
}

bool ShowController::step(ShowStep step)
{
    if (step == ShowStep::None)
        return false;
    if (wakeForStep())
        return true;
    if (!takesSteps())
        return false;
    m_view.guarded([this, step] { takeStep(step); });
    return true;
}

void ShowController::takeStep(ShowStep step)
{
    switch (step) {
    case ShowStep::Next:
        m_sequence->cycle().next();
        m_view.startFrames();
        break;
    case ShowStep::Previous:
        m_sequence->cycle().previous();
        m_view.startFrames();
        break;
    case ShowStep::Pause:
        if (m_sequence->cycle().togglePause()) {
            m_view.stopFrames();
            m_view.showPauseMarker();
        } else {
            m_view.startFrames();
        }
        break;
    case ShowStep::None:
        break;
    }
    // A step resumes a paused show, and a pause lets the screen go.
    updateScreenHold();
}

bool ShowController::keyStep(ShowStep step)
{
    if (step != ShowStep::Next && step != ShowStep::Previous)
        return this->step(step);
    if (wakeForStep())
        return true;
    if (!takesSteps())
        return false;
    countedStep(step == ShowStep::Next ? 1 : -1);
    return true;
}

void ShowController::wheel(int angleDelta, int pixelDelta)
{
    const int steps = m_wheel.add(angleDelta, pixelDelta);
    if (steps == 0 || wakeForStep() || !takesSteps())
        return;
    countedStep(steps);
}

void ShowController::countedStep(int pictures)
{
    m_view.guarded([this, pictures] {
        m_sequence->cycle().step(pictures);
        m_view.startFrames();
        updateScreenHold();
    });
}

void ShowController::stop()
{
    // Pending events are handled in the middle of the search branch; an Escape among them must
    // not start the steps a second time.
    if (m_stopping)
        return;
    m_stopping = true;
    updateScreenHold();
    if (m_searchThread) {
        m_view.showStopping();
        m_searchThread->requestStop();
        m_searchThread.reset();
    } else {
        m_view.stopFrames();
    }
    m_view.quit();
}

void ShowController::close()
{
    if (m_searchThread) {
        m_searchThread->requestStop();
        m_searchThread.reset();
    }
    m_view.quit();
}

// ---------------------------------------------------------------------------------------------
// The awake hours (AWAKE) and the screen kept awake (KEEP_AWAKE)

void ShowController::watchAwakeHours(AwakeWatch::Clock clock)
{
    m_awakeWatch = std::make_unique<AwakeWatch>(m_options.awake, std::move(clock));
    connect(m_awakeWatch.get(), &AwakeWatch::awakeChanged, this, [this](bool awake) {
        m_view.guarded([this, awake] {
            if (awake)
                wake();
            else
                fallAsleep();
        });
    });
}

void ShowController::fallAsleep()
{
    if (m_asleep || m_stopping)
        return;
    m_asleep = true;
    // No frame is drawn and no timer of the show's runs; the screen goes dark (it lets go of
    // the hold itself), and the music holds where it is.
    m_screenHeld = false;
    m_view.stopFrames();
    m_view.sleepScreen();
    m_view.setMusicPaused(true);
}

void ShowController::wake()
{
    if (!m_asleep || m_stopping)
        return;
    m_asleep = false;
    m_view.wakeScreen();
    m_view.setMusicPaused(false);
    updateScreenHold();
    if (!m_sequence || m_handOverPending || m_waiting || m_sequence->cycle().paused())
        return;
    // The show goes on with the next picture, or with the first one's frames when it was handed
    // over while asleep.
    if (m_sequence->cycle().frameCounter() > 0)
        m_sequence->cycle().next();
    m_view.startFrames();
}

bool ShowController::wakeForStep()
{
    if (!m_asleep)
        return false;
    m_awakeWatch->wakeUntilNextSleep();
    return true;
}

void ShowController::updateScreenHold()
{
    const bool paused = m_sequence && m_sequence->cycle().paused();
    const bool held = m_options.keepAwake && !m_asleep && !m_stopping && !paused;
    if (held == m_screenHeld)
        return;
    m_screenHeld = held;
    m_view.holdScreenAwake(held);
}
