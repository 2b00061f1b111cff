#pragma once

#include "scene/slideimage.h"
#include "show/slidepreparer.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

class SlideTextures;

// The pictures of a running show: the worker that prepares them off the UI thread, the picture
// on screen and its texture on the surface. A change of picture takes the new one from here and
// shows it; smooth motion also puts the texture of the picture after it up ahead, a slice per
// frame, so that the change itself has nothing left to upload.
//
// In the high quality mode (a layout with mipmaps) every picture's texture goes up that way:
// ahead of the change a slice follows each frame, and a picture that is taken before it is all
// up is handed out only once it is, after further slices with a return to the event loop in
// between (see take()).
class SlidePictures
{
public:
    // Starts the worker for the pictures at `openPaths`, in list order, whose textures go to
    // `textures`. `onReady` runs on the worker each time a picture is ready; `hook` is the
    // preparer's test hook (may be empty).
    // `layout` is the textures' shape (1024 x 1024 with one level by default); `furtherFormats`
    // reads the pictures as --formats=all shows them (see prepareSlide()).
    void start(SlideTextures* textures, std::vector<std::string> openPaths,
               std::function<void()> onReady, std::function<void(int, std::stop_token)> hook,
               const TextureLayout& layout = {}, bool furtherFormats = false);
    // Abandons the picture being made and waits for the worker to end.
    void stop() { m_preparer.reset(); }
    // More pictures, whose list indices follow those known so far.
    void addPaths(const std::vector<std::string>& openPaths);

    // The prepared picture for list index `index` (or the reader's error for it), handed out
    // once; nothing while it is not ready, in which case the worker makes it before anything
    // else. The picture on screen goes back to the worker when it is a neighbour of the new one.
    // `around` names the pictures before and after it in the play order, which the worker
    // prepares next. In the high quality mode a prepared picture whose texture is not all up
    // yet is not handed out: another slice goes up, and `onReady` is called (on this thread) so
    // that the owner comes back for it once its other events have run; uploadPending() says so
    // meanwhile.
    std::optional<PreparedSlide> take(int index, SlideNeighbours around = {});
    bool uploadPending() const { return m_uploadPending; }
    // Puts a prepared picture on the surface, with the texture put up ahead when it is this
    // picture's, and keeps it as the picture on screen.
    void show(PreparedSlide picture);
    // Puts up one more slice of the texture of list index `index`, when it is prepared.
    void stageAhead(int index);
    // The frame with the new picture is on screen: the worker goes on with the neighbours.
    void resume();

    // The picture on screen; before the first one, an empty white slide with index -1.
    const PreparedSlide& shown() const { return m_shown; }
    // Null until start().
    SlidePreparer* preparer() const { return m_preparer.get(); }
    const TextureLayout& layout() const { return m_layout; }

    // Benchmark only: each picture is decoded and scaled on the calling thread, inside take(),
    // as the show did before it had a worker.
    void setSynchronous(bool on) { m_synchronous = on; }
    bool synchronous() const { return m_synchronous; }

private:
    bool highQuality() const { return m_layout.mipmaps; }

    SlideTextures* m_textures = nullptr;
    std::vector<std::string> m_paths;
    std::function<void()> m_onReady;
    TextureLayout m_layout;
    bool m_furtherFormats = false;
    bool m_synchronous = false;
    bool m_uploadPending = false;
    PreparedSlide m_shown{-1, std::make_unique<SlideImage>(), {}};
    std::unique_ptr<SlidePreparer> m_preparer;
};
