#!/usr/bin/env bash
# The real program as a native Wayland client of weston, started three ways: with
# QT_QPA_PLATFORM=wayland and no X display; as a Wayland desktop session starts programs
# (WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland, no QT_QPA_PLATFORM, and a DISPLAY whose X server
# does not exist, so that asking X would fail); with MONITOR=1 on a compositor with two outputs;
# and once more on a compositor with a keyboard. Each time the slideshow of a picture must be on
# the (chosen) output within a few seconds, with the window covering that output (weston's panel
# hidden there, and still shown on the other output); with the keyboard, Escape must end the
# program with status 0. A run with the keyboard reads the controls off the screen: the close
# button over the scene, a click that brings the next picture, P that shows the "Pause" marker
# over the scene until P is pressed again. The first run shows the picture in smooth motion,
# whose frames must keep coming, never two within one refresh. Those two runs are made for each
# way the frames reach the compositor (LUMIVANE_WAYLAND_FRAMES=composed, =read-back). Exits 77
# (skipped) where weston is not installed.
# Usage: wayland_slideshow.sh PROGRAM
set -uo pipefail
program=$1
mode=${2:-}
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "$mode" ]; then
    command -v weston >/dev/null || { echo "weston is not installed: skipped"; exit 77; }
    status=0
    # The smooth frames and the controls over the scene, for each way the frames can reach the
    # compositor (the subsurface unless another is forced; here each is forced in turn).
    for way in subsurface composed read-back; do
        export LUMIVANE_WAYLAND_FRAMES=$way
        "$here/weston_session.sh" "$0" "$program" native || status=1
        "$here/weston_session.sh" --keyboard "$0" "$program" controls || status=1
    done
    unset LUMIVANE_WAYLAND_FRAMES
    "$here/weston_session.sh" "$0" "$program" session || status=1
    "$here/weston_session.sh" --size 1280x480 "$0" "$program" second-output || status=1
    "$here/weston_session.sh" --keyboard "$0" "$program" escape || status=1
    exit $status
fi

echo "$mode: frames ${LUMIVANE_WAYLAND_FRAMES:-the way the program chooses}"
scratch=$(mktemp -d)
pid=
nested=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$nested" ] && kill "$nested" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/pictures" "$scratch/shots"
# Magenta appears nowhere else on the output, so seeing it means the picture is on screen.
convert -size 640x480 xc:'#ff00ff' "$scratch/pictures/a.jpg"
# The controls run has a second picture, green, that a click brings.
[ "$mode" = controls ] && convert -size 640x480 xc:'#00ff00' "$scratch/pictures/b.jpg"
export SDL_AUDIODRIVER=dummy
# The part of the screenshot that the window must cover, and the part it must leave alone.
covered=
other=
case $mode in
native)
    # In smooth motion, paced by the compositor's frame callbacks.
    env -u DISPLAY QT_QPA_PLATFORM=wayland LUMIVANE_FRAME_LOG="$scratch/frames" "$program" \
        --motion=smooth "$scratch/pictures" >"$scratch/out" 2>&1 &
    ;;
escape | controls)
    env -u DISPLAY QT_QPA_PLATFORM=wayland "$program" "$scratch/pictures" >"$scratch/out" 2>&1 &
    ;;
session)
    env -u QT_QPA_PLATFORM DISPLAY=:97 XDG_SESSION_TYPE=wayland \
        "$program" "$scratch/pictures" >"$scratch/out" 2>&1 &
    ;;
second-output)
    # A nested weston with two 640 x 480 outputs side by side, and a copy of the program with a
    # settings file beside it choosing monitor 1.
    weston --backend=wayland-backend.so --use-pixman --output-count=2 --width=640 --height=480 \
        --socket=lumivane-nested --no-config --debug --log="$scratch/nested.log" 2>/dev/null &
    nested=$!
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/lumivane-nested" ] && break
        sleep 0.1
    done
    sleep 0.5
    export WAYLAND_DISPLAY=lumivane-nested
    mkdir -p "$scratch/app"
    cp "$program" "$scratch/app/lumivane"
    printf '[DEF]\nMONITOR=1\n' >"$scratch/app/lumivane.ini"
    env -u DISPLAY QT_QPA_PLATFORM=wayland "$scratch/app/lumivane" "$scratch/pictures" \
        >"$scratch/out" 2>&1 &
    covered=640x480+640+0
    other=640x480+0+0
    ;;
esac
pid=$!

