#pragma once

#include "music/musicdevice.h"

#include <SDL_mixer.h>

#include <string>

// MusicDevice over SDL2_mixer. SDL is initialised for audio only, and the audio output is opened
// by the first open() rather than at construction, so a run without music files never touches
// the sound system. When the output cannot be started, that open fails with SDL's text and every
// later one fails with the same text without trying again: retrying a missing sound server once
// a second could stall the main thread each time.
class SdlMusicDevice final : public MusicDevice
{
public:
    SdlMusicDevice() = default;
    ~SdlMusicDevice() override;

    void open(const std::string& path) override;
    bool play() override;
    std::optional<Mode> mode() const override;
    void close() override;
    void setPaused(bool paused) override;

private:
    void openOutput();

    bool m_outputOpen = false;
    std::string m_outputError;
    Mix_Music* m_music = nullptr;
};
