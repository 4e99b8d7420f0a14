#!/usr/bin/env bash
# Regenerates the README's pictures in docs/screenshots from the built-in simulated bench: each
# tab of the setup dialog; the scope after 8 s of 4 and of all 32 channels, paused with its two
# cursors, and frozen by its trigger; plots of a 10 s recording of 32 channels and of 10^6
# frames. Needs no display. QT_SCALE_FACTOR=2 in the environment renders them at twice the size.
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
scope() { QUILLBOX_TIME_SCALE=4 "$quillbox" scope -r 100 -o "$work/unused.csv" "$@"; }
scope -c 0,1,16,24 --screenshot "$out/scope.png" --after 8
scope -c 0-31 --screenshot "$out/scope-32.png" --after 8
scope -c 0-3,16,24-27 --cursors 3.25,5.5 --screenshot "$out/scope-cursors.png" --after 8
scope -c 0,1,24 --window 4 --trigger M1-Ch1_U10:rising:2 --screenshot "$out/scope-trigger.png" \
  --after 8
echo "$out"/scope*.png
QUILLBOX_TIME_SCALE=20 "$quillbox" record -q -c 0-31 -r 100 -d 10 -o "$work/recording.csv" \
  >/dev/null
"$quillbox" plot "$work/recording.csv" -o "$out/plot.png"
QUILLBOX_TIME_SCALE=1000 "$quillbox" record -q -c 0-5,16,24 -r 100 -n 1000000 -o "$work/long.h5" \
  >/dev/null
"$quillbox" plot "$work/long.h5" -o "$out/plot-long.png"
