#pragma once

#include "scene/camerapaths.h"
#include "search/folderwatcher.h"
#include "search/guardedlist.h"
#include "show/awakewatch.h"
#include "show/showkeys.h"
#include "show/showoptions.h"
#include "show/slidepictures.h"
#include "show/slidesequence.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <stop_token>
#include <string>
#include <vector>

class SearchThread;
class ShowView;
class ShowWatch;

// The life of one show, from the search to the end: the search and its hand-over, the slide
// cycle and the play order, the pictures prepared in the background, the watch on a living
// folder, and the steps the mouse buttons, the keys and the wheel ask for. It decides which
// picture is shown, when, and whether; its view (the window) shows what it is told and forwards
// the timers' ticks and the user's input as plain calls. No widget and no OpenGL: tests run it
// with a recorder as its view.
class ShowController : public QObject
{
    Q_OBJECT

public:
    // Where the show is in its life.
    enum class State
    {
        // The search thread collects the pictures.
        Searching,
        // The search has ended and the first picture is being prepared.
        HandingOver,
        // The slides run.
        Showing,
        Paused,
        // A watched folder holds no pictures.
        Waiting,
        // Outside the awake hours (AWAKE): nothing is drawn and the screen sleeps.
        Asleep,
        // The program is ending.
        Stopping,
    };

    ShowController(ShowView& view, const ShowOptions& options);
    ~ShowController() override;

    // Starts the search of `folder` (ending with "/") on its thread.
    void startSearch(std::string folder);
    // The search screen's timer: the search's progress, and the hand-over once it has ended.
    void searchTick();
    // One frame of the slideshow is due.
    void slideTick();
    // A step asked for by a mouse button, a key or the wheel. Returns whether the show took it
    // (not during the search, nor while the first picture is being prepared).
    bool step(ShowStep step);
    // A step asked for by a key. Unlike the buttons' clicks, key steps add up: n presses before
    // the next frame move n pictures.
    bool keyStep(ShowStep step);
    // The wheel's vertical deltas (see WheelSteps): a picture for each notch, added up like the
    // keys' steps.
    void wheel(int angleDelta, int pixelDelta);
    // Escape or the search screen's cancel button: stops whatever runs and ends the program.
    void stop();
    // The close button: stops the search if it still runs and ends the program.
    void close();
    // The end of the program: the watch, the worker and the search thread end, in that order.
    void shutDown();

    State state() const;
    bool searching() const { return m_searchThread != nullptr; }
    bool slideshowRunning() const { return m_slideshowRunning; }
    // The search has ended and the first picture is still being prepared.
    bool handOverPending() const { return m_handOverPending; }
    bool waitingForPictures() const { return m_waiting; }
    bool asleep() const { return m_asleep; }
    // A change of picture waits for its picture to be prepared.
    bool changePending() const { return m_sequence && m_sequence->cycle().changePending(); }
    const std::string& searchFolder() const { return m_searchFolder; }
    const ShowOptions& options() const { return m_options; }

    // The slide cycle and the play order; null until the hand-over.
    const SlideCycle* slideCycle() const { return m_sequence ? &m_sequence->cycle() : nullptr; }
    const PlayOrder* playOrder() const { return m_sequence ? &m_sequence->order() : nullptr; }
    // WATCH=ON: the order that follows the folder, whose ids the frame log records; null
    // otherwise.
    const LivingOrder* livingOrder() const { return m_sequence ? m_sequence->living() : nullptr; }
    int frameCounter() const { return m_sequence ? m_sequence->cycle().frameCounter() : 0; }
    // The play position (see SlideCycle::position()).
    int currentIndex() const { return m_sequence ? m_sequence->cycle().position() : 0; }
    // The list index of the picture at the current position.
    int currentPicture() const { return m_sequence ? m_sequence->currentPicture() : 0; }
    int pathIndex() const { return m_pathIndex; }
    const CameraPaths& cameraPaths() const { return m_cameraPaths; }
    const GuardedList& imageList() const { return m_imageList; }
    // The picture on screen; before the first one, an empty white slide.
    const SlideImage& slideImage() const { return *m_pictures.shown().slide; }
    // The slide texture's shape, chosen at the hand-over (1024 x 1024, one level, unless
    // QUALITY=HIGH).
    const TextureLayout& textureLayout() const { return m_pictures.layout(); }
    // Prepares the pictures off the UI thread; null until the hand-over.
    SlidePreparer* preparer() const { return m_pictures.preparer(); }
    // WATCH=ON: the watch on the show's folder, from the hand-over on; null otherwise.
    const ShowWatch* showWatch() const { return m_watch.get(); }

