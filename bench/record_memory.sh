#!/usr/bin/env bash
# Peak resident memory of a recording whose writer is always behind: 10^6 frames of all 32
# channels at 100 Hz on the built-in bench with the clock at its largest scale, so the module
# delivers as fast as the recorder can take frames. Beside it, in the same run, `quillbox info`
# (the process with its libraries and no recording) and a 100-frame recording. The writer formats
# a bounded piece at a time, so the long recording should need no more than the short one.
# Target: under 12 MB.
#
#   bench/record_memory.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh record_memory "${1:-build/default}"

# Peak resident set of "$@" in KB (its output discarded).
peak_kb() {
  /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1 || { echo "record_memory: $* failed" >&2; exit 1; }
  cat "$work/peak"
}

info=$(peak_kb "$quillbox" info)
short=$(QUILLBOX_TIME_SCALE=999999 peak_kb "$quillbox" record -c 0-31 -r 100 -n 100 -o "$work/short.csv")
start=$(date +%s%N)
long=$(QUILLBOX_TIME_SCALE=999999 peak_kb "$quillbox" record -c 0-31 -r 100 -n 1000000 -o "$work/long.csv")
end=$(date +%s%N)
rows=$(($(wc -l <"$work/long.csv") - 1))
[[ $rows -eq 1000000 ]] || { echo "record_memory: $rows rows instead of 1000000" >&2; exit 1; }
awk -v info="$info" -v short="$short" -v long="$long" -v bytes="$(stat -c %s "$work/long.csv")" \
    -v wall="$(((end - start) / 1000000))" 'BEGIN {
  printf "quillbox info: %.1f MB peak\n", info / 1024
  printf "100-frame recording: %.1f MB peak\n", short / 1024
  printf "10^6-frame recording, writer always behind (%.0f MB of CSV in %.2f s): %.1f MB peak " \
         "(target < 12 MB)\n", bytes / 1e6, wall / 1e3, long / 1024
  exit (long < 12 * 1024 ? 0 : 1)
}'
