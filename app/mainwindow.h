#pragma once

#include "app/applocations.h"
#include "app/framelog.h"
#include "music/musicplaylist.h"
#include "show/showcontroller.h"
#include "show/showoptions.h"
#include "show/showview.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class FramePacer;
class ScreenAwake;
class KeyControl;
class PageBox;
class SearchPanel;
class QPushButton;
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

// The one window of the program. It covers a monitor and shows what its show (ShowController)
// tells it: the search screen while the search thread collects the pictures, then the slides,
// by default one frame every 30 ms and the next picture every 150 frames, or with smooth motion
// one frame per refresh of the display. It owns the widgets, the surface and the timers, starts
// up in the order the rest of the program relies on, and forwards the timers' ticks and the
// user's input to the show.
class MainWindow : public QWidget, private ShowView
{
    Q_OBJECT

public:
    explicit MainWindow(StartupOptions options);
    ~MainWindow() override;

    // The show: its state, and the hooks that let tests drive it.
    ShowController& controller() { return *m_show; }
    const ShowController& controller() const { return *m_show; }

    // The components the tests look at, and the timers they drive tick by tick.
    SlideSurface* slideSurface() const { return m_surface; }
    // The widget that holds the surface in the window; presses over it are the window's.
    QWidget* slideWidget() const { return m_surfaceWidget; }
    const QTimer& findFileTimer() const { return m_findFileTimer; }
    const QTimer& slideTimer() const;
    const FramePacer* framePacer() const { return m_pacer; }
    const QTimer& musicTimer() const { return m_musicTimer; }
    void musicTick();
    // The next music file is being opened in the background.
    bool musicOpening() const { return m_music && m_music->opening(); }
    int monitorIndex() const { return m_monitorIndex; }

signals:
    // The application has been asked to end; the event loop ends next and the window goes.
    void quitRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildComponents();
    void createSurface();
    void startMusic();
    std::string chooseSearchFolder(const std::string& argument) const;
    // Makes the chosen monitor's colour profile the target of the pictures' colours.
    void useDisplayProfile();
    void placeOnMonitor();
    void placeComponents();
    // Whether the display lets the program place its window (X) or its compositor does (Wayland).
    static bool clientPlacesWindows();
    int textWidth(const QString& text) const;

    // What the show asks of the window.
    void guarded(const std::function<void()>& step) override;
    void showSearchProgress(const PathEntry& last) override;
    void endSearchScreen() override;
    void showStopping() override;
    void reportNoPictures() override;
    void quit() override;
    SlideTextures& textures() override;
    ShowScreen screenPixels() const override;
    void presentFrame(const ShowFrame& frame) override;
    void showPage(const PathEntry& entry, int number, int count, int margin) override;
    void showLoading(const PathEntry& entry) override;
    void showPauseMarker() override;
    void showControls() override;
    void showWaiting(const QString& folder) override;
    void hideWaiting() override;
    void startFrames() override;
    void stopFrames() override;
    void frameDone() override;
    void frameSkipped() override;
    void waitForPicture() override;
    void holdScreenAwake(bool held) override;
    void sleepScreen() override;
    void wakeScreen() override;
    void setMusicPaused(bool paused) override;

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
    ShowOptions m_options;
    int m_monitorIndex = 0;

    // Declared first so that it is destroyed last, after the window's own shutdown steps: the
    // music stops as the window's parts go.
    std::unique_ptr<MusicPlaylist> m_music;
    std::unique_ptr<ShowController> m_show;
    // Keeps the screen awake, made once the window is shown (a Wayland surface exists only then);
    // until then the show's last wish waits in m_screenHeld.
    std::unique_ptr<ScreenAwake> m_screenAwake;
    bool m_screenHeld = false;
    std::unique_ptr<FrameLog> m_frameLog = FrameLog::fromEnvironment();
};
