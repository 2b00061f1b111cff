#!/usr/bin/env bash
# Regenerates samples/, the search screen's splash picture and the program's icon from
# scripts/make_samples.cpp.
# The results are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O1 -fPIC scripts/make_samples.cpp -o "$out/make_samples" $(pkg-config --cflags --libs Qt6Gui)
rm -rf samples
QT_QPA_PLATFORM=offscreen "$out/make_samples" samples app/resources/splash.bmp \
    app/desktop/org.example.lumivane.svg
