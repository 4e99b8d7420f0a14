#!/usr/bin/env bash
# CPU per frame of a recording through the Python package (Module.record into numpy) against the
# CLI's CSV path, in the same run: 10^5 frames of all 32 channels at 100 Hz on the built-in
# simulated bench, the module's clock running QUILLBOX_TIME_SCALE (default 200) times faster.
# Each path runs as its own process (start-up, loading and opening included); the Python process
# also reports the CPU of the record() call alone. Target: the Python path costs no more than
# the CLI's (ratio <= 1).
#
#   bench/python_record.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${QUILLBOX_TIME_SCALE:-200}"
source scripts/isolated.sh python_record "${1:-build/default}"
python=$(sed -n 's/^QUILLBOX_PYTHON:INTERNAL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
[[ -n "$python" && -d "$build/python/quillbox" ]] ||
  { echo "python_record: the Python package of $build is not built" >&2; exit 2; }
export QUILLBOX_TIME_SCALE="$scale" PYTHONPATH="$build/python"
frames=100000

TIMEFORMAT='%3R %3U %3S'
{ time "$quillbox" record -c 0-31 -r 100 -n $frames -o "$work/rec.csv" >"$work/out" 2>"$work/err"; } \
  2>"$work/time.cli" || { cat "$work/err" >&2; exit 1; }
{ time "$python" - $frames >"$work/py.out" 2>"$work/err" <<'PY'; } 2>"$work/time.py" || { cat "$work/err" >&2; exit 1; }
import resource, sys
import quillbox
def cpu():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime
with quillbox.open() as m:
    before = cpu()
    rec = m.record(range(32), rate=100, frames=int(sys.argv[1]))
    print(len(rec), rec.values.shape[1], cpu() - before)
PY
read -r cli_wall cli_user cli_sys <"$work/time.cli"
read -r py_wall py_user py_sys <"$work/time.py"
read -r py_frames py_channels py_record <"$work/py.out"
cli_frames=$(($(wc -l <"$work/rec.csv") - 1))
awk -v cw="$cli_wall" -v cu="$cli_user" -v cs="$cli_sys" -v cf="$cli_frames" \
    -v pw="$py_wall" -v pu="$py_user" -v ps="$py_sys" -v pf="$py_frames" -v pr="$py_record" \
    -v scale="$QUILLBOX_TIME_SCALE" 'BEGIN {
  cli = (cu + cs) / cf * 1e6; py = (pu + ps) / pf * 1e6
  printf "%d frames of 32 channels at 100 Hz, time scale %s\n", pf, scale
  printf "CLI to CSV:       wall %.3f s, CPU %.3f s (user %.3f + system %.3f): %.2f us per frame\n",
         cw, cu + cs, cu, cs, cli
  printf "Python to numpy:  wall %.3f s, CPU %.3f s (user %.3f + system %.3f): %.2f us per frame\n",
         pw, pu + ps, pu, ps, py
  printf "                  of which record(): CPU %.3f s, %.2f us per frame\n", pr, pr / pf * 1e6
  printf "ratio Python / CLI: %.2f (target <= 1)\n", py / cli
  exit (cf == pf && py <= cli ? 0 : 1)
}'
