#pragma once

#include "music/musicdevice.h"
#include "search/sortedstringlist.h"

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// The background music: the music files lying beside the executable (MusicList), played one after
// another in sorted order and from the first again after the last, for the whole run. The window
// lists the files at start-up, starts the first one and calls tick() once a second; playback itself
// runs in the background. Everything here happens on the main thread, except the opening of the
// later files once openInBackground() has been called.
class MusicPlaylist
{
public:
    // Plays through SDL2_mixer.
    MusicPlaylist();
    explicit MusicPlaylist(std::unique_ptr<MusicDevice> device);
    // Waits for an open in progress, then closes the device, which stops the music.
    ~MusicPlaylist();
    MusicPlaylist(const MusicPlaylist&) = delete;
    MusicPlaylist& operator=(const MusicPlaylist&) = delete;

    // Adds the ".mp3", ".mid" and ".wav" files of appDir (which ends with "/") to MusicList. Only
    // regular files (or links to them) directly inside appDir count; subfolders are not entered.
    // Hidden files count. Returns true when at least one file was found.
    bool findMusicFiles(const std::string& appDir);

    // Opens and plays the first file in sorted order; MusicIndex becomes 0. Does nothing when
    // MusicList is empty. Throws MusicDeviceError when the file cannot be opened; the music then
    // stays silent for the rest of the run.
    void startFirst();

    // Once a second: when the file last opened has stopped, opens and plays the next one, wrapping
    // to the first after the last. Does nothing while a file plays or is being opened, and nothing
    // at all once an open has failed. Throws MusicDeviceError when the next file cannot be opened.
    void tick();

    // From now on tick() closes the stopped file and opens the next one on a thread of its own,
    // since opening a file (a MIDI file above all) can take longer than a frame. `opened` is
    // called on that thread when the open has finished; it must only tell the owner's thread,
    // which then calls finishOpen().
    void openInBackground(std::function<void()> opened);

    // Starts the file opened in the background, or throws the MusicDeviceError of its failed
    // open, after which the music stays silent. Does nothing when no open was started; waits for
    // one that has not finished yet (it has, once `opened` has been called).
    void finishOpen();
    bool opening() const { return m_opening; }

    // A sleeping photo frame holds its music where it is, and goes on from there when it wakes.
    // While paused, tick() moves on to nothing.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }

    // Index in MusicList of the file last opened, or -1 before the first start.
    int musicIndex() const { return m_musicIndex; }
    const SortedStringList& musicList() const { return m_musicList; }

private:
    void openAndPlay(int index);

    SortedStringList m_musicList;
    int m_musicIndex = -1;
    std::unique_ptr<MusicDevice> m_device;
    std::function<void()> m_opened;
    bool m_opening = false;
    bool m_paused = false;
    // Written by the opening thread, read once it has been joined.
    std::exception_ptr m_openError;
    std::thread m_opener;
};
