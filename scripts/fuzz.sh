#!/bin/sh
# Bounded fuzz run of one libFuzzer target under ASan and UBSan.
# Usage: scripts/fuzz.sh TARGET SECONDS [LIBFUZZER OPTIONS...]
#   TARGET bmp:   the bitmap reader, load + hand-over (seeds: fuzz/corpus/bmp)
#   TARGET slide: the whole picture path of a change of slide, the same bytes as a .jpg and as a
#                 .bmp (seeds: fuzz/corpus/slide and fuzz/corpus/bmp)
#   TARGET png, gif, webp, tiff, heif: that format's reader and the scaling into the texture
#                 (seeds: fuzz/corpus/TARGET, written by fuzz/make_format_seeds.cpp; heif holds
#                 HEIC and AVIF files)
# Builds the fuzzer with clang in build-fuzz, runs it for SECONDS on a copy of its seeds, and exits
# non-zero on any crash, hang, leak, sanitizer report or failed check. Inputs that fail are
# written to build-fuzz/fuzz-artifacts/; keep them in tests/data/bmp/ (bitmaps),
# tests/data/FORMAT/ (the further formats) or tests/data/slide/ (anything else).
set -eu

if [ $# -lt 2 ]; then
    echo "usage: $0 bmp|slide|png|gif|webp|tiff|heif SECONDS [LIBFUZZER OPTIONS...]" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
case $target in
bmp) seeds="bmp" ;;
slide) seeds="slide bmp" ;;
png | gif | webp | tiff | heif) seeds=$target ;;
*)
    echo "$0: unknown target $target (bmp, slide, png, gif, webp, tiff or heif)" >&2
    exit 2
    ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLUMIVANE_FUZZ=ON -DLUMIVANE_TESTS=OFF -DLUMIVANE_BENCH=OFF >/dev/null
cmake --build "$build" --target "fuzz_$target"

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
for folder in $seeds; do
    cp "$root/fuzz/corpus/$folder"/* "$corpus"/
    if [ -d "$root/tests/data/$folder" ]; then
        cp "$root/tests/data/$folder"/* "$corpus"/ 2>/dev/null || true
    fi
done
mkdir -p "$build/fuzz-artifacts"

# -timeout: a single input running longer than 10 s counts as a hang.
# -rss_limit_mb: the picture path must never need more than this for a small input.
"$build/fuzz/fuzz_$target" "$corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$build/fuzz-artifacts/$target-" -print_final_stats=1 "$@"
