#!/usr/bin/env bash
# clang-tidy with the root .clang-tidy over the tree's sources, using the compilation database of
# the default preset (build/default/compile_commands.json, refreshed by a configure run; nothing
# is built). Every finding counts as an error: the exit status is non-zero when there is one.
#   scripts/tidy.sh               every source file of the tree
#   scripts/tidy.sh --changed     sources changed against HEAD (staged, unstaged and untracked)
#   scripts/tidy.sh FILE...       these files
# JOBS (default 2) sets how many files are checked at once.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-tidy >/dev/null || { echo "tidy: clang-tidy is missing (Debian package clang-tidy)" >&2; exit 2; }
cmake --preset default >/dev/null
db=build/default/compile_commands.json

# Sources of the tree the database knows (generated files in build/ are not ours).
mapfile -t known < <(python3 - "$db" "$PWD" <<'PY'
import json, os, sys
root = sys.argv[2] + os.sep
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root) and not path[len(root):].startswith("build") and path not in seen:
        seen.add(path)  # a file compiled into several targets is checked once
        print(path[len(root):])
PY
)

files=()
if [[ "${1:-}" == "--changed" ]]; then
  mapfile -t changed < <({ git diff --name-only HEAD; git ls-files --others --exclude-standard; } | sort -u)
  for f in "${changed[@]}"; do
    for k in "${known[@]}"; do [[ "$f" == "$k" ]] && files+=("$f"); done
  done
elif (($# > 0)); then
  files=("$@")
else
  files=("${known[@]}")
fi
if ((${#files[@]} == 0)); then
  echo "tidy: no source files to check"
  exit 0
fi

check_one() {
  local out status=0
  out=$(clang-tidy -p build/default --quiet --warnings-as-errors='*' "$1" 2>&1) || status=$?
  out=$(grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' <<<"$out" || true)
  [[ -n "$out" ]] && printf '%s\n' "$out"
  return "$status"
}
export -f check_one

start=$(date +%s)
status=0
printf '%s\0' "${files[@]}" | xargs -0 -P "${JOBS:-2}" -I{} bash -c 'check_one "$1"' _ {} || status=$?
echo "tidy: ${#files[@]} files in $(($(date +%s) - start)) s: $([[ $status -eq 0 ]] && echo clean || echo findings)"
exit $((status == 0 ? 0 : 1))
