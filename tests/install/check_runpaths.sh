#!/usr/bin/env bash
# Fails when an ELF file below a folder carries a run path (RUNPATH or RPATH) with an empty entry,
# with which the loader searches the current folder, so a library planted there would be loaded.
# With --installed, every entry must also start with $ORIGIN: an installed tree names no folder of
# the machine it was built on.
#   check_runpaths.sh [--installed] FOLDER...
set -euo pipefail
installed=0
if [[ "${1:-}" == "--installed" ]]; then
  installed=1
  shift
fi
(($#)) || { echo "usage: check_runpaths.sh [--installed] FOLDER..." >&2; exit 2; }
bad=0 checked=0
while IFS= read -r -d '' file; do
  [[ $(head -c4 "$file" | od -An -c | tr -d ' ') == 177ELF ]] || continue
  checked=$((checked + 1))
  while IFS= read -r path; do
    if [[ -z $path || $path == :* || $path == *: || $path == *::* ]]; then
      echo "$file: run path [$path] has an empty entry (the current folder)" >&2
      bad=1
    elif ((installed)); then
      IFS=: read -ra entries <<< "$path"
      for entry in "${entries[@]}"; do
        if [[ $entry != '$ORIGIN' && $entry != '$ORIGIN/'* ]]; then
          echo "$file: run path entry $entry does not start with \$ORIGIN" >&2
          bad=1
        fi
      done
    fi
  done < <(readelf -d "$file" | sed -n 's/.*Library r\(un\)\{0,1\}path: \[\(.*\)\]$/\2/p')
done < <(find "$@" -type f -print0)
((checked)) || { echo "check_runpaths: no ELF file below $*" >&2; exit 1; }
((bad)) && exit 1
echo "run paths of $checked ELF files: no empty entry$( ((installed)) && echo ', each relative to $ORIGIN')"
