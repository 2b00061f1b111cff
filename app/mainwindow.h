#pragma once

#include "app/applocations.h"
#include "app/framelog.h"
#include "app/showoptions.h"
#include "music/musicplaylist.h"
#include "render/camerapaths.h"
#include "render/playorder.h"
#include "render/slideimage.h"
#include "render/slidepreparer.h"
#include "search/guardedlist.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>

class PageBox;
class SearchPanel;
class QPushButton;
class SearchThread;
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
    // The settings file's [SHOW] section and its command-line twins.
    ShowOptions show;
};

// The one window of the program. It covers a monitor, shows the search screen while the search
// thread collects the pictures, then runs the slideshow: one frame every 30 ms, the next picture
// every 150 frames. It orchestrates; the search, the decoding, the camera paths, the scene and
// the music live in classes of their own.
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

    // State the tests and the accessibility description read.
    int frameCounter() const { return m_frameCounter; }
    // The position in the play order (the list index in a sorted show); between a right click
    // and the change it leads to, it may lie before the first position, as the click rules say.
    int currentIndex() const { return m_currentIndex; }
    // The list index of the picture at the current position; -1 while the position lies
    // before the first one.
    int currentPicture() const;
    // The order the pictures are played in; null until the search has been handed over.
    const PlayOrder* playOrder() const { return m_playOrder.get(); }
    int pathIndex() const { return m_pathIndex; }
    bool slideshowRunning() const { return m_slideshowRunning; }
    int monitorIndex() const { return m_monitorIndex; }
    const std::string& searchFolder() const { return m_searchFolder; }
    bool searching() const { return m_searchThread != nullptr; }
    // The search has ended and the first picture is still being prepared.
    bool handOverPending() const { return m_handOverPending; }
    // A change of picture waits for its picture to be prepared.
    bool changePending() const { return m_changePending; }
    const QTimer& findFileTimer() const { return m_findFileTimer; }
    const QTimer& slideTimer() const { return m_slideTimer; }
    const QTimer& musicTimer() const { return m_musicTimer; }
    // The next music file is being opened in the background.
    bool musicOpening() const { return m_music && m_music->opening(); }
    // The picture on screen; before the first one, an empty white slide.
    const SlideImage& slideImage() const { return *m_shown.slide; }
    // Prepares the pictures off the UI thread; null until the search has been handed over.
    SlidePreparer* preparer() const { return m_preparer.get(); }
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
    void setSynchronousChangesForBenchmark(bool on) { m_synchronousChanges = on; }

    // Lets tests choose the shuffled order's random source; the program seeds it from the clock.
    // Set before the hand-over.
    void setShuffleRandomForTesting(std::mt19937 random) { m_shuffleRandom = random; }

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
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildComponents();
    void createSurface();
    void startMusic();
    void chooseSearchFolder(const std::string& argument);
    void placeOnMonitor();

    void handOver();
    void finishHandOver();
    void pictureReady();
    std::optional<PreparedSlide> takePicture();
    PreparedSlide prepareOnUiThread();
    const PathEntry& currentEntry() const;
    void showLoadingLine();
    void showPicture(PreparedSlide picture);
    bool finishChange();
    void drawFrame();
    QString pageText(const PathEntry& entry, int margin) const;
    int textWidth(const QString& text) const;
    int drawPathIndex();

    void stopSteps();
    void resumeSlideTimer();
    void closeClicked();
    void requestQuit();
    void enableKeyPreview();
    bool pressVisibleButton();

    // Components, named as the window's parts are named everywhere else in the project.
    QPushButton* m_closeButton = nullptr; // B_Close
    SearchPanel* m_panel = nullptr;       // Panel1, the search screen
    PageBox* m_pageBox = nullptr;         // E_Page
    SlideSurface* m_surface = nullptr;    // the OpenGL surface, owned by its container
    QWidget* m_surfaceWidget = nullptr;
    QTimer m_findFileTimer; // Timer_FindFile
    QTimer m_slideTimer;    // Timer_Slide
    QTimer m_musicTimer;    // Timer_Mid

    AppLocations m_locations;
    const ShowOptions m_show;
    std::string m_searchFolder;
    int m_monitorIndex = 0;
    int m_currentIndex = 0;
    int m_frameCounter = 0;
    int m_pathIndex = 0;
    bool m_slideshowRunning = false;
    bool m_keyPreview = false;
    bool m_stopping = false;
    bool m_handOverPending = false;
    bool m_changePending = false;
    bool m_synchronousChanges = false;
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
    // The picture on screen and its list index (-1 before the first one).
    PreparedSlide m_shown{-1, std::make_unique<SlideImage>(), {}};
    GuardedList m_imageList;
    std::unique_ptr<SearchThread> m_searchThread;
    std::unique_ptr<PlayOrder> m_playOrder;
    std::unique_ptr<SlidePreparer> m_preparer;
    std::unique_ptr<FrameLog> m_frameLog = FrameLog::fromEnvironment();
};
