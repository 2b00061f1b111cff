#!/usr/bin/env bash
# What Wayland costs against X, side by side in one run: the real program shows six 24 MP JPEGs
# in smooth motion at 1920 x 1080, for SECONDS (default 20) on a virtual X server (Xvfb) and
# then on a headless weston (pixman), in each quality. On weston it runs three times: the
# program's own way, the scene's subsurface ("auto"), then each other way forced
# (LUMIVANE_WAYLAND_FRAMES=composed, =read-back). Prints, per side: the frames presented
# (the program's frame log), the frame rate, the median frame interval and the share of
# intervals over 1.5 times it (from the buffer swaps where the program swaps, else from the
# frame log), the program's and the server's (Xvfb, weston) CPU share of one core, and the
# whole-frame glReadPixels calls per second (a read of at least half the screen), counted by
# the LD_PRELOAD library gl_counter.
# Usage: bench/measure_wayland.sh [BUILD] [SECONDS]   (BUILD defaults to ./build)
# PROGRAM=path/to/lumivane measures another build of the program (e.g. an older one) with this
# build's tools; QUALITIES="design" runs one quality only; SIDES="x auto" runs those sides only.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-20}
program=${PROGRAM:-$build/app/lumivane}
counter=$build/bench/gl_counter.so
width=1920
height=1080
work=$(mktemp -d)
server=
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/pictures"
"$build/bench/frame_watch" pictures "$work/pictures"

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
monotonic() { python3 -c 'import time; print(int(time.monotonic() * 1e6))'; }

start_x() {
    Xvfb -displayfd 3 -screen 0 "${width}x${height}x24" -nolisten tcp 3>"$work/display" \
        2>/dev/null &
    server=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    run_env=(env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY=":$(cat "$work/display")")
}

start_weston() {
    mkdir -m 0700 "$work/runtime"
    # The headless output ends a frame 16 ms after its repaint begins; with weston's default
    # repaint window (7 ms) its frame callbacks come every 26 ms or so (38 Hz), with this one
    # every 19 ms (53 Hz), nearer a real 60 Hz output.
    printf '[core]\nrepaint-window=19\n[shell]\npanel-position=none\n' >"$work/weston.ini"
    XDG_RUNTIME_DIR=$work/runtime weston --backend=headless-backend.so --use-pixman \
        --socket=lumivane-bench --width=$width --height=$height --idle-time=0 \
        --config="$work/weston.ini" --log="$work/weston.log" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do
        [ -S "$work/runtime/lumivane-bench" ] && break
        sleep 0.1
    done
    sleep 0.5
    run_env=(env -u DISPLAY QT_QPA_PLATFORM=wayland XDG_RUNTIME_DIR="$work/runtime"
        WAYLAND_DISPLAY=lumivane-bench)
}

printf '%-9s %-7s %7s %6s %9s %7s %8s %8s %9s\n' side quality frames fps "median ms" ">1.5x" \
    "program" "server" "reads/s"
for quality in ${QUALITIES:-design high}; do
    for side in ${SIDES:-x auto composed read-back}; do
        rm -rf "$work/runtime" "$work/display" "$work/frames.log" "$work/gl.log"
        if [ $side = x ]; then start_x; else start_weston; fi
        case $side in composed | read-back) way=$side ;; *) way= ;; esac
        "${run_env[@]}" LUMIVANE_WAYLAND_FRAMES=$way SDL_AUDIODRIVER=dummy LD_PRELOAD="$counter" \
            LUMIVANE_GL_COUNT="$work/gl.log" LUMIVANE_FRAME_LOG="$work/frames.log" \
            "$program" --motion=smooth --quality=$quality "$work/pictures" >"$work/out" 2>&1 &
        pid=$!
        # The search and the first picture are over well before this.
        sleep 5
        program_start=$(cpu_ticks $pid)
        server_start=$(cpu_ticks $server)
        begin=$(monotonic)
        sleep "$seconds"
        end=$(monotonic)
        program_cpu=$(( $(cpu_ticks $pid) - program_start ))
        server_cpu=$(( $(cpu_ticks $server) - server_start ))
        kill $pid $server
        wait $pid $server 2>/dev/null || true
        pid=
        server=
        touch "$work/gl.log" "$work/frames.log"
        python3 - "$work/frames.log" "$work/gl.log" $begin $end $program_cpu $server_cpu $ticks \
            $(( width * height / 2 )) $side $quality <<'PY'
import statistics, sys
frames_log, gl_log, begin, end, program, server, ticks, whole, side, quality = sys.argv[1:]
begin, end, ticks, whole = int(begin), int(end), int(ticks), int(whole)
inside = lambda t: begin <= t <= end
frames = [int(l.split()[0]) for l in open(frames_log) if l.strip() and inside(int(l.split()[0]))]
swaps, reads = [], 0
for line in open(gl_log):
    word = line.split()
    if word[0] == "S" and inside(int(word[1])):
        swaps.append(int(word[1]))
    elif word[0] == "R" and inside(int(word[1])) and int(word[2]) * int(word[3]) >= whole:
        reads += 1
times = swaps if len(swaps) > 1 else frames
gaps = [b - a for a, b in zip(times, times[1:])]
median = statistics.median(gaps) if gaps else 0
over = sum(g > 1.5 * median for g in gaps)
span = (end - begin) / 1e6
print("%-9s %-7s %7d %6.1f %9.2f %6.2f%% %7.1f%% %7.1f%% %9.1f" % (
    side, quality, len(frames), len(frames) / span, median / 1000,
    100 * over / len(gaps) if gaps else 0, 100 * int(program) / ticks / span,
    100 * int(server) / ticks / span, reads / span))
PY
    done
done
