#!/usr/bin/env bash
# Builds Lumivane and runs every test: the whole suite under a virtual X display, the unit tests
# again under AddressSanitizer + UndefinedBehaviorSanitizer, the search thread's tests under
# ThreadSanitizer, and a short fuzzing run of the bitmap reader.
# Installs whatever is missing first. Usage: scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/install-deps.sh"

jobs=$(nproc)
passed=0
failed=0
summary() {
    # Adds up CTest's closing line ("..., N tests failed out of M").
    local line
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1 || true)
    if [ -n "$line" ]; then
        local f t
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + t - f))
        failed=$((failed + f))
    fi
}
status=0
run_ctest() {
    local log
    log=$(mktemp)
    if ! "$@" 2>&1 | tee "$log"; then
        status=1
    fi
    summary "$log"
    rm -f "$log"
}

echo "== Build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"

echo "== Build with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVANE_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"

echo "== Build with ThreadSanitizer (search thread tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVANE_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_searchthread

echo "== Tests"
run_ctest xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir build --output-on-failure --timeout 600

echo "== Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
run_ctest env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -L unit --output-on-failure --timeout 900

echo "== Search thread tests under ThreadSanitizer"
run_ctest env TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan -L thread --output-on-failure --timeout 900

echo "== Fuzzing the bitmap reader (short run)"
if "$root/scripts/fuzz-bmp.sh" "${LUMIVANE_FUZZ_SECONDS:-60}"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
    status=1
fi

echo
echo "$passed passed, $failed failed"
exit $status
