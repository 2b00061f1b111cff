#!/usr/bin/env bash
# Starts the program on an empty folder in an English and in a C locale and reads its message as
# a screen reader does, through the accessibility bus: "No picture files found" in English,
# "画像ファイルがありません" (the program's own texts) in C. Return (OK) then ends the program.
# Usage: installed_languages.sh [PROGRAM]   (default: lumivane from PATH)
set -uo pipefail
program=${1:-lumivane}
if [ -z "${LUMIVANE_SCREEN_READY:-}" ]; then
    LUMIVANE_SCREEN_READY=1 exec xvfb-run -a -s "-screen 0 800x600x24" \
        dbus-run-session -- "$0" "$@"
fi
scratch=$(mktemp -d)
trap 'kill $bus 2>/dev/null; rm -rf "$scratch"' EXIT
mkdir -p "$scratch/empty"
export HOME=$scratch SDL_AUDIODRIVER=dummy QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
unset QT_QPA_PLATFORM LANGUAGE LC_ALL LC_MESSAGES
# Qt joins the accessibility bus only when it is up before the program starts.
/usr/libexec/at-spi-bus-launcher --launch-immediately 2>/dev/null &
bus=$!
sleep 0.5

# Prints the labels of the first message box (an "alert") that appears within 10 s.
read_message_box() {
    /usr/bin/python3 - <<'PYTHON'
import time, gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
def alert_in(node, depth=0):
    if node is None or depth > 8 or node.get_role() == Atspi.Role.ALERT:
        return node
    for i in range(node.get_child_count()):
        found = alert_in(node.get_child_at_index(i), depth + 1)
        if found is not None and found.get_role() == Atspi.Role.ALERT:
            return found
    return None
for _ in range(50):
    alert = alert_in(Atspi.get_desktop(0))
    if alert is not None:
        labels = (alert.get_child_at_index(i) for i in range(alert.get_child_count()))
        print("\n".join(l.get_name() for l in labels if l.get_role() == Atspi.Role.LABEL and l.get_name()))
        break
    time.sleep(0.2)
PYTHON
}

status=0
for expected in "en_US.UTF-8:No picture files found" "C.UTF-8:画像ファイルがありません"; do
    locale=${expected%%:*} text=${expected#*:}
    LANG=$locale "$program" "$scratch/empty" >"$scratch/out" 2>&1 &
    pid=$!
    shown=$(read_message_box)
    xdotool key Return
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null && sleep 0.1; done
    if [ "$shown" = "$text" ] && ! kill "$pid" 2>/dev/null; then
        echo "LANG=$locale: \"$text\", and OK ended the program"
    else
        echo "LANG=$locale: the message was \"$shown\", not \"$text\", or OK did not end the program:"
        cat "$scratch/out"
        status=1
    fi
    wait "$pid" 2>/dev/null
done
exit $status
