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

# The limits are what the product promises for a small file (an input is at most 64 KB), with
# AddressSanitizer's own cost (its shadow and its quarantine of freed memory, 256 MB at most)
# included:
# -timeout=2: an input taking longer than 2 s counts as a hang. A file under 1 MB is read within
#   1 s in a Release build; the sanitizers slow it down about twofold.
# -malloc_limit_mb=1024: no single allocation may exceed the largest picture the readers accept
#   (MaxPictureBytes, 1 GiB of 8-bit RGB). A reservation beyond it follows a declared length,
#   not the product's caps.
# -rss_limit_mb=768: memory that is touched must follow the data the input holds. 64 KB of
#   input decodes to at most a few hundred MB of pixels (LZW's and deflate's best ratios), so
#   more than this is memory a header asked for. An input that really holds a picture that large
#   (a blank fax page, say) is no fault; judge such a finding by what the input holds.
# The fuzz targets read at the readers' own size limits, so that what is fuzzed is what runs.
"$build/fuzz/fuzz_$target" "$corpus" \
    -max_total_time="$seconds" -timeout=2 -malloc_limit_mb=1024 -rss_limit_mb=768 \
    -max_len=65536 -artifact_prefix="$build/fuzz-artifacts/$target-" -print_final_stats=1 "$@"
