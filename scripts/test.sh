#!/usr/bin/env bash
# Builds a preset (default: "default") and runs the whole test suite under it.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"
# Dialog tests render offscreen; no display is needed.
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j2 --timeout 600
