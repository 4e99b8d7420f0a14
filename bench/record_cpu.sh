#!/usr/bin/env bash
# CPU cost of a recording through the CLI against the least any recorder pays for the same work:
# all 32 channels at 100 Hz on the built-in simulated bench, in real time, RUNS times (default 3).
# Each run reports, from the same window:
#   - steady: the CPU time of all the recorder's threads (from /proc/PID/task/*/schedstat, in ns)
#     over 20 s of recording, taken 5 s after the start, against those 20 s of wall time;
#   - floor: bench/RecorderFloor.cpp over the same 20 s, writing the same rows (it replays the
#     rows the recorder wrote in its first 4 s) with the same block period, syncs and description
#     replacements, but with none of the recorder's code: what the recorder adds is the ratio;
#   - whole: user + system time of the whole 26 s recording (start-up, module open, exit).
# The simulated module runs inside the recorder's process, so its signal synthesis counts there.
# Target: recorder / floor at most 1.15, the median of the runs.
#
#   bench/record_cpu.sh [BUILD_DIR [RUNS]]     (default build/default, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh record_cpu "${1:-build/default}"  # and the real clock
runs="${2:-3}"
floor="$build/bin/recorder_floor"
[[ -x "$floor" ]] || { echo "record_cpu: $floor not built" >&2; exit 2; }

# Sum of the run times of the process's threads, in ns.
cpu_ns() { cat "/proc/$1/task/"*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%d", s}'; }

ratios=()
for ((run = 1; run <= runs; run++)); do
  rec="$work/rec$run.csv"
  TIMEFORMAT='%3R %3U %3S'
  { time "$quillbox" record -c 0-31 -r 100 -d 26 -o "$rec" >"$work/out" 2>"$work/err"; } \
    2>"$work/time" &
  shell=$!
  sleep 0.5
  pid=$(pgrep -n -f "record -c 0-31 -r 100 -d 26 -o $rec")
  sleep 4
  "$floor" "$work/floor.csv" "$rec" 100 21.5 >/dev/null &
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
  frames=$(($(wc -l <"$rec") - 1))
  rm -f "$work/floor.csv"*
  ratio=$(awk -v wall="$wall" -v user="$user" -v sys="$sys" -v frames="$frames" \
              -v cpu="$((after - before))" -v floor="$((floor_after - floor_before))" \
              -v span="$((end - start))" -v run="$run" 'BEGIN {
    printf "run %d: %d frames of 32 channels at 100 Hz; over the same %.3f s: recorder %.1f ms " \
           "(%.3f %% of one core), floor %.1f ms (%.3f %%): recorder / floor %.2f; whole " \
           "recording %.3f s CPU in %.3f s\n", run, frames, span / 1e9, cpu / 1e6,
           100 * cpu / span, floor / 1e6, 100 * floor / span, cpu / floor, user + sys, wall \
           > "/dev/stderr"
    printf "%.3f", cpu / floor
  }')
  ratios+=("$ratio")
  rm -f "$rec"*
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
echo "recorder / floor, median of $runs runs: $median (target <= 1.15)"
awk -v m="$median" 'BEGIN {exit (m <= 1.15 ? 0 : 1)}'
