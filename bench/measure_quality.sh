#!/usr/bin/env bash
# Detail, shimmer and smooth edges of QUALITY=DESIGN against QUALITY=HIGH: on screenshots of the
# real window at held camera frames, read from the X server as they reach the screen
# (window_shots), and on the frames lumivane-slide draws offscreen for a screen of each size.
# Usage: bench/measure_quality.sh [BUILD] [window|offscreen]   (BUILD defaults to ./build, both
# kinds are measured by default; needs Xvfb)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
slide="$build/tools/lumivane-slide"
measure="$build/bench/quality_measure"
shots="$build/bench/window_shots"
kinds=${2:-window offscreen}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$measure" pictures .
offscreen() { xvfb-run -a "$slide" --quality="$1" --frame "$2" "$3" "$4" "$5" "$6" >/dev/null 2>&1; }
# window QUALITY PICTURE PATH FRAMES SIZE PREFIX: the real window's frames as PREFIX-NNN.png.
window() {
    xvfb-run -a -s "-screen 0 ${5}x24" "$shots" --quality="$1" "$2" "$3" "$4" "$6" >/dev/null 2>&1
}

for kind in $kinds; do
echo "######## $kind"
if [ "$kind" = window ]; then
    frame() { window "$1" "$2" "$3" "$4" "$5" "${6%-*}"; }
    frames() { window "$1" "$2" "$3" "$(seq -s, "$4" "$5")" "$6" stripes; }
else
    frame() { offscreen "$1" "$2" "$3" "$4" "$5" "$6"; }
    frames() { for f in $(seq "$4" "$5"); do offscreen "$1" "$2" "$3" "$f" "$6" "stripes-$f.png"; done; }
fi

echo "== Detail kept at the held frame (path 0, camera frame 110), 24 MP JPEGs"
for picture in gradient.jpg photo.jpg; do
    for size in 1920x1080 2560x1440 3840x2160; do
        for quality in design high; do
            frame $quality $picture 0 110 $size held-110.png
            printf '%-12s %-9s %-6s %s\n' "$picture" "$size" "$quality" "$("$measure" detail held-110.png $picture)"
        done
    done
done

echo "== Shimmer: 1-pixel stripes, path 1, camera frames 40..75"
for size in 1920x1080 2560x1440 3840x2160; do
    for quality in design high; do
        rm -f stripes-*.png
        frames $quality stripes.bmp 1 40 75 $size
        printf '%-9s %-6s %s\n' "$size" "$quality" "$("$measure" shimmer stripes.bmp 1 stripes-*.png)"
    done
done

echo "== Smooth edges: the frame's slanted outer edges, path 0, camera frame 70"
for size in 1920x1080 3840x2160; do
    for quality in design high high-multisampling; do
        LUMIVANE_EDGE_SMOOTHING=$([ $quality = high-multisampling ] && echo multisampling || true) \
            frame ${quality%-*} gradient.jpg 0 70 $size edges-70.png
        printf '%-9s %-18s %s\n' "$size" "$quality" "$("$measure" edges edges-70.png gradient.jpg 0 70)"
    done
done
done
