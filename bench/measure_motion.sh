#!/usr/bin/env bash
# The two motions of the real program, seen from outside: lumivane shows six 24 MP JPEGs on a
# 1920 x 1080 virtual screen, first with --motion=frames, then with --motion=smooth, while
# frame_watch time-stamps every frame the X server receives. Prints, per motion, the frame
# intervals (median, worst, worst at a change of picture) and the program's CPU share.
# Usage: bench/measure_motion.sh [BUILD] [SECONDS]   (BUILD defaults to ./build; needs Xvfb)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-45}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/frame_watch" pictures "$work"

cat >"$work/run.sh" <<'EOF'
set -euo pipefail
build=$1 work=$2 seconds=$3
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
for motion in frames smooth; do
    LUMIVANE_FRAME_LOG="$work/$motion.log" "$build/app/lumivane" --motion=$motion "$work" \
        >/dev/null 2>&1 &
    pid=$!
    # The search and the first picture are over well before this.
    sleep 5
    start=$(cpu_ticks $pid)
    begin=$(date +%s%N)
    result=$("$build/bench/frame_watch" watch "$seconds" "$work/$motion.log")
    cpu=$(( $(cpu_ticks $pid) - start ))
    nanos=$(( $(date +%s%N) - begin ))
    kill $pid
    wait $pid 2>/dev/null || true
    printf '%-6s %s; CPU %s %% of one core\n' "$motion" "$result" \
        "$(awk -v c=$cpu -v t=$ticks -v n=$nanos 'BEGIN { printf "%.1f", 100 * c / t / (n / 1e9) }')"
done
EOF
xvfb-run -a -s "-screen 0 1920x1080x24" bash "$work/run.sh" "$build" "$work" "$seconds"
