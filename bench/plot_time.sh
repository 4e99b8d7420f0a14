#!/usr/bin/env bash
# Time to plot a recording of 10^6 frames of 8 channels, from reading the CSV to writing the PNG.
# The header and FILE.json come from a short `quillbox record` on the simulated bench; the rows
# (100 Hz, sines with noise) are written by awk in the same format, which is much faster than
# recording 10^4 s of module time.
#
#   bench/plot_time.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh plot_time "${1:-build/default}"
QUILLBOX_TIME_SCALE=20 "$quillbox" record -c 0-7 -r 100 -n 10 -o "$work/big.csv" >/dev/null
head -n 1 "$work/big.csv" >"$work/header"
awk 'BEGIN { srand(1); for (i = 0; i < 1000000; i++) {
  printf "%d,%.6f", i, i / 100
  for (c = 0; c < 8; c++) printf ",%.6g", 5 * sin(i / (50 + 40 * c)) + rand() * 0.1
  printf "\n" } }' | cat "$work/header" - >"$work/big.csv"
TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" plot "$work/big.csv" -o "$work/big.png" >/dev/null 2>"$work/err"; } 2>"$work/time"
read -r wall user sys <"$work/time"
printf "plot of %d frames x 8 channels (%d MB CSV): wall %.3f s (user %.3f, system %.3f)\n" \
  "$(($(wc -l <"$work/big.csv") - 1))" "$(($(stat -c %s "$work/big.csv") / 1000000))" \
  "$wall" "$user" "$sys"