    // Lets tests watch and hold the preparer's work from the hand-over on.
    void setPrepareHookForTesting(std::function<void(int, std::stop_token)> hook)
    {
        m_prepareHook = std::move(hook);
    }
    // Benchmark only: each change decodes and scales its picture on the UI thread, inside the
    // tick, as the show did before it had a preparer, so that the two can be compared in one run.
    // Set before the hand-over.
    void setSynchronousChangesForBenchmark(bool on) { m_pictures.setSynchronous(on); }
    // Lets tests choose the shuffled order's random source; the program seeds it from the clock.
    // Set before the hand-over.
    void setShuffleRandomForTesting(std::mt19937 random) { m_shuffleRandom = random; }
    // Lets tests set the watch's timing (or switch its events off); set before the hand-over.
    void setWatchSettingsForTesting(const FolderWatcher::Settings& settings)
    {
        m_watchSettings = settings;
    }
    // Lets tests choose the next camera paths; the program draws them at random.
    void setPathChooserForTesting(std::function<int()> chooser)
    {
        m_pathChooser = std::move(chooser);
    }
    // Lets tests set the wall clock the awake hours follow; set before the search starts.
    void setAwakeClockForTesting(AwakeWatch::Clock clock) { watchAwakeHours(std::move(clock)); }
    // Lets tests step the slide cycle's clock; set before the hand-over.
    void setClockForTesting(SlideCycle::Now now) { m_now = std::move(now); }

private:
    void handOver();
    void finishHandOver();
    void pictureReady();
    std::optional<PreparedSlide> takePicture();
    const PathEntry& currentEntry() const;
    void showPage(const PathEntry& entry, int margin);
    void showLoadingLine();
    bool finishChange();
    void drawFrame();
    int drawPathIndex();
    // Whether the show has begun, so that the steps have something to move.
    bool takesSteps() const;
    void takeStep(ShowStep step);
    // Moves `pictures` pictures on (back when negative) at the next frame; resumes a paused show.
    void countedStep(int pictures);

    void startWatch(std::vector<std::string> knownPaths);
    void applyListChanges(ListChanges changes);
    void showWaiting();
    void hideWaiting();

    void watchAwakeHours(AwakeWatch::Clock clock);
    void fallAsleep();
    void wake();
    // A step while asleep wakes the show until the next scheduled sleep. Returns whether it did.
    bool wakeForStep();
    // Holds the screen awake while the show runs (KEEP_AWAKE), and lets it go while paused,
    // asleep or ending.
    void updateScreenHold();

    ShowView& m_view;
    const ShowOptions m_options;
    std::string m_searchFolder;
    int m_pathIndex = 0;
    bool m_slideshowRunning = false;
    bool m_stopping = false;
    bool m_handOverPending = false;
    bool m_waiting = false;
    bool m_asleep = false;
    bool m_screenHeld = false;
    WheelSteps m_wheel;
    // The picture whose "Loading" status line is on screen, or -1.
    int m_loadingShown = -1;

    std::mt19937 m_random;
    std::optional<std::mt19937> m_shuffleRandom;
    std::function<int()> m_pathChooser;
    std::function<void(int, std::stop_token)> m_prepareHook;
    SlideCycle::Now m_now = &SlideCycle::Clock::now;
    CameraPaths m_cameraPaths;
    // The slide cycle and the play order; made at the hand-over.
    std::unique_ptr<SlideSequence> m_sequence;
    // The prepared pictures and the one on screen.
    SlidePictures m_pictures;
    GuardedList m_imageList;
    std::unique_ptr<SearchThread> m_searchThread;
    std::optional<FolderWatcher::Settings> m_watchSettings;
    std::unique_ptr<ShowWatch> m_watch;
    std::unique_ptr<AwakeWatch> m_awakeWatch;
};