# What a region of the output shows: the share of it that is the picture, and the share of its
# top 32 rows (where weston's panel lies) that is the panel's dark grey.
shares() {
    local region=$1
    local x=${region#*+}
    picture=$(convert "$shot" -alpha off -crop "$region" +repage -fuzz 10% -fill black \
        +opaque '#ff00ff' -fill white -opaque '#ff00ff' -colorspace Gray -format '%[fx:mean]' info:)
    panel=$(convert "$shot" -alpha off -crop "${region%%x*}x32+$x" +repage \
        -fx 'abs(r-g)<0.08 && abs(g-b)<0.08 && b<0.4 ? 1 : 0' -format '%[fx:mean]' info:)
}
shot=
look() {
    rm -f "$scratch"/shots/*.png
    (cd "$scratch/shots" && weston-screenshooter >/dev/null 2>&1) || return 1
    shot=$(ls "$scratch"/shots/*.png 2>/dev/null | head -n 1)
    [ -n "$shot" ] || return 1
    shares "${covered:-$(identify -format '%wx%h+0+0' "$shot")}"
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
if [ -n "$other" ]; then
    shares "$other"
    if ! awk -v p="$picture" -v q="$panel" 'BEGIN { exit !(p == 0 && q > 0.5) }'; then
        echo "$mode: the window reached the other output too (picture $picture, panel $panel)"
        exit 1
    fi
fi
# The share of a region of the last screenshot that is the colour given; "text" counts the
# pixels of white text smoothed over blue (more than half red), which plain blue never is.
share() {
    if [ "$2" = text ]; then
        convert "$shot" -alpha off -crop "$1" +repage -channel R -separate -threshold 50% \
            -format '%[fx:mean]' info:
        return
    fi
    convert "$shot" -alpha off -crop "$1" +repage -fuzz 10% -fill black +opaque "$2" \
        -fill white -opaque "$2" -colorspace Gray -format '%[fx:mean]' info:
}
shoot() {
    rm -f "$scratch"/shots/*.png
    (cd "$scratch/shots" && weston-screenshooter >/dev/null 2>&1) || return 1
    shot=$(ls "$scratch"/shots/*.png 2>/dev/null | head -n 1)
    [ -n "$shot" ]
}
# Waits up to 5 s for a screenshot where the region shows more than `least` of the colour (or,
# with a negative least, at most -least of it).
await() {
    local region=$1 colour=$2 least=$3 seen=0
    for _ in $(seq 20); do
        if shoot; then
            seen=$(share "$region" "$colour")
            awk -v s="$seen" -v l="$least" 'BEGIN { exit !(l >= 0 ? s > l : s <= -l) }' && return 0
        fi
        sleep 0.25
    done
    echo "$mode: $region shows $seen of $colour (wanted $least)"
    [ -n "${LUMIVANE_KEEP_SHOT:-}" ] && cp "$shot" "$LUMIVANE_KEEP_SHOT"
    return 1
}
if [ "$mode" = controls ]; then
    width=$(identify -format '%w' "$shot")
    # The close button at the top right, its light grey face above the scene.
    await "57x29+$((width - 57))+0" '#efefef' 0.4 || exit 1
    echo "controls: the close button is over the scene"
    window=$(xdotool search --class weston | head -n 1)
    clicked=no
    for _ in $(seq 3); do
        xdotool windowfocus --sync "$window"
        xdotool mousemove --window "$window" 200 200 click 1
        if await "$(identify -format '%wx%h+0+0' "$shot")" '#00ff00' 0.02; then
            clicked=yes
            break
        fi
    done
    [ $clicked = yes ] || exit 1
    echo "controls: a click brought the next picture"
    # The marker: a blue bar with "Pause" in white at the top left, held over the scene. Its
    # text is read from x 14 on: the compositor's screenshot may hold its pointer at (0, 0).
    xdotool mousemove --window "$window" 400 500
    xdotool key p
    await 26x19+14+0 text 0.03 || exit 1
    await 399x19+0+0 '#0000ff' 0.8 || exit 1
    sleep 1
    await 26x19+14+0 text 0.03 || exit 1
    echo "controls: P shows the pause marker over the scene, and it stays"
    xdotool key p
    await 26x19+14+0 text -0.005 || exit 1
    echo "controls: P again takes it away"
fi
if [ "$mode" = native ]; then
    # Smooth frames keep coming, one per frame callback: never two within a refresh, and no
    # more than the compositor takes. The test's headless weston calls back about every 26 ms
    # (some 77 frames in 2 s); frames drawn on a timer at its 60 Hz refresh would be about 120.
    before=$(wc -l <"$scratch/frames")
    sleep 2
    awk -v first="$before" 'NR > first { if (NR > first + 1) { gap = $1 - last; if (gap < least || !least) least = gap } last = $1; ++n }
        END { printf "native: %d smooth frames in 2 s, the closest %.1f ms apart\n", n, least / 1000
              exit !(n >= 10 && n <= 100 && least >= 8000) }' "$scratch/frames" || exit 1
fi
[ "$mode" = escape ] || [ "$mode" = controls ] || exit 0

# The compositor's X window takes the key, and the compositor hands it to the surface that has
# its keyboard focus. Which one that is depends on when the X focus reached the compositor:
# taking it in after the program's window was shown, weston gives the keyboard back to whatever
# had it before (on a busy machine, no surface at all). A click on the program's window gives
# it the keyboard whatever came before (and is harmless: the next picture, which is the same
# one). A key that arrives before the compositor has taken in the X focus is lost, so it is
# pressed again while the program runs.
window=$(xdotool search --class weston | head -n 1)
for _ in $(seq 5); do
    xdotool windowfocus --sync "$window"
    xdotool mousemove --window "$window" 200 200 click 1
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
