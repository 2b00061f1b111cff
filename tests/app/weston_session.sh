#!/usr/bin/env bash
# Runs a command as a native Wayland client of a weston compositor of its own, then stops the
# compositor and exits with the command's status. The compositor is headless (no input devices),
# or with --keyboard nested in a virtual X display, where it has a seat with a keyboard and a
# pointer that xdotool can drive. Either way it renders with pixman and lets weston-screenshooter
# read its output. Exits 77 (skipped) where weston is not installed.
# Usage: weston_session.sh [--keyboard] [--size WIDTHxHEIGHT] [--idle-time SECONDS] COMMAND [ARGS...]
# --idle-time lets the compositor go idle (fade the output to black and lock) after SECONDS
# without input; by default it never does.
# The command sees WAYLAND_DISPLAY and XDG_RUNTIME_DIR; QT_QPA_PLATFORM is left to the caller.
set -uo pipefail
keyboard=no
size=800x600
idle=0
while [ $# -gt 0 ]; do
    case $1 in
    --keyboard) keyboard=yes; shift ;;
    --size) size=$2; shift 2 ;;
    --idle-time) idle=$2; shift 2 ;;
    *) break ;;
    esac
done
if ! command -v weston >/dev/null; then
    echo "weston is not installed: skipped"
    exit 77
fi
if [ "$keyboard" = yes ] && [ -z "${LUMIVANE_WESTON_X:-}" ]; then
    LUMIVANE_WESTON_X=1 exec xvfb-run -a -s "-screen 0 ${size}x24" \
        "$0" --keyboard --size "$size" --idle-time "$idle" "$@"
fi

runtime=$(mktemp -d) # private (0700), as XDG_RUNTIME_DIR must be
compositor=
cleanup() {
    [ -n "$compositor" ] && kill "$compositor" 2>/dev/null && wait "$compositor" 2>/dev/null
    rm -rf "$runtime"
}
trap cleanup EXIT

backend=headless-backend.so
[ "$keyboard" = yes ] && backend=x11-backend.so
export XDG_RUNTIME_DIR=$runtime
socket=lumivane-test
XDG_RUNTIME_DIR=$runtime weston --backend=$backend --use-pixman --socket=$socket \
    --width="${size%x*}" --height="${size#*x}" --idle-time="$idle" --no-config --debug \
    --log="$runtime/weston.log" 2>/dev/null &
compositor=$!
# The socket appears once the compositor accepts clients; its shell needs a moment more.
for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
    echo "weston did not start:"
    cat "$runtime/weston.log"
    exit 1
fi
sleep 0.5
export WAYLAND_DISPLAY=$socket
"$@"
status=$?
exit $status
