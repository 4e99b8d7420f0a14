#!/usr/bin/env bash
# Regenerates the README's pictures in docs/screenshots from the built-in simulated bench: each
# tab of the setup dialog, the scope after 8 s of 11 channels, and a plot of a 10 s recording.
# Needs no display.
#
#   scripts/screenshots.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
# Its own settings store and module state: the pictures show the defaults.
source scripts/isolated.sh screenshots "${1:-build/default}"
export QT_QPA_PLATFORM=offscreen

out=docs/screenshots
mkdir -p "$out"
"$quillbox" setup --screenshot "$out"
QUILLBOX_TIME_SCALE=4 "$quillbox" scope -c 0-7,16,17,24 -r 100 --screenshot "$out/scope.png" \
  --after 8 -o "$work/unused.csv"
echo "$out/scope.png"
QUILLBOX_TIME_SCALE=20 "$quillbox" record -c 0-5,16,24 -r 200 -d 10 -o "$work/recording.csv" \
  >/dev/null
"$quillbox" plot "$work/recording.csv" -o "$out/plot.png"
