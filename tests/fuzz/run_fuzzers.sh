#!/usr/bin/env bash
# Builds fuzz targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer in their own build
# folder and runs each for a bounded time, starting from the seed corpus kept beside this script.
# New inputs go to the work folder, never into the committed seeds.
#   run_fuzzers.sh <work folder> [seconds per target] [inputs per target] [target ...]
# Without targets it runs the image readers; fuzz_script_language (the script checker and
# expression evaluator) is built from its own few units and needs no image core; fuzz_data_files
# (every other reader of the program's files, picked by the input's first byte) links the image
# core and the drive controller's file unit.
# With a count of inputs the run is repeatable: a fixed seed, a fresh work corpus, and at most that
# many inputs (the seconds still bound it on a slow machine), so a test run explores the same inputs
# every time instead of turning red on whatever a longer search happens to find that day.
# Exit status: 0 when every target ran clean, 77 when clang or libFuzzer is missing (skipped),
# otherwise the status of the first failing step. Crashing inputs are kept under <work>/artifacts.
set -euo pipefail

SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WORK="$(mkdir -p "${1:?usage: run_fuzzers.sh <work folder> [seconds]}" && cd "$1" && pwd)"
SECONDS_EACH="${2:-12}"
RUNS_EACH="${3:-}"
TARGETS=(fuzz_native_file fuzz_fits_file fuzz_png_file fuzz_bmp_file)
if [ $# -ge 4 ]; then
  TARGETS=("${@:4}")
fi
# The script language's units (besides its fuzz target); the image readers link the image core.
SCRIPT_UNITS=("$SRC/capture/scripts/script_language.cpp" "$SRC/core/text_format.cpp" "$SRC/core/ui_hooks.cpp")
DATA_UNITS=("$SRC/capture/guiding/drive_controller.cpp")
NEEDS_CORE=0
for target in "${TARGETS[@]}"; do
  [ "$target" = fuzz_script_language ] || NEEDS_CORE=1
done

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
  echo "clang is not installed: fuzzing skipped"
  exit 77
fi
mkdir -p "$WORK/tmp" "$WORK/artifacts"
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' > "$WORK/tmp/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$WORK/tmp/probe.cpp" -o "$WORK/tmp/probe" 2>/dev/null; then
  echo "clang cannot link libFuzzer with the sanitizers (libclang-rt missing?): fuzzing skipped"
  exit 77
fi

# ASan's allocator returns null for impossible sizes, as the C library does, so that the
# libraries' own checks of failed allocations are exercised rather than reported. A single large
# allocation is not reported either (CFITSIO sizes a tile buffer from a damaged descriptor before
# it finds the data missing; the pages are never touched): the resident-memory limit still catches
# memory that is really used.

# The image core, built by the project's own CMake with clang and the sanitizers.
BUILD="$WORK/build"
CORE=""
if [ "$NEEDS_CORE" = 1 ] && [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link" \
    -DKORVI_SANITIZE=ON -DKORVI_BUILD_GUI=OFF -DKORVI_BUILD_TESTS=OFF -DKORVI_BUILD_BENCH=OFF >"$WORK/configure.log" \
    || { cat "$WORK/configure.log"; exit 1; }
fi
[ "$NEEDS_CORE" = 1 ] && CORE="$BUILD/core/libkorvi_core.a"
if [ "$NEEDS_CORE" = 1 ] && ! cmake --build "$BUILD" --target korvi_core -j 4 >"$WORK/build.log" 2>&1; then
  # Some other unit of the core does not build with clang: build just the records and the image
  # files, which is all the readers need, from the lists of their CMake fragments.
  echo "the whole image core does not build with clang (see $WORK/build.log); building the image-file units alone"
  sources=$(sed -n 's/.*${CMAKE_CURRENT_LIST_DIR}\/\([a-z_]*\.cpp\).*/\1/p' "$SRC/core/records.cmake" "$SRC/core/image_files.cmake" | sort -u)
  mkdir -p "$WORK/objects"
  rm -f "$WORK/objects/"*.o
  for source in $sources; do
    clang++ -std=c++20 -O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined \
      -I"$SRC/core" -I"$SRC/camera_link" $(pkg-config --cflags cfitsio libpng) \
      -c "$SRC/core/$source" -o "$WORK/objects/${source%.cpp}.o"
  done
  rm -f "$WORK/libimage_files.a"
  ar rcs "$WORK/libimage_files.a" "$WORK/objects/"*.o
  CORE="$WORK/libimage_files.a"
  for target in "${TARGETS[@]}"; do
    if [ "$target" = fuzz_data_files ]; then
      echo "fuzz_data_files needs the whole image core: fuzzing skipped"
      exit 77
    fi
  done
fi

LIBS="$(pkg-config --libs cfitsio libpng zlib fftw3)"
for target in "${TARGETS[@]}"; do
  if [ "$target" = fuzz_script_language ]; then
    clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
      -I"$SRC/core" -I"$SRC/capture/scripts" "$SRC/tests/fuzz/$target.cpp" "${SCRIPT_UNITS[@]}" -o "$WORK/$target"
    continue
  fi
  units=()
  [ "$target" = fuzz_data_files ] && units=("${DATA_UNITS[@]}")
  clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$SRC/core" -I"$SRC/camera_link" -I"$SRC/capture/guiding" "$SRC/tests/fuzz/$target.cpp" \
    "${units[@]}" "$CORE" $LIBS -lpthread -o "$WORK/$target"
done

status=0
for target in "${TARGETS[@]}"; do
  corpus="$WORK/corpus/$target"
  bounds=(-max_total_time="$SECONDS_EACH")
  if [ -n "$RUNS_EACH" ]; then
    rm -rf "$corpus"
    bounds+=(-runs="$RUNS_EACH" -seed=1)
  fi
  mkdir -p "$corpus"
  echo "== $target: ${SECONDS_EACH}s${RUNS_EACH:+, $RUNS_EACH inputs}"
  if ! KORVI_FUZZ_TMP="$WORK/tmp" TMPDIR="$WORK/tmp" \
    UBSAN_OPTIONS=print_stacktrace=1 ASAN_OPTIONS=allocator_may_return_null=1 \
    "$WORK/$target" "${bounds[@]}" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=16384 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$WORK/artifacts/$target-" \
    "$corpus" "$SRC/tests/fuzz/corpus/$target" >"$WORK/$target.log" 2>&1; then
    echo "$target FAILED:"
    tail -60 "$WORK/$target.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$WORK/$target.log" || true
  fi
  rm -f "$WORK/tmp/fits_log.txt"
done
exit $status
