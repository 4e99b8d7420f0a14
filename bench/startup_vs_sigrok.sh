#!/usr/bin/env bash
# Start-up of the quillbox command against another acquisition command line, Debian's sigrok-cli
# (installed by scripts/deps.sh for this comparison only): `quillbox info` on the built-in bench
# and `quillbox --help`, each timed in pairs with `sigrok-cli --driver demo --scan` run just before
# it, so that a busy moment of the machine falls on both sides of a pair. Reports the medians and
# the median of the pairs' ratios. Targets: info <= 0.5x, --help <= 0.3x. Beside them the floor:
# bench/StartFloor.cpp, a C++ program built like quillbox that only prints a line.
#
#   bench/startup_vs_sigrok.sh [BUILD_DIR] [RUNS]     (default build/default, 31)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh startup_vs_sigrok "${1:-build/default}"
runs="${2:-31}"
sigrok="$(command -v sigrok-cli)" || { echo "startup_vs_sigrok: sigrok-cli not installed" >&2; exit 2; }
floor="$build/bin/start_floor"
[[ -x "$floor" ]] || { echo "startup_vs_sigrok: $floor not built" >&2; exit 2; }

# Wall time of "$@" in microseconds, in $elapsed (bash's own clock: no process to read it).
elapsed=0
run_us() {
  local t0 t1
  t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1 || true
  t1=$EPOCHREALTIME
  elapsed=$((10#${t1/./} - 10#${t0/./}))
}

"$quillbox" info >/dev/null 2>&1  # the store made, the page cache warm
"$sigrok" --driver demo --scan >/dev/null 2>&1
pairs=()
for ((i = 0; i < runs; i++)); do
  run_us "$sigrok" --driver demo --scan; s1=$elapsed
  run_us "$quillbox" info; info=$elapsed
  run_us "$sigrok" --driver demo --scan; s2=$elapsed
  run_us "$quillbox" --help; help=$elapsed
  run_us "$floor"; least=$elapsed
  pairs+=("$s1 $info $s2 $help $least")
done
printf '%s\n' "${pairs[@]}" | awk '
  function median(v, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  { n++; s[2 * n - 1] = $1; s[2 * n] = $3; info[n] = $2; help[n] = $4
    ri[n] = $2 / $1; rh[n] = $4 / $3; f[n] = $5; rf[n] = $5 / $3 }
  END {
    ms = median(s, 2 * n); mi = median(info, n); mh = median(help, n)
    qi = median(ri, n); qh = median(rh, n); mf = median(f, n); qf = median(rf, n)
    printf "sigrok-cli --driver demo --scan: %.2f ms (median of %d)\n", ms / 1000, 2 * n
    printf "quillbox info:   %.2f ms, %.2fx sigrok-cli (target <= 0.5)\n", mi / 1000, qi
    printf "quillbox --help: %.2f ms, %.2fx sigrok-cli (target <= 0.3)\n", mh / 1000, qh
    printf "floor, a C++ program that prints a line: %.2f ms, %.2fx sigrok-cli\n", mf / 1000, qf
    exit (qi <= 0.5 && qh <= 0.3 ? 0 : 1)
  }'
