#!/usr/bin/env bash
# Starts the program again and again on an X server of its own that resets whenever its last
# client leaves, each time right after a single short-lived client (as a kiosk script runs
# "xset s off" before the slideshow), and checks that every start reaches its window. A start
# whose display connection lands in the server's reset must wait the reset out.
# Usage: startup_race.sh PROGRAM PICTURE_FOLDER [STARTS]   (exits 77 when strace cannot attach)
set -uo pipefail
. "$(dirname "$0")/own_xvfb.sh"
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

# The server resets when its last client disconnects.
start_own_xvfb "$scratch"
export DISPLAY=":$display_number"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY XAUTHORITY

# Whether the program holds a socket, which before its window can only be its X connection.
holds_socket() {
    find "/proc/$1/fd" -lname 'socket:*' 2>/dev/null | grep -q .
}

# On an idle machine the server notices at once that the short-lived client has left, resets,
# and only then sees the program's connection, so the race is rare. On a busy machine it notices
# late, and the program's connection is accepted just before the reset drops it. That is made
# certain here: while the client and the program start, every wait of the server for work is
# delayed by 0.1 s, which is mostly long enough for the program to connect first.
slow_server() {
    strace -qq -o /dev/null -p "$server" -e trace=epoll_wait \
        -e inject=epoll_wait:delay_enter=100000 &
    tracer=$!
    for _ in $(seq 500); do
        grep -q "^TracerPid:[[:space:]]*$tracer\$" "/proc/$server/status" && return
        kill -0 "$tracer" 2>/dev/null || break
        sleep 0.01
    done
    # Without it the test would pass on a program that loses the race.
    echo "strace cannot slow the X server (is ptrace allowed here?); skipped"
    exit 77
}
normal_server() {
    kill "$tracer" 2>/dev/null
    wait "$tracer" 2>/dev/null
}

failures=0
for run in $(seq "$starts"); do
    slow_server
    # As a kiosk script does: one short-lived client, whatever its outcome, and the program at
    # once.
    xset q >/dev/null 2>&1
    "$program" "$pictures" >"$scratch/out" 2>&1 &
    pid=$!
    # A client of our own connected before the program would keep the server from resetting
    # and hide the fault, so nothing is asked of the server until the program holds its own
    # connection (or has given up and ended).
    for _ in $(seq 500); do
        kill -0 "$pid" 2>/dev/null || break
        holds_socket "$pid" && break
        sleep 0.01
    done
    normal_server
    wait_for_window "$pid"
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
