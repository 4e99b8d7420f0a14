#!/usr/bin/env bash
# Builds quillbox and runs the main job on the built-in simulated bench.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh default
build/default/bin/quillbox about
