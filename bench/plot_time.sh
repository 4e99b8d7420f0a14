#!/usr/bin/env bash
# Time and peak memory to plot a recording of 10^6 frames of 8 channels, from reading the CSV to
# writing the PNG (median of 3 runs). The header and FILE.json come from a short
# `quillbox record` on the simulated bench; the rows (100 Hz, sines with noise) are written by awk
# in the same format, which is much faster than recording 10^4 s of module time. With a second
# build folder, its quillbox plots the same file in turns with the first, for a before/after.
#
#   bench/plot_time.sh [BUILD_DIR [OTHER_BUILD_DIR]]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh plot_time "${1:-build/default}"
others=("$quillbox")
[[ -n "${2:-}" ]] && others+=("$(realpath -m "$2/bin/quillbox")")
QUILLBOX_TIME_SCALE=20 "$quillbox" record -c 0-7 -r 100 -n 10 -o "$work/big.csv" >/dev/null
head -n 1 "$work/big.csv" >"$work/header"
awk 'BEGIN { srand(1); for (i = 0; i < 1000000; i++) {
  printf "%d,%.6f", i, i / 100
  for (c = 0; c < 8; c++) printf ",%.6g", 5 * sin(i / (50 + 40 * c)) + rand() * 0.1
  printf "\n" } }' | cat "$work/header" - >"$work/big.csv"
printf "plot of %d frames x 8 channels (%d MB CSV), median of 3:\n" \
  "$(($(wc -l <"$work/big.csv") - 1))" "$(($(stat -c %s "$work/big.csv") / 1000000))"
for run in 1 2 3; do
  for q in "${others[@]}"; do
    /usr/bin/time -a -o "$work/time.${q//\//_}" -f "%e %U %S %M" \
      "$q" plot "$work/big.csv" -o "$work/big.png" >/dev/null 2>"$work/err"
  done
done
for q in "${others[@]}"; do
  sort -n "$work/time.${q//\//_}" | sed -n 2p | {
    read -r wall user sys kb
    printf "  %s: wall %.2f s (user %.2f, system %.2f), peak %d MB\n" "$q" "$wall" "$user" \
      "$sys" "$((kb / 1024))"
  }
done
