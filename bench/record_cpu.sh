#!/usr/bin/env bash
# CPU cost of a recording through the CLI: all 32 channels at 100 Hz on the built-in simulated
# bench, in real time. Reports, from the same run:
#   - steady: the CPU time of all the process's threads (from /proc/PID/task/*/schedstat, in ns)
#     over 20 s of recording, taken 5 s after the start, against those 20 s of wall time;
#   - whole: user + system time of the whole 26 s process (start-up, module open, exit included).
# The simulated module runs inside the process (its signal synthesis and pacing count too). The
# target is at most 0.1 % of one core for the steady figure. Beside it, in the same 20 s, runs
# bench/RecorderFloor.cpp: the same wake-ups, bytes and syncs with no other work, the least any
# recorder pays on this machine; the ratio of the two says what the recorder adds.
#
#   bench/record_cpu.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh record_cpu "${1:-build/default}"  # and the real clock
floor="$build/bin/recorder_floor"
[[ -x "$floor" ]] || { echo "record_cpu: $floor not built" >&2; exit 2; }

# Sum of the run times of the process's threads, in ns.
cpu_ns() { cat "/proc/$1/task/"*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }

TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" record -c 0-31 -r 100 -d 26 -o "$work/rec.csv" >"$work/out" 2>"$work/err"; } \
  2>"$work/time" &
shell=$!
sleep 0.5
pid=$(pgrep -n -f "record -c 0-31 -r 100 -d 26 -o $work/rec.csv")
size0=$(stat -c %s "$work/rec.csv" 2>/dev/null || echo 0)
sleep 4
size1=$(stat -c %s "$work/rec.csv")
# The floor writes what the recorder wrote per block period (200 ms) over those 4 s.
"$floor" "$work/floor.csv" $(((size1 - size0) / 20)) 21.5 &
floor_pid=$!
sleep 0.5
before=$(cpu_ns "$pid")
floor_before=$(cpu_ns "$floor_pid")
start=$(date +%s%N)
sleep 20
after=$(cpu_ns "$pid")
floor_after=$(cpu_ns "$floor_pid")
end=$(date +%s%N)
wait "$shell" || { cat "$work/err" >&2; exit 1; }
wait "$floor_pid" || { echo "record_cpu: the floor program failed" >&2; exit 1; }
read -r wall user sys <"$work/time"
frames=$(($(wc -l <"$work/rec.csv") - 1))
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v frames="$frames" -v cpu="$((after - before))" \
    -v floor="$((floor_after - floor_before))" -v span="$((end - start))" \
    -v bytes="$(((size1 - size0) / 20))" 'BEGIN {
  steady = 100 * cpu / span; whole = 100 * (user + sys) / wall; least = 100 * floor / span
  printf "recording: %d frames of 32 channels at 100 Hz\n", frames
  printf "steady: CPU %.1f ms over %.3f s of recording: %.3f %% of one core (target <= 0.1 %%)\n",
         cpu / 1e6, span / 1e9, steady
  printf "floor, same 20 s (15 wake-ups/s, %d bytes written per 200 ms, fdatasync each second): " \
         "CPU %.1f ms: %.3f %%\n", bytes, floor / 1e6, least
  printf "recorder / floor: %.2f\n", cpu / floor
  printf "whole process: wall %.3f s, CPU %.3f s (user %.3f + system %.3f): %.3f %%\n",
         wall, user + sys, user, sys, whole
  exit (steady <= 0.1 ? 0 : 1)
}'
