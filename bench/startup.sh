#!/usr/bin/env bash
# Start-up cost of a command that shows no window: `quillbox info` on the built-in bench, timed
# as it is and with Qt Widgets preloaded (what every command paid while the component linked
# the dialogs), median of RUNS each, in one run; and the peak resident memory of a 3 s,
# 32-channel recording. Targets: info at most 0.6x the Qt-preloaded time; record under 10 MB.
#
#   bench/startup.sh [BUILD_DIR] [RUNS]     (default build/default, 21)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh startup "${1:-build/default}"
runs="${2:-21}"
qt="$(ldconfig -p | awk '/libQt6Widgets.so.6 /{print $NF; exit}')"
[[ -n "$qt" ]] || { echo "startup: libQt6Widgets.so.6 not found" >&2; exit 2; }

# Median wall time in microseconds of `$@` over $runs runs, alternating with nothing else.
median_us() {
  local times=()
  for ((i = 0; i < runs; i++)); do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

"$quillbox" info >/dev/null 2>&1  # the store and the page cache warm
plain=$(median_us "$quillbox" info)
with_qt=$(median_us env LD_PRELOAD="$qt" "$quillbox" info)
rss_kb=$(/usr/bin/time -f %M "$quillbox" record -c 0-31 -r 100 -d 3 -o "$work/rec.csv" \
  2>&1 >/dev/null | tail -1)
awk -v plain="$plain" -v qt="$with_qt" -v rss="$rss_kb" 'BEGIN {
  ratio = plain / qt
  printf "info start-up: %.1f ms, with Qt Widgets preloaded %.1f ms: ratio %.2f (target <= 0.6)\n",
         plain / 1000, qt / 1000, ratio
  printf "record (32 channels, 100 Hz, 3 s) peak resident memory: %.1f MB (target < 10 MB)\n",
         rss / 1024
  exit (ratio <= 0.6 && rss < 10 * 1024 ? 0 : 1)
}'
