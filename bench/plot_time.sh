#!/usr/bin/env bash
# Time and peak memory to plot a recording of 10^6 frames of 8 channels, from reading the file to
# writing the PNG (median of 3 runs), as CSV and as HDF5. The CSV's header and FILE.json come
# from a short `quillbox record` on the simulated bench; its rows (100 Hz, sines with noise) are
# written by awk in the same format, which is much faster than recording 10^4 s of module time.
# The HDF5 file is recorded from the simulated bench with the module's clock a million times
# faster. With a second build folder, its quillbox plots the same files in turns with the first,
# for a before/after, and the two pictures of each file are compared.
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
QUILLBOX_TIME_SCALE=999999 "$quillbox" record -c 0-7 -r 100 -n 1000000 -o "$work/big.h5" \
  >/dev/null 2>&1
for file in big.csv big.h5; do
  printf "plot of %s, 10^6 frames x 8 channels (%d MB), median of 3:\n" "$file" \
    "$(($(stat -c %s "$work/$file") / 1000000))"
  for run in 1 2 3; do
    for q in "${others[@]}"; do
      /usr/bin/time -a -o "$work/time.$file.${q//\//_}" -f "%e %U %S %M" \
        "$q" plot "$work/$file" -o "$work/$file.${q//\//_}.png" >/dev/null 2>"$work/err"
    done
  done
  for q in "${others[@]}"; do
    sort -n "$work/time.$file.${q//\//_}" | sed -n 2p | {
      read -r wall user sys kb
      printf "  %s: wall %.2f s (user %.2f, system %.2f), peak %d MB\n" "$q" "$wall" "$user" \
        "$sys" "$((kb / 1024))"
    }
  done
  if ((${#others[@]} == 2)); then
    cmp -s "$work/$file.${others[0]//\//_}.png" "$work/$file.${others[1]//\//_}.png" &&
      echo "  the two pictures are the same" || echo "  the two pictures differ"
  fi
done
