#!/usr/bin/env bash
# Detail, shimmer and smooth edges of QUALITY=DESIGN against QUALITY=HIGH, on frames that
# lumivane-slide draws offscreen as the window would draw them on a screen of each size.
# Usage: bench/measure_quality.sh [BUILD]   (BUILD defaults to ./build; needs Xvfb)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
slide="$build/tools/lumivane-slide"
measure="$build/bench/quality_measure"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$measure" pictures .
frame() { xvfb-run -a "$slide" --quality="$1" --frame "$2" "$3" "$4" "$5" "$6" >/dev/null 2>&1; }

echo "== Detail kept at the held frame (path 0, camera frame 110), 24 MP JPEGs"
for picture in gradient.jpg photo.jpg; do
    for size in 1920x1080 2560x1440 3840x2160; do
        for quality in design high; do
            frame $quality $picture 0 110 $size held.png
            printf '%-12s %-9s %-6s %s\n' "$picture" "$size" "$quality" "$("$measure" detail held.png $picture)"
        done
    done
done

echo "== Shimmer: 1-pixel stripes, path 1, camera frames 40..75"
for size in 1920x1080 3840x2160; do
    for quality in design high; do
        rm -f stripes-*.png
        for f in $(seq 40 75); do frame $quality stripes.bmp 1 $f $size "stripes-$f.png"; done
        printf '%-9s %-6s %s\n' "$size" "$quality" "$("$measure" shimmer stripes.bmp 1 stripes-*.png)"
    done
done

echo "== Smooth edges: the frame's slanted outer edges, path 0, camera frame 70"
for size in 1920x1080 3840x2160; do
    for quality in design high; do
        frame $quality gradient.jpg 0 70 $size edges.png
        printf '%-9s %-6s %s\n' "$size" "$quality" "$("$measure" edges edges.png gradient.jpg 0 70)"
    done
done
