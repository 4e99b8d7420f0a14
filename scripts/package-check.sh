#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/default, already built), checks it
# with lintian (no error or warning beyond packaging/lintian-overrides) and its manual page with
# mandoc, installs it with apt-get, runs the command, the example host (which sets no C++
# standard: the package brings C++20) and the Python package from the installed locations,
# removes the package and checks that none of its files is left. Needs root.
#   scripts/package-check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
source=$PWD
[[ $(id -u) -eq 0 ]] || { echo "package-check: needs root (it installs the package)" >&2; exit 1; }
if dpkg-query -W -f='${Status}' quillbox 2>/dev/null | grep -q "install ok installed"; then
  echo "package-check: quillbox is installed already; remove it first" >&2
  exit 1
fi
tmp=$(mktemp -d)
installed=0
cleanup() {
  ((installed)) && DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillbox > /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "package-check: $*" >&2; exit 1; }

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/package") > "$tmp/cpack.log" ||
  { cat "$tmp/cpack.log"; fail "cpack failed"; }
deb=$(echo "$tmp"/package/quillbox_*.deb)
[[ -f $deb ]] || fail "no package made"
echo "== $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
echo "== lintian"
lintian_ok=1
lintian --fail-on error,warning "$deb" > "$tmp/lintian.txt" 2>&1 || lintian_ok=0
grep -v "^running with root privileges" "$tmp/lintian.txt" || true
((lintian_ok)) || fail "lintian found errors or warnings"
# What exists before the install (shared folders such as /usr/bin) may remain after the removal.
dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | sed 's|/$||' | grep . > "$tmp/contents"
while read -r path; do if [[ -e $path ]]; then echo "$path"; fi; done < "$tmp/contents" > "$tmp/before"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" > "$tmp/apt.log" ||
  { cat "$tmp/apt.log"; fail "apt-get install failed"; }
installed=1
dpkg -L quillbox > "$tmp/files"
echo "== dpkg -L quillbox"
cat "$tmp/files"
echo "== run paths"
mapfile -t package_files < <(while read -r f; do if [[ -f $f ]]; then echo "$f"; fi; done < "$tmp/files")
"$source/tests/install/check_runpaths.sh" --installed "${package_files[@]}" || fail "run paths"

# From the installed locations only: a clean environment, private settings and machine state.
run() {
  env -i PATH=/usr/bin:/bin HOME="$tmp/home" QUILLBOX_REGISTRY="$tmp/registry.sqlite3" \
    QUILLBOX_RUNTIME_DIR="$tmp/run" QUILLBOX_TIME_SCALE=20 PYTHONDONTWRITEBYTECODE=1 "$@"
}
echo "== quillbox info"
run quillbox info
echo "== the example host, built against the installed package"
cmake -S "$source/examples" -B "$tmp/example" -G Ninja > "$tmp/example.log" &&
  cmake --build "$tmp/example" >> "$tmp/example.log" || { cat "$tmp/example.log"; fail "example build"; }
run "$tmp/example/record_second" > "$tmp/example.txt" || fail "the example failed"
cat "$tmp/example.txt"
frames=$(wc -l < "$tmp/example.txt")
((frames == 10)) || fail "the example printed $frames frames, not 10"
echo "== the Python package"
run /usr/bin/python3 -c 'import quillbox; print(quillbox.__file__, quillbox.devices())'
echo "== an HDF5 recording (the plug-in in the private folder), read back from Python"
run quillbox record -c 0 -r 100 -n 5 -o "$tmp/run.h5" || fail "the HDF5 recording failed"
[[ $(run /usr/bin/python3 -c 'import quillbox, sys; print(len(quillbox.load(sys.argv[1])))' \
  "$tmp/run.h5") == 5 ]] || fail "quillbox.load did not read the 5 frames of the HDF5 recording"
for f in /usr/share/man/man1/quillbox.1.gz /usr/share/bash-completion/completions/quillbox; do
  [[ -f $f ]] || fail "$f is not installed"
done
mandoc -Tlint /usr/share/man/man1/quillbox.1.gz || fail "mandoc -Tlint finds fault with the manual page"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq quillbox > /dev/null
installed=0
# Everything the package brought is gone.
left=()
while read -r path; do
  if [[ -e $path ]] && ! grep -qxF "$path" "$tmp/before"; then left+=("$path"); fi
done < "$tmp/contents"
((${#left[@]} == 0)) || fail "left after removal: ${left[*]}"
echo "package-check: the package installs, works and removes cleanly"
