#!/usr/bin/env bash
# Starts the installed program as a desktop menu would: no argument, the user's own folders in
# a scratch home holding a settings file and a Pictures folder with two pictures. Passes when the
# slideshow of those pictures appears on the screen and Escape then ends the program cleanly.
# Usage: installed_slideshow.sh [PROGRAM]   (default: lumivane from PATH)
set -uo pipefail
program=${1:-lumivane}
if [ -z "${LUMIVANE_SCREEN_READY:-}" ]; then
    LUMIVANE_SCREEN_READY=1 exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi

scratch=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

mkdir -p "$scratch/home/Pictures" "$scratch/config/lumivane" "$scratch/data" "$scratch/elsewhere"
printf '[DEF]\nMONITOR=0\n' >"$scratch/config/lumivane/lumivane.ini"
# Magenta appears nowhere else on the screen, so seeing it means a picture is being shown.
convert -size 320x240 xc:'#ff00ff' "$scratch/home/Pictures/one.jpg"
convert -size 240x320 xc:'#ff00ff' BMP3:"$scratch/home/Pictures/two.bmp"

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
export SDL_AUDIODRIVER=dummy
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
cd "$scratch/elsewhere"
"$program" >"$scratch/out" 2>&1 &
pid=$!

# The share of the screen that is magenta.
magenta() {
    import -window root "$scratch/shot.png" 2>/dev/null &&
        convert "$scratch/shot.png" -alpha off -fuzz 10% -fill black +opaque '#ff00ff' \
            -fill white -opaque '#ff00ff' -colorspace Gray -format '%[fx:mean]' info:
}

shown=no
for _ in $(seq 40); do
    kill -0 "$pid" 2>/dev/null || break
    share=$(magenta || echo 0)
    if awk -v s="$share" 'BEGIN { exit !(s > 0.01) }'; then
        shown=yes
        break
    fi
    sleep 0.5
done
if [ "$shown" != yes ]; then
    echo "the slideshow of the Pictures folder did not appear; the program said:"
    cat "$scratch/out"
    exit 1
fi
echo "the slideshow shows the Pictures folder (${share} of the screen is picture)"

window=$(xdotool search --onlyvisible --name '^Lumivane$' | head -n 1)
xdotool windowfocus --sync "$window" key Escape
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
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
