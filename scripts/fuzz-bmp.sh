#!/bin/sh
# Bounded fuzz run of the bitmap reader: load + hand-over under libFuzzer, ASan and UBSan.
# Usage: scripts/fuzz-bmp.sh SECONDS
# Builds the fuzzer with clang in build-fuzz, runs it for SECONDS on a copy of the seed corpus
# (fuzz/corpus/bmp), and exits non-zero on any crash, hang, leak or sanitizer report. Inputs that
# fail are written to build-fuzz/fuzz-artifacts/; keep them in tests/data/bmp/.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 SECONDS" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIVANE_FUZZ=ON -DLUMIVANE_TESTS=OFF -DLUMIVANE_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_bmp

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$root"/fuzz/corpus/bmp/* "$corpus"/
if [ -d "$root/tests/data/bmp" ]; then
    cp "$root"/tests/data/bmp/* "$corpus"/ 2>/dev/null || true
fi
mkdir -p "$build/fuzz-artifacts"

# -timeout: a single input running longer than 10 s counts as a hang.
# -rss_limit_mb: the reader must never need more than this for a small input.
"$build/fuzz/fuzz_bmp" "$corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$build/fuzz-artifacts/" -print_final_stats=1
