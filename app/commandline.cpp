#include "app/commandline.h"

#include "app/showoptions.h"
#include "app/translation.h"

#ifndef LUMIVANE_VERSION
#error "LUMIVANE_VERSION is the project's version"
#endif

namespace {

// An argument as it may be echoed to a terminal: control bytes would move the cursor or change
// the terminal's state, so they are shown as "?".
std::string printable(const std::string& argument)
{
    std::string shown = argument;
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return shown;
}

// The [SHOW] key whose twin `argument` is: "--formats" or "--formats=...".
const ShowSetting* showSettingOf(const std::string& argument)
{
    if (argument.rfind("--", 0) != 0)
        return nullptr;
    std::string name = argument.substr(2, argument.find('=') - 2);
    // The twin is spelled in small letters only, with "-" where the key has "_".
    for (char& c : name) {
        if ((c >= 'A' && c <= 'Z') || c == '_')
            return nullptr;
        if (c == '-')
            c = '_';
    }
    return findShowSetting(name);
}

CommandLine failure(std::string message)
{
    CommandLine result;
    result.action = CommandLine::Action::Fail;
    result.error = std::move(message);
    return result;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine result;
    bool optionsEnded = false;
    bool haveFolder = false;
    for (const std::string& argument : arguments) {
        const bool isOption = !optionsEnded && argument.size() > 1 && argument.front() == '-';
        if (!isOption) {
            if (!haveFolder)
                result.folder = argument;
            haveFolder = true;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            // The first of --help and --version wins, as with most programs.
            return CommandLine{CommandLine::Action::ShowHelp, {}, {}, {}};
        } else if (argument == "--version") {
            return CommandLine{CommandLine::Action::ShowVersion, {}, {}, {}};
        } else if (const ShowSetting* setting = showSettingOf(argument)) {
            // "--motion=smooth": a [SHOW] key's twin. A bad value ends the program like an
            // unknown option; a later twin of the same key wins.
            const std::size_t equals = argument.find('=');
            // "--watch" alone switches the watch on; every other twin needs its value.
            const bool bareSwitch = equals == std::string::npos && setting->key == "WATCH";
            if (equals == std::string::npos && !bareSwitch)
                return failure(ShowTexts::optionWithoutValue(*setting));
            const std::string value = bareSwitch ? "ON" : argument.substr(equals + 1);
            // A lenient key's bad value is reported when the options are read, and the show
            // starts.
            ShowOptions check;
            if (!setting->apply(check, value) && !setting->lenient)
                return failure(ShowTexts::badOptionValue(*setting, value));
            result.show.push_back({std::string(setting->key), value});
        } else {
            return failure(Console::fill(Console::tr("unknown option '%1' (see 'lumivane --help')"),
                                         {printable(argument)}));
        }
    }
    return result;
}

std::string usageText()
{
    return R"(Usage: lumivane [--motion=frames|smooth] [--seconds=N] [--formats=design|all]
                [--order=sorted|shuffle] [--quality=design|high] [--watch]
                [--keep-awake=on|off] [--awake=HOURS] [--] [FOLDER]
       lumivane --help | --version

Full-screen 3D slideshow of the JPEG and BMP pictures in FOLDER and all of its
subfolders, shown in sorted order and from the first again after the last
(--formats and --order change both).
Without FOLDER, or when it is not an existing folder, the default folder is
searched: the user's Pictures folder (or the home folder) for an installed
program, the program's own folder otherwise. Use "--" before a folder whose
name starts with "-".

Controls (the keys are the same in every language):
  left mouse button, Right, Page Down, wheel down   next picture
  right mouse button, Left, Page Up, wheel up       previous picture
  middle mouse button, Space, P, Pause              pause and resume
  Escape, C, Alt+C                                  quit
  during the search, only Escape or Alt+C: stop the search and quit

Files (installed program; a program run from its own folder keeps them there):
  $XDG_CONFIG_HOME/lumivane/lumivane.ini   settings, default ~/.config/lumivane/
      [DEF]
      MONITOR=0        zero-based index of the monitor to cover
      [SHOW]
      MOTION=FRAMES    FRAMES or SMOOTH, as --motion below
      SECONDS=4.5      the time per picture, as --seconds below
      FORMATS=DESIGN   DESIGN or ALL, as --formats below
      ORDER=SORTED     SORTED or SHUFFLE, as --order below
      QUALITY=DESIGN   DESIGN or HIGH, as --quality below
      WATCH=OFF        OFF or ON, as --watch below
      KEEP_AWAKE=ON    ON or OFF, as --keep-awake below
      AWAKE=           the hours the show runs in, as --awake below
      A bad value is reported on stderr and the default used; an option given on
      the command line wins over the file.
  $XDG_DATA_HOME/lumivane/music/           .mp3, .mid and .wav files played in a
                                           loop, default ~/.local/share/lumivane/music/

Environment:
  DISPLAY              the X display to use (Qt's own options are not accepted
                       on the command line; use its environment variables)
  QT_QPA_PLATFORM      Qt's platform plugin, e.g. wayland or xcb
  XDG_CONFIG_HOME, XDG_DATA_HOME, HOME   where the files above are looked for

Options:
  --motion=frames      move the camera one step per frame of a timer of
                       SECONDS x 1000 / 150 ms (30 ms at the default; the default)
  --motion=smooth      move the camera along the clock, one frame per refresh of
                       the display
  --seconds=N          show each picture for about N seconds, a decimal number
                       from 1 to 3600 (default 4.5; with --motion=frames the
                       drawing time of the 150 frames comes on top)
  --formats=design     show .jpg, .jpeg and .bmp files (the default)
  --formats=all        show .png, .gif, .webp, .tif, .tiff, .heic, .heif and .avif
                       files as well (an animation shows its first frame, a TIFF
                       its first page)
  --order=sorted       show the pictures in sorted order (the default)
  --order=shuffle      show them in a random order: every picture once a round,
                       a new order each round; the clicks go forward and back in it
  --quality=design     draw the pictures as Lumivane always has (the default)
  --quality=high       draw them sharp on large screens: textures that follow the
                       screen's resolution (up to 4096 x 4096), mipmaps against
                       shimmer at a distance, smoothed edges; costs more memory
                       and drawing time. The edges get 4x multisampling on a
                       graphics card and outline smoothing on a software
                       renderer; stderr names the renderer and the method
  --watch, --watch=on  follow FOLDER while the show runs: pictures copied, synced
                       or moved in join the show, deleted ones leave it; with no
                       pictures, wait for them (folders on network shares are
                       searched again every minute or more)
  --watch=off          search FOLDER once (the default)
  --keep-awake=on      keep the screen saver and the desktop's screen blanking
                       off while the show runs, not while it is paused (the
                       default)
  --keep-awake=off     let the desktop blank the screen as it would anyway
  --awake=HOURS        run the show in these local hours only, such as
                       07:00-23:00, 22:00-06:00 or 07:00-09:00,17:00-23:00;
                       outside them it stops and puts the screen to sleep, and a
                       key or a click wakes it until the next sleep. Empty: at
                       all hours (the default). A malformed value is reported
                       and the show runs at all hours
  --help               show this text and exit
  --version            show the version and exit
)";
}

std::string versionText()
{
    return "lumivane " LUMIVANE_VERSION "\n";
}
