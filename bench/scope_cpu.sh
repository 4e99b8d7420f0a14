#!/usr/bin/env bash
# Cost of the live scope: all 32 channels at 100 Hz on the built-in simulated bench, in real time,
# drawn on a virtual X server (Xvfb, software rendering), once with a 10 s window and once with a
# full 3600 s one. Reports for each the CPU time of all the process's threads
# (/proc/PID/task/*/schedstat) over 20 s, taken 5 s after the start, against those 20 s of wall
# time, and the resident memory at the end. The simulated module runs inside the process and
# counts too. Targets: the 10 s window under 5 % of one core, the 3600 s window within twice the
# 10 s window's CPU.
#
#   bench/scope_cpu.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh scope_cpu "${1:-build/default}"
unset QT_QPA_PLATFORM

cat >"$work/measure.sh" <<'INNER'
cpu_ns() { cat "/proc/$1/task/"*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f", s}'; }
for window in 10 3600; do
  "$1" scope -c 0-31 -r 100 --window "$window" -o "$2/unused.csv" 2>"$2/err" &
  pid=$!
  sleep 5
  before=$(cpu_ns "$pid"); start=$(date +%s%N)
  sleep 20
  after=$(cpu_ns "$pid"); end=$(date +%s%N)
  rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || { cat "$2/err" >&2; exit 1; }
  echo "$window $((after - before)) $((end - start)) $rss"
done
INNER
xvfb-run -a -s "-screen 0 1600x1000x24" bash "$work/measure.sh" "$quillbox" "$work" >"$work/cost"
awk '{
  share = 100 * $2 / $3
  printf "scope, 32 channels at 100 Hz, %s s window: CPU %.1f ms over %.3f s: %.2f %% of one core, %.0f MB resident\n",
         $1, $2 / 1e6, $3 / 1e9, share, $4 / 1024
  s[NR] = share
} END {
  ok = s[1] < 5 && s[2] < 2 * s[1]
  printf "targets: 10 s window < 5 %% of one core, 3600 s window < twice that (%.2f %%): %s\n",
         2 * s[1], ok ? "met" : "NOT met"
  exit (ok ? 0 : 1)
}' "$work/cost"
