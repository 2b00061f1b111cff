#!/usr/bin/env bash
# The two motions of the real program, seen from outside: lumivane shows six 24 MP JPEGs on a
# 1920 x 1080 virtual screen, first with --motion=frames, then with --motion=smooth, while
# frame_watch time-stamps every frame the X server receives. Prints, per motion, the frame
# intervals (median, worst, worst at a change of picture) and the program's CPU share.
# Usage: bench/measure_motion.sh [BUILD] [SECONDS]   (BUILD defaults to ./build; needs Xvfb)
# QUALITIES="design high" and MOTIONS="smooth" choose other runs, in the order given, e.g. the
# high quality mode's cost against the design's in smooth motion:
#   QUALITIES="design high" MOTIONS=smooth bench/measure_motion.sh build 30
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-45}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bench/frame_watch" pictures "$work"

cat >"$work/run.sh" <<'EOF'
set -euo pipefail
build=$1 work=$2 seconds=$3 qualities=$4 motions=$5
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
for quality in $qualities; do
for motion in $motions; do
    LUMIVANE_FRAME_LOG="$work/$motion.log" "$build/app/lumivane" --motion=$motion \
        --quality=$quality "$work" >/dev/null 2>&1 &
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
    printf '%-6s %-6s %s; CPU %s %% of one core\n' "$quality" "$motion" "$result" \
        "$(awk -v c=$cpu -v t=$ticks -v n=$nanos 'BEGIN { printf "%.1f", 100 * c / t / (n / 1e9) }')"
done
done
EOF
xvfb-run -a -s "-screen 0 1920x1080x24" bash "$work/run.sh" "$build" "$work" "$seconds" \
    "${QUALITIES:-design}" "${MOTIONS:-frames smooth}"
