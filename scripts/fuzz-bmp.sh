#!/bin/sh
# Bounded fuzz run of the bitmap reader: load + hand-over under libFuzzer, ASan and UBSan.
# Usage: scripts/fuzz-bmp.sh SECONDS (the same as scripts/fuzz.sh bmp SECONDS).
exec "$(dirname "$0")/fuzz.sh" bmp "$@"
