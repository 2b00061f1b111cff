#!/usr/bin/env bash
# Builds the Debian package of Lumivane in Release, for the prefix /usr, and prints its path.
# Installs whatever is missing first.
# Usage: scripts/package.sh [BUILD_DIR]   (default: build-package)
# An existing Release build folder may be given to package what it has built; its tests and
# benchmarks are left out of the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
"$root/scripts/install-deps.sh"

options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr)
if [ ! -f "$build/CMakeCache.txt" ]; then
    # A folder of its own needs neither tests nor benchmarks.
    options+=(-DLUMIVANE_TESTS=OFF -DLUMIVANE_BENCH=OFF)
fi
cmake -S "$root" -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target lumivane lumivane_man
rm -f "$build"/lumivane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/lumivane_*.deb
