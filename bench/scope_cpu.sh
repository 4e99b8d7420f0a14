#!/usr/bin/env bash
# CPU cost of the live scope: all 32 channels at 100 Hz with a 10 s window on the built-in
# simulated bench, in real time, drawn on a virtual X server (Xvfb, software rendering). Reports
# the CPU time of all the process's threads (/proc/PID/task/*/schedstat) over 20 s, taken 5 s
# after the start, against those 20 s of wall time. The simulated module runs inside the process
# and counts too. Target: under 5 % of one core.
#
#   bench/scope_cpu.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh scope_cpu "${1:-build/default}"
unset QT_QPA_PLATFORM

cat >"$work/measure.sh" <<'INNER'
cpu_ns() { cat "/proc/$1/task/"*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }
"$1" scope -c 0-31 -r 100 --window 10 -o "$2/unused.csv" 2>"$2/err" &
pid=$!
sleep 5
before=$(cpu_ns "$pid"); start=$(date +%s%N)
sleep 20
after=$(cpu_ns "$pid"); end=$(date +%s%N)
kill -TERM "$pid"
wait "$pid" || { cat "$2/err" >&2; exit 1; }
echo "$((after - before)) $((end - start))"
INNER
read -r cpu span < <(xvfb-run -a -s "-screen 0 1600x1000x24" bash "$work/measure.sh" "$quillbox" "$work")
awk -v cpu="$cpu" -v span="$span" 'BEGIN {
  share = 100 * cpu / span
  printf "scope, 32 channels at 100 Hz, 10 s window: CPU %.1f ms over %.3f s: %.2f %% of one core (target < 5 %%)\n",
         cpu / 1e6, span / 1e9, share
  exit (share < 5 ? 0 : 1)
}'
