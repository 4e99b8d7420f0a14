#!/usr/bin/env bash
# CPU cost of a recording through the CLI: all 32 channels at 100 Hz on the built-in simulated
# bench, in real time. Reports two figures of the same run:
#   - steady: the CPU time of all the process's threads (from /proc/PID/task/*/schedstat, in ns)
#     over 20 s of recording, taken 5 s after the start, against those 20 s of wall time;
#   - whole: user + system time of the whole 26 s process (start-up, module open, exit included).
# The simulated module runs inside the process (its signal synthesis and pacing count too). The
# target is at most 0.1 % of one core for the steady figure.
#
#   bench/record_cpu.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
quillbox="$build/bin/quillbox"
[[ -x "$quillbox" ]] || { echo "record_cpu: $quillbox not built" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Its own registry store and the real clock: nothing of the user's settings is touched.
export QUILLBOX_REGISTRY="$work/registry.sqlite3" QUILLBOX_RUNTIME_DIR="$work/run"
unset QUILLBOX_BENCH QUILLBOX_TIME_SCALE QUILLBOX_DEVICE

# Sum of the run times of the process's threads, in ns.
cpu_ns() { cat "/proc/$1/task/"*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }

TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" record -c 0-31 -r 100 -d 26 -o "$work/rec.csv" >"$work/out" 2>"$work/err"; } \
  2>"$work/time" &
shell=$!
sleep 0.5
pid=$(pgrep -n -f "record -c 0-31 -r 100 -d 26 -o $work/rec.csv")
sleep 4.5
before=$(cpu_ns "$pid")
start=$(date +%s%N)
sleep 20
after=$(cpu_ns "$pid")
end=$(date +%s%N)
wait "$shell" || { cat "$work/err" >&2; exit 1; }
read -r wall user sys <"$work/time"
frames=$(($(wc -l <"$work/rec.csv") - 1))
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v frames="$frames" -v cpu="$((after - before))" \
    -v span="$((end - start))" 'BEGIN {
  steady = 100 * cpu / span; whole = 100 * (user + sys) / wall
  printf "recording: %d frames of 32 channels at 100 Hz\n", frames
  printf "steady: CPU %.1f ms over %.3f s of recording: %.3f %% of one core (target <= 0.1 %%)\n",
         cpu / 1e6, span / 1e9, steady
  printf "whole process: wall %.3f s, CPU %.3f s (user %.3f + system %.3f): %.3f %%\n",
         wall, user + sys, user, sys, whole
  exit (steady <= 0.1 ? 0 : 1)
}'
