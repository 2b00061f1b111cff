#!/usr/bin/env bash
# Installs everything Lumivane needs to build, run and test on Debian 12.
# This is the one list of system dependencies: the README's commands and CI call it.
# Only missing packages are installed, so a second run is quick.
set -euo pipefail

packages=(
    # Toolchain and build.
    build-essential cmake ninja-build pkg-config git
    # Window, controls, timers and the OpenGL widget.
    qt6-base-dev libqt6opengl6-dev qt6-qpa-plugins libxcb1-dev libwayland-dev
    # The X server's Damage reports, with which the motion benchmark sees frames from outside.
    libxcb-damage0-dev
    # The screen kept awake and put to sleep: the X screen saver's suspend and DPMS, the idle
    # inhibitor's Wayland protocol, and Qt's platform native interface, through which Qt 6.4
    # names a window's Wayland surface (a private header). Qt's D-Bus module comes with
    # qt6-base-dev; python3-dbus plays the desktop's inhibit services in the tests.
    libxcb-screensaver0-dev libxcb-dpms0-dev wayland-protocols qt6-base-private-dev python3-dbus
    # OpenGL 1.1 + GLU, with Mesa's software renderer for machines without a GPU.
    libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
    # JPEG decoding; djpeg is the yardstick of the slide benchmark. libexif reads the orientation
    # tag of photos.
    libjpeg62-turbo-dev libjpeg-turbo-progs libexif-dev
    # The further picture formats (FORMATS=ALL): PNG, GIF, WebP, TIFF, and HEIC/HEIF/AVIF through
    # libheif (Debian's libheif1 brings libde265, dav1d and aom). Their command-line decoders are
    # the yardsticks of the formats benchmark (ImageMagick's convert reads the PNG).
    libpng-dev libgif-dev libwebp-dev libtiff-dev libheif-dev zlib1g-dev
    webp giflib-tools libtiff-tools libheif-examples
    # Colour profiles: Little CMS converts pictures to the screen's colours in QUALITY=HIGH.
    liblcms2-dev
    # Music: SDL2_mixer, with patch sets for MIDI files; lame makes the MP3 the tests play.
    libsdl2-mixer-dev freepats timgm6mb-soundfont lame
    # The window font (stands in for MS P Gothic).
    fonts-ipafont-gothic
    # Tests, benchmarks, fuzzing.
    googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
    # A display for GUI tests; xset and xwininfo for the start-up test on a resetting X server,
    # and strace, which slows that server down to make the race certain.
    xvfb xauth x11-xserver-utils x11-utils strace
    # The Debian package (dpkg-shlibdeps), its checks (lintian among them), and a look at the
    # installed program's screen (ImageMagick), keyboard (xdotool) and texts (the accessibility
    # bus, read from Python).
    dpkg-dev lintian desktop-file-utils appstream imagemagick xdotool
    dbus-daemon at-spi2-core gir1.2-atspi-2.0 python3-gi
    # Native Wayland: Qt's Wayland platform plugin, and a compositor (weston, headless or nested
    # in the virtual X display) with its screenshooter for the Wayland tests.
    qt6-wayland weston
    # English texts: Qt Linguist's lupdate and lrelease through CMake.
    qt6-tools-dev qt6-l10n-tools
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
