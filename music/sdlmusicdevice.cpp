#include "music/sdlmusicdevice.h"

#include "music/musicdeviceerror.h"

#include <SDL.h>

namespace {

// The text shown when the audio library gives no reason for a failure.
constexpr const char* kUnknownError = "原因不明のエラー";

// Samples per mixing chunk. Background music needs no low latency, and a larger chunk keeps the
// output from running dry while the slideshow keeps both cores busy.
constexpr int kChunkSamples = 4096;

std::string errorText(const char* text)
{
    if (text == nullptr || *text == '\0')
        return kUnknownError;
    return text;
}

} // namespace

SdlMusicDevice::~SdlMusicDevice()
{
    close();
    if (m_outputOpen) {
        Mix_CloseAudio();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
}

void SdlMusicDevice::open(const std::string& path)
{
    close();
    openOutput();
    SDL_ClearError();
    m_music = Mix_LoadMUS(path.c_str());
    if (m_music == nullptr)
        throw MusicDeviceError(errorText(Mix_GetError()));
}

bool SdlMusicDevice::play()
{
    if (m_music == nullptr)
        return false;
    return Mix_PlayMusic(m_music, 0) == 0;
}

std::optional<MusicDevice::Mode> SdlMusicDevice::mode() const
{
    if (m_music == nullptr)
        return std::nullopt;
    return Mix_PlayingMusic() != 0 ? Mode::Playing : Mode::Stopped;
}

void SdlMusicDevice::close()
{
    if (m_music == nullptr)
        return;
    Mix_HaltMusic();
    Mix_FreeMusic(m_music);
    m_music = nullptr;
}

void SdlMusicDevice::openOutput()
{
    if (m_outputOpen)
        return;
    if (!m_outputError.empty())
        throw MusicDeviceError(m_outputError);

    // SDL would otherwise turn SIGINT and SIGTERM into quit events that nobody reads, and the
    // program could no longer be stopped from a terminal.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_ClearError();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        m_outputError = errorText(SDL_GetError());
        throw MusicDeviceError(m_outputError);
    }
    // The decoders are also loaded on demand by Mix_LoadMUS, which then reports what is missing;
    // initialising them here only moves that work out of the first open.
    Mix_Init(MIX_INIT_MP3 | MIX_INIT_MID);
    if (Mix_OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, MIX_DEFAULT_CHANNELS,
                      kChunkSamples) != 0) {
        m_outputError = errorText(Mix_GetError());
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        throw MusicDeviceError(m_outputError);
    }
    m_outputOpen = true;
}

void SdlMusicDevice::setPaused(bool paused)
{
    if (paused)
        Mix_PauseMusic();
    else
        Mix_ResumeMusic();
}
