#!/usr/bin/env bash
# Starts the program on a display whose socket does not exist yet, as when a session starts the
# slideshow while its X server is still coming up, and lets the socket appear only once the
# program has been refused at least once and is waiting to try again. The program must then
# connect and reach its window. (The same wait carries a start over an X server's reset, which
# startup_race.sh provokes where ptrace is allowed.)
# Usage: startup_late_display.sh PROGRAM PICTURE_FOLDER
set -uo pipefail
. "$(dirname "$0")/own_xvfb.sh"
program=$1
pictures=$2

scratch=$(mktemp -d)
server=
pid=
link=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    [ -n "$link" ] && rm -f "$link"
    rm -rf "$scratch"
}
trap cleanup EXIT

# A server of the test's own, ready before the program starts: the socket that appears late is a
# link to it under a display number nobody uses.
start_own_xvfb "$scratch"
real=$display_number
late=
for number in $(seq 700 799); do
    if [ ! -e "/tmp/.X11-unix/X$number" ] && [ ! -e "/tmp/.X$number-lock" ]; then
        late=$number
        break
    fi
done
[ -n "$late" ] || { echo "no free display number"; exit 1; }
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY
export SDL_AUDIODRIVER=dummy

DISPLAY=":$late" "$program" "$pictures" >"$scratch/out" 2>&1 &
pid=$!
# Refused, the program pauses before it tries again: its main thread then sleeps in the kernel.
# Nothing else sleeps so before the display is open.
waiting=no
for _ in $(seq 1000); do
    kill -0 "$pid" 2>/dev/null || break
    if grep -q nanosleep "/proc/$pid/wchan" 2>/dev/null; then
        waiting=yes
        break
    fi
    sleep 0.01
done
if [ "$waiting" != yes ]; then
    echo "the program did not wait for the display; it said:"
    cat "$scratch/out"
    exit 1
fi
link=/tmp/.X11-unix/X$late
ln -s "/tmp/.X11-unix/X$real" "$link"

DISPLAY=":$real" wait_for_window "$pid"
if [ "$reached" != yes ]; then
    echo "the program did not reach its window once the display appeared; it said:"
    cat "$scratch/out"
    exit 1
fi
echo "the program waited for the display and reached its window"
