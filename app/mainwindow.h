#pragma once

#include "app/applocations.h"
#include "app/framelog.h"
#include "show/showkeys.h"
#include "app/showoptions.h"
#include "show/slidepictures.h"
#include "music/musicplaylist.h"
#include "scene/camerapaths.h"
#include "screen/framepacer.h"
#include "show/playorder.h"
#include "show/slidecycle.h"
#include "scene/slideimage.h"
#include "show/slidepreparer.h"
#include "show/slidesequence.h"
#include "search/folderwatcher.h"
#include "search/guardedlist.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>

class KeyControl;
class PageBox;
class SearchPanel;
class QPushButton;
class SearchThread;
class ShowWatch;
class WaitingScreen;
class SlideSurface;

// What the window is started with. The program passes the locations that fit how it was
// installed and its first argument; tests pass folders of their own.
struct StartupOptions
{
    // Where the settings file and the music lie, and the folder searched when the argument names
    // no folder.
    AppLocations locations;
    // The first command-line argument as the bytes it was given in, or empty when there is none.
    std::string folderArgument;
    // Plays music through SDL2_mixer; tests may pass their own playlist or none.
    std::unique_ptr<MusicPlaylist> music;
    // The [SHOW] settings, with the command line's over the file's.
    ShowOptions show;
};

// The one window of the program. It covers a monitor, shows the search screen while the search
// thread collects the pictures, then runs the slideshow: by default one frame every 30 ms and the
// next picture every 150 frames, or with smooth motion one frame per refresh of the display. It
// orchestrates; the slide cycle, the search, the decoding, the camera paths, the scene and the
// music live in classes of their own.
class MainWindow : public QWidget
{
    Q_OBJECT

public:
    explicit MainWindow(StartupOptions options);
    ~MainWindow() override;

    // Timer handlers, public so that tests can drive them tick by tick.
    void findFileTick();
    void slideTick();
    void musicTick();

    // The slide texture's shape, chosen at the hand-over (1024 x 1024, one level, unless
    // QUALITY=HIGH).
    const TextureLayout& textureLayout() const { return m_pictures.layout(); }

    // State the tests and the accessibility description read.
    int frameCounter() const { return m_sequence ? m_sequence->cycle().frameCounter() : 0; }
    // The play position (see SlideCycle::position()).
    int currentIndex() const { return m_sequence ? m_sequence->cycle().position() : 0; }
    // The list index of the picture at the current position.
    int currentPicture() const;
    // The order the pictures are played in; null until the search has been handed over.
    const PlayOrder* playOrder() const { return m_sequence ? &m_sequence->order() : nullptr; }
    int pathIndex() const { return m_pathIndex; }
    bool slideshowRunning() const { return m_slideshowRunning; }
    int monitorIndex() const { return m_monitorIndex; }
    const std::string& searchFolder() const { return m_searchFolder; }
    bool searching() const { return m_searchThread != nullptr; }
    // The search has ended and the first picture is still being prepared.
    bool handOverPending() const { return m_handOverPending; }
    // A change of picture waits for its picture to be prepared.
    bool changePending() const { return m_sequence && m_sequence->cycle().changePending(); }
    // The slide cycle; null until the search has been handed over.
    const SlideCycle* slideCycle() const { return m_sequence ? &m_sequence->cycle() : nullptr; }
    const FramePacer* framePacer() const { return m_pacer; }
    const ShowOptions& showOptions() const { return m_show; }
    const QTimer& findFileTimer() const { return m_findFileTimer; }
    const QTimer& slideTimer() const { return m_pacer->slideTimer(); }
    const QTimer& musicTimer() const { return m_musicTimer; }
    // The next music file is being opened in the background.
    bool musicOpening() const { return m_music && m_music->opening(); }
    // The picture on screen; before the first one, an empty white slide.
    const SlideImage& slideImage() const { return *m_pictures.shown().slide; }
    // Prepares the pictures off the UI thread; null until the search has been handed over.
    SlidePreparer* preparer() const { return m_pictures.preparer(); }
    const CameraPaths& cameraPaths() const { return m_cameraPaths; }
    SlideSurface* slideSurface() const { return m_surface; }
    // The widget that holds the surface in the window; presses over it are the window's.
    QWidget* slideWidget() const { return m_surfaceWidget; }
    const GuardedList& imageList() const { return m_imageList; }

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

