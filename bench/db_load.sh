#!/usr/bin/env bash
# Database shipping under load: RECORDERS recorders (default 8), each on its own simulated module
# with all 32 channels at 100 Hz, at SCALE times real time (default 50), all shipping with
# `--to` into one throw-away PostgreSQL server on a Unix socket (fsync on, as a real server runs).
# Reports, from one run:
#   - frames per second the database took, sustained over the recording (module frames, summed);
#   - the shipping lag: the largest "database N frames behind" any recorder's status line said,
#     and how long the end waited for the rest;
#   - CPU of the recorders and of the server (all their processes), in cores, over the run.
#
#   bench/db_load.sh [BUILD_DIR] [RECORDERS] [SCALE] [MODULE_SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/isolated.sh db_load "${1:-build/default}"
recorders="${2:-8}" scale="${3:-50}" seconds="${4:-1800}"
pgbin="$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)"
[[ -x "$pgbin/initdb" ]] || { echo "db_load: PostgreSQL server not installed" >&2; exit 2; }

# The server refuses to run as root: as root it runs as nobody.
as_server() { if [[ $(id -u) == 0 ]]; then runuser -u nobody -- "$@"; else "$@"; fi; }
mkdir -p "$work/pg/socket"
chmod o+x "$work"  # the server user passes through to its folder
[[ $(id -u) == 0 ]] && chown -R nobody "$work/pg"
as_server "$pgbin/initdb" -D "$work/pg/data" -A trust -U postgres >/dev/null
as_server "$pgbin/pg_ctl" -D "$work/pg/data" -w -l "$work/pg/log" start \
  -o "-k $work/pg/socket -c listen_addresses=''" >/dev/null
trap 'as_server "$pgbin/pg_ctl" -D "$work/pg/data" -m fast stop >/dev/null; rm -rf "$work"' EXIT
url="postgresql:///postgres?host=$work/pg/socket&user=postgres"

# One module a recorder, each with the built-in bench's eight mezzanines.
python3 - "$recorders" >"$work/bench.json" <<'EOF'
import json, sys
slots = [[10, "A", 1234], [10, "A", 1235], [11, "B", 2001], [22, "C", 311], [40, "T", 45],
         [31, "R", 100200], [9, "A", 77], [21, "I", 9010]]
modules = [{"attach": f"usb{i}", "serial": f"2700100{i}",
            "slots": [{"type": t, "serial": [5, l, n]} for t, l, n in slots],
            "signals": {f"m{c}": {"kind": "sine", "amplitude": 2, "frequency": 0.5 + c}
                        for c in range(8)}} for i in range(int(sys.argv[1]))]
print(json.dumps({"modules": modules}))
EOF
export QUILLBOX_BENCH="$work/bench.json" QUILLBOX_TIME_SCALE="$scale"

cpu_ticks() {  # user + system clock ticks of the processes named
  local total=0 pid
  for pid in "$@"; do
    # A process that ended in between counts nothing.
    ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null) || ticks=0
    total=$((total + ${ticks:-0}))
  done
  echo "$total"
}
# The server's processes, and what its ended connections cost (reaped into the postmaster's
# children's times, fields 16 and 17).
postmaster=$(head -1 "$work/pg/data/postmaster.pid")
server_ticks() {
  local children
  children=$(awk '{print $16 + $17}' "/proc/$postmaster/stat")
  echo $(($(cpu_ticks $(pgrep -P "$postmaster") "$postmaster") + children))
}
server0=$(server_ticks)
start=$(date +%s.%N)
pids=()
for ((i = 0; i < recorders; i++)); do
  "$quillbox" --device "2700100$i" record -c 0-31 -r 100 -d "$seconds" -o "$work/rec$i.csv" \
    --to "$url" --ship-wait 600 --status-every 60 >"$work/out$i" 2>"$work/err$i" &
  pids+=($!)
done
# The recorders' CPU, read just before each ends (a finished child's /proc entry is gone).
recorder_ticks=0
while :; do
  live=()
  for pid in "${pids[@]}"; do [[ -d /proc/$pid ]] && live+=("$pid"); done
  ((${#live[@]})) || break
  for pid in "${live[@]}"; do last_ticks[$pid]=$(cpu_ticks "$pid"); done
  sleep 0.2
done
for pid in "${pids[@]}"; do wait "$pid" || { echo "db_load: a recorder failed" >&2; cat "$work"/err*; exit 1; }; done
end=$(date +%s.%N)
for pid in "${pids[@]}"; do recorder_ticks=$((recorder_ticks + ${last_ticks[$pid]:-0})); done
sleep 0.5  # the connections' processes end and are reaped
server1=$(server_ticks)

frames=$(psql -X -q -t -A "$url" -c "SELECT count(*) FROM frames")
recorded=$(cat "$work"/out* | awk '/^Recorded/ {s += $2} END {print s}')
lag=$(cat "$work"/err* | sed -n 's/.*database \([0-9]*\) frames behind.*/\1/p' | sort -n | tail -1)
hz=$(getconf CLK_TCK)
python3 - "$recorders" "$scale" "$seconds" "$frames" "$recorded" "${lag:-0}" "$start" "$end" \
  "$recorder_ticks" "$((server1 - server0))" "$hz" <<'EOF'
import sys
n, scale, seconds, frames, recorded, lag = map(int, sys.argv[1:7])
start, end = float(sys.argv[7]), float(sys.argv[8])
rec_ticks, srv_ticks, hz = int(sys.argv[9]), int(sys.argv[10]), int(sys.argv[11])
wall = end - start
module_wall = seconds / scale
print(f"{n} recorders x 32 channels x 100 Hz at {scale}x real time, {seconds} s of module time")
print(f"frames recorded {recorded}, in the database {frames} "
      f"({'all' if frames == recorded else 'MISSING %d' % (recorded - frames)})")
print(f"sustained: {frames / wall:,.0f} frames/s ({frames * 32 / wall:,.0f} values/s) over "
      f"{wall:.1f} s wall (the recordings themselves: {module_wall:.1f} s)")
print(f"largest lag in a status line: {lag} frames ({lag / (100 * scale):.2f} s of wall time); "
      f"the end waited {max(0.0, wall - module_wall):.1f} s for the rest")
print(f"CPU: recorders {rec_ticks / hz / wall:.2f} cores ({rec_ticks / hz / n / wall:.3f} each), "
      f"server {srv_ticks / hz / wall:.2f} cores")
EOF
