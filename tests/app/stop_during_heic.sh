#!/usr/bin/env bash
# A phone-style HEIC (a grid of 192 tiles of 512 x 512 pixels) stopped while it decodes. The
# texture tool reads a copy that is cut short under it at several moments, and must end as it
# does for any unreadable file; the slideshow, started on a folder holding the photo, is sent
# Escape at several moments of its decode, and must end with status 0 within 0.5 s each time.
# Before, libheif stopped the process on the failed read either way (status 134).
# Usage: stop_during_heic.sh PROGRAM MAKE_HEIF_GRID SLIDE_TOOL
set -uo pipefail
. "$(dirname "$0")/own_xvfb.sh"
program=$1
make_grid=$2
slide_tool=$3

scratch=$(mktemp -d)
server=
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/pictures"
"$make_grid" "$scratch/photo.heic" 16 12 512 || { echo "cannot write the photo"; exit 1; }
cp "$scratch/photo.heic" "$scratch/pictures/a.heic"
cp "$scratch/photo.heic" "$scratch/pictures/b.heic"
now() { date +%s.%N; }
failures=0

# The texture tool, its file cut to a third while it reads.
for delay in 0.1 0.3 0.6; do
    cp "$scratch/photo.heic" "$scratch/cut.heic"
    "$slide_tool" "$scratch/cut.heic" "$scratch/out.ppm" >"$scratch/slide.out" 2>&1 &
    tool=$!
    sleep "$delay"
    truncate -s "$(($(stat -c %s "$scratch/photo.heic") / 3))" "$scratch/cut.heic"
    wait "$tool"
    status=$?
    echo "texture tool, file cut after ${delay} s: status $status ($(tr '\n' ' ' <"$scratch/slide.out"))"
    [ "$status" -eq 0 ] || failures=$((failures + 1))
done

start_own_xvfb "$scratch"
export DISPLAY=":$display_number" SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY

for delay in 0 0.2 0.5 0.9 1.4; do
    "$program" --formats=all "$scratch/pictures" >"$scratch/out" 2>&1 &
    pid=$!
    wait_for_window "$pid"
    if [ "$reached" != yes ]; then
        echo "no window:"; cat "$scratch/out"; exit 1
    fi
    sleep "$delay"
    window=$(xdotool search --onlyvisible --name '^Lumivane$' | head -n 1)
    xdotool windowfocus --sync "$window" key Escape
    pressed=$(now)
    for _ in $(seq 250); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.02
    done
    ended=$(now)
    if kill -0 "$pid" 2>/dev/null; then
        echo "Escape ${delay} s after the window did not end the program"
        kill -9 "$pid"
    fi
    wait "$pid"
    status=$?
    pid=
    took=$(awk -v a="$pressed" -v b="$ended" 'BEGIN { printf "%.2f", b - a }')
    echo "Escape ${delay} s after the window: status $status after ${took} s"
    if [ "$status" -ne 0 ] || awk -v t="$took" 'BEGIN { exit !(t > 0.5) }'; then
        failures=$((failures + 1))
        sed 's/^/    /' "$scratch/out"
    fi
done
[ "$failures" -eq 0 ]
