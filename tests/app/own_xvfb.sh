# Shell functions for the start-up tests, sourced by them: an X server of the test's own, and the
# wait for the program's window on it.

# Starts Xvfb on a display number it chooses and waits until it accepts connections (it writes
# the number then), in the background without -noreset, so it resets whenever its last client
# leaves. Sets `server` to its process id and `display_number`; ends the test when it does not
# start. $1 is the test's scratch folder.
start_own_xvfb() {
    Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$1/display" 2>"$1/xvfb.log" &
    server=$!
    for _ in $(seq 100); do
        [ -s "$1/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$1/display" ]; then
        echo "Xvfb did not start:"; cat "$1/xvfb.log"; exit 1
    fi
    display_number=$(head -n 1 "$1/display")
}

# Waits up to 15 s for the program $1 to show its window on $DISPLAY, or to end. Sets `reached`
# to yes or no.
wait_for_window() {
    reached=no
    for _ in $(seq 150); do
        kill -0 "$1" 2>/dev/null || break
        if xwininfo -name Lumivane 2>/dev/null | grep -q 'Map State: IsViewable'; then
            reached=yes
            break
        fi
        sleep 0.1
    done
}
