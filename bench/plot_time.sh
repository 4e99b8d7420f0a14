#!/usr/bin/env bash
# Time to plot a recording of 10^6 frames of 8 channels (made by `quillbox record` on the
# simulated bench at a high time scale), from reading the CSV to writing the PNG.
#
#   bench/plot_time.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/default}"
quillbox="$build/bin/quillbox"
[[ -x "$quillbox" ]] || { echo "plot_time: $quillbox not built" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QUILLBOX_REGISTRY="$work/registry.sqlite3" QUILLBOX_RUNTIME_DIR="$work/run"
unset QUILLBOX_BENCH QUILLBOX_DEVICE
QUILLBOX_TIME_SCALE=400 "$quillbox" record -c 0-7 -r 1000 -n 1000000 --sync-every 0 \
  -o "$work/big.csv" >/dev/null
TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" plot "$work/big.csv" -o "$work/big.png" >/dev/null; } 2>"$work/time"
read -r wall user sys <"$work/time"
printf "plot of %d frames x 8 channels (%d MB CSV): wall %.3f s (user %.3f, system %.3f)\n" \
  "$(($(wc -l <"$work/big.csv") - 1))" "$(($(stat -c %s "$work/big.csv") / 1000000))" \
  "$wall" "$user" "$sys"
