#!/usr/bin/env bash
# Builds Lumivane and runs every test: the whole suite under a virtual X display (its Wayland
# tests start weston compositors of their own, headless or nested in that display), the unit tests
# again under AddressSanitizer + UndefinedBehaviorSanitizer, the search thread's and the picture
# preparer's tests under ThreadSanitizer, a short fuzzing run of the bitmap reader and of the
# whole picture path, and the Debian package: built, inspected, installed, and the installed
# program started as a desktop menu would start it.
# The main build is a Release build, so that what users and packagers build is built and tested
# here too; every build treats warnings as errors.
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
# The prefix is the package's, so that a Release build here can be packaged as it is.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DLUMIVANE_WERROR=ON >/dev/null
cmake --build build -j"$jobs"

echo "== Build with AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVANE_SANITIZE=ON \
    -DLUMIVANE_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"

echo "== Build with ThreadSanitizer (search thread, picture preparer, show and watch tests)"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIVANE_TSAN=ON \
    -DLUMIVANE_WERROR=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_searchthread test_slidepreparer test_colourprofile \
    test_showcontroller test_watchedshow test_showwatch \
    test_folderwatcher

# The tests run on displays of their own (Xvfb, weston), even when this script is started from a
# Wayland desktop, where Qt would otherwise choose the desktop's compositor.
unset WAYLAND_DISPLAY WAYLAND_SOCKET

echo "== Tests"
run_ctest xvfb-run -a -s "-screen 0 1024x768x24" \
    ctest --test-dir build --output-on-failure --timeout 600

echo "== Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
run_ctest env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -L unit --output-on-failure --timeout 900

echo "== Search thread, picture preparer, show and watch tests under ThreadSanitizer"
run_ctest env TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build-tsan -L thread --output-on-failure --timeout 900

# The fuzzing time is shared between the targets: the bitmap reader and the whole slide path
# get a quarter each, the readers of the further formats the other half.
fuzz_seconds=${LUMIVANE_FUZZ_SECONDS:-60}
for target in bmp slide png gif webp tiff heif; do
    case $target in
    bmp | slide) share=$((fuzz_seconds / 4)) ;;
    *) share=$((fuzz_seconds / 10)) ;;
    esac
    echo "== Fuzzing: $target (short run)"
    if "$root/scripts/fuzz.sh" "$target" $((share > 0 ? share : 1)); then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        status=1
    fi
done

echo "== Debian package"
# One check: counted as passed or failed in the closing line.
check() {
    local name=$1
    shift
    if "$@"; then
        echo "ok: $name"
        passed=$((passed + 1))
    else
        echo "FAILED: $name"
        failed=$((failed + 1))
        status=1
    fi
}
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
# The main build is packaged as it is when it is a Release build; otherwise a Release build of
# the program alone is made beside it.
package_build=$root/build-package
if grep -qx 'CMAKE_BUILD_TYPE:STRING=Release' build/CMakeCache.txt; then
    package_build=$root/build
fi
package_contents() {
    local listing
    listing=$(dpkg-deb -c "$deb") || return 1
    for path in ./usr/bin/lumivane ./usr/share/applications/org.example.lumivane.desktop \
        ./usr/share/icons/hicolor/scalable/apps/org.example.lumivane.svg \
        ./usr/share/metainfo/org.example.lumivane.metainfo.xml \
        ./usr/share/man/man1/lumivane.1.gz ./usr/share/doc/lumivane/README.md \
        ./usr/share/doc/lumivane/LICENSE ./usr/share/doc/lumivane/copyright \
        ./usr/share/doc/lumivane/changelog.gz; do
        grep -q " $path\$" <<<"$listing" || { echo "missing from the package: $path"; return 1; }
    done
}
package_control() {
    local info
    info=$(dpkg-deb -I "$deb") || return 1
    grep -q '^ Section: graphics$' <<<"$info" || { echo "section is not graphics"; return 1; }
    # Computed from the shared libraries, plus the font and the MIDI patches.
    for dependency in libqt6widgets6 libsdl2-mixer-2.0-0 libjpeg62-turbo liblcms2-2 \
        fonts-ipafont-gothic freepats qt6-qpa-plugins qt6-wayland; do
        grep -q "^ Depends:.*\b$dependency\b" <<<"$info" ||
            { echo "Depends lacks $dependency"; return 1; }
    done
}
package_install() {
    # Reinstalled, so that a second run installs this build even when the version is unchanged.
    (cd "$(dirname "$deb")" &&
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --reinstall \
            ./"$(basename "$deb")")
}
package_lintian() {
    # Debian's own checks: no error and no warning (its pedantic and informational remarks may
    # stay).
    lintian --fail-on error,warning "$deb" 2>&1 | grep -v '^running with root privileges'
    return "${PIPESTATUS[0]}"
}
installed_version() {
    local version
    version=$(/usr/bin/lumivane --version) || return 1
    echo "$version"
    grep -qE '^lumivane [0-9]+\.[0-9]+' <<<"$version"
}
if deb=$("$root/scripts/package.sh" "$package_build" | tail -n 1) && [ -f "$deb" ]; then
    check "package contents (dpkg-deb -c)" package_contents
    check "package section and Depends (dpkg-deb -I)" package_control
    check "package passes lintian" package_lintian
    check "package installs (apt-get install)" package_install
    check "installed lumivane --version" installed_version
    check "installed program shows the Pictures folder and ends on Escape" \
        "$root/tests/app/installed_slideshow.sh" /usr/bin/lumivane
    check "installed program speaks English outside Japanese locales" \
        "$root/tests/app/installed_languages.sh" /usr/bin/lumivane
    check "desktop entry (desktop-file-validate)" \
        desktop-file-validate /usr/share/applications/org.example.lumivane.desktop
    check "metainfo (appstreamcli validate)" \
        appstreamcli validate --no-net /usr/share/metainfo/org.example.lumivane.metainfo.xml
else
    echo "FAILED: the package could not be built"
    failed=$((failed + 1))
    status=1
fi

echo
echo "$passed passed, $failed failed"
exit $status
