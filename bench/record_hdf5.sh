#!/usr/bin/env bash
# CPU per sample and bytes per day of HDF5 recordings, plain and compressed (--compress), against
# the CSV, in the same run: 10^5 frames of all 32 channels at 100 Hz on the built-in simulated
# bench, the module's clock running QUILLBOX_TIME_SCALE (default 200) times faster; each poll
# still brings one block (20 frames), and the files are synced every second of the module's
# clock, as in real time. Each recording is a `quillbox record` process of its own; its CPU is
# user + system time less that of a one-block recording of the same format (start-up, module
# open, exit), so what remains is the recording's; the least of three rounds, taken in turn, so
# that what else the machine runs weighs on each format alike. The simulated module runs in the process, so
# its signal synthesis is in every figure alike. Bytes per day: the file's bytes per frame
# (description included) times 100 x 86400.
#
#   bench/record_hdf5.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${QUILLBOX_TIME_SCALE:-200}"
source scripts/isolated.sh record_hdf5 "${1:-build/default}"
export QUILLBOX_TIME_SCALE="$scale"
frames=100000
block=20

TIMEFORMAT='%3U %3S'
# cpu FRAMES FILE [OPTION...]: prints the user + system seconds of one recording to a new FILE.
cpu() {
  local n=$1 file=$2
  shift 2
  rm -f "$file" "$file.json"
  { time "$quillbox" record -c 0-31 -r 100 -n "$n" -o "$file" "$@" >/dev/null 2>"$work/err"; } \
    2>"$work/time" || { cat "$work/err" >&2; exit 1; }
  awk '{print $1 + $2}' "$work/time"
}

kinds=(csv hdf5 hdf5-gzip)
declare -A file=([csv]="$work/rec.csv" [hdf5]="$work/rec.h5" [hdf5-gzip]="$work/gzip.h5")
declare -A options=([csv]="" [hdf5]="" [hdf5-gzip]="--compress")
results=()
for _ in 1 2 3; do
  for kind in "${kinds[@]}"; do
    f="${file[$kind]}"
    # shellcheck disable=SC2086  # no option, or one
    short=$(cpu $block "${f%.*}-short.${f##*.}" ${options[$kind]})
    # shellcheck disable=SC2086
    long=$(cpu $frames "$f" ${options[$kind]})
    results+=("$kind $short $long $(($(stat -c %s "$f") + $(stat -c %s "$f.json" 2>/dev/null || echo 0)))")
  done
done
printf '%s\n' "${results[@]}" | awk -v frames=$frames -v block=$block -v scale="$scale" '
  {
    if (!($1 in cpu)) { kind[++n] = $1; cpu[$1] = 1e9 }
    if ($3 - $2 < cpu[$1]) cpu[$1] = $3 - $2
    bytes[$1] = $4
  }
  END {
    base = kind[1]
    printf "%d frames of 32 channels at 100 Hz, time scale %s, least of 3 rounds\n", frames, scale
    for (i = 1; i <= n; i++) {
      k = kind[i]
      per = cpu[k] / ((frames - block) * 32) * 1e9
      printf "%-10s CPU %.3f s: %6.1f ns per sample (%.2f x CSV); %7.1f MB per day (%.2f x CSV)\n",
             k, cpu[k], per, cpu[k] / cpu[base], bytes[k] / frames * 8640000 / 1e6,
             bytes[k] / bytes[base]
    }
  }'
