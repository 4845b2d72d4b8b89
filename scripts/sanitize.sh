#!/usr/bin/env bash
# Builds Korvi with AddressSanitizer and UndefinedBehaviorSanitizer (the KORVI_SANITIZE option,
# which makes any undefined behaviour fatal) in build-asan/ beside build/, and runs the whole test
# suite in it under one virtual X server. Not part of ./test (it takes about twice as long); run it
# before a change lands. Leaks are not reported: Qt, Mesa and fontconfig keep memory until exit.
#   scripts/sanitize.sh [ctest arguments ...]      KORVI_JOBS=<n> bounds the build and the tests
set -euo pipefail
source "$(dirname "$0")/setup.sh"
korvi_install_missing
ASAN_BUILD="${KORVI_ASAN_BUILD:-$KORVI_ROOT/build-asan}"
jobs="$KORVI_JOBS"
if [ ! -f "$ASAN_BUILD/build.ninja" ]; then
  cmake -S "$KORVI_ROOT" -B "$ASAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVI_SANITIZE=ON \
    -DKORVI_BUILD_BENCH=OFF
fi
cmake --build "$ASAN_BUILD" -j "$jobs"
cd "$ASAN_BUILD"
mkdir -p test-tmp
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
exec xvfb-run -a -s "-screen 0 1920x1200x24 -nolisten tcp" \
  ctest --output-on-failure -j "$jobs" --timeout 1200 "$@"
