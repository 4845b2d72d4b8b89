#!/usr/bin/env bash
# Installs what is missing for building and testing Korvi (Debian packages), then configures and
# builds into build/. Sourced by ./run and ./test.
set -euo pipefail

KORVI_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KORVI_BUILD="${KORVI_BUILD:-$KORVI_ROOT/build}"
# How many build steps and tests run at once: KORVI_JOBS, or one per core. On a machine others
# share, a smaller number keeps the build from crowding them out (and the tests from timing out).
KORVI_JOBS="${KORVI_JOBS:-$(nproc)}"
if ! [[ "$KORVI_JOBS" =~ ^[1-9][0-9]*$ ]]; then
  echo "KORVI_JOBS must be a whole number of 1 or more, not \"$KORVI_JOBS\"" >&2
  exit 1
fi

korvi_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libqt6opengl6-dev libgl1-mesa-dev libgl1-mesa-dri
  libcfitsio-dev libfftw3-dev libpng-dev zlib1g-dev libtnt-dev libjama-dev libftdi1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xfonts-base x11-utils openbox libxcb1-dev
  clang libclang-rt-14-dev clang-format
  fitsverify python3 python3-astropy python3-pil python3-numpy
)

korvi_install_missing() {
  local missing=()
  for p in "${korvi_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Korvi needs these Debian packages: ${missing[*]}" >&2
    echo "Run this script as root, or install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# korvi_build [target...]: configures build/ when needed and builds the named targets (every
# target when none is named). The data folders are laid out beside the program at configure time.
korvi_build() {
  if [ ! -f "$KORVI_BUILD/build.ninja" ]; then
    cmake -S "$KORVI_ROOT" -B "$KORVI_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  local targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$KORVI_BUILD" -j "$KORVI_JOBS" "${targets[@]}"
}
