#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
#   scripts/deps.sh [PACKAGE...]   the extra packages named are installed too
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache dpkg-dev file
  qt6-base-dev libgl-dev qt6-svg-dev libqt6opengl6-dev
  libsqlite3-dev nlohmann-json3-dev libcli11-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xauth xvfb
  gcovr
  pybind11-dev python3-dev python3-numpy python3-pytest
  libhdf5-dev python3-h5py hdf5-tools
  libpq-dev postgresql
  lintian mandoc
  sigrok-cli  # only for bench/startup_vs_sigrok.sh, the start-up time it compares with
  "$@"
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [[ $(id -u) -ne 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
