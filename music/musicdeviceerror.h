#pragma once

#include <stdexcept>
#include <string>

// Raised when a music file cannot be opened: the audio output could not be started, the file is
// missing or unreadable, or no decoder takes its type. The text is the audio library's own, or
// "原因不明のエラー" when it gives none, and is shown to the user as it stands.
class MusicDeviceError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
