#pragma once

#include "music/musicdevice.h"
#include "search/sortedstringlist.h"

#include <memory>
#include <string>

// The background music: the music files lying beside the executable (MusicList), played one after
// another in sorted order and from the first again after the last, for the whole run. The window
// lists the files at start-up, starts the first one and calls tick() once a second; playback itself
// runs in the background. Everything here happens on the main thread.
class MusicPlaylist
{
public:
    // Plays through SDL2_mixer.
    MusicPlaylist();
    explicit MusicPlaylist(std::unique_ptr<MusicDevice> device);
    // Closes the device, which stops the music.
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
    // to the first after the last. Does nothing while a file plays, and nothing at all once an open
    // has failed. Throws MusicDeviceError when the next file cannot be opened.
    void tick();

    // Index in MusicList of the file last opened, or -1 before the first start.
    int musicIndex() const { return m_musicIndex; }
    const SortedStringList& musicList() const { return m_musicList; }

private:
    void openAndPlay(int index);

    SortedStringList m_musicList;
    int m_musicIndex = -1;
    std::unique_ptr<MusicDevice> m_device;
};
