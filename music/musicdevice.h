#pragma once

#include <optional>
#include <string>

// The four operations through which the playlist drives an audio player: open a file, play it in
// the background, ask whether it has stopped, and close it. All calls are made on the main thread.
class MusicDevice
{
public:
    enum class Mode
    {
        Playing,
        Stopped,
    };

    virtual ~MusicDevice() = default;

    // Closes the file that is open, if any, then opens the file at path (the path exactly as found
    // on disk). Throws MusicDeviceError with a text for the user when the file cannot be opened; no
    // file is open afterwards.
    virtual void open(const std::string& path) = 0;

    // Starts the open file from its beginning and returns at once; it plays on by itself. Returns
    // false when playback could not start. The file then stays open and reads as stopped, so the
    // playlist moves on to the next one.
    virtual bool play() = 0;

    // The state of the open file. The query fails (no value) when no file is open, which is the
    // case before the first open and for the rest of the run after a failed one.
    virtual std::optional<Mode> mode() const = 0;

    // Stops and closes the open file, if any.
    virtual void close() = 0;

    // Holds the open file where it is, or lets it play on from there. A device that cannot
    // pause leaves it playing.
    virtual void setPaused(bool) {}

protected:
    MusicDevice() = default;
    MusicDevice(const MusicDevice&) = delete;
    MusicDevice& operator=(const MusicDevice&) = delete;
};
