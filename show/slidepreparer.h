#pragma once

#include "scene/slideimage.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

// One picture of the list made ready for the slide texture: the texture with its placement, or
// the error the bitmap reader raised for the file, kept to be raised when the show reaches it.
struct PreparedSlide
{
    int index = -1;
    std::unique_ptr<SlideImage> slide; // null when `error` is set
    std::exception_ptr error;
};

// Runs SlideImage's CPU half for the picture at `openPath`: the finished slide, or the bitmap
// reader's error with its text unchanged, kept to be raised when the show reaches the picture.
// `layout` is the texture's shape (1024 x 1024 with one level by default).
// `furtherFormats`: the further formats are shown (--formats=all), which also reads bitmaps
// with later header versions.
PreparedSlide prepareSlide(int index, const std::string& openPath, std::stop_token stop = {},
                           const TextureLayout& layout = {}, bool furtherFormats = false);

// The pictures that come a step forward and a step back from the current one in the show;
// -1 stands for the list's own neighbour, with the wrap.
struct SlideNeighbours
{
    int next = -1;
    int previous = -1;
};

// Prepares the pictures the show is about to need on a worker thread of its own, so that a
// change of picture only has to upload a finished texture. It runs SlideImage's CPU half
// (decode, place, scale) for entries of the picture list, in this order of need:
//   1. the picture the show is changing to, while it is not on screen yet;
//   2. the next picture (with the wrap after the last), which the slide timer and a left click
//      ask for;
//   3. the previous one, which a right click asks for.
// Next and previous are the list's neighbours unless the caller names others: a shuffled show
// names those of its play order.
// At most MaxPrepared finished pictures are held, plus the one being made. A finished picture
// that is no longer among those needed is dropped, and work on one that is no longer needed is
// abandoned at its next check. Each finished picture is handed out once.
//
// All public functions are called from one thread (the window's); the ready callback runs on
// the worker thread.
class SlidePreparer
{
public:
    static constexpr std::size_t MaxPrepared = 2;

    // `openPaths` are the pictures' paths as found on disk, in list order. `onReady` is called
    // on the worker thread each time a picture has been finished (or has failed); it must only
    // hand the news over to the owner's thread. Every texture is made in `layout`, and read as
    // prepareSlide() reads it with `furtherFormats`.
    explicit SlidePreparer(std::vector<std::string> openPaths, std::function<void()> onReady = {},
                           const TextureLayout& layout = {}, bool furtherFormats = false);
    // Abandons the work in progress and waits for the worker to end.
    ~SlidePreparer();
    SlidePreparer(const SlidePreparer&) = delete;
    SlidePreparer& operator=(const SlidePreparer&) = delete;

    using Neighbours = SlideNeighbours;

    // The picture the show is on. When `onScreen` is false the show is waiting for it, and it
    // comes before everything else; once it is on screen, its neighbours are prepared.
    void setCurrent(int index, bool onScreen, Neighbours around = {});

    // More pictures for the show whose list changes while it runs: their indices follow those
    // known so far.
    void addPaths(std::vector<std::string> openPaths);

    // Hands out the finished picture for `index`, which goes on screen now: from here on its
    // neighbours are prepared. Nothing when it is not ready. When it is a picture (not an error,
    // which leaves the old picture on screen), `shown`, the picture on screen until now, is
    // taken over if it is one of those neighbours (the previous picture after a step forward,
    // the next one after a step back), so that a change reads only one new file. The current
    // picture itself is never kept: a show of one picture reads its file again for every change.
    std::optional<PreparedSlide> take(int index, PreparedSlide* shown = nullptr,
                                      Neighbours around = {});

    // The finished picture for `index`, left in place, or null when it is not ready (or could
    // not be read). Lets the window upload its texture ahead of the change. The pointer stays
    // valid until the next setCurrent() or take().
    const SlideImage* peek(int index) const;

    // The worker starts nothing new from a take() until this is called, so that it does not
    // compete with the frame that puts the picture on screen.
    void resume();

    // True when nothing that is needed is left to make (whether or not the worker is held).
    bool isIdle() const;
    // The indices of the finished pictures held, in ascending order.
    std::vector<int> preparedIndices() const;

    // Runs on the worker before each picture is prepared, with its index and the stop request
    // that abandons it. Tests use it to see where and in which order work runs, and to hold it.
    void setWorkHookForTesting(std::function<void(int, std::stop_token)> hook);

private:
    void run();
    // The pictures worth holding, most needed first, at most MaxPrepared of them.
    std::vector<int> neededLocked() const;
    std::optional<int> nextJobLocked(bool evenWhenHeld = false) const;
    void dropUnneededLocked();
    void stopUnneededLocked();
    void keepShownLocked(PreparedSlide& shown);

    std::vector<std::string> m_paths; // under m_mutex
    const std::function<void()> m_onReady;
    const TextureLayout m_layout;
    const bool m_furtherFormats;
    std::function<void(int, std::stop_token)> m_workHook;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_current = -1;
    Neighbours m_around;
    bool m_onScreen = false;
    bool m_quit = false;
    bool m_held = false;
    int m_making = -1;
    std::stop_source m_makingStop;
    std::map<int, PreparedSlide> m_prepared;
    // Declared last: the worker starts once everything it reads exists.
    std::thread m_worker;
};
