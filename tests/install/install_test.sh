#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, builds the example host against the staged tree
# with its CMake package config and with pkg-config, and runs the hosts, the command and the Python
# package from that tree alone: no build folder on any path, no QUILLBOX_COMPONENT, a private
# settings store and machine state.
#   install_test.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -euo pipefail
build=$1 source=$2 python=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$tmp/stage cmake --install "$build" --prefix /usr > "$tmp/install.log"
root=$tmp/stage/usr
private=$(find "$root/lib" -name Quillbox.adc -printf '%h')
[[ -n $private ]] || fail "Quillbox.adc is not installed"
for f in bin/quillbox "${private#$root/}"/{libE270API.so,libquillbox_platform.so,libquillbox_host.so} \
         "${private#$root/}"/libquillbox_registry.so \
         include/quillbox/CreateObject.h "${private#$root/}"/../cmake/Quillbox/QuillboxConfig.cmake \
         "${private#$root/}"/../pkgconfig/quillbox.pc share/man/man1/quillbox.1.gz \
         share/bash-completion/completions/quillbox; do
  [[ -e $root/$f ]] || fail "$f is not installed"
done
"$source/tests/install/check_runpaths.sh" --installed "$root" || fail "run paths of the installed tree"

# Nothing but the staged tree: a clean environment, the component found from the host library.
run() {
  env -i PATH=/usr/bin:/bin HOME="$tmp/home" QUILLBOX_REGISTRY="$tmp/registry.sqlite3" \
    QUILLBOX_RUNTIME_DIR="$tmp/run" QUILLBOX_TIME_SCALE=20 "$@"
}
# One second at 10 Hz of two channels: ten frames "N VALUE UNIT VALUE UNIT".
check_example() {
  local out
  out=$(run "$1") || fail "$1 failed"
  [[ $(grep -cE '^[0-9]+ -?[0-9.]+ [^ ]+ -?[0-9.]+ [^ ]+$' <<< "$out") == 10 ]] ||
    fail "$1 printed:"$'\n'"$out"
  [[ $(head -n1 <<< "$out") == 0\ * ]] || fail "$1 did not start at frame 0"
}

# The example sets no C++ standard: Quillbox::host and pkg-config bring C++20.
cmake -S "$source/examples" -B "$tmp/cmake-example" -G Ninja -DQuillbox_DIR="$private/../cmake/Quillbox" \
  -DCMAKE_BUILD_TYPE=Release > "$tmp/configure.log" || { cat "$tmp/configure.log"; fail "configure"; }
cmake --build "$tmp/cmake-example" > "$tmp/build.log" || { cat "$tmp/build.log"; fail "build"; }
check_example "$tmp/cmake-example/record_second"

mkdir "$tmp/pc-example"
PKG_CONFIG_LIBDIR=$private/../pkgconfig make -s -C "$tmp/pc-example" -f "$source/examples/Makefile" \
  VPATH="$source/examples" > "$tmp/make.log" 2>&1 || { cat "$tmp/make.log"; fail "make"; }
check_example "$tmp/pc-example/record_second"

run "$root/bin/quillbox" info > "$tmp/info.txt" || { cat "$tmp/info.txt"; fail "quillbox info"; }
grep -q E-270 "$tmp/info.txt" || fail "quillbox info printed: $(cat "$tmp/info.txt")"

if [[ -n $python ]]; then
  site=$(echo "$root"/lib/python3*/dist-packages)
  run env PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 "$python" -c \
    'import quillbox; print(quillbox.devices()[0]["board"])' > "$tmp/python.txt" ||
    fail "the installed Python package: $(cat "$tmp/python.txt")"
  [[ $(cat "$tmp/python.txt") == E-270 ]] || fail "quillbox.devices() gave $(cat "$tmp/python.txt")"
fi
# HDF5 files and database copies through their plug-ins in the private folder, from the command
# and from Python: an upload without a server gets as far as connecting.
run "$root/bin/quillbox" record -c 0 -r 100 -n 5 -o "$tmp/run.h5" > /dev/null 2> "$tmp/h5.txt" ||
  fail "an HDF5 recording: $(cat "$tmp/h5.txt")"
if run "$root/bin/quillbox" upload "$tmp/run.h5" --to "host=$tmp dbname=none" 2> "$tmp/upload.txt" ||
  ! grep -q "cannot connect" "$tmp/upload.txt"; then
  fail "an upload without a server: $(cat "$tmp/upload.txt")"
fi
if [[ -n $python ]]; then
  frames=$(run env PYTHONPATH="$site" PYTHONDONTWRITEBYTECODE=1 "$python" -c \
    'import quillbox, sys; print(len(quillbox.load(sys.argv[1])))' "$tmp/run.h5" 2> "$tmp/load.txt") ||
    true
  [[ $frames == 5 ]] || fail "quillbox.load of an HDF5 recording: $frames$(cat "$tmp/load.txt")"
fi
echo "installed tree works"
