#!/usr/bin/env bash
# The colour goals of QUALITY=HIGH on the textures lumivane-slide --quality=high writes: a
# picture with red and green swapped and a profile that swaps them back, per format, and a
# picture converted into a wide-gamut space with its profile, per space and format, each against
# the original's texture; then the cost of a profile on a 24 MP JPEG at T = 2048.
# Usage: bench/measure_colours.sh [BUILD]   (BUILD defaults to ./build)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
slide="$build/tools/lumivane-slide"
measure="$build/bench/colour_measure"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$measure" pictures .
texture() { "$slide" --quality=high "$1" "${1%.*}-${1##*.}.ppm" >/dev/null; }
for picture in *.jpg *.png *.webp *.tiff *.heic *.avif; do texture "$picture"; done

echo "== Channel swap: texture against the original's (design mode: no conversion)"
for ext in jpg png webp tiff heic avif; do
    printf '%-5s high   %s\n' "$ext" "$("$measure" compare swap-$ext.ppm original-$ext.ppm)"
    "$slide" "swap.$ext" design.ppm >/dev/null
    "$slide" "original.$ext" design-original.ppm >/dev/null
    printf '%-5s design %s\n' "$ext" "$("$measure" compare design.ppm design-original.ppm)"
done

echo "== Wide gamut: texture against the original's"
for space in adobergb displayp3 prophoto rec2020; do
    for ext in jpg png webp tiff; do
        printf '%-10s %-5s %s\n' "$space" "$ext" \
            "$("$measure" compare $space-$ext.ppm original-$ext.ppm)"
    done
done
printf '%-10s %-5s %s\n' "p3 (cicp)" avif "$("$measure" compare p3-cicp-avif.ppm original-avif.ppm)"

echo "== Cost"
"$measure" cost
