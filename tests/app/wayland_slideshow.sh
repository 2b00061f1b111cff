#!/usr/bin/env bash
# The real program as a native Wayland client of weston, started three ways: with
# QT_QPA_PLATFORM=wayland and no X display; as a Wayland desktop session starts programs
# (WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland, no QT_QPA_PLATFORM, and a DISPLAY whose X server
# does not exist, so that asking X would fail); and once more on a compositor with a keyboard.
# Each time the slideshow of a picture must be on the output within a few seconds, with the
# window covering the output (weston's panel hidden); with the keyboard, Escape must end the
# program with status 0. Exits 77 (skipped) where weston is not installed.
# Usage: wayland_slideshow.sh PROGRAM
set -uo pipefail
program=$1
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "$mode" ]; then
    command -v weston >/dev/null || { echo "weston is not installed: skipped"; exit 77; }
    status=0
    for run in native session; do
        "$here/weston_session.sh" "$0" "$program" "$run" || status=1
    done
    "$here/weston_session.sh" --keyboard "$0" "$program" escape || status=1
    exit $status
fi

scratch=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/pictures" "$scratch/shots"
# Magenta appears nowhere else on the output, so seeing it means the picture is on screen.
convert -size 640x480 xc:'#ff00ff' "$scratch/pictures/a.jpg"
export SDL_AUDIODRIVER=dummy
case $mode in
native | escape)
    env -u DISPLAY QT_QPA_PLATFORM=wayland "$program" "$scratch/pictures" >"$scratch/out" 2>&1 &
    ;;
session)
    env -u QT_QPA_PLATFORM DISPLAY=:97 XDG_SESSION_TYPE=wayland \
        "$program" "$scratch/pictures" >"$scratch/out" 2>&1 &
    ;;
esac
pid=$!

# What the output shows: the share of it that is the picture, and the share of its top 32 rows
# (where weston's panel lies) that is the panel's dark grey.
look() {
    rm -f "$scratch"/shots/*.png
    (cd "$scratch/shots" && weston-screenshooter >/dev/null 2>&1) || return 1
    local shot
    shot=$(ls "$scratch"/shots/*.png 2>/dev/null | head -n 1)
    [ -n "$shot" ] || return 1
    picture=$(convert "$shot" -alpha off -fuzz 10% -fill black +opaque '#ff00ff' \
        -fill white -opaque '#ff00ff' -colorspace Gray -format '%[fx:mean]' info:)
    panel=$(convert "$shot" -alpha off -crop "$(identify -format '%w' "$shot")x32+0+0" \
        -fx 'abs(r-g)<0.08 && abs(g-b)<0.08 && b<0.4 ? 1 : 0' -format '%[fx:mean]' info:)
}

shown=no
picture=0
panel=1
for _ in $(seq 40); do
    kill -0 "$pid" 2>/dev/null || break
    if look && awk -v p="$picture" -v q="$panel" 'BEGIN { exit !(p > 0.02 && q < 0.01) }'; then
        shown=yes
        break
    fi
    sleep 0.25
done
if [ "$shown" != yes ]; then
    echo "$mode: the slideshow did not cover the output (picture $picture, panel $panel);" \
        "the program said:"
    cat "$scratch/out"
    exit 1
fi
echo "$mode: the picture is on the output ($picture of it) and the window covers the panel"
[ "$mode" = escape ] || exit 0

# The compositor's X window takes the key, and the compositor hands it to the focused window. A
# key that arrives before the compositor has taken in the X focus is lost, so it is pressed
# again while the program runs.
window=$(xdotool search --class weston | head -n 1)
for _ in $(seq 5); do
    xdotool windowfocus --sync "$window"
    sleep 0.3
    xdotool key Escape
    for _ in $(seq 20); do
        kill -0 "$pid" 2>/dev/null || break 2
        sleep 0.1
    done
done
if kill -0 "$pid" 2>/dev/null; then
    echo "Escape did not end the program"
    exit 1
fi
wait "$pid"
status=$?
pid=
echo "Escape ended the program with status $status"
[ "$status" -eq 0 ]
