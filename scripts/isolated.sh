# Sourced by the benchmarks and scripts/screenshots.sh, from the repository's top folder:
#   source scripts/isolated.sh NAME BUILD_DIR
# Sets $build and $quillbox (an absolute path; exits 2 with NAME's message when it is not built),
# makes the temporary folder $work (removed at exit) with the run's own settings store and module
# state, so nothing of the user's is read or changed, and clears the variables that would pick
# another bench, module or clock.
build="$2"
quillbox="$(realpath -m "$build/bin/quillbox")"
[[ -x "$quillbox" ]] || { echo "$1: $quillbox not built" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export QUILLBOX_REGISTRY="$work/registry.sqlite3" QUILLBOX_RUNTIME_DIR="$work/run"
unset QUILLBOX_BENCH QUILLBOX_DEVICE QUILLBOX_TIME_SCALE
