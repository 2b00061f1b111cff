#!/usr/bin/env bash
# Starts the program again and again on an X server of its own that resets whenever its last
# client leaves, each time right after a short-lived client (as a kiosk script runs "xset s off"
# before the slideshow), and checks that every start reaches its window. A start whose display
# connection lands in the server's reset aborts instead.
# Usage: startup_race.sh PROGRAM PICTURE_FOLDER [STARTS]
set -uo pipefail
program=$1
pictures=$2
starts=${3:-30}

scratch=$(mktemp -d)
server=
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# Without -noreset: the server resets when its last client disconnects. It writes the display
# number it chose once it accepts connections.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
server=$!
for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
if [ ! -s "$scratch/display" ]; then
    echo "Xvfb did not start:"; cat "$scratch/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -n 1 "$scratch/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY

failures=0
for run in $(seq "$starts"); do
    # The short-lived client. It can itself meet the reset that the previous run's end started,
    # so it is retried; only the program's own start is under test.
    for _ in $(seq 50); do
        xset q >/dev/null 2>&1 && break
        sleep 0.05
    done
    "$program" "$pictures" >"$scratch/out" 2>&1 &
    pid=$!
    reached=no
    # Looking too early would connect a client of our own, which would keep the server from
    # resetting and hide the fault.
    sleep 0.3
    for _ in $(seq 150); do
        if ! kill -0 "$pid" 2>/dev/null; then
            break
        fi
        if xwininfo -name Lumivane 2>/dev/null | grep -q 'Map State: IsViewable'; then
            reached=yes
            break
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    if [ "$reached" != yes ]; then
        failures=$((failures + 1))
        echo "start $run did not reach its window:"
        sed 's/^/    /' "$scratch/out"
    fi
done
echo "$((starts - failures)) of $starts starts reached their window"
[ "$failures" -eq 0 ]
