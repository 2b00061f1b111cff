#pragma once

// Runs the show without a window: a recorder in the view's place, and the driving the tests
// share (header only).

#include "scene/slideimage.h"
#include "scene/slidetextures.h"
#include "show/showcontroller.h"
#include "show/showview.h"
#include "tests/support/testpictures.h"

#include <QFile>
#include <QTest>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Records what the show asks of its view, as the window would show it: the page box reads
// "name\nN/M" with the file name part of the path, and the status line and the pause marker
// go with the next frame, as over the real surface.
class RecordingView : public ShowView, public SlideTextures
{
public:
    void guarded(const std::function<void()>& step) override
    {
        try {
            step();
        } catch (const std::exception& error) {
            errors.emplace_back(error.what());
        }
    }
    void showSearchProgress(const PathEntry& last) override { progress = last.display; }
    void endSearchScreen() override { ++searchEnded; }
    void showStopping() override { ++stoppingShown; }
    void reportNoPictures() override { noPictures = true; }
    void quit() override { ++quits; }

    SlideTextures& textures() override { return *this; }
    ShowScreen screenPixels() const override { return {1920, 1080, 1}; }
    void presentFrame(const ShowFrame& frame) override
    {
        frames.push_back(frame);
        loading.clear();
        pauseMarker = false;
    }
    void showPage(const PathEntry& entry, int number, int count, int) override
    {
        page = entry.display.section(u'/', -1) + u'\n' + QString::number(number) + u'/' +
               QString::number(count);
    }
    void showLoading(const PathEntry& entry) override { loading = entry.display.section(u'/', -1); }
    void showPauseMarker() override { pauseMarker = true; }
    void showControls() override { controls = true; }
    void showWaiting(const QString& folder) override { waiting = folder; }
    void hideWaiting() override { waiting.clear(); }
    void startFrames() override { framesActive = true; }
    void stopFrames() override { framesActive = false; }
    void frameDone() override { ++framesDone; }
    void frameSkipped() override { ++framesSkipped; }
    void waitForPicture() override { ++pictureWaits; }
    void holdScreenAwake(bool held) override { screenHeld = held; }
    void sleepScreen() override
    {
        screenHeld = false;
        screenAsleep = true;
    }
    void wakeScreen() override { screenAsleep = false; }
    void setMusicPaused(bool paused) override { musicPaused = paused; }

    void uploadTexture(const std::uint8_t*) override { ++uploads; }
    bool stageTexture(int key, const std::uint8_t*, int rows) override
    {
        if (key != stagedKey)
            stagedRows = 0;
        stagedKey = key;
        stagedRows += rows;
        return stagedRows >= 1024;
    }
    bool useStagedTexture(int key) override
    {
        if (key != stagedKey || stagedRows < 1024)
            return false;
        ++stagedUses;
        stagedKey = -1;
        return true;
    }
    bool stageHighTexture(int, const SlideImage&, std::chrono::microseconds) override
    {
        return true;
    }
    void showHighTexture(int, const SlideImage&) override { ++uploads; }
    int maxTextureSize() const override { return 4096; }

    std::vector<std::string> errors;
    QString progress;
    int searchEnded = 0;
    int stoppingShown = 0;
    bool noPictures = false;
    int quits = 0;
    std::vector<ShowFrame> frames;
    QString page;
    QString loading;
    bool pauseMarker = false;
    bool controls = false;
    QString waiting;
    bool framesActive = false;
    int framesDone = 0;
    int framesSkipped = 0;
    int pictureWaits = 0;
    bool screenHeld = false;
    bool screenAsleep = false;
    bool musicPaused = false;
    // Whole textures put up at a change, and staged ones made the slide texture.
    int uploads = 0;
    int stagedUses = 0;
    int stagedKey = -1;
    int stagedRows = 0;
};

namespace ShowHarness {

// A 24-bit bitmap whose width names it: 8 + n texels by 6.
inline bool writePicture(const QString& path, int n = 0)
{
    const RgbImage image =
        TestPictures::makeImage(8 + n, 6, [](int, int) { return std::array{90, 90, 90}; });
    return TestPictures::writeFile(QFile::encodeName(path).toStdString(),
                                   TestPictures::encodeBmp(image));
}

// Starts the search of `folder` and lets it run, as the search screen's timer would, until the
// show has handed over (or ended, or waits for pictures). `prepare` sets hooks before the search.
inline bool runUntilHandedOver(ShowController& show, const QString& folder,
                               const std::function<void(ShowController&)>& prepare = {})
{
    if (prepare)
        prepare(show);
    show.startSearch(QFile::encodeName(folder + u'/').toStdString());
    return QTest::qWaitFor(
        [&] {
            show.searchTick();
            return !show.searching() &&
                   (!show.handOverPending() || show.waitingForPictures());
        },
        10000);
}

// One tick of the frames, driven from outside: a change whose picture is still being prepared is
// ticked on until the worker has made it, as the running frames would.
inline bool tick(ShowController& show)
{
    show.slideTick();
    return QTest::qWaitFor(
        [&] {
            if (show.changePending())
                show.slideTick();
            return !show.changePending();
        },
        10000);
}

} // namespace ShowHarness
