#pragma once

#include "scene/camerapaths.h"
#include "scene/scenegeometry.h"
#include "search/sortedstringlist.h"

#include <QString>

#include <array>
#include <functional>

class SlideTextures;

// One frame of the show, as the view draws it: the camera, the scene around the picture on
// screen, and what the frame log records of it.
struct ShowFrame
{
    CameraPose camera;
    std::array<ScenePolygon, ScenePolygonCount> scene;
    // The picture on screen (its list index, or the watched show's id; -1 before the first).
    int picture = -1;
    // The camera's table position: a whole camera frame 1..SlideFrames in the frames motion,
    // fractional in smooth motion.
    double tablePosition = 1;
    int path = 0;
};

// The size of the screen the scene is drawn on, in the window's own pixels.
struct ShowScreen
{
    int width = 0;
    int height = 0;
    double pixelRatio = 1;
};

// What the show asks of the window that shows it. The show decides what is shown when; the
// view owns the widgets, the surface and the timers, and does what it is told. Each call stands
// for one thing the user sees (the search screen's path, the page box, a frame) or for the
// frames' pace, so that the show can be run and checked with a recorder in the view's place.
class ShowView
{
public:
    virtual ~ShowView() = default;

    // Runs one step of the show as an event handler's body: an error that escapes it is
    // reported in the error box, the rest of the step is skipped, and the program goes on.
    virtual void guarded(const std::function<void()>& step) = 0;

    // The search screen shows the entry that sorts last so far.
    virtual void showSearchProgress(const PathEntry& last) = 0;
    // The search has ended: its timer stops, the search screen goes and the window takes the
    // focus.
    virtual void endSearchScreen() = 0;
    // The search is being stopped: its timer stops and the search screen says so, painted
    // before the wait for the search thread.
    virtual void showStopping() = 0;
    // The search found no picture.
    virtual void reportNoPictures() = 0;
    // The program is to end.
    virtual void quit() = 0;

    // Where the slide textures go.
    virtual SlideTextures& textures() = 0;
    virtual ShowScreen screenPixels() const = 0;
    // Draws the frame and puts it on screen.
    virtual void presentFrame(const ShowFrame& frame) = 0;
    // The page box: the picture's path and its place in the show ("12/345"). `margin` is kept
    // free at the box's right edge.
    virtual void showPage(const PathEntry& entry, int number, int count, int margin) = 0;
    // The status line: the picture being loaded.
    virtual void showLoading(const PathEntry& entry) = 0;
    virtual void showPauseMarker() = 0;
    // The show has begun (or waits for its pictures): the close button shows and the keys
    // reach the show.
    virtual void showControls() = 0;
    // A watched show whose folder holds no pictures: the waiting screen for `folder` (its
    // display spelling), until hideWaiting().
    virtual void showWaiting(const QString& folder) = 0;
    virtual void hideWaiting() = 0;

    // The frames' pace (the slide timer, or smooth motion's frames at the refresh).
    // Frames are due from now on; nothing changes when they already are.
    virtual void startFrames() = 0;
    virtual void stopFrames() = 0;
    // A frame is on screen.
    virtual void frameDone() = 0;
    // A tick drew no frame (the change's picture could not be read) and the show goes on.
    virtual void frameSkipped() = 0;
    // A change waits for its picture.
    virtual void waitForPicture() = 0;

    // The screen saver and the desktop's idle rules are held off (true) or let go (false).
    virtual void holdScreenAwake(bool held) = 0;
    // The show sleeps: the screen goes dark and is no longer held awake; and it wakes.
    virtual void sleepScreen() = 0;
    virtual void wakeScreen() = 0;
    // The music holds where it is while the show sleeps.
    virtual void setMusicPaused(bool paused) = 0;
};
