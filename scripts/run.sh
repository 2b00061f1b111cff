#!/usr/bin/env bash
# Builds Lumivane and starts the slideshow on FOLDER (default: the bundled samples/ folder).
# Installs whatever is missing first. Usage: scripts/run.sh [FOLDER]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-$root/samples}
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target lumivane
exec "$root/build/app/lumivane" "$folder"
