#!/usr/bin/env bash
# Builds Korvi with ThreadSanitizer (the KORVI_TSAN option) in build-tsan/ beside build/, and runs
# the tests of the worker threads (resume gate and thread base, acquisition, guiding, scripts), the
# whole simulated night (on a slower clock), and a deliberate race in our own code that must still
# be reported with the suppressions in force.
# Any report the suppressions let through fails the run (the reports are kept in
# build-tsan/tsan-reports/). Not part of ./test; run it after a change to the threads.
#   scripts/tsan.sh [ctest arguments ...]      KORVI_JOBS=<n> bounds the build and the tests
# Qt, Mesa, GLib and xcb are not instrumented: tests/gui/threads_tsan.supp hides the races between
# their own calls, and no stack of ours that merely passes through them.
set -euo pipefail
# The ThreadSanitizer runtime needs the fixed address layout, also for the build (which runs the
# test programs to list their tests).
if [ -z "${KORVI_TSAN_FIXED_LAYOUT:-}" ]; then
  KORVI_TSAN_FIXED_LAYOUT=1 exec setarch "$(uname -m)" -R "$0" "$@"
fi
source "$(dirname "$0")/setup.sh"
korvi_install_missing
TSAN_BUILD="${KORVI_TSAN_BUILD:-$KORVI_ROOT/build-tsan}"
if [ ! -f "$TSAN_BUILD/build.ninja" ]; then
  cmake -S "$KORVI_ROOT" -B "$TSAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVI_TSAN=ON \
    -DKORVI_BUILD_BENCH=OFF
fi
programs=(worker_thread_test acquisition_test guide_thread_test script_test whole_night_test
  tsan_deliberate_race)
targets=()
for p in "${programs[@]}"; do targets+=(--target "$p"); done
cmake --build "$TSAN_BUILD" -j "$KORVI_JOBS" "${targets[@]}"
cd "$TSAN_BUILD"
mkdir -p test-tmp
xvfb=(xvfb-run -a -s "-screen 0 1920x1200x24 -nolisten tcp")
# First the deliberate race: its report must come through the suppressions.
if ! ctest --output-on-failure -R '^tsan_deliberate_race$'; then
  echo "tsan.sh: the suppressions hide a race in our own code (tests/gui/threads_tsan.supp)" >&2
  exit 1
fi
# Then the thread tests and the night, each report written to a file of its own.
reports="$TSAN_BUILD/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"
# libgomp is not instrumented either: the barrier that ends an OpenMP loop is invisible, so every
# buffer a loop's threads read and the caller then reuses would be reported. One OpenMP thread runs
# each loop on its caller (the results are the same; the loops are the row loops of the images).
export OMP_NUM_THREADS=1
export TSAN_OPTIONS="suppressions=$KORVI_ROOT/tests/gui/threads_tsan.supp history_size=7 exitcode=0 log_path=$reports/report ${TSAN_OPTIONS:-}"
tests=()
for p in "${programs[@]}"; do
  [ "$p" = tsan_deliberate_race ] && continue
  mapfile -t -O "${#tests[@]}" tests < <("bin/$p" --gtest_list_tests |
    awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')
done
regex="^($(printf '%s|' "${tests[@]}" | sed 's/[.]/\\./g; s/|$//'))\$"
failed=0
"${xvfb[@]}" ctest --output-on-failure -j "$KORVI_JOBS" -R "$regex" -LE night "$@" || failed=1
"${xvfb[@]}" ctest --output-on-failure -R "$regex" -L night "$@" || failed=1
# The verdict is the reports. Tests that bound times may fail here only because the instrumented
# program runs several times slower; ./test is where they count.
[ "$failed" -eq 0 ] || echo "tsan.sh: some tests failed under ThreadSanitizer (see above)" >&2
count=$(cat "$reports"/report.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
if [ "$count" -gt 0 ]; then
  grep -h '^SUMMARY: ThreadSanitizer' "$reports"/report.* | sort | uniq -c | sort -rn >&2
  echo "tsan.sh: $count reports, in $reports" >&2
  exit 1
fi
echo "tsan.sh: no race reported"
