#!/usr/bin/env bash
# CPU cost of a recording through the CLI: all 32 channels at 100 Hz for 20 s on the built-in
# simulated bench, in real time. Reports the process's CPU time (user + system) beside the wall
# time and their ratio; the target is at most 0.1 % of one core.
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

TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" record -c 0-31 -r 100 -d 20 -o "$work/rec.csv" >"$work/out" 2>"$work/err"; } \
  2>"$work/time" || { cat "$work/err" >&2; exit 1; }
read -r wall user sys <"$work/time"
frames=$(($(wc -l <"$work/rec.csv") - 1))
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v frames="$frames" 'BEGIN {
  cpu = user + sys; share = 100 * cpu / wall
  printf "recording: %d frames of 32 channels at 100 Hz\n", frames
  printf "wall %.3f s, CPU %.3f s (user %.3f + system %.3f): %.3f %% of one core (target <= 0.1 %%)\n",
         wall, cpu, user, sys, share
  exit (share <= 0.1 ? 0 : 1)
}'
