#!/usr/bin/env bash
# Runs one fuzz target: fuzz/run.sh <target> [seconds] [extra libFuzzer options...]
# <target> is descriptor, bench, settings or host_calls. Needs the "fuzz" preset built:
#   cmake --preset fuzz && cmake --build --preset fuzz
# The run works on a copy of the committed seeds in build/fuzz/run/<target>/ and writes its log
# there; a crashing input lands in build/fuzz/run/<target>/artifacts/. Keep it as a regression
# case in tests/regression/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:?usage: fuzz/run.sh <descriptor|bench|settings|host_calls> [seconds] [options...]}"
seconds="${2:-600}"
shift $(($# < 2 ? $# : 2))
binary="build/fuzz/bin/fuzz_${target}"
[[ -x "$binary" ]] || { echo "$binary is missing: build the fuzz preset first" >&2; exit 2; }
work="build/fuzz/run/${target}"
mkdir -p "$work/corpus" "$work/artifacts"
cp -n "fuzz/corpus/${target}/"* "$work/corpus/" 2>/dev/null || true
options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1
         -artifact_prefix="$work/artifacts/")
[[ -f "fuzz/${target}.dict" ]] && options+=(-dict="fuzz/${target}.dict")
# The target's registry store goes here and is removed afterwards.
QUILLBOX_FUZZ_TMPDIR="$(mktemp -d /dev/shm/quillbox-fuzz-run.XXXXXX 2>/dev/null || mktemp -d)"
export QUILLBOX_FUZZ_TMPDIR
trap 'rm -rf "$QUILLBOX_FUZZ_TMPDIR"' EXIT
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
echo "$binary ${options[*]} $* $work/corpus" | tee "$work/command.txt"
"$binary" "${options[@]}" "$@" "$work/corpus" 2>&1 | tee "$work/fuzz.log" | grep -E '^(#[0-9]+ +(pulse|DONE|NEW|RELOAD))|^stat::|ERROR|SUMMARY|runtime error|fuzz check' | grep -v ' NEW ' || true
exit "${PIPESTATUS[0]}"