    // WATCH=ON: the watch on the show's folder, from the hand-over on; null otherwise.
    const ShowWatch* showWatch() const { return m_watch.get(); }
    // WATCH=ON: the order that follows the folder, whose ids the frame log records; null
    // otherwise.
    const LivingOrder* livingOrder() const { return m_sequence ? m_sequence->living() : nullptr; }
    // WATCH=ON and the folder holds no pictures.
    bool waitingForPictures() const;
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

signals:
    // The application has been asked to end; the event loop ends next and the window goes.
    void quitRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildComponents();
    void createSurface();
    void startMusic();
    void chooseSearchFolder(const std::string& argument);
    // Makes the chosen monitor's colour profile the target of the pictures' colours.
    void useDisplayProfile();
    void placeOnMonitor();
    void placeComponents();
    // Whether the display lets the program place its window (X) or its compositor does (Wayland).
    static bool clientPlacesWindows();

    void handOver();
    void finishHandOver();
    void pictureReady();
    std::optional<PreparedSlide> takePicture();
    const PathEntry& currentEntry() const;
    void showLoadingLine();
    bool finishChange();
    void drawFrame();
    QString pageText(const PathEntry& entry, int margin) const;
    int textWidth(const QString& text) const;
    int drawPathIndex();

    // What the mouse buttons, the show's keys and the wheel do. Returns whether the show took the
    // step (not during the search).
    bool showStep(ShowStep step);

    void startWatch(std::vector<std::string> knownPaths);
    void applyListChanges(ListChanges changes);
    void showWaiting();

    void stopSteps();
    void closeClicked();
    void requestQuit();

    // Components, named as the window's parts are named everywhere else in the project.
    QPushButton* m_closeButton = nullptr; // B_Close
    SearchPanel* m_panel = nullptr;       // Panel1, the search screen
    PageBox* m_pageBox = nullptr;         // E_Page
    KeyControl* m_keys = nullptr;         // Escape, the buttons' accelerator, the show's keys
    WaitingScreen* m_waiting = nullptr;   // WATCH=ON with no pictures
    SlideSurface* m_surface = nullptr;    // the OpenGL surface, owned by its container
    QWidget* m_surfaceWidget = nullptr;
    QTimer m_findFileTimer;        // Timer_FindFile
    QTimer m_musicTimer;           // Timer_Mid
    FramePacer* m_pacer = nullptr; // Timer_Slide, or smooth motion's frames

    AppLocations m_locations;
    std::string m_searchFolder;
    ShowOptions m_show;
    int m_monitorIndex = 0;
    int m_pathIndex = 0;
    bool m_slideshowRunning = false;
    bool m_stopping = false;
    bool m_handOverPending = false;
    WheelSteps m_wheel;
    // The picture whose "Loading" status line is on screen, or -1.
    int m_loadingShown = -1;

    // Declared first so that it is destroyed last, after the window's own shutdown steps: the
    // music stops as the window's parts go.
    std::unique_ptr<MusicPlaylist> m_music;

    std::mt19937 m_random;
    std::optional<std::mt19937> m_shuffleRandom;
    std::function<int()> m_pathChooser;
    std::function<void(int, std::stop_token)> m_prepareHook;
    CameraPaths m_cameraPaths;
    // The slide cycle and the play order; made at the hand-over.
    std::unique_ptr<SlideSequence> m_sequence;
    // The prepared pictures and the one on screen.
    SlidePictures m_pictures;
    GuardedList m_imageList;
    std::unique_ptr<SearchThread> m_searchThread;
    std::optional<FolderWatcher::Settings> m_watchSettings;
    std::unique_ptr<ShowWatch> m_watch;
    std::unique_ptr<FrameLog> m_frameLog = FrameLog::fromEnvironment();
};
