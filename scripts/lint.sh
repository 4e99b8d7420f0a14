#!/usr/bin/env bash
# The tree's own checks beyond the tests: every tracked C++ file formatted as .clang-format says,
# and clang-tidy clean over the whole tree (scripts/tidy.sh). Installs both tools when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang-format clang-tidy
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "lint: files above differ from clang-format's layout (run clang-format -i on them)" >&2
  exit 1
fi
echo "lint: ${#sources[@]} files formatted"
scripts/tidy.sh
