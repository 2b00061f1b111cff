#!/usr/bin/env bash
# Starts the program on an empty folder in an English and in a C locale, and checks the message
# it gives: "No picture files found" in English, "画像ファイルがありません" in the C locale (the
# program's own Japanese texts). The message box's text is read as a screen reader reads it,
# through the accessibility bus; OK then ends the program.
# Usage: installed_languages.sh [PROGRAM]   (default: lumivane from PATH)
set -uo pipefail
program=${1:-lumivane}
if [ -z "${LUMIVANE_SCREEN_READY:-}" ]; then
    LUMIVANE_SCREEN_READY=1 exec xvfb-run -a -s "-screen 0 800x600x24" \
        dbus-run-session -- "$0" "$@"
fi

scratch=$(mktemp -d)
pid=
bus=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$bus" ] && kill "$bus" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/home" "$scratch/empty"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/config XDG_DATA_HOME=$scratch/home/data
export SDL_AUDIODRIVER=dummy QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM LANGUAGE LC_ALL LC_MESSAGES
# The accessibility bus must be up before the program starts, or Qt does not join it.
/usr/libexec/at-spi-bus-launcher --launch-immediately 2>/dev/null &
bus=$!
sleep 0.5

# Prints the text of the first message box (an "alert") that appears, within 10 s.
read_message_box() {
    /usr/bin/python3 - <<'PYTHON'
import sys, time
import gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi

def find_alert(node, depth=0):
    if node is None or depth > 8:
        return None
    if node.get_role() == Atspi.Role.ALERT:
        return node
    for i in range(node.get_child_count()):
        found = find_alert(node.get_child_at_index(i), depth + 1)
        if found:
            return found
    return None

deadline = time.monotonic() + 10
while time.monotonic() < deadline:
    alert = find_alert(Atspi.get_desktop(0))
    if alert:
        for i in range(alert.get_child_count()):
            child = alert.get_child_at_index(i)
            if child.get_role() == Atspi.Role.LABEL and child.get_name():
                print(child.get_name())
        sys.exit(0)
    time.sleep(0.2)
sys.exit(1)
PYTHON
}

status=0
for expected in "en_US.UTF-8:No picture files found" "C.UTF-8:画像ファイルがありません"; do
    locale=${expected%%:*}
    text=${expected#*:}
    LANG=$locale "$program" "$scratch/empty" >"$scratch/out" 2>&1 &
    pid=$!
    shown=$(read_message_box)
    if [ "$shown" = "$text" ]; then
        echo "LANG=$locale: \"$text\""
    else
        echo "LANG=$locale: the message was \"$shown\", not \"$text\"; the program said:"
        cat "$scratch/out"
        status=1
    fi
    # OK (Return in the box, which has the focus) ends the program.
    xdotool key Return
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "LANG=$locale: OK did not end the program"
        status=1
    fi
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=
done
exit $status
