#!/usr/bin/env bash
# Builds what a recording needs (the command, the component and the simulated bench; no tests or
# benchmarks, which scripts/test.sh builds) and runs the main job on the built-in simulated bench:
# opens the module and records five channels for five seconds into recording.csv (and
# recording.csv.json), replacing an earlier run's files.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default > /dev/null
cmake --build --preset default --target quillbox quillbox_component E270API
build/default/bin/quillbox record --channels 0,1,4,16,26 --rate 20 --duration 5 \
  --output recording.csv --force
